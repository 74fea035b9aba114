// Every test on a fresh machine and console, left balanced: besides the
// machine, a broken calling rule of the Win32 stand-in, a device information
// set not destroyed or a console control handler still registered.
#include "balanced.h"
#include "host_win32.h"
#include "host_win32_io.h"

int main(int argc, char **argv) {
  auto reset = [] {
    hostwin::ResetDesktop();
    hostwin::ResetIo();
  };
  auto outstanding = [] {
    std::vector<std::string> left = hostwin::Outstanding();
    for (const auto &line : hostwin::IoOutstanding()) left.push_back(line);
    return left;
  };
  return testsupport::RunBalanced(argc, argv, new testsupport::Balanced("the machine or the console", reset, outstanding));
}
