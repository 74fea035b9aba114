// Runs every test on a fresh machine and fails the test that leaves it
// unbalanced: a pool block, handle, IRP, device object, shutdown registration
// or enabled interface it did not give back.
#include <gtest/gtest.h>

#include "host_kernel.h"

namespace {

class BalancedMachine : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo &) override { hostk::ResetMachine(); }
  void OnTestEnd(const testing::TestInfo &) override {
    std::vector<std::string> left = hostk::Outstanding();
    std::string report;
    for (const auto &line : left) report += "\n  " + line;
    // Reported as a failure of the test that just ended.
    EXPECT_TRUE(left.empty()) << "the test left the machine unbalanced:" << report;
    hostk::ResetMachine();
  }
};

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new BalancedMachine);
  return RUN_ALL_TESTS();
}
