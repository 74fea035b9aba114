// Requests held while the device is stopped. Between a stop and the next
// start the board's resources may be taken away and given again (a
// rebalance), so a port request waits in the device's list of held
// requests; the restart carries it out (CarryOutRequest, devctl.cpp), a
// removal fails it, and its handle's cleanup or its requester's cancel
// takes it back.
//
// The list has its own spin lock. A held request has this file's cancel
// routine set; whoever takes the routine off the request (IoSetCancelRoutine
// returning it) owns the request. Taking the requests out clears each one's
// routine under the lock, so a cancel that has taken the routine already
// leaves its request in the list for the routine, which takes it out under
// the same lock. The cancel spin lock is released before the list's is
// taken, and no path holds both.
#include "driver.h"

_Use_decl_annotations_
VOID InitializeHeldRequests(PDEVICE_EXTENSION extension) {
  InitializeListHead(&extension->HeldRequests);
  KeInitializeSpinLock(&extension->HeldLock);
}

// Holds the request and returns STATUS_PENDING. A request cancelled before
// it could be held is not: STATUS_CANCELLED is returned for the caller to
// complete it with.
_Use_decl_annotations_
NTSTATUS HoldRequest(PDEVICE_EXTENSION extension, PIRP irp) {
  KIRQL irql;
  KeAcquireSpinLock(&extension->HeldLock, &irql);
  (VOID)IoSetCancelRoutine(irp, CancelHeldRequest);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
    KeReleaseSpinLock(&extension->HeldLock, irql);
    return STATUS_CANCELLED;
  }
  // Not cancelled, or cancelled with the routine called already: that
  // routine waits for the lock and finds the request in the list.
  IoMarkIrpPending(irp);
  InsertTailList(&extension->HeldRequests, &irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&extension->HeldLock, irql);
  return STATUS_PENDING;
}

// Called holding the cancel spin lock, with the cancel routine already
// taken off the request.
_Use_decl_annotations_
VOID CancelHeldRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  IoReleaseCancelSpinLock(Irp->CancelIrql);
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
  KIRQL irql;
  KeAcquireSpinLock(&extension->HeldLock, &irql);
  RemoveEntryList(&Irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&extension->HeldLock, irql);
  CompleteRequest(Irp, STATUS_CANCELLED, 0);
}

// Takes the held requests of `file` (of every handle when NULL) out of the
// list onto `taken`, in the order they came; those whose cancel routine has
// been called stay for it.
static VOID TakeHeldRequests(PDEVICE_EXTENSION extension, PFILE_OBJECT file, PLIST_ENTRY taken) {
  InitializeListHead(taken);
  KIRQL irql;
  KeAcquireSpinLock(&extension->HeldLock, &irql);
  PLIST_ENTRY next;
  for (PLIST_ENTRY entry = extension->HeldRequests.Flink; entry != &extension->HeldRequests; entry = next) {
    next = entry->Flink;
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    if (file != NULL && IoGetCurrentIrpStackLocation(irp)->FileObject != file) continue;
    if (IoSetCancelRoutine(irp, NULL) == NULL) continue;
    RemoveEntryList(entry);
    InsertTailList(taken, entry);
  }
  KeReleaseSpinLock(&extension->HeldLock, irql);
}

_Use_decl_annotations_
VOID ReleaseHeldRequests(PDEVICE_OBJECT device, NTSTATUS failure) {
  LIST_ENTRY taken;
  TakeHeldRequests((PDEVICE_EXTENSION)device->DeviceExtension, NULL, &taken);
  while (!IsListEmpty(&taken)) {
    PIRP irp = CONTAINING_RECORD(RemoveHeadList(&taken), IRP, Tail.Overlay.ListEntry);
    if (NT_SUCCESS(failure)) {
      CarryOutRequest(device, irp);
    } else {
      CompleteRequest(irp, failure, 0);
    }
  }
}

// Nothing of a handle outlives its cleanup; the other handles' requests stay
// held in their order.
_Use_decl_annotations_
VOID CancelHandleRequests(PDEVICE_EXTENSION extension, PFILE_OBJECT file) {
  LIST_ENTRY taken;
  TakeHeldRequests(extension, file, &taken);
  while (!IsListEmpty(&taken)) {
    CompleteRequest(CONTAINING_RECORD(RemoveHeadList(&taken), IRP, Tail.Overlay.ListEntry), STATUS_CANCELLED, 0);
  }
}
