// Requests that meet on other processors, put at the exact moment by the
// kernel stand-in's entry hooks: enables, cleanups and stops that connect and
// disconnect the interrupt, and status saved while another handle changes.
#include <chrono>

#include "event_program.h"

namespace diotest {
namespace {

using InterruptRacesTest = EventProgramTest;

// Two first enables on two handles: one interrupt object, connected once.
TEST_F(InterruptRacesTest, TwoFirstEnablesConnectOnce) {
  Bring(24);
  EnableSources(file_);
  HANDLE second = Open();
  std::vector<HANDLE> first = MakeEvents(1), other = MakeEvents(1);
  AsideAt("IoConnectInterrupt", [&] { EXPECT_EQ(EnableEvents(second, other).status, STATUS_SUCCESS); },
          [&] { EXPECT_EQ(EnableEvents(file_, first).status, STATUS_SUCCESS); });
  EXPECT_EQ(hostk::ConnectedInterrupts().size(), 1u);
  board_->PulseDiLine(0);
  EXPECT_EQ(Signalled(first) + Signalled(other), "11");
}

// The last cleanup meets another cleanup or a stop: the interrupt is
// disconnected once (a second disconnection stops the run).
TEST_F(InterruptRacesTest, ALastCleanupAndAnotherCleanupOrAStopDisconnectOnce) {
  for (bool stop : {false, true}) {
    const auto row = FreshRow(stop ? "a stop" : "the other handle's cleanup");
    Ready(24);
    // The stop as the last cleanup disconnects; or the other cleanup, run to
    // its end after this one has lowered the count and before it takes the
    // lock: each is the last.
    HANDLE second = stop ? nullptr : Open();
    AsideAt(
        stop ? "IoDisconnectInterrupt" : "KeEnterCriticalRegion",
        [&] {
          EXPECT_EQ(stop ? Pnp(IRP_MN_STOP_DEVICE).ioStatus.Status : hostk::user::CloseHandle(second), STATUS_SUCCESS);
        },
        [&] { EXPECT_EQ(hostk::user::CloseHandle(file_), STATUS_SUCCESS); });
    EXPECT_TRUE(hostk::ConnectedInterrupts().empty());
    EXPECT_EQ(board_->IntEn0(), 0) << "the board is quiet";
  }
}

// An interrupt as the last cleanup disconnects queues a DPC, which has run
// before the cleanup returns: none is left for the next connection.
TEST_F(InterruptRacesTest, AnInterruptAsTheDriverDisconnectsLeavesNoDpcQueued) {
  Bring(24);
  std::vector<HANDLE> events = MakeEvents(1);
  ASSERT_EQ(EnableEvents(file_, events).status, STATUS_SUCCESS);
  hostk::HoldDpcs(true);
  hostk::AtNextEntry("IoDisconnectInterrupt", [this] {
    board_->OverrideIntSum(0x02);  // the board's other source, claimed without DI status
    EXPECT_TRUE(hostk::RaiseInterrupt(kTranslatedVector));
    board_->ClearIntSumOverride();
  });
  EXPECT_EQ(hostk::user::CloseHandle(file_), STATUS_SUCCESS);
  EXPECT_EQ(hostk::QueuedDpcCount(), 0u);
  hostk::HoldDpcs(false);
  ExpectANewProgramHears(*board_, 0);
}

// Saved status is delivered whatever another handle does before the DPC.
TEST_F(InterruptRacesTest, AnotherHandleNeverDropsTheSavedStatus) {
  const char *const cases[] = {"enables", "disables", "closes"};
  for (const char *what : cases) {
    const auto row = FreshRow(std::string("another handle ") + what);
    std::vector<HANDLE> events = Ready(24), others = MakeEvents(1);
    HANDLE second = Open();
    hostk::UseProcessorThreads(true);
    hostk::HoldDpcs(true);
    board_->PulseDiLine(3);
    while (hostk::QueuedDpcCount() == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
    InProgramAside([&] {
      NTSTATUS status = what == cases[0]   ? EnableEvents(second, others).status
                        : what == cases[1] ? DisableEvents(second).status
                                           : hostk::user::CloseHandle(second);
      EXPECT_EQ(status, STATUS_SUCCESS);
    }).reset();
    hostk::HoldDpcs(false);
    KeFlushQueuedDpcs();
    EXPECT_EQ(Signalled(events), "000100000");
    hostk::UseProcessorThreads(false);
  }
}

// A port write accepted just before a stop lands before the stop's reset,
// never after it.
TEST_F(InterruptRacesTest, APortWriteAcceptedBeforeAStopNeverLandsAfterItsReset) {
  Ready(24);
  AsideAt("__outbyte", [&] { EXPECT_EQ(Pnp(IRP_MN_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS); },
          [&] { WritePort(file_, DIO_L24_INTEN0, 0xFF); });
  EXPECT_EQ(board_->IntEn0(), 0x00) << "the stop's reset came after the write";
}

// Another thread closes the last handle while an enable on it is on its way
// (the close itself waits for the enable): an enable that reaches the driver
// after the cleanup, or meets it at the lock, is refused, as nothing would
// disconnect what it connected.
TEST_F(InterruptRacesTest, AnEnableMeetingItsLastCleanupAtTheLockIsRefused) {
  for (bool atLock : {false, true}) {
    const auto row = FreshRow(atLock ? "at the lock" : "before the driver");
    Bring(24);
    std::vector<HANDLE> events = MakeEvents(1);
    const auto close = [&] {
      InProgramAside([&] { EXPECT_EQ(hostk::user::CloseHandle(file_), STATUS_SUCCESS); }).reset();
    };
    hostk::AtNextEntry("NtDeviceIoControlFile", [&] {
      if (atLock) {
        hostk::AtNextEntry("KeEnterCriticalRegion", close);
      } else {
        close();
      }
    });
    EXPECT_EQ(EnableEvents(file_, events).status, STATUS_FILE_CLOSED);
    EXPECT_TRUE(hostk::ConnectedInterrupts().empty());
  }
}

}  // namespace
}  // namespace diotest
