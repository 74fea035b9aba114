// Internal to the kernel stand-in: device objects and the simulated bus.
#pragma once

#include "machine.h"

namespace hostk {

// The driver object of the simulated bus that owns every PDO.
PDRIVER_OBJECT BusDriver();
bool IsPdo(PDEVICE_OBJECT device);
// The device a device object is attached to, or none.
PDEVICE_OBJECT LowerDeviceOf(PDEVICE_OBJECT device);

}  // namespace hostk
