// The board's interrupt on a level-sensitive line it shares with another
// device, as PCI boards do: the board's routine claims exactly the interrupts
// its board raised, and the board never asserts the line when no routine of
// the driver serves it any more.
#include "event_program.h"

namespace diotest {
namespace {

using SharedLineTest = EventProgramTest;

void Sleep(PDEVICE_OBJECT pdo, SYSTEM_POWER_STATE state) {
  EXPECT_EQ(hostk::SendSetPower(pdo, SystemPowerState, hostk::SystemState(state)).ioStatus.Status, STATUS_SUCCESS);
  hostk::DrainPowerWork();
}

// A board that reads all ones, pulled out or powered down, is not
// interrupting: its routine declines, the other device is served, and no
// event is signalled. Stop and surprise removal turn the board's sources off
// before the interrupt goes, so a DI edge afterwards asserts nothing.
TEST_F(SharedLineTest, TheBoardClaimsOnlyWhatItRaised) {
  enum What { kPulled, kInD3, kStopped, kSurpriseRemoved };
  const char *const names[] = {"pulled out", "in D3", "stopped", "surprise-removed"};
  for (What what : {kPulled, kInD3, kStopped, kSurpriseRemoved}) {
    for (uint32_t model : {24u, 22u, 21u}) {
      const auto row = FreshRow("model " + std::to_string(model) + ", " + names[what]);
      std::vector<HANDLE> events = Ready(model);
      {
        OtherDevice other;  // connected after the board: the board's routine is asked first
        if (what == kPulled) board_->Pull();
        if (what == kInD3) Sleep(Pdo(), PowerSystemSleeping3);
        if (what == kPulled || what == kInD3) {
          other.Assert();
          EXPECT_EQ(other.Served(), 1);
          EXPECT_EQ(Signalled(events), "000000000");
          if (what == kInD3) Sleep(Pdo(), PowerSystemWorking);
        } else {
          EXPECT_EQ(Pnp(what == kStopped ? IRP_MN_STOP_DEVICE : IRP_MN_SURPRISE_REMOVAL).ioStatus.Status,
                    STATUS_SUCCESS);
          EXPECT_EQ(hostk::ConnectedInterrupts().size(), 1u) << "only the other device's";
          EXPECT_EQ(board_->IntEn0() | board_->IntEn1(), 0);
          board_->PulseDiLine(0);
          EXPECT_FALSE(board_->InterruptAsserted());
        }
        TearDown();  // the board's device goes while the other device still shares the line
      }
    }
  }
}

// Every source pending at once reads all ones too, on a live board: the
// acknowledge clears it, so the routine serves it.
TEST_F(SharedLineTest, AllSourcesPendingAtOnceAreServed) {
  const std::pair<uint32_t, const char *> cases[] = {{24, "111111111"}, {22, "111111111"}, {21, "111100000"}};
  for (const auto &[model, signalled] : cases) {
    const auto row = FreshRow("model " + std::to_string(model));
    std::vector<HANDLE> events = Ready(model);
    hostk::HoldInterrupts(true);
    for (int source = 0; source < board_->SourceCount(); ++source) board_->PulseDiLine(source);
    hostk::HoldInterrupts(false);
    EXPECT_EQ(Signalled(events), signalled);
    EXPECT_FALSE(board_->InterruptAsserted());
  }
}

}  // namespace
}  // namespace diotest
