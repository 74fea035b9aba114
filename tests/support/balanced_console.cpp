// Every test on a fresh machine and console, left balanced: besides the
// machine, a broken calling rule of the Win32 stand-in, a device information
// set not destroyed or a console control handler still registered.
#include "balanced.h"
#include "host_win32.h"
#include "host_win32_io.h"

int main(int argc, char **argv) {
  return testsupport::RunBalanced(argc, argv, "the machine or the console", {hostwin::ResetDesktop, hostwin::ResetIo},
                                  {hostwin::Outstanding, hostwin::IoOutstanding});
}
