// Plug and Play: start, stop, removal and their queries, the count of Plug
// and Play and power requests inside the driver that stop and removal wait
// for, and the lock of the board's state.
#include "driver.h"

// A request may go on unless StopDevice is draining the count.
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

_Use_decl_annotations_
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// Power requests go down untouched while the device is held (power.cpp).
static VOID SetHoldRequests(PDEVICE_EXTENSION extension, LONG hold) {
  InterlockedExchange(&extension->HoldRequests, hold);
}

static NTSTATUS PassDown(PDEVICE_EXTENSION extension, PIRP irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(extension->NextLowerDriver, irp);
}

// A request this driver handled goes down marked as done: the bus driver
// completes the codes it does not handle itself with the status it finds.
static NTSTATUS PassDownHandled(PDEVICE_EXTENSION extension, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  return PassDown(extension, irp);
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

// Takes the started hardware out of service once no other Plug and Play or
// power request is inside the driver. Called holding one count of the
// caller's request; for a restart the board's registers are saved, and its
// interrupt sources are turned off when its interrupt is connected.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
VOID StopDevice(PDEVICE_EXTENSION extension, BOOLEAN restart) {
  PAGED_CODE();
  SetHoldRequests(extension, 1);
  if (!extension->Started) return;

  DrainRequests(extension);
  InterlockedExchange(&extension->Removing, 0);

  if (extension->Started) StopBoardInterrupt(extension, restart);
  AcquireRequest(extension);
  AcquireRequest(extension);
}

// The device is going away: no new handle, no request held any more, and
// those held are failed.
DIO_PAGED_ROUTINE
static VOID EndService(PDEVICE_OBJECT device, PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  LockHardware(extension);
  extension->Stopped = 0;
  extension->RemovePending = 1;
  UnlockHardware(extension);
  ReleaseHeldRequests(device, STATUS_DELETE_PENDING);
}

// Removal cannot fail: whatever becomes of the registry subkeys, the device
// is stopped, the request goes down, and the device object is detached and
// deleted. The subkeys of a device whose start failed were never written.
// Every request still counted inside the driver (a power request's
// completion, its callback or its power-up work) is waited for first, also
// when the device is not started: after a surprise removal or a failed
// start, or right after a resume.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS HandleRemoveDevice(PDEVICE_OBJECT device, PIRP irp) {
  PAGED_CODE();
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)device->DeviceExtension;
  if (RecordsBoard(extension)) DeleteDeviceKeys(extension->DeviceNumber);
  StopDevice(extension, FALSE);
  EndService(device, extension);
  DrainRequests(extension);

  NTSTATUS status = PassDownHandled(extension, irp);

  DisableInterface(extension);
  if (extension->PdoShutdownRegistered) IoUnregisterShutdownNotification(extension->PhysicalDeviceObject);
  IoFreeWorkItem(extension->PowerUpWork);
  RtlFreeUnicodeString(&extension->InterfaceName);
  if (extension->NextLowerDriver != NULL) IoDetachDevice(extension->NextLowerDriver);
  GiveUpBoard(extension);
  IoDeleteDevice(extension->Self);
  return status;
}

DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PAGED_CODE();
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  if (!AcquireRequest(extension)) return CompleteRequest(Irp, STATUS_DELETE_PENDING, 0);

  NTSTATUS status;
  BOOLEAN idle;
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      status = ForwardAndWait(DeviceObject, Irp);
      if (!NT_SUCCESS(status)) {
        CompleteRequest(Irp, status, (ULONG)Irp->IoStatus.Information);
        break;
      }
      LockHardware(extension);
      status = StartHardware(extension, stack->Parameters.StartDevice.AllocatedResourcesTranslated,
                             stack->Parameters.StartDevice.AllocatedResources);
      if (NT_SUCCESS(status)) extension->Stopped = 0;
      UnlockHardware(extension);
      if (NT_SUCCESS(status)) {
        SetHoldRequests(extension, 0);
        EnableInterface(extension);
        // What waited through a stop is carried out now.
        ReleaseHeldRequests(DeviceObject, STATUS_SUCCESS);
      }
      CompleteRequest(Irp, status, 0);
      break;

    case IRP_MN_QUERY_REMOVE_DEVICE:
      // Under the lock that creates take: no handle can be opened between
      // the count's check and the refusal of new ones.
      LockHardware(extension);
      idle = ReadCount(&extension->OpenCount) == 0;
      if (idle) extension->RemovePending = 1;
      UnlockHardware(extension);
      if (!idle) {
        status = CompleteRequest(Irp, STATUS_UNSUCCESSFUL, 0);
        break;
      }
      SetHoldRequests(extension, 1);
      status = PassDownHandled(extension, Irp);
      break;

    case IRP_MN_REMOVE_DEVICE:
      // The device object is gone: nothing of the extension is touched again.
      return HandleRemoveDevice(DeviceObject, Irp);

    case IRP_MN_CANCEL_REMOVE_DEVICE:
      LockHardware(extension);
      extension->RemovePending = 0;
      UnlockHardware(extension);
      SetHoldRequests(extension, 0);
      status = PassDownHandled(extension, Irp);
      break;

    case IRP_MN_CANCEL_STOP_DEVICE:
      SetHoldRequests(extension, 0);
      status = PassDownHandled(extension, Irp);
      break;

    case IRP_MN_STOP_DEVICE:
      StopDevice(extension, TRUE);
      status = PassDownHandled(extension, Irp);
      break;

    case IRP_MN_QUERY_STOP_DEVICE:
      SetHoldRequests(extension, 1);
      status = PassDownHandled(extension, Irp);
      break;

    case IRP_MN_QUERY_CAPABILITIES:
      status = ForwardAndWait(DeviceObject, Irp);
      CompleteRequest(Irp, status, (ULONG)Irp->IoStatus.Information);
      break;

    case IRP_MN_SURPRISE_REMOVAL:
      StopDevice(extension, FALSE);
      EndService(DeviceObject, extension);
      DisableInterface(extension);
      status = PassDownHandled(extension, Irp);
      break;

    default:
      status = PassDown(extension, Irp);
      break;
  }
  ReleaseRequest(extension);
  return status;
}
