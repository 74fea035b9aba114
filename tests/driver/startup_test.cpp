// The start-up: resources, registry records, the start DO bit and the interrupt reset.
#include "event_program.h"

namespace diotest {
namespace {

using StartupTest = DriverTest;

// The first port range is the base (after layout 24's information block), the
// last gives the count, a range of length 0 has 32 ports; a resource type the
// board never has fails the start before the board or the registry is touched.
TEST_F(StartupTest, ResourcesGiveTheBaseCountAndInterrupt) {
  using hostk::OtherResource;
  using hostk::PortResource;
  const auto interrupt = [](ULONG level) { return hostk::InterruptResource(level, level); };
  const struct Case {
    const char *what;
    uint32_t model;
    StartResources resources;
    NTSTATUS status;
    ULONG64 base;
    ULONG count, level;
  } cases[] = {
      {"a range of length 0", 0, SameResources({PortResource(0x2A0, 0), interrupt(5)}), STATUS_SUCCESS, 0x2A0, 32, 5},
      {"two ranges", 21, SameResources({PortResource(0xE000, 16), PortResource(0xC000, 8)}), STATUS_SUCCESS,
       0xE000, 8, 0},
      {"descriptors the board does not use", 0,
       SameResources({OtherResource(CmResourceTypeMemory), PortResource(kRegisterBase, 32),
                      OtherResource(CmResourceTypeDeviceSpecific), OtherResource(CmResourceTypeBusNumber),
                      interrupt(9), OtherResource(CmResourceTypeDevicePrivate)}),
       STATUS_SUCCESS, kRegisterBase, 32, 9},
      {"no lists", 0, StartResources{}, STATUS_SUCCESS, 0, 0, 0},
      {"empty lists", 0, SameResources({}), STATUS_SUCCESS, 0, 0, 0},
      {"a null descriptor", 24,
       SameResources({PortResource(kInfoBase, 32), OtherResource(CmResourceTypeNull), PortResource(kRegisterBase, 128)}),
       STATUS_DEVICE_CONFIGURATION_ERROR, kRegisterBase, 128, 0},
  };
  for (const Case &c : cases) {
    const auto row = FreshRow(c.what);
    AddedDevice(c.model);
    hostk::ClearPortTrace();
    EXPECT_EQ(StartWith(c.resources).ioStatus.Status, c.status);
    if (NT_SUCCESS(c.status)) {
      EXPECT_EQ(StoredDword(kService0, "BaseAddress"), c.base);
      EXPECT_EQ(StoredDword(kService0, "Interrupt"), c.level);
      Program program;
      HANDLE file = program.Open();
      UCHAR value = 0;
      if (c.count) {
        EXPECT_EQ(PortByte(file, IOCTL_DIO_READ_PORT_UCHAR, c.count - 1, &value), STATUS_SUCCESS);
      }
      EXPECT_EQ(PortByte(file, IOCTL_DIO_READ_PORT_UCHAR, c.count, &value), STATUS_ACCESS_VIOLATION)
          << "past the block";
    } else {
      EXPECT_TRUE(hostk::PortTrace().empty()) << "no board access";
      EXPECT_EQ(hostreg::Find(kService0), nullptr) << "no registry write";
    }
  }
}

// The start DO bit, then the layout's interrupt reset (layout 22 writes back the
// status it reads), then the first interrupt enable read back, to see that a
// board answers.
TEST_F(StartupTest, EachLayoutDrivesTheStartBitThenResetsItsInterrupts) {
  const uint16_t b = kRegisterBase;
  const struct Case {
    uint32_t model;
    std::vector<hostk::PortAccess> block;  // the accesses to the register block
  } cases[] = {
      {24,
       {{false, 1, uint16_t(b + 1), 0xFF}, {true, 1, uint16_t(b + 1), 0xFB}, {true, 1, uint16_t(b + 7), 0},
        {true, 1, uint16_t(b + 2), 0}, {true, 1, uint16_t(b + 10), 0}, {true, 1, uint16_t(b + 15), 0},
        {false, 1, uint16_t(b + 2), 0}}},
      {22,
       {{false, 1, b, 0xFF}, {true, 1, b, 0xFB},  // bit 2 cleared
        {true, 1, uint16_t(b + 4), 0}, {true, 1, uint16_t(b + 5), 0},  // sources off
        {false, 1, uint16_t(b + 8), 0x02}, {true, 1, uint16_t(b + 8), 0x02},  // status acknowledged
        {false, 1, uint16_t(b + 9), 0x01}, {true, 1, uint16_t(b + 9), 0x01},
        {false, 1, uint16_t(b + 4), 0}}},
      {0,
       {{false, 1, uint16_t(b + 1), 0xFF}, {true, 1, uint16_t(b + 1), 0xFB}, {true, 1, uint16_t(b + 7), 0},
        {true, 1, uint16_t(b + 2), 0}, {false, 1, uint16_t(b + 2), 0}}},
  };
  for (const Case &c : cases) {
    const auto row = FreshRow("model " + std::to_string(c.model));
    StoreDo({1, 0, 2, 0, 0, 0});
    Load(c.model);
    AttachBoard().SetDo(0xFF);
    if (c.model == 22) {  // sources 1 and 8 pending
      board_->Write(uint16_t(b + 4), 1, 0x02);
      board_->Write(uint16_t(b + 5), 1, 0x01);
      board_->PulseDiLine(1);
      board_->PulseDiLine(8);
    }
    Add();
    hostk::ClearPortTrace();
    ASSERT_EQ(StartWith().ioStatus.Status, STATUS_SUCCESS);
    std::vector<hostk::PortAccess> block;
    for (const auto &a : hostk::PortTrace())
      if (a.port >= b && a.port < b + 128) block.push_back(a);
    EXPECT_EQ(Describe(block), Describe(c.block));
  }
}

// A register's port is the base's low 32 bits plus the offset, in 16 bits.
TEST_F(StartupTest, RegisterPortsWrapWithinThePortSpace) {
  gDeviceType = 0;
  hostboard::SimBoard board(hostboard::General, 0xFFFE);
  board.Attach();
  DEVICE_EXTENSION extension = {};
  extension.Range2Start.QuadPart = 0x1'0000'FFFEll;
  hostk::ClearPortTrace();
  SetDoBit(&extension, 0, 1);
  ResetInterruptRegisters(&extension, FALSE);
  EXPECT_EQ(Trace(), Describe({{false, 1, 0xFFFF, 0x00}, {true, 1, 0xFFFF, 0x01}, {true, 1, 0x0005, 0},
                               {true, 1, 0x0000, 0}}));
}

// A second board, of the board's model or another, does not start while the
// first is in service, at each try, with one event-log entry: nothing of the
// first changes, its I/O goes on, and once it is removed the next device's
// start takes the board.
TEST_F(StartupTest, ASecondBoardIsRefusedAndTheFirstServesOn) {
  for (uint32_t second : {24u, 22u}) {
    const auto row = FreshRow("a second board of model " + std::to_string(second));
    StartedDevice(24);
    const std::string record = hostreg::Dump(kServiceKey) + hostreg::Dump(kDeviceMapKey);
    hostk::PdoConfig config;
    config.instancePath = u"PCI\\VEN_1D5A&DEV_2200&SUBSYS_00000000&REV_01\\4&1A2B3C4D&0&0020";
    hostreg::PutDword(hostk::HardwareKeyPath(config), "DeviceType", second);
    PDEVICE_OBJECT other = Add(config);
    ASSERT_NE(other, nullptr);
    StartResources resources = hostboard::BenchResources(second);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(bench_.Start(Pdo(1), resources).ioStatus.Status, DIO_STATUS_BOARD_IN_SERVICE);
    // Each refusal is traced; one entry names both models (the resources were never taken).
    const std::string model = std::to_string(second);
    EXPECT_EQ(hostk::DebugMessages().size(), 3u);
    for (const auto &m : hostk::DebugMessages())
      EXPECT_EQ(m.text, "TesZEPDIO: start of a model " + model + " board refused, a model 24 board is in service\n");
    ASSERT_EQ(hostk::ErrorLog().size(), 1u);
    const hostk::ErrorLogRecord entry = hostk::ErrorLog()[0];
    EXPECT_EQ(std::make_tuple(entry.errorCode, entry.finalStatus, entry.device),
              std::make_tuple(DIO_LOG_SECOND_BOARD, DIO_STATUS_BOARD_IN_SERVICE, other));
    EXPECT_EQ(entry.strings, (std::vector<std::u16string>{hostreg::FromUtf8(model), u"PCI bus 0, device 3", u"none",
                                                          u"none", u"none", u"0xC0000708", u"model 24"}));
    EXPECT_EQ(hostk::SendIrp(other, IRP_MJ_SHUTDOWN, 0).ioStatus.Status, STATUS_SUCCESS);
    EXPECT_TRUE(Trace().empty()) << "no board access";
    EXPECT_EQ(hostreg::Dump(kServiceKey) + hostreg::Dump(kDeviceMapKey), record) << "nor the first's record";
    for (const auto &i : hostk::Interfaces()) EXPECT_EQ(i.enabled, i.pdo == Pdo(0));
    EXPECT_EQ(gDeviceType, 24u);
    {
      Program program;
      UCHAR value = 0;
      EXPECT_EQ(PortByte(program.Open(), IOCTL_DIO_READ_PORT_UCHAR, 1, &value), STATUS_SUCCESS);
    }
    EXPECT_EQ(hostk::SendPnp(Pdo(1), IRP_MN_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
    EXPECT_TRUE(HasValue(kService0, "DeviceType")) << "the refused device's removal leaves the record";
    EXPECT_EQ(hostk::SendPnp(Pdo(0), IRP_MN_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
    bench_.Attach(second);
    hostreg::PutDword(hostk::HardwareKeyPath({}), "DeviceType", second);
    ASSERT_NE(Add(), nullptr);
    EXPECT_EQ(bench_.Start().ioStatus.Status, STATUS_SUCCESS) << "the board is free again";
    EXPECT_EQ(StoredDword(kService0, "DeviceType"), second);
  }
}

}  // namespace
}  // namespace diotest
