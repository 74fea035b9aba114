// System shutdown as the I/O manager delivers it.
#include "event_program.h"

namespace diotest {
namespace {

class ShutdownTest : public DriverTest {
 protected:
  // Sends the configurations from a program that then ends; the trace starts empty.
  void Configure(const std::vector<DIO_DO_CONFIG> &configs) {
    {
      Program program("dio-setup");
      HANDLE file = program.Open();
      for (const DIO_DO_CONFIG &config : configs) {
        auto result = hostk::user::DeviceIoControl(file, IOCTL_DIO_DO_SYS_CONFIG, &config, sizeof config, nullptr, 0);
        EXPECT_EQ(result.status, STATUS_SUCCESS);
      }
    }
    hostk::ClearPortTrace();
  }
};

DIO_DO_CONFIG ShutdownOutput(ULONG channel, ULONG level) { return {0, 1, 0, channel, 0, level}; }

// The shutdown sets the channel's DO bit to its level (channels 0 to 7; the
// shift count is taken modulo 32). Registered once, at its creation, the
// device hears each shutdown once, whatever its configuration says and
// however often it restarts. Without a trigger, or stopped, only "OnSystem"
// is cleared.
TEST_F(ShutdownTest, EachShutdownDrivesTheShutdownBitOnce) {
  struct Case {
    const char *what;
    uint32_t model;
    std::vector<DIO_DO_CONFIG> configs;  // sent by a program, in turn
    bool fromRegistry;  // the first configured by the "DO" key at start instead
    bool stopped;
    int restarts;  // stops and starts before the shutdown
    uint8_t before, after;
  } cases[] = {
      {"layout 24, channel 0 low", 24, {ShutdownOutput(0, 0)}, false, false, 0, 0x5B, 0x5A},
      {"layout 22, channel 7 high", 22, {ShutdownOutput(7, 1)}, false, false, 0, 0x00, 0x80},
      {"channel 9 names no bit", 24, {ShutdownOutput(9, 1)}, false, false, 0, 0x58, 0x58},
      {"channel 33 is channel 1", 24, {ShutdownOutput(33, 1)}, false, false, 0, 0x00, 0x02},
      {"set at start", 24, {ShutdownOutput(2, 1)}, true, false, 0, 0x00, 0x04},
      {"a start output only", 24, {{1, 0, 3, 3, 1, 1}}, false, false, 0, 0x5A, 0x5A},
      {"set, cleared and set again", 24, {ShutdownOutput(1, 1), DIO_DO_CONFIG{}, ShutdownOutput(0, 1), ShutdownOutput(0, 1)},
       false, false, 0, 0x00, 0x01},
      {"set, then cleared", 24, {ShutdownOutput(1, 1), DIO_DO_CONFIG{}}, false, false, 0, 0x00, 0x00},
      {"a stopped board", 24, {ShutdownOutput(0, 1)}, false, true, 0, 0x00, 0x00},
      {"restarts", 24, {ShutdownOutput(0, 1)}, true, false, 2, 0x00, 0x01},
  };
  for (const Case &c : cases) {
    const auto row = FreshRow(c.what);
    if (c.fromRegistry) StoreDo(c.configs[0]);
    StartedDevice(c.model);
    if (!c.fromRegistry) Configure(c.configs);
    for (int stop = 0; stop < c.restarts + c.stopped; ++stop) {
      ASSERT_EQ(Pnp(IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
      ASSERT_EQ(Pnp(IRP_MN_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
      if (stop < c.restarts) {
        ASSERT_EQ(StartWith().ioStatus.Status, STATUS_SUCCESS);
      }
    }
    board_->SetDo(c.before);
    hostk::ClearPortTrace();
    EXPECT_EQ(hostk::ShutdownSystem(), std::vector<NTSTATUS>{STATUS_SUCCESS});
    const uint16_t port = uint16_t(kRegisterBase + (c.model == 22 ? 0 : 1));
    std::vector<hostk::PortAccess> expected;
    if (c.configs.back().TriggerShutdown && !c.stopped) expected = {{false, 1, port, c.before}, {true, 1, port, c.after}};
    EXPECT_EQ(Trace(), Describe(expected));
    EXPECT_EQ(StoredDword(kService0, "OnSystem"), 0u);
  }
}

// Without pool "OnSystem" cannot be written, but the output and the end of
// the session do not depend on it: the shutdown request still drives the DO
// bit (and says what failed), and after a hybrid shutdown the fast startup
// still brings the board up as at a cold start instead of restoring it.
TEST_F(ShutdownTest, WithoutPoolOnlyTheRegistryWriteIsMissing) {
  StartedDevice(24);
  board_->SetDo(0x00);
  Configure({ShutdownOutput(0, 1)});
  // After the request itself: the device key name, then the driver's path.
  for (uint64_t failing = 2; failing <= 4; ++failing) {
    SCOPED_TRACE(failing == 4 ? "every one" : "allocation " + std::to_string(failing));
    if (failing == 4) hostk::FailAllocationsFrom(2);
    else hostk::FailAllocationAt(failing);
    EXPECT_EQ(hostk::ShutdownSystem(), std::vector<NTSTATUS>{STATUS_INSUFFICIENT_RESOURCES});
    hostk::FailAllocationsFrom(0);
    hostk::FailAllocationAt(0);
    EXPECT_EQ(StoredDword(kService0, "OnSystem"), 1u);
    EXPECT_EQ(board_->Do(), 0x01) << "the output all the same";
    board_->SetDo(0x00);
  }

  const auto row = FreshRow("a hybrid shutdown");
  StoreDo({1, 1, 2, 0, 1, 1});  // start output on channel 2, shutdown output on channel 0
  StartedDevice(24);
  {
    Program program;  // the applications end before a hybrid shutdown
    WritePort(program.Open(), DIO_L24_DO, 0x5A);
  }
  hostk::FailAllocationsFrom(1);  // the system's own request comes from the reserve
  hostk::EnterSystemTransition(hostk::SystemTransition::HybridShutdown);
  hostk::FailAllocationsFrom(0);
  EXPECT_EQ(board_->Do(), 0x5B) << "the shutdown output before the power went";
  hostk::LeaveSystemTransition(hostk::SystemTransition::HybridShutdown);
  EXPECT_EQ(board_->Do(), 0x04) << "the start output alone, as at a cold start";
  EXPECT_EQ(StoredDword(kService0, "OnSystem"), 1u);
}

// The shutdown output's read and write of the DO register wait for a port
// request in progress: they come after the program's write, never around it.
TEST_F(ShutdownTest, TheShutdownOutputWaitsForAPortRequestInProgress) {
  StartedDevice(24);
  Configure({ShutdownOutput(0, 1)});
  board_->SetDo(0x00);
  Program program;
  HANDLE file = program.Open();
  std::unique_ptr<Aside> shutdown;
  hostk::AtNextEntry("__outbyte", [&] {
    shutdown = std::make_unique<Aside>([] { hostk::ShutdownSystem(); });
    EXPECT_EQ(board_->Do(), 0x00) << "waits for the program's write";
  });
  WritePort(file, DIO_L24_DO, 0x80);
  shutdown.reset();
  EXPECT_EQ(board_->Do(), 0x81);
}

}  // namespace
}  // namespace diotest
