// The start-up: resources, registry records, board information, the start
// DO bit and the interrupt reset, seen through a start request.
#include "driver_fixture.h"

namespace diotest {
namespace {

const std::string kService0 = std::string(kServiceKey) + "\\Device000";
const std::string kDoKey = std::string(kServiceKey) + "\\DO";

class StartupTest : public DriverTest {
 protected:
  // Loads, adds and starts with the given resources; returns the extension.
  PDEVICE_EXTENSION StartWith(uint32_t model, StartResources resources,
                              NTSTATUS expected = STATUS_SUCCESS) {
    Load(model);
    AttachBoard();
    PDEVICE_OBJECT device = Add();
    hostk::ClearPortTrace();
    EXPECT_EQ(Start(Pdo(), resources).ioStatus.Status, expected);
    return Extension(device);
  }
};

TEST_F(StartupTest, APortRangeOfLengthZeroHas32Ports) {
  PDEVICE_EXTENSION x = StartWith(
      0, SameResources({hostk::PortResource(0x2A0, 0), hostk::InterruptResource(5, 5)}));
  EXPECT_EQ(x->BaseAddress, 0x2A0u);
  EXPECT_EQ(x->PortCount, 32u);
  EXPECT_EQ(x->Started, 1u);
}

TEST_F(StartupTest, TheFirstRangeIsTheBaseAndTheLastGivesTheCount) {
  PDEVICE_EXTENSION x = StartWith(
      21, SameResources({hostk::PortResource(0xE000, 16), hostk::PortResource(0xC000, 8)}));
  EXPECT_EQ(x->BaseAddress, 0xE000u);
  EXPECT_EQ(x->PortCount, 8u);
}

TEST_F(StartupTest, ResourceTypesTheBoardNeverHasFailTheStartUntouched) {
  for (UCHAR type : {UCHAR(CmResourceTypeDma), UCHAR(CmResourceTypeNull), UCHAR(0x80)}) {
    SCOPED_TRACE(int(type));
    FreshRow();
    PDEVICE_EXTENSION x = StartWith(
        24, SameResources({hostk::PortResource(kInfoBase, 32), hostk::OtherResource(type),
                           hostk::PortResource(kRegisterBase, 128)}),
        STATUS_DEVICE_CONFIGURATION_ERROR);
    EXPECT_EQ(x->Started, 0u);
    EXPECT_TRUE(hostk::PortTrace().empty()) << "no board access";
    EXPECT_EQ(hostreg::Find(kService0), nullptr) << "no registry write";
    EXPECT_EQ(x->PortCount, 128u) << "what was read around the bad descriptor stays";
  }
}

TEST_F(StartupTest, DescriptorsTheBoardDoesNotUseAreAccepted) {
  PDEVICE_EXTENSION x = StartWith(
      0, SameResources({hostk::OtherResource(CmResourceTypeMemory),
                        hostk::PortResource(kRegisterBase, 32),
                        hostk::OtherResource(CmResourceTypeDeviceSpecific),
                        hostk::OtherResource(CmResourceTypeBusNumber),
                        hostk::InterruptResource(9, 9),
                        hostk::OtherResource(CmResourceTypeDevicePrivate)}));
  EXPECT_EQ(x->Started, 1u);
  EXPECT_EQ(x->BaseAddress, kRegisterBase);
  EXPECT_EQ(x->InterruptLevel, 9u);
}

TEST_F(StartupTest, NoResourcesStartWithNothingSet) {
  for (bool empty : {false, true}) {
    SCOPED_TRACE(empty ? "empty lists" : "no lists");
    FreshRow();
    Load(0);
    PDEVICE_OBJECT device = Add();
    StartResources resources = empty ? SameResources({}) : StartResources{};
    EXPECT_EQ(Start(Pdo(), resources).ioStatus.Status, STATUS_SUCCESS);
    PDEVICE_EXTENSION x = Extension(device);
    EXPECT_EQ(x->Started, 1u);
    EXPECT_EQ(x->BaseAddress, 0u);
    EXPECT_EQ(x->InterruptLevel, 0u);
    EXPECT_EQ(x->InterruptVector, 0u);
  }
}

TEST_F(StartupTest, TheRegistryGetsTheRawLevelAndTheDeviceTheTranslatedInterrupt) {
  PDEVICE_EXTENSION x = StartWith(24, BoardResources(24));
  EXPECT_EQ(StoredDword(kService0, "Interrupt"), kRawLevel);
  EXPECT_EQ(StoredDword(kService0, "BaseAddress"), kRegisterBase);
  EXPECT_EQ(StoredDword(kService0, "BusNumber"), 0u);
  EXPECT_EQ(StoredDword(kService0, "SlotNumber"), 3u);
  EXPECT_EQ(x->InterruptLevel, kRawLevel) << "the level the registry records";
  EXPECT_EQ(x->InterruptIrql, kTranslatedLevel);
  EXPECT_EQ(x->InterruptVector, kTranslatedVector);
  EXPECT_EQ(x->InterruptAffinity, kAffinity);
  EXPECT_EQ(x->DeviceNumber, 0u);
}

TEST_F(StartupTest, Layout24ReadsItsBoardInformationFromTheFirstRange) {
  Load(24);
  hostboard::SimBoard &board = AttachBoard();
  const uint8_t info[] = {0x0F, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76};
  const uint32_t offsets[] = {0, 1, 2, 4, 5, 6, 31};
  for (int i = 0; i < 7; ++i) board.SetInfoByte(offsets[i], info[i]);
  PDEVICE_OBJECT device = Add();
  StartResources resources = BoardResources();
  ASSERT_EQ(Start(Pdo(), resources).ioStatus.Status, STATUS_SUCCESS);
  PDEVICE_EXTENSION x = Extension(device);
  EXPECT_EQ(x->InfoBase, kInfoBase);
  EXPECT_EQ(x->BaseAddress, kRegisterBase);
  EXPECT_EQ(x->PortCount, 128u);
  EXPECT_EQ(x->Range3Start.QuadPart, kThirdBase);
  EXPECT_EQ(x->Range3Length, 16u);
  EXPECT_EQ(std::vector<uint8_t>(x->BoardInfo, x->BoardInfo + 8),
            (std::vector<uint8_t>{0x0F, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 1}));
}

TEST_F(StartupTest, OtherLayoutsHaveNoBoardInformation) {
  for (uint32_t model : {0u, 22u}) {
    SCOPED_TRACE(model);
    FreshRow();
    PDEVICE_EXTENSION x = StartWith(model, BoardResources(model));
    EXPECT_EQ(std::vector<uint8_t>(x->BoardInfo, x->BoardInfo + 8), std::vector<uint8_t>(8, 0));
  }
}

TEST_F(StartupTest, Layout22DrivesTheStartBitThenResetsItsInterrupts) {
  hostreg::PutDword(kDoKey, "DO_Trigger_Start", 1);
  hostreg::PutDword(kDoKey, "DO_Channel_Start", 2);
  hostreg::PutDword(kDoKey, "DO_Level_Start", 0);
  Load(22);
  hostboard::SimBoard &board = AttachBoard();
  board.SetDo(0xFF);
  Add();
  hostk::ClearPortTrace();
  StartResources resources = BoardResources();
  ASSERT_EQ(Start(Pdo(), resources).ioStatus.Status, STATUS_SUCCESS);
  std::vector<std::string> trace;
  for (const auto &access : hostk::PortTrace()) trace.push_back(hostk::Describe(access));
  std::vector<std::string> expected;
  for (const hostk::PortAccess &a : std::vector<hostk::PortAccess>{
           {false, 1, 0xE000, 0xFF}, {true, 1, 0xE000, 0xFB},  // bit 2 cleared
           {true, 1, 0xE004, 0},     {true, 1, 0xE005, 0},     // sources off
           {false, 1, 0xE008, 0},    {true, 1, 0xE008, 0},     // status acknowledged
           {false, 1, 0xE009, 0},    {true, 1, 0xE009, 0}}) {
    expected.push_back(hostk::Describe(a));
  }
  EXPECT_EQ(trace, expected);
  EXPECT_EQ(board.Do(), 0xFB);
  EXPECT_TRUE(hostk::ShutdownRegistrations().size() == 1) << "only AddDevice's registration";
}

TEST_F(StartupTest, AShutdownOutputRegistersTheStackForShutdown) {
  hostreg::PutDword(kDoKey, "DO_Trigger_Shutdown", 1);
  PDEVICE_OBJECT device = StartedDevice(24);
  EXPECT_EQ(Extension(device)->ShutdownRegistered, 1);
  EXPECT_EQ(hostk::ShutdownRegistrations(), (std::vector<PDEVICE_OBJECT>{Pdo(), device}));
  // The PDO's registration goes with the PDO.
}

TEST_F(StartupTest, RegistryFailuresDoNotStopTheStart) {
  Load(0);
  AttachBoard();
  PDEVICE_OBJECT device = Add();
  // The service key is gone: nothing below it can be written.
  hostreg::KeyRef service = hostreg::Find(kServiceKey);
  hostreg::DeleteKey(service);
  StartResources resources = BoardResources();
  EXPECT_EQ(Start(Pdo(), resources).ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(Extension(device)->Started, 1u);
  EXPECT_EQ(hostreg::Find(kService0), nullptr);
}

}  // namespace
}  // namespace diotest
