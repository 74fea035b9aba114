// One load of the applet in the Control Panel stand-in: what it answers,
// what its dialog shows on each tab, and what closing the dialog stores.
#pragma once

#include <string>

namespace appletsim {

// The button that ends the dialog.
enum class Close { Ok = 1, Cancel = 2, ApplyThenOk = 3 };

// Loads the applet, opens its dialog as a double click in the Control Panel
// does, prints every tab, closes the dialog with `close` (and with Cancel
// when OK could not store), and unloads the applet. An `unelevated` user
// declines the applet's offer to open elevated. False when the applet could
// not be loaded.
bool RunAppletOnce(const std::string &path, Close close, bool unelevated);

}  // namespace appletsim
