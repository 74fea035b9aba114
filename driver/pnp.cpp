// Plug and Play: start, stop, removal and their queries. Each request moves
// the device's state (state.cpp) under the hardware lock, together with what
// it does to the board.
#include "driver.h"

// A request this driver handled goes down marked as done: the bus driver
// completes the codes it does not handle itself with the status it finds.
static NTSTATUS PassDownHandled(PDEVICE_EXTENSION extension, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  return PassDown(extension, irp);
}

// Starts the board once the lower drivers have started the device. A start
// may come again on a started device, and after a stop (a rebalance), but
// not once a removal is pending or under way.
DIO_PAGED_ROUTINE
static NTSTATUS StartDevice(PDEVICE_OBJECT device, PDEVICE_EXTENSION extension, PIO_STACK_LOCATION stack) {
  PAGED_CODE();
  NTSTATUS status;
  LockHardware(extension);
  if (!PnpStateAllows(extension, DeviceStarted)) {
    KdPrintEx((DPFLTR_IHVDRIVER_ID, DPFLTR_WARNING_LEVEL, "TesZEPDIO: start refused in state %d\n",
               PnpStateOf(extension)));
    status = STATUS_INVALID_DEVICE_STATE;
  } else {
    status = StartHardware(extension, stack->Parameters.StartDevice.AllocatedResourcesTranslated,
                           stack->Parameters.StartDevice.AllocatedResources);
    if (NT_SUCCESS(status)) SetPnpState(extension, DeviceStarted);
  }
  UnlockHardware(extension);
  if (NT_SUCCESS(status)) {
    EnableInterface(extension);
    // What waited through a stop is carried out now.
    ReleaseHeldRequests(device, STATUS_SUCCESS);
  }
  return status;
}

// Takes the started board out of service once no other Plug and Play or
// power request is inside the driver, and moves the device to `to`: stopped
// (the board's registers are saved for the restart), surprise-removed or
// removed. Called holding one count of the caller's request. A device that
// is not started only changes its state, where it may.
DIO_PAGED_ROUTINE
static VOID StopDevice(PDEVICE_EXTENSION extension, DEVICE_PNP_STATE to) {
  PAGED_CODE();
  BOOLEAN started = DeviceIsStarted(extension);
  if (started) {
    DrainRequests(extension);
    InterlockedExchange(&extension->Removing, 0);
  }
  LockHardware(extension);
  if (PnpStateAllows(extension, to)) {
    if (started) StopBoardInterrupt(extension, to == DeviceStopped);
    SetPnpState(extension, to);
  }
  UnlockHardware(extension);
  if (started) {
    AcquireRequest(extension);
    AcquireRequest(extension);
  }
}

// The device is going away (surprise-removed or removed): no new handle, and
// the requests held are failed.
DIO_PAGED_ROUTINE
static VOID EndService(PDEVICE_OBJECT device, PDEVICE_EXTENSION extension, DEVICE_PNP_STATE to) {
  PAGED_CODE();
  StopDevice(extension, to);
  ReleaseHeldRequests(device, STATUS_DELETE_PENDING);
}

// Removal cannot fail: whatever becomes of the registry subkeys, the device
// is stopped, the request goes down, and the device object is detached and
// deleted (which takes its shutdown registration). The subkeys of a device
// whose start failed were never written. Every request still counted inside
// the driver (a power request's completion, its callback or its power-up
// work) is waited for first, also when the device is not started: after a
// surprise removal or a failed start, or right after a resume.
DIO_PAGED_ROUTINE
static NTSTATUS RemoveDevice(PDEVICE_OBJECT device, PIRP irp) {
  PAGED_CODE();
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)device->DeviceExtension;
  if (RecordsBoard(extension)) DeleteDeviceKeys(extension->DeviceNumber);
  EndService(device, extension, DeviceRemoved);
  DrainRequests(extension);

  NTSTATUS status = PassDownHandled(extension, irp);

  DisableInterface(extension);
  IoFreeWorkItem(extension->PowerUpWork);
  RtlFreeUnicodeString(&extension->InterfaceName);
  IoDetachDevice(extension->NextLowerDriver);
  GiveUpBoard(extension);
  IoDeleteDevice(extension->Self);
  return status;
}

// Under the lock that creates take: no handle can be opened between the
// count's check and the refusal of new ones.
DIO_PAGED_ROUTINE
static NTSTATUS QueryRemoveDevice(PDEVICE_EXTENSION extension, PIRP irp) {
  PAGED_CODE();
  LockHardware(extension);
  BOOLEAN idle = ReadCount(&extension->OpenCount) == 0;
  BOOLEAN pending = idle && SetPnpState(extension, DeviceRemovePending);
  UnlockHardware(extension);
  if (!idle) return CompleteRequest(irp, STATUS_UNSUCCESSFUL, 0);
  if (!pending) return CompleteRequest(irp, STATUS_INVALID_DEVICE_STATE, 0);
  return PassDownHandled(extension, irp);
}

// A stop query holds the started device; its cancel, or a removal query's,
// goes back to the state before the query. Either may come to a device
// that never saw the query.
DIO_PAGED_ROUTINE
static NTSTATUS QueryOrCancel(PDEVICE_EXTENSION extension, PIRP irp, UCHAR minor) {
  PAGED_CODE();
  LockHardware(extension);
  if (minor == IRP_MN_QUERY_STOP_DEVICE) {
    if (PnpStateOf(extension) == DeviceStarted) SetPnpState(extension, DeviceStopPending);
  } else {
    CancelPnpState(extension, minor == IRP_MN_CANCEL_STOP_DEVICE ? DeviceStopPending : DeviceRemovePending);
  }
  UnlockHardware(extension);
  return PassDownHandled(extension, irp);
}

DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PAGED_CODE();
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  if (!AcquireRequest(extension)) return CompleteRequest(Irp, STATUS_DELETE_PENDING, 0);

  NTSTATUS status;
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      status = ForwardAndWait(DeviceObject, Irp);
      if (NT_SUCCESS(status)) {
        status = CompleteRequest(Irp, StartDevice(DeviceObject, extension, stack), 0);
      } else {
        CompleteRequest(Irp, status, (ULONG)Irp->IoStatus.Information);
      }
      break;

    case IRP_MN_QUERY_REMOVE_DEVICE:
      status = QueryRemoveDevice(extension, Irp);
      break;

    case IRP_MN_REMOVE_DEVICE:
      // The device object is gone: nothing of the extension is touched again.
      return RemoveDevice(DeviceObject, Irp);

    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
      status = QueryOrCancel(extension, Irp, stack->MinorFunction);
      break;

    case IRP_MN_STOP_DEVICE:
      StopDevice(extension, DeviceStopped);
      status = PassDownHandled(extension, Irp);
      break;

    case IRP_MN_QUERY_CAPABILITIES:
      status = ForwardAndWait(DeviceObject, Irp);
      CompleteRequest(Irp, status, (ULONG)Irp->IoStatus.Information);
      break;

    case IRP_MN_SURPRISE_REMOVAL:
      EndService(DeviceObject, extension, DeviceSurpriseRemoved);
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
