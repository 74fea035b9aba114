// Every test on a fresh machine and desktop, left balanced: besides the
// machine, a registry key, window or library the applet did not give back, a
// DIO library handle left open, or a dialog nobody answered.
#include "balanced.h"
#include "diolib.h"
#include "host_win32.h"

int main(int argc, char **argv) {
  auto reset = [] {
    hostwin::ResetDesktop();
    diolib::Reset();
  };
  auto outstanding = [] {
    std::vector<std::string> left = hostwin::Outstanding();
    for (const auto &line : diolib::Outstanding()) left.push_back(line);
    return left;
  };
  return testsupport::RunBalanced(argc, argv, new testsupport::Balanced("the desktop", reset, outstanding));
}
