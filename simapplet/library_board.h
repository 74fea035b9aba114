// The board as the DIO library stand-in reports it to the applet.
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace appletsim {

// Configures the library stand-in: its default board with the counts and
// flags the command line gives.
void ConfigureLibrary(const Options &options);
// What the library reports, one line each.
std::vector<std::string> DescribeLibraryBoard();
// The library calls from call number `from` on, one line each.
std::vector<std::string> LibraryCallsFrom(size_t from);
size_t LibraryCallCount();

}  // namespace appletsim
