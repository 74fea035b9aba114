// Handles of the device: open, cleanup and close, and the requests the
// driver passes on untouched.
#include "driver.h"

// Each handle gets an event slot of its own until it is closed. The device
// has no namespace: an open of a name inside it (the device's path followed
// by \name) is refused. Once a removal query has succeeded (until its
// cancel), and after a surprise removal, no handle is opened: it would
// outlive its device. The check and the count's rise are one step under
// the lock the removal query takes.
_Use_decl_annotations_
NTSTATUS DispatchCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(Irp)->FileObject;
  if (file->FileName.Length != 0) return CompleteRequest(Irp, STATUS_OBJECT_NAME_NOT_FOUND, 0);
  if (file->FsContext2 != NULL) return CompleteRequest(Irp, STATUS_UNSUCCESSFUL, 0);

  POPEN_CONTEXT context =
      (POPEN_CONTEXT)ExAllocatePoolWithTag(PagedPool, sizeof(OPEN_CONTEXT), DIO_POOL_TAG);
  if (context == NULL) return CompleteRequest(Irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  context->CleanedUp = 0;
  context->SlotIndex = ClaimEventSlot();
  if (context->SlotIndex < 0) {
    ExFreePoolWithTag(context, DIO_POOL_TAG);
    return CompleteRequest(Irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  }
  LockHardware(extension);
  BOOLEAN refused = DeviceRefusesOpens(extension);
  if (!refused) InterlockedIncrement(&extension->OpenCount);
  UnlockHardware(extension);
  if (refused) {
    ReleaseEventSlot(context->SlotIndex);
    ExFreePoolWithTag(context, DIO_POOL_TAG);
    return CompleteRequest(Irp, STATUS_DELETE_PENDING, 0);
  }
  file->FsContext2 = context;
  return CompleteRequest(Irp, STATUS_SUCCESS, 0);
}

// The handle's last user is gone: its events are released, after the
// device's last handle the board's interrupts are turned off, and its
// requests held while the board is stopped are cancelled (held.cpp).
_Use_decl_annotations_
NTSTATUS DispatchCleanup(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  POPEN_CONTEXT context = (POPEN_CONTEXT)stack->FileObject->FsContext2;
  if (context != NULL) InterlockedExchange(&context->CleanedUp, 1);
  for (;;) {
    LONG count = ReadCount(&extension->OpenCount);
    if (count <= 0) break;
    if (InterlockedCompareExchange(&extension->OpenCount, count - 1, count) == count) break;
  }
  DisableEventNotification(DeviceObject, extension, Irp, stack);
  CancelHandleRequests(extension, stack->FileObject);
  return CompleteRequest(Irp, STATUS_SUCCESS, 0);
}

_Use_decl_annotations_
NTSTATUS DispatchClose(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  UNREFERENCED_PARAMETER(DeviceObject);
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(Irp)->FileObject;
  POPEN_CONTEXT context = (POPEN_CONTEXT)file->FsContext2;
  if (context != NULL) {
    ReleaseEventSlot(context->SlotIndex);
    file->FsContext2 = NULL;
    ExFreePoolWithTag(context, DIO_POOL_TAG);
  }
  return CompleteRequest(Irp, STATUS_SUCCESS, 0);
}

// WMI requests are not the driver's: the next driver down sees them as sent.
_Use_decl_annotations_
NTSTATUS DispatchSystemControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  return PassDown((PDEVICE_EXTENSION)DeviceObject->DeviceExtension, Irp);
}
