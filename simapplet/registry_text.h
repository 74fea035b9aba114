// The registry as the applet sees and leaves it, as text.
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace appletsim {

// Stores a value under the service key, as an earlier run would have.
void Store(const StoredValue &value);
// The values written through RegSetValueExA from write number `from` on:
// "Interrupt\DI0_Control = "Enable"".
std::vector<std::string> WritesFrom(size_t from);
size_t WriteCount();
// The subtree below the service key, one line per key and value.
std::string ServiceKeyListing();

}  // namespace appletsim
