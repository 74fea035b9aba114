// applet_sim: what the Control Panel shows for a board model, without
// Windows. The driver, loaded into the kernel stand-in, starts a simulated
// board of the model and records it in the registry; the applet, loaded by
// the Win32 stand-in's Control Panel, finds it there and asks the DIO
// library stand-in what the board has. The simulator prints every tab of the
// applet's dialog and what each page shows, presses OK (or another button),
// prints what that stored, and lets the driver start the board again so
// that it reads the DO settings the applet stored.
//
// Run with --help for the options.
#include <cstdio>
#include <cstring>

#include "applet_session.h"
#include "driver_bench.h"
#include "host_win32.h"
#include "diolib.h"
#include "library_board.h"
#include "options.h"
#include "output.h"
#include "registry_text.h"

using namespace appletsim;

namespace {

std::string Hex2(unsigned value) {
  char text[8];
  snprintf(text, sizeof text, "0x%02X", value & 0xFF);
  return text;
}

// Everything the run must have given back; empty when balanced.
std::vector<std::string> Unbalanced() {
  std::vector<std::string> left = hostwin::Outstanding();
  for (const auto &line : diolib::Outstanding()) left.push_back(line);
  return left;
}

}  // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      fputs(Usage(), stdout);
      return 0;
    }
  }
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    fputs(Usage(), stderr);
    return 2;
  }
  std::string applet = options.appletPath.empty() ? APPLET_PATH : options.appletPath;
  bool ok = true;
  {
    DriverBench driver(options.model);
    printf("TesZEPDIOConfig for a simulated board of model %u (%s)\n", options.model, driver.LayoutName().c_str());

    Heading("driver");
    if (!driver.Loaded()) {
      Line("DriverEntry failed");
      return 1;
    }
    if (options.startBoard) {
      Line("the board starts: " + driver.StartBoard() + "; DO register " + Hex2(driver.DoRegister()));
    } else {
      Line("no board started: the driver has recorded none");
    }

    Heading("DIO library (stand-in)");
    ConfigureLibrary(options);
    for (const auto &line : DescribeLibraryBoard()) Line(line);

    Heading("registry before the applet");
    for (const auto &value : options.stored) Store(value);
    Block(ServiceKeyListing());

    if (options.standardUser) {
      hostwin::RunAs(hostwin::Rights::StandardUser);
      Line("the applet runs as a standard user: the service key opens for reading only; each refused save"
           " offers to open the applet elevated, and the user declines");
    }
    for (int load = 0; load < options.loads && ok; ++load) {
      if (options.loads > 1) printf("\n######## applet load %d of %d\n", load + 1, options.loads);
      ok = RunAppletOnce(applet, static_cast<Close>(options.closeWith), options.standardUser);
    }

    Heading("registry after the applet");
    Block(ServiceKeyListing());

    if (options.startBoard) {
      Heading("driver: the board starts again and reads the DO key");
      Line(driver.RestartBoard() + "; DO register " + Hex2(driver.DoRegister()));
    }
  }

  Heading("balance");
  std::vector<std::string> left = Unbalanced();
  for (const auto &line : KernelOutstanding()) left.push_back(line);
  if (left.empty()) Line("nothing left behind");
  for (const auto &line : left) Line(line);
  return ok && left.empty() ? 0 : 1;
}
