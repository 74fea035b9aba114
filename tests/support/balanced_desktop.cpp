// Runs every test on a fresh machine and desktop and fails the test that
// leaves either unbalanced: besides what the kernel checks, a registry key,
// window or library the applet did not give back, a DIO library handle left
// open, or a dialog nobody answered.
#include <gtest/gtest.h>

#include "diolib.h"
#include "host_kernel.h"
#include "host_win32.h"

namespace {

class BalancedDesktop : public testing::EmptyTestEventListener {
  void Reset() {
    hostwin::ResetDesktop();
    diolib::Reset();
    hostk::ResetMachine();
  }
  void OnTestStart(const testing::TestInfo &) override { Reset(); }
  void OnTestEnd(const testing::TestInfo &) override {
    std::vector<std::string> left = hostwin::Outstanding();
    for (const auto &line : diolib::Outstanding()) left.push_back(line);
    for (const auto &line : hostk::Outstanding()) left.push_back(line);
    std::string report;
    for (const auto &line : left) report += "\n  " + line;
    // Reported as a failure of the test that just ended.
    EXPECT_TRUE(left.empty()) << "the test left the desktop unbalanced:" << report;
    Reset();
  }
};

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new BalancedDesktop);
  return RUN_ALL_TESTS();
}
