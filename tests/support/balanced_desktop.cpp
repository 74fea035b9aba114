// Every test on a fresh machine and desktop, left balanced: besides the
// machine, a registry key, window or library the applet did not give back, a
// DIO library handle left open, or a dialog nobody answered.
#include "balanced.h"
#include "diolib.h"
#include "host_win32.h"

int main(int argc, char **argv) {
  return testsupport::RunBalanced(argc, argv, "the desktop", {hostwin::ResetDesktop, diolib::Reset},
                                  {hostwin::Outstanding, diolib::Outstanding});
}
