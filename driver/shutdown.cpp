// System shutdown: the device is marked as no longer running and the
// configured DO bit is driven to its shutdown level, at the shutdown request
// and at a system power request that ends the session (see power.cpp).
#include "driver.h"

// The device hears every system shutdown: "OnSystem" goes to 0 at each,
// whatever its DO configuration, which decides only the output. It is
// registered once, when it is created, and deleting the device object takes
// the registration with it; each registration would be one more shutdown
// request. Without pool for it the device goes without.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
VOID RegisterForShutdown(PDEVICE_OBJECT device) {
  PAGED_CODE();
  (VOID)IoRegisterShutdownNotification(device);
}

// Marks the device as no longer running ("OnSystem" = 0) and drives the
// shutdown DO bit of a started board that has power, under the hardware
// lock like every other access to the DO register. Used by the shutdown
// request and by a system set-power request that ends the session; should
// the session go on after all (a fast startup resumes a hybrid shutdown),
// the board is brought up as at a start once it has power again. The
// output and the end of the session do not wait on the registry: a write
// that fails (no pool for its path) only makes the status.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS RecordSystemShutdown(PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  NTSTATUS status = WriteOnSystem(extension, 0);
  LockHardware(extension);
  extension->SessionEnded = 1;
  if (extension->DoConfig.TriggerShutdown && DeviceIsStarted(extension) && extension->BoardReady &&
      BoardHasPorts(extension)) {
    SetDoBit(extension, extension->DoConfig.ChannelShutdown, extension->DoConfig.LevelShutdown);
  }
  UnlockHardware(extension);
  return status;
}

DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS DispatchShutdown(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PAGED_CODE();
  NTSTATUS status = RecordSystemShutdown((PDEVICE_EXTENSION)DeviceObject->DeviceExtension);
  Irp->IoStatus.Status = status;
  Irp->IoStatus.Information = 0;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return status;
}
