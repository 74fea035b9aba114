// A dialog page as text, the way a user sees it: one line per row of
// controls, left to right. Check boxes "[x] text", radio buttons
// "(o) text", drop-down lists "[shown v] {item|item}", indicator bitmaps
// "[+]" (tick) or "[-]" (cross), group boxes "-- text --", separators
// "-----"; " (disabled)" after a control that takes no input.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace appletsim {

std::vector<std::string> PageRows(HWND page);
// The buttons and lists of the page other than control `except`, on one
// line: what changes when another entry of that list is chosen.
std::string PageSettings(HWND page, int except);
// The texts of the controls the page keeps hidden.
std::vector<std::string> HiddenControls(HWND page);

}  // namespace appletsim
