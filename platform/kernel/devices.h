// Internal to the kernel stand-in: device objects and the simulated bus.
#pragma once

#include "machine.h"

namespace hostk {

// The dispatch routine of the simulated bus driver, for every request.
NTSTATUS BusDispatch(PDEVICE_OBJECT pdo, PIRP irp);
// Its driver object, which owns every PDO.
PDRIVER_OBJECT BusDriver();
bool IsPdo(PDEVICE_OBJECT device);
// The PDO's configuration.
PdoConfig ConfigOf(PDEVICE_OBJECT pdo);
// The device a device object is attached to, or none.
PDEVICE_OBJECT LowerDeviceOf(PDEVICE_OBJECT device);

}  // namespace hostk
