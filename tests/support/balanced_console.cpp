// Runs every test on a fresh machine and console and fails the test that
// leaves either unbalanced: besides what the kernel checks, a broken calling
// rule of the Win32 stand-in, a device information set not destroyed or a
// console control handler still registered.
#include <gtest/gtest.h>

#include "host_kernel.h"
#include "host_win32.h"
#include "host_win32_io.h"

namespace {

class BalancedConsole : public testing::EmptyTestEventListener {
  void Reset() {
    hostwin::ResetDesktop();
    hostwin::ResetIo();
    hostk::ResetMachine();
  }
  void OnTestStart(const testing::TestInfo &) override { Reset(); }
  void OnTestEnd(const testing::TestInfo &) override {
    std::vector<std::string> left = hostwin::Outstanding();
    for (const auto &line : hostwin::IoOutstanding()) left.push_back(line);
    for (const auto &line : hostk::Outstanding()) left.push_back(line);
    std::string report;
    for (const auto &line : left) report += "\n  " + line;
    // Reported as a failure of the test that just ended.
    EXPECT_TRUE(left.empty()) << "the test left the machine or the console unbalanced:" << report;
    Reset();
  }
};

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new BalancedConsole);
  return RUN_ALL_TESTS();
}
