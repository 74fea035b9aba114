// The command line of applet_sim.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace appletsim {

// A registry value stored under the driver's service key before the applet
// loads, as an earlier run would have left it.
struct StoredValue {
  std::string subkey;  // "Counter", "Interrupt", "DO"
  std::string name;
  bool dword = false;
  std::string text;  // REG_SZ
  uint32_t number = 0;  // REG_DWORD
};

struct Options {
  uint32_t model = 24;
  bool startBoard = true;  // false: the driver never records a board
  bool standardUser = false;  // the applet's process may not change the machine's keys
  // The board as the DIO library reports it; unset fields keep the
  // library stand-in's default board.
  int64_t features = -1, diCount = -1, doCount = -1, interruptCount = -1, pledCount = -1, fpgaVersion = -1;
  std::vector<StoredValue> stored;
  int loads = 1;            // applet loads in a row, each with one dialog
  int closeWith = 1;        // IDOK; 2 Cancel; 3 Apply, then OK
  std::string appletPath;   // the applet library
};

// False, with a message on stderr, when the command line is not understood.
bool ParseOptions(int argc, char **argv, Options *options);
const char *Usage();

}  // namespace appletsim
