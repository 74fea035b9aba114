// The registry keys and the names the bench and every harness on it share.
// Free of the kernel's headers, so that a program that sees only Win32's
// (the applet simulator) can use them too.
#pragma once

#include <cstdint>

#include "dio_registry.h"

namespace hostboard {

// The driver's service key as installed, and the device map its start
// writes, as the kernel names them (dio_registry.h).
inline constexpr char kServiceKey[] = DIO_KEY_MACHINE DIO_KEY_SERVICE;
inline constexpr char kDeviceMapKey[] = DIO_KEY_MACHINE DIO_KEY_DEVICE_MAP;

// The register layout a board-model code selects: "layout 24", "layout 22"
// or "general layout".
const char *LayoutName(uint32_t model);

}  // namespace hostboard
