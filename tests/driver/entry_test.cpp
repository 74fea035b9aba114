// Loading the driver and creating its device objects.
#include "driver_fixture.h"

namespace diotest {
namespace {

using EntryTest = DriverTest;

// Whatever an earlier load left in the table, each slot a handle gets is
// clear: its close releases nothing it did not take (a stale event would stop
// the run).
TEST_F(EntryTest, ClearsEveryEventSlot) {
  static KEVENT stale;
  for (auto &slot : gEventSlots)
    for (auto &event : slot.Events) event = &stale;
  StartedDevice(24);
  Program program;
  for (int slot = 0; slot < DIO_EVENT_SLOT_COUNT; ++slot) program.Open();
}

// An added device passes system control down as it came, and answers others itself.
TEST_F(EntryTest, AnAddedDeviceIsInD0AndRoutesSystemControlDown) {
  PDEVICE_OBJECT device = AddedDevice(24);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->StackSize, 2);
  EXPECT_EQ(device->Flags & (DO_POWER_PAGABLE | DO_DIRECT_IO | DO_DEVICE_INITIALIZING),
            ULONG(DO_POWER_PAGABLE | DO_DIRECT_IO));
  EXPECT_EQ(hostk::ReportedPowerState(device), PowerDeviceD0);
  EXPECT_EQ(hostk::Utf8(hostk::Interfaces().at(0).symbolicLink),
            "\\??\\PCI#VEN_1D5A&DEV_2400&SUBSYS_00000000&REV_01#4&1A2B3C4D&0&0018#"
            "{6b049747-8679-4542-b232-eccd4d2c6519}");

  static int marker;
  hostk::IrpResult wmi = hostk::SendIrp(device, IRP_MJ_SYSTEM_CONTROL, 0x0B,
                                        [](PIRP, PIO_STACK_LOCATION location) {
                                          location->Parameters.Others.Argument1 = &marker;
                                        });
  ASSERT_EQ(hostk::BusRequests().size(), 1u);
  const hostk::BusRequest seen = hostk::BusRequests()[0];
  EXPECT_EQ(seen.minor, 0x0B);
  EXPECT_EQ(seen.arguments[0], &marker) << "the bus must see the request as it was sent";
  EXPECT_EQ(wmi.ioStatus.Status, STATUS_NOT_SUPPORTED);

  EXPECT_EQ(hostk::SendIrp(device, IRP_MJ_READ, 0).ioStatus.Status, STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(hostk::BusRequests().size(), 1u);
}

// Each device's model is "DeviceType" of its own hardware key, a 4-byte
// REG_DWORD; the service key's, read at the load from at most four bytes of
// any type (0 without a value or a key), is the fallback. A start makes the
// device's model the driver's, and only a PCI model (above 20) has its bus
// position, asked of the bus, recorded.
TEST_F(EntryTest, TheModelIsTheDevicesOwnOrElseTheServiceKeys) {
  constexpr uint32_t kNone = 0xFFFFFFFF;
  const auto Le = [](uint32_t v) {  // a REG_DWORD's bytes
    return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  };
  const struct Case {
    const char *what;
    uint32_t serviceType;
    std::vector<uint8_t> service;
    uint32_t deviceType;
    std::vector<uint8_t> device;
    uint32_t loaded, started;
    ULONG address;  // (device << 16) | function, on bus 2
    bool busKnown;
    ULONG bus, slot;  // as recorded
  } cases[] = {
      {"the device's dword", REG_DWORD, Le(24), REG_DWORD, Le(22), 24, 22, 0x00030001, true, 2, 3},
      {"a PCI model on a latched service key", REG_DWORD, Le(0), REG_DWORD, Le(24), 0, 24, 0x001F0007, true, 2, 31},
      {"a latched model on a PCI service key", REG_DWORD, Le(24), REG_DWORD, Le(0), 24, 0, 0x00030001, true, 0, 0},
      {"model 20 is not a PCI model", REG_DWORD, Le(24), REG_DWORD, Le(20), 24, 20, 0x00030001, true, 0, 0},
      {"no value of its own", REG_DWORD, Le(22), kNone, {}, 22, 22, 0x00040000, true, 2, 4},
      {"a model past every known one", REG_DWORD, Le(kNone), kNone, {}, kNone, kNone, 0x00040000, true, 2, 4},
      {"the bus supplies no position", REG_DWORD, Le(24), kNone, {}, 24, 24, 0x00030001, false, 0, 0},
      {"a text of 4 bytes in the service key is taken as its bytes", REG_SZ, {'2', 0, 0, 0}, kNone, {}, '2', '2',
       0x00030000, true, 2, 3},
      {"no value in the service key", kNone, {}, kNone, {}, 0, 0, 0x00030000, true, 0, 0},
      {"a text is no model of the device", REG_DWORD, Le(22), REG_SZ, {'2', 0, 0, 0}, 22, 22, 0x00030000, true, 2, 3},
      {"nor are 8 bytes", REG_DWORD, Le(22), REG_QWORD, {24, 0, 0, 0, 0, 0, 0, 0}, 22, 22, 0x00030000, true, 2, 3},
  };
  for (const Case &c : cases) {
    const auto row = FreshRow(c.what);
    gDeviceType = 0xDEADBEEF;  // left over from an earlier load
    hostreg::KeyRef service = hostreg::Make(kServiceKey);
    if (c.serviceType != kNone) hostreg::SetValue(service, u"DeviceType", c.serviceType, c.service.data(), c.service.size());
    Load();
    EXPECT_EQ(gDeviceType, c.loaded);
    hostk::PdoConfig config;
    config.busNumber = 2;
    config.address = c.address;
    config.hasBusNumber = config.hasAddress = c.busKnown;
    if (c.deviceType != kNone) {
      hostreg::SetValue(hostreg::Make(hostk::HardwareKeyPath(config)), u"DeviceType", c.deviceType, c.device.data(),
                        c.device.size());
    }
    ASSERT_NE(Add(config), nullptr);
    EXPECT_EQ(gDeviceType, c.loaded) << "until a start";
    bench_.Attach(c.started);
    ASSERT_EQ(StartWith().ioStatus.Status, STATUS_SUCCESS);
    EXPECT_EQ(gDeviceType, c.started);
    EXPECT_EQ(StoredDword(kService0, "DeviceType"), c.started);
    EXPECT_EQ(StoredDword(kService0, "BusNumber"), c.bus);
    EXPECT_EQ(StoredDword(kService0, "SlotNumber"), c.slot);
  }
  FreshRow();
  gDeviceType = 24;
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  driver_ = hostk::LoadDriver(DriverEntry, u"\\REGISTRY\\MACHINE\\SYSTEM\\Missing", &status);
  EXPECT_EQ(status, STATUS_SUCCESS);
  EXPECT_EQ(gDeviceType, 0u) << "no service key";
}

TEST_F(EntryTest, AFailedAddDeviceLeavesNothingBehind) {
  // AddDevice's allocations: the device object, the shutdown registration, the link name.
  const struct Case {
    const char *what;
    uint64_t failingAllocation;
    bool initialising;  // the bus has not finished the PDO: the stack takes no device
    NTSTATUS expected;
  } cases[] = {
      {"no device object", 1, false, STATUS_INSUFFICIENT_RESOURCES},
      {"no shutdown registration: ignored", 2, false, STATUS_SUCCESS},
      {"interface registration fails", 3, false, STATUS_INSUFFICIENT_RESOURCES},
      {"a stack that takes no device", 0, true, STATUS_NO_SUCH_DEVICE},
  };
  for (const Case &c : cases) {
    const auto row = FreshRow(c.what);
    Load(24);
    PDEVICE_OBJECT pdo = hostk::CreatePdo({});
    pdos_.push_back(pdo);
    if (c.initialising) pdo->Flags |= DO_DEVICE_INITIALIZING;
    hostk::FailAllocationAt(c.failingAllocation);
    EXPECT_EQ(hostk::AddDevice(driver_, pdo), c.expected);
    pdo->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
    EXPECT_EQ(pdo->AttachedDevice != nullptr, NT_SUCCESS(c.expected));
    for (const auto &i : hostk::Interfaces()) EXPECT_EQ(i.enabled, NT_SUCCESS(c.expected));
  }
}

}  // namespace
}  // namespace diotest
