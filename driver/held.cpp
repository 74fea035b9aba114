// Requests held while the device is stopped. Between a stop and the next
// start the board's resources may be taken away and given again
// (a rebalance), so a request that needs the board waits in the device
// object's device queue; the restart carries it out, a removal fails it,
// and its handle's cleanup or its requester's cancel takes it back. Every
// change of the queue happens under the cancel spin lock, which the cancel
// routine is called with, so a request is in the queue exactly while its
// cancel routine is set.
#include "driver.h"

// Queues the request and returns STATUS_PENDING; a request that is being
// cancelled already is not queued, and STATUS_CANCELLED is returned for the
// caller to complete it with.
_Use_decl_annotations_
NTSTATUS HoldRequest(PDEVICE_OBJECT device, PIRP irp) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  if (irp->Cancel) {
    IoReleaseCancelSpinLock(irql);
    return STATUS_CANCELLED;
  }
  (VOID)IoSetCancelRoutine(irp, CancelHeldRequest);
  IoMarkIrpPending(irp);
  // An idle queue only turns busy at the first insertion; the second
  // queues the request.
  if (!KeInsertDeviceQueue(&device->DeviceQueue, &irp->Tail.Overlay.DeviceQueueEntry)) {
    KeInsertDeviceQueue(&device->DeviceQueue, &irp->Tail.Overlay.DeviceQueueEntry);
  }
  IoReleaseCancelSpinLock(irql);
  return STATUS_PENDING;
}

// Called holding the cancel spin lock, with the cancel routine already
// taken off the request.
_Use_decl_annotations_
VOID CancelHeldRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  KeRemoveEntryDeviceQueue(&DeviceObject->DeviceQueue, &Irp->Tail.Overlay.DeviceQueueEntry);
  IoReleaseCancelSpinLock(Irp->CancelIrql);
  CompleteRequest(Irp, STATUS_CANCELLED, 0);
}

// Takes every held request out of the queue, in order, and carries it out,
// or fails it with `failure` when that is not a success. The queue is
// emptied under the cancel spin lock; the requests are worked on after it.
_Use_decl_annotations_
VOID ReleaseHeldRequests(PDEVICE_OBJECT device, NTSTATUS failure) {
  PKDEVICE_QUEUE queue = &device->DeviceQueue;
  LIST_ENTRY released;
  InitializeListHead(&released);
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  // A busy queue that is found empty goes idle here.
  while (queue->Busy) {
    PKDEVICE_QUEUE_ENTRY entry = KeRemoveDeviceQueue(queue);
    if (entry == NULL) break;
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.DeviceQueueEntry);
    (VOID)IoSetCancelRoutine(irp, NULL);
    InsertTailList(&released, &irp->Tail.Overlay.ListEntry);
  }
  IoReleaseCancelSpinLock(irql);
  while (!IsListEmpty(&released)) {
    PIRP irp = CONTAINING_RECORD(RemoveHeadList(&released), IRP, Tail.Overlay.ListEntry);
    if (NT_SUCCESS(failure)) {
      CarryOutRequest(device, irp);
    } else {
      CompleteRequest(irp, failure, 0);
    }
  }
}
