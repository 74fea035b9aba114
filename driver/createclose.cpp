// Handles of the device: open, cleanup and close, and the requests the
// driver passes on untouched.
#include "driver.h"

static NTSTATUS Finish(PIRP irp, NTSTATUS status) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

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
  if (file->FileName.Length != 0) return Finish(Irp, STATUS_OBJECT_NAME_NOT_FOUND);
  if (file->FsContext2 != NULL) return Finish(Irp, STATUS_UNSUCCESSFUL);

  POPEN_CONTEXT context =
      (POPEN_CONTEXT)ExAllocatePoolWithTag(PagedPool, sizeof(OPEN_CONTEXT), DIO_POOL_TAG);
  if (context == NULL) return Finish(Irp, STATUS_INSUFFICIENT_RESOURCES);
  context->CleanedUp = 0;
  context->SlotIndex = ClaimEventSlot();
  if (context->SlotIndex < 0) {
    ExFreePoolWithTag(context, DIO_POOL_TAG);
    return Finish(Irp, STATUS_INSUFFICIENT_RESOURCES);
  }
  LockHardware(extension);
  BOOLEAN refused = extension->RemovePending != 0;
  if (!refused) InterlockedIncrement(&extension->OpenCount);
  UnlockHardware(extension);
  if (refused) {
    ReleaseEventSlot(context->SlotIndex);
    ExFreePoolWithTag(context, DIO_POOL_TAG);
    return Finish(Irp, STATUS_DELETE_PENDING);
  }
  file->FsContext2 = context;
  return Finish(Irp, STATUS_SUCCESS);
}

// Cancels the requests of a handle that wait in the device queue, held there
// while the board is stopped (held.cpp); the other handles' requests stay in
// their order. Nothing of the handle outlives its cleanup. Only a busy queue
// may be given to KeRemoveDeviceQueue, and an empty one would answer by going
// idle: a queue found idle or empty is left as it was, and entries are taken
// only while there are any.
static VOID CancelQueuedRequests(PDEVICE_OBJECT device, PFILE_OBJECT file) {
  PKDEVICE_QUEUE queue = &device->DeviceQueue;
  LIST_ENTRY cancelled, kept;
  InitializeListHead(&cancelled);
  InitializeListHead(&kept);
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  while (queue->Busy && !IsListEmpty(&queue->DeviceListHead)) {
    PKDEVICE_QUEUE_ENTRY entry = KeRemoveDeviceQueue(queue);
    if (entry == NULL) break;
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.DeviceQueueEntry);
    PLIST_ENTRY list = &kept;
    if (IoGetCurrentIrpStackLocation(irp)->FileObject == file) {
      irp->Cancel = TRUE;
      irp->CancelIrql = irql;
      irp->CancelRoutine = NULL;
      list = &cancelled;
    }
    InsertTailList(list, &irp->Tail.Overlay.ListEntry);
  }
  while (!IsListEmpty(&kept)) {
    PIRP irp = CONTAINING_RECORD(RemoveHeadList(&kept), IRP, Tail.Overlay.ListEntry);
    // A queue that has gone idle meanwhile is only marked busy by the first
    // insertion; the second queues the request.
    if (!KeInsertDeviceQueue(queue, &irp->Tail.Overlay.DeviceQueueEntry)) {
      KeInsertDeviceQueue(queue, &irp->Tail.Overlay.DeviceQueueEntry);
    }
  }
  IoReleaseCancelSpinLock(irql);
  while (!IsListEmpty(&cancelled)) {
    Finish(CONTAINING_RECORD(RemoveHeadList(&cancelled), IRP, Tail.Overlay.ListEntry),
           STATUS_CANCELLED);
  }
}

// The handle's last user is gone: its events are released, and after the
// device's last handle the board's interrupts are turned off.
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
  CancelQueuedRequests(DeviceObject, stack->FileObject);
  return Finish(Irp, STATUS_SUCCESS);
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
  return Finish(Irp, STATUS_SUCCESS);
}

// WMI requests are not the driver's: the next driver down sees them as sent.
_Use_decl_annotations_
NTSTATUS DispatchSystemControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
  IoSkipCurrentIrpStackLocation(Irp);
  return IoCallDriver(extension->NextLowerDriver, Irp);
}
