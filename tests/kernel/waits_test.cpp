// The blocking waits of the kernel stand-in end the run, as a deadlock, when
// nothing wakes them within the wait limit, instead of hanging the test.
#include <gtest/gtest.h>

#include "host_kernel.h"

namespace {

TEST(WaitsDeathTest, AWaitThatNeverEndsStopsTheRun) {
  EXPECT_DEATH(
      {
        hostk::SetWaitLimit(100);
        KEVENT never;
        KeInitializeEvent(&never, NotificationEvent, FALSE);
        KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr);
      },
      "STOP 0x000000C4: KeWaitForSingleObject without a timeout: no wake-up within 100 ms");
  EXPECT_DEATH(
      {
        hostk::SetWaitLimit(100);
        hostk::WaitForBlockedThreads(1);  // nobody waits
      },
      "STOP 0x000000C4: a wait of the host kernel: no wake-up within 100 ms");
}

}  // namespace
