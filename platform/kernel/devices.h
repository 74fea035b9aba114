// Internal to the kernel stand-in: device objects and the simulated bus.
#pragma once

#include <mutex>

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
// The PnP manager's lock of the device tree (pnp.cpp): Plug and Play
// operations take it, and so does a system power transition while it sends
// its system requests, so that the two never overlap, as on Windows. While
// the machine is off it is given only to the transition that brings it
// back (`whileOff`); Plug and Play waits for S0.
std::unique_lock<std::recursive_mutex> LockDeviceTree(bool whileOff = false);
// The PDOs that a function driver is attached to, oldest first.
std::vector<PDEVICE_OBJECT> PdosWithStacks();
// What the PnP manager knows of a PDO's device (pnp.cpp, iomanager.cpp).
bool HasStarted(PDEVICE_OBJECT pdo);
void NoteStarted(PDEVICE_OBJECT pdo);
void NoteSurpriseRemoved(PDEVICE_OBJECT pdo);
bool SurpriseRemoved(PDEVICE_OBJECT pdo);
void NoteRemoved(PDEVICE_OBJECT pdo);
// A file counts as open on the device from here, unless the device did not
// start, or was surprise-removed and its last file is gone (its removal is
// due or under way): then false, and no file may reach it.
bool NoteFileOpened(PDEVICE_OBJECT pdo);
// Returns whether the close was the last of a surprise-removed device, whose
// removal request is now due.
bool NoteFileClosed(PDEVICE_OBJECT pdo);

}  // namespace hostk
