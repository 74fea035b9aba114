// Runs every test on a fresh machine, and whatever else `reset` sets up
// afresh, and fails the test that leaves anything unbalanced: besides what
// the kernel checks (a pool block, handle, IRP, device object, shutdown
// registration or enabled interface not given back), what `outstanding`
// reports of the program's other stand-ins.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host_kernel.h"

namespace testsupport {

struct Balanced : testing::EmptyTestEventListener {
  const char *what;
  std::function<void()> reset;
  std::function<std::vector<std::string>()> outstanding;

  Balanced(const char *what, std::function<void()> reset, std::function<std::vector<std::string>()> outstanding)
      : what(what), reset(std::move(reset)), outstanding(std::move(outstanding)) {}
  void Reset() {
    reset();
    hostk::ResetMachine();
  }
  void OnTestStart(const testing::TestInfo &) override { Reset(); }
  void OnTestEnd(const testing::TestInfo &) override {
    std::vector<std::string> left = outstanding();
    for (const auto &line : hostk::Outstanding()) left.push_back(line);
    std::string report;
    for (const auto &line : left) report += "\n  " + line;
    // Reported as a failure of the test that just ended.
    EXPECT_TRUE(left.empty()) << "the test left " << what << " unbalanced:" << report;
    Reset();
  }
};

inline int RunBalanced(int argc, char **argv, Balanced *listener) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(listener);
  return RUN_ALL_TESTS();
}

}  // namespace testsupport
