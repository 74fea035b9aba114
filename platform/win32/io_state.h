// Internal to the Win32 stand-in's I/O part: what its files keep for the
// balance sheet.
#pragma once

#include <string>
#include <vector>

namespace hostwin {

// setupapi.cpp
std::vector<std::string> OpenDeviceInfoSets();
void ForgetDeviceInfoSets();

// device_io.cpp
void ForgetDeviceAccess();

// console.cpp
std::vector<std::string> RegisteredConsoleHandlers();
void ForgetConsoleHandlers();

}  // namespace hostwin
