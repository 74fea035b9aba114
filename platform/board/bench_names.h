// The registry keys and the names the bench and every harness on it share.
// Free of the kernel's headers, so that a program that sees only Win32's
// (the applet simulator) can use them too.
#pragma once

#include <cstdint>

namespace hostboard {

// The driver's service key as installed, and the device map its start writes.
inline constexpr char kServiceKey[] = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\TESZEPDIOS";
inline constexpr char kDeviceMapKey[] = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZEPDIO";

// The register layout a board-model code selects: "layout 24", "layout 22"
// or "general layout".
const char *LayoutName(uint32_t model);

}  // namespace hostboard
