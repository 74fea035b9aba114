// The services every dispatch routine of a device uses: the lock of the
// board's state, the count of Plug and Play and power requests inside the
// driver that stop and removal wait for, completing and passing requests
// on, and the device interface. Nothing here calls back into the files that
// use it.
#include "driver.h"

// HardwareLock is a synchronization event used as a mutex: its holder stays
// at PASSIVE_LEVEL, where the interrupt is connected and disconnected, and
// sits in a critical region so that it cannot be suspended while others
// wait for it.
_Use_decl_annotations_
VOID LockHardware(PDEVICE_EXTENSION extension) {
  KeEnterCriticalRegion();
  KeWaitForSingleObject(&extension->HardwareLock, Executive, KernelMode, FALSE, NULL);
}

_Use_decl_annotations_
VOID UnlockHardware(PDEVICE_EXTENSION extension) {
  KeSetEvent(&extension->HardwareLock, 0, FALSE);
  KeLeaveCriticalRegion();
}

// A request may go on unless a stop or removal is draining the count.
_Use_decl_annotations_
BOOLEAN AcquireRequest(PDEVICE_EXTENSION extension) {
  InterlockedIncrement(&extension->OutstandingIo);
  if (!ReadCount(&extension->Removing)) return TRUE;
  ReleaseRequest(extension);
  return FALSE;
}

_Use_decl_annotations_
VOID ReleaseRequest(PDEVICE_EXTENSION extension) {
  if (InterlockedDecrement(&extension->OutstandingIo) == 0) {
    KeSetEvent(&extension->RemoveEvent, 0, FALSE);
  }
}

// Waits until no other Plug and Play or power request is inside the driver;
// new ones are refused or passed down uncounted meanwhile. Called holding
// one count of the caller's request: the caller's count and the device's
// bias are given up for the wait.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
VOID DrainRequests(PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  InterlockedExchange(&extension->Removing, 1);
  KeResetEvent(&extension->RemoveEvent);
  ReleaseRequest(extension);  // the device's own bias
  ReleaseRequest(extension);  // the caller's count
  KeWaitForSingleObject(&extension->RemoveEvent, Executive, KernelMode, FALSE, NULL);
}

_Use_decl_annotations_
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// The request goes to the next driver down as it came.
_Use_decl_annotations_
NTSTATUS PassDown(PDEVICE_EXTENSION extension, PIRP irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(extension->NextLowerDriver, irp);
}

// Gives the request back to the caller once the lower drivers finished it.
_Use_decl_annotations_
NTSTATUS ForwardCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  UNREFERENCED_PARAMETER(device);
  UNREFERENCED_PARAMETER(irp);
  KeSetEvent((PKEVENT)context, 0, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// Sends the request down and waits until the lower drivers have finished it;
// returns their status. The caller completes the request.
_Use_decl_annotations_
NTSTATUS ForwardAndWait(PDEVICE_OBJECT device, PIRP irp) {
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)device->DeviceExtension;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, ForwardCompletion, &done, TRUE, TRUE, TRUE);
  NTSTATUS status = IoCallDriver(extension->NextLowerDriver, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    status = irp->IoStatus.Status;
  }
  return status;
}

// Switches the device interface on; again on a started device, which the
// kernel answers as already on.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
VOID EnableInterface(PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  if (NT_SUCCESS(IoSetDeviceInterfaceState(&extension->InterfaceName, TRUE)))
    extension->InterfaceEnabled = 1;
}

// Switches the interface off unless it is off already: the kernel forbids
// disabling it twice, as at a removal after a surprise removal.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
VOID DisableInterface(PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  if (!extension->InterfaceEnabled) return;
  extension->InterfaceEnabled = 0;
  IoSetDeviceInterfaceState(&extension->InterfaceName, FALSE);
}
