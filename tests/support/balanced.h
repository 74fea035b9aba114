// Runs every test on a fresh machine, and whatever else the `resets` set up
// afresh, and fails the test that leaves anything unbalanced: besides what
// the kernel checks (a pool block, handle, IRP, device object, shutdown
// registration or enabled interface not given back), what the `reports`
// tell of the program's other stand-ins.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_kernel.h"

namespace testsupport {

using Reset = void (*)();
using Report = std::vector<std::string> (*)();

struct Balanced : testing::EmptyTestEventListener {
  const char *what;
  std::vector<Reset> resets;
  std::vector<Report> reports;

  Balanced(const char *what, std::vector<Reset> resets, std::vector<Report> reports)
      : what(what), resets(std::move(resets)), reports(std::move(reports)) {}
  void ResetAll() {
    for (Reset reset : resets) reset();
    hostk::ResetMachine();
  }
  void OnTestStart(const testing::TestInfo &) override { ResetAll(); }
  void OnTestEnd(const testing::TestInfo &) override {
    std::string report;
    for (Report outstanding : reports)
      for (const auto &line : outstanding()) report += "\n  " + line;
    for (const auto &line : hostk::Outstanding()) report += "\n  " + line;
    EXPECT_TRUE(report.empty()) << "the test left " << what << " unbalanced:" << report;
    ResetAll();
  }
};

inline int RunBalanced(int argc, char **argv, const char *what, std::vector<Reset> resets = {},
                       std::vector<Report> reports = {}) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new Balanced(what, std::move(resets), std::move(reports)));
  return RUN_ALL_TESTS();
}

}  // namespace testsupport
