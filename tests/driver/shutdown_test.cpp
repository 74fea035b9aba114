// System shutdown as the I/O manager delivers it, after a user program set
// the DO output up through the device-control interface.
#include "driver_fixture.h"
#include "user_mode.h"

namespace diotest {
namespace {

const std::string kService0 = std::string(kServiceKey) + "\\Device000";
const std::string kMapEntry = std::string(kDeviceMapKey) + "\\MapEntry";

class ShutdownTest : public DriverTest {
 protected:
  // Sends each configuration from a user program that then ends. What its
  // handle's close did to the board is cleared from the trace.
  void Configure(const std::vector<DIO_DO_CONFIG> &configs) {
    {
      hostk::user::Process program("dio-setup");
      hostk::user::ProcessScope scope(program);
      StoredValue entry = Stored(kMapEntry, "0");  // "\\.\...", no terminator
      std::u16string path;
      for (size_t i = 0; i + 1 < entry.data.size(); i += 2)
        path.push_back(char16_t(entry.data[i] | entry.data[i + 1] << 8));
      HANDLE file = nullptr;
      ASSERT_EQ(hostk::user::OpenFile(path, GENERIC_READ | GENERIC_WRITE, &file), STATUS_SUCCESS);
      for (const DIO_DO_CONFIG &config : configs) {
        EXPECT_EQ(hostk::user::DeviceIoControl(file, IOCTL_DIO_DO_SYS_CONFIG, &config, sizeof config,
                                               nullptr, 0).status,
                  STATUS_SUCCESS);
      }
      EXPECT_EQ(hostk::user::CloseHandle(file), STATUS_SUCCESS);
    }
    hostk::ClearPortTrace();
  }

  static std::vector<std::string> Trace() {
    std::vector<std::string> trace;
    for (const auto &a : hostk::PortTrace()) trace.push_back(hostk::Describe(a));
    return trace;
  }
};

DIO_DO_CONFIG ShutdownOutput(ULONG channel, ULONG level) { return {0, 1, 0, channel, 0, level}; }

TEST_F(ShutdownTest, WithoutATriggerOnlyOnSystemIsCleared) {
  StartedDevice(24);
  board_->SetDo(0x5A);
  Configure({{1, 0, 3, 3, 1, 1}});  // a start output only
  EXPECT_EQ(StoredDword(kService0, "OnSystem"), 1u);
  EXPECT_EQ(hostk::ShutdownSystem(), std::vector<NTSTATUS>{STATUS_SUCCESS});
  EXPECT_EQ(StoredDword(kService0, "OnSystem"), 0u);
  EXPECT_TRUE(Trace().empty()) << "the board is not touched";
  EXPECT_EQ(board_->Do(), 0x5A);
}

// Every delivery reads the DO register and writes it with the channel's bit
// at its level. The device is registered twice (at creation, and by the
// configuration or the start), so the shutdown reaches it twice and the
// second delivery repeats the same write.
TEST_F(ShutdownTest, EachDeliveryDrivesTheShutdownBit) {
  struct Case {
    const char *what;
    uint32_t model;
    bool fromRegistry;  // configured by the "DO" key at start, not by a program
    ULONG channel, level;
    uint8_t before, after;
    ULONG doOffset;
  } cases[] = {
      {"layout 24, channel 0 high", 24, false, 0, 1, 0xA4, 0xA5, 1},
      {"layout 24, channel 0 low", 24, false, 0, 0, 0x5B, 0x5A, 1},
      {"layout 22, channel 7 high", 22, false, 7, 1, 0x00, 0x80, 0},
      {"general layout, channel 3 low", 0, false, 3, 0, 0xFF, 0xF7, 1},
      {"channel 9 names no bit", 24, false, 9, 1, 0x5A, 0x5A, 1},
      {"channel 9, general layout", 0, false, 9, 0, 0x5A, 0x5A, 1},
      {"set at start", 24, true, 2, 1, 0x00, 0x04, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    FreshRow();
    if (c.fromRegistry) {
      const std::string doKey = std::string(kServiceKey) + "\\DO";
      hostreg::PutDword(doKey, "DO_Trigger_Shutdown", 1);
      hostreg::PutDword(doKey, "DO_Channel_Shutdown", c.channel);
      hostreg::PutDword(doKey, "DO_Level_Shutdown", c.level);
    }
    StartedDevice(c.model);
    if (!c.fromRegistry) Configure({ShutdownOutput(c.channel, c.level)});
    board_->SetDo(c.before);
    EXPECT_EQ(hostk::ShutdownSystem(), (std::vector<NTSTATUS>{STATUS_SUCCESS, STATUS_SUCCESS}));
    const uint16_t port = uint16_t(kRegisterBase + c.doOffset);
    std::vector<std::string> expected;
    for (const hostk::PortAccess &a : std::vector<hostk::PortAccess>{
             {false, 1, port, c.before}, {true, 1, port, c.after},
             {false, 1, port, c.after}, {true, 1, port, c.after}}) {
      expected.push_back(hostk::Describe(a));
    }
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(board_->Do(), c.after);
    EXPECT_EQ(StoredDword(kService0, "OnSystem"), 0u);
  }
}

TEST_F(ShutdownTest, AStoppedBoardIsNotDriven) {
  StartedDevice(24);
  board_->SetDo(0x00);
  Configure({ShutdownOutput(0, 1)});
  ASSERT_EQ(hostk::SendPnp(Pdo(), IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
  ASSERT_EQ(hostk::SendPnp(Pdo(), IRP_MN_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
  hostk::ClearPortTrace();
  EXPECT_EQ(hostk::ShutdownSystem(), (std::vector<NTSTATUS>{STATUS_SUCCESS, STATUS_SUCCESS}));
  EXPECT_EQ(StoredDword(kService0, "OnSystem"), 0u) << "the registry is still written";
  EXPECT_TRUE(Trace().empty());
  EXPECT_EQ(board_->Do(), 0x00);
}

TEST_F(ShutdownTest, WithoutPoolNeitherTheRegistryNorTheBoardIsTouched) {
  StartedDevice(24);
  board_->SetDo(0x00);
  // Set, cleared (which takes the creation's registration too) and set again:
  // one registration, one delivery.
  Configure({ShutdownOutput(0, 1), DIO_DO_CONFIG{}, ShutdownOutput(0, 1)});
  ASSERT_EQ(hostk::ShutdownRegistrations().size(), 1u);
  // The first allocation is the shutdown request itself; then come the
  // driver's two paths and the device key name.
  for (uint64_t failing = 2; failing <= 5; ++failing) {
    SCOPED_TRACE(failing == 5 ? "every one" : "allocation " + std::to_string(failing));
    if (failing == 5) hostk::FailAllocationsFrom(2);
    else hostk::FailAllocationAt(failing);
    std::vector<NTSTATUS> statuses = hostk::ShutdownSystem();
    hostk::FailAllocationsFrom(0);
    hostk::FailAllocationAt(0);
    EXPECT_EQ(statuses, std::vector<NTSTATUS>{STATUS_INSUFFICIENT_RESOURCES});
    EXPECT_EQ(StoredDword(kService0, "OnSystem"), 1u);
    EXPECT_TRUE(Trace().empty());
    EXPECT_EQ(board_->Do(), 0x00);
  }
}

}  // namespace
}  // namespace diotest
