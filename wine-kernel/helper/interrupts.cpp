// Interrupts and DPCs for the driver under test, which Wine 8 does not have:
// its IoConnectInterrupt, IoDisconnectInterrupt and KeSynchronizeExecution
// are stubs that end the process, its KeInsertQueueDpc returns TRUE and runs
// nothing, and its KeFlushQueuedDpcs does nothing.
//
// An interrupt object here records the driver's connection: routine,
// context, lock and the arguments, which the test program compares with the
// start's resources. An interrupt thread stands for the processor the
// board's line is wired to: when the line rises it calls the routines
// connected on the line's vector, each under its object's lock, until one
// claims the interrupt; a latched connection gets one call per rising edge,
// a level-sensitive one is called again while the line stays asserted, and
// a line still asserted after kStormLimit calls is an interrupt storm: it is
// recorded and masked until the next fire. A DPC thread runs queued DPCs in
// order after the interrupt that queued them has returned (the two threads
// take turns, as on one processor).
#include "helper.h"

extern "C" __declspec(dllimport) NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable,
                                                                      PLARGE_INTEGER timeout);

namespace {

const ULONG kMaxInterrupts = 4;
const ULONG kStormLimit = 16;
const ULONG kMaxDpcs = 16;

struct HelperInterrupt {
  BOOLEAN used;
  PKSERVICE_ROUTINE service;
  PVOID context;
  PKSPIN_LOCK lock;
  KSPIN_LOCK ownLock;
  ULONG vector;
  KINTERRUPT_MODE mode;
};

struct QueuedDpc {
  PRKDPC dpc;
  PVOID argument1, argument2;
};

KSPIN_LOCK gLock;  // everything below
HelperInterrupt gInterrupts[kMaxInterrupts];
WINE_HELPER_INTERRUPTS gRecord;
ULONG gBoardVector;
ULONG gEdges;       // rising edges not yet delivered
BOOLEAN gMasked;    // after a storm
BOOLEAN gDelivering;
QueuedDpc gDpcs[kMaxDpcs];
ULONG gDpcCount;
BOOLEAN gDpcRunning;

KEVENT gLineRose;    // synchronization: wakes the interrupt thread
KEVENT gDpcQueued;   // synchronization: wakes the DPC thread
KEVENT gDpcsIdle;    // notification: no DPC queued or running
KEVENT gProcessor;   // synchronization, used as a mutex: interrupt or DPC
volatile LONG gStopping;
HANDLE gInterruptThread, gDpcThread;

VOID Lock(KIRQL *irql) { KeAcquireSpinLock(&gLock, irql); }
VOID Unlock(KIRQL irql) { KeReleaseSpinLock(&gLock, irql); }

HelperInterrupt *Find(PKINTERRUPT interrupt) {
  for (ULONG i = 0; i < kMaxInterrupts; ++i)
    if (gInterrupts[i].used && (PKINTERRUPT)&gInterrupts[i] == interrupt) return &gInterrupts[i];
  return NULL;
}

// The mode of the first connection on the board's vector; FALSE when
// nothing is connected there.
BOOLEAN LineMode(KINTERRUPT_MODE *mode) {
  KIRQL irql;
  Lock(&irql);
  BOOLEAN any = FALSE;
  for (ULONG i = 0; i < kMaxInterrupts && !any; ++i) {
    any = gInterrupts[i].used && gInterrupts[i].vector == gBoardVector;
    if (any) *mode = gInterrupts[i].mode;
  }
  Unlock(irql);
  return any;
}

// Calls the routines on the board's vector, each under its lock, until one
// claims the interrupt, and records whether one did.
VOID DeliverOnce(void) {
  BOOLEAN any = FALSE, claimed = FALSE;
  KIRQL irql;
  for (ULONG i = 0; i < kMaxInterrupts && !claimed; ++i) {
    Lock(&irql);
    HelperInterrupt *object = &gInterrupts[i];
    BOOLEAN on = object->used && object->vector == gBoardVector;
    PKSERVICE_ROUTINE service = object->service;
    PVOID context = object->context;
    PKSPIN_LOCK lock = object->lock;
    Unlock(irql);
    if (!on) continue;
    any = TRUE;
    KIRQL old;
    KeAcquireSpinLock(lock, &old);
    claimed = service((PKINTERRUPT)object, context);
    KeReleaseSpinLock(lock, old);
  }
  if (any) RecordAccess(WINE_HELPER_ISR, 0, 0, claimed);
}

// A latched line interrupts once per rising edge; a level-sensitive one as
// long as it is asserted, until a storm masks it.
VOID DeliverEdges(ULONG edges) {
  KINTERRUPT_MODE mode;
  if (!LineMode(&mode)) return;  // nothing connected: the edges are lost
  if (mode == Latched) {
    for (ULONG i = 0; i < edges; ++i) DeliverOnce();
    return;
  }
  ULONG calls = 0;
  while (BoardLineAsserted()) {
    if (calls == kStormLimit) {
      RecordAccess(WINE_HELPER_STORM, 0, 0, calls);
      KIRQL irql;
      Lock(&irql);
      gMasked = TRUE;
      Unlock(irql);
      return;
    }
    DeliverOnce();
    ++calls;
  }
}

VOID NTAPI InterruptThread(PVOID context) {
  UNREFERENCED_PARAMETER(context);
  for (;;) {
    KeWaitForSingleObject(&gLineRose, Executive, KernelMode, FALSE, NULL);
    if (gStopping) break;
    KeWaitForSingleObject(&gProcessor, Executive, KernelMode, FALSE, NULL);
    KIRQL irql;
    Lock(&irql);
    ULONG edges = gMasked ? 0 : gEdges;
    gEdges = 0;
    gDelivering = edges != 0;
    Unlock(irql);
    if (edges != 0) DeliverEdges(edges);
    Lock(&irql);
    gDelivering = FALSE;
    Unlock(irql);
    KeSetEvent(&gProcessor, IO_NO_INCREMENT, FALSE);
  }
  PsTerminateSystemThread(STATUS_SUCCESS);
}

VOID NTAPI DpcThread(PVOID context) {
  UNREFERENCED_PARAMETER(context);
  for (;;) {
    KeWaitForSingleObject(&gDpcQueued, Executive, KernelMode, FALSE, NULL);
    if (gStopping) break;
    for (;;) {
      KeWaitForSingleObject(&gProcessor, Executive, KernelMode, FALSE, NULL);
      KIRQL irql;
      Lock(&irql);
      QueuedDpc next = {};
      if (gDpcCount != 0) {
        next = gDpcs[0];
        for (ULONG i = 1; i < gDpcCount; ++i) gDpcs[i - 1] = gDpcs[i];
        --gDpcCount;
        gDpcRunning = TRUE;
      }
      Unlock(irql);
      if (next.dpc == NULL) {
        KeSetEvent(&gProcessor, IO_NO_INCREMENT, FALSE);
        break;
      }
      // Taken off the queue first: the routine may queue it again.
      next.dpc->DeferredRoutine(next.dpc, next.dpc->DeferredContext, next.argument1, next.argument2);
      RecordAccess(WINE_HELPER_DPC, 0, 0, 0);
      Lock(&irql);
      gDpcRunning = FALSE;
      if (gDpcCount == 0) KeSetEvent(&gDpcsIdle, IO_NO_INCREMENT, FALSE);
      Unlock(irql);
      KeSetEvent(&gProcessor, IO_NO_INCREMENT, FALSE);
    }
  }
  PsTerminateSystemThread(STATUS_SUCCESS);
}

VOID StopThread(HANDLE *thread, PKEVENT wake) {
  if (*thread == NULL) return;
  KeSetEvent(wake, IO_NO_INCREMENT, FALSE);
  ZwWaitForSingleObject(*thread, FALSE, NULL);
  ZwClose(*thread);
  *thread = NULL;
}

}  // namespace

NTSTATUS StartInterrupts(void) {
  KeInitializeSpinLock(&gLock);
  KeInitializeEvent(&gLineRose, SynchronizationEvent, FALSE);
  KeInitializeEvent(&gDpcQueued, SynchronizationEvent, FALSE);
  KeInitializeEvent(&gDpcsIdle, NotificationEvent, TRUE);
  KeInitializeEvent(&gProcessor, SynchronizationEvent, TRUE);
  gStopping = 0;
  NTSTATUS status =
      PsCreateSystemThread(&gInterruptThread, THREAD_ALL_ACCESS, NULL, NULL, NULL, InterruptThread, NULL);
  if (NT_SUCCESS(status))
    status = PsCreateSystemThread(&gDpcThread, THREAD_ALL_ACCESS, NULL, NULL, NULL, DpcThread, NULL);
  if (!NT_SUCCESS(status)) StopInterrupts();
  return status;
}

VOID StopInterrupts(void) {
  InterlockedExchange(&gStopping, 1);
  StopThread(&gInterruptThread, &gLineRose);
  StopThread(&gDpcThread, &gDpcQueued);
}

VOID SetBoardVector(ULONG vector) {
  KIRQL irql;
  Lock(&irql);
  gBoardVector = vector;
  Unlock(irql);
}

VOID BoardLineRose(void) {
  KIRQL irql;
  Lock(&irql);
  ++gEdges;
  Unlock(irql);
  KeSetEvent(&gLineRose, IO_NO_INCREMENT, FALSE);
}

VOID RearmBoardLine(void) {
  KIRQL irql;
  Lock(&irql);
  gMasked = FALSE;
  Unlock(irql);
}

BOOLEAN Settle(void) {
  LARGE_INTEGER millisecond;
  millisecond.QuadPart = -10000;
  for (ULONG waited = 0; waited < 2000; ++waited) {
    KIRQL irql;
    Lock(&irql);
    BOOLEAN idle = gEdges == 0 && !gDelivering && gDpcCount == 0 && !gDpcRunning;
    Unlock(irql);
    if (idle) return TRUE;
    KeDelayExecutionThread(KernelMode, FALSE, &millisecond);
  }
  return FALSE;
}

VOID ReadInterrupts(WINE_HELPER_INTERRUPTS *interrupts) {
  KIRQL irql;
  Lock(&irql);
  *interrupts = gRecord;
  Unlock(irql);
}

NTSTATUS NTAPI HelperConnectInterrupt(PKINTERRUPT *interrupt, PKSERVICE_ROUTINE service, PVOID context,
                                      PKSPIN_LOCK lock, ULONG vector, KIRQL irql, KIRQL synchronizeIrql,
                                      KINTERRUPT_MODE mode, BOOLEAN share, KAFFINITY affinity,
                                      BOOLEAN floatingSave) {
  *interrupt = NULL;
  KIRQL old;
  Lock(&old);
  gRecord.Vector = vector;
  gRecord.Irql = irql;
  gRecord.SynchronizeIrql = synchronizeIrql;
  gRecord.Mode = (UCHAR)mode;
  gRecord.ShareVector = share;
  gRecord.FloatingSave = floatingSave;
  gRecord.SpinLockGiven = lock != NULL;
  gRecord.Affinity = affinity;
  ++gRecord.Connects;
  NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
  // As the kernel does: no routine, or no processor, is refused.
  if (service == NULL || affinity == 0) status = STATUS_INVALID_PARAMETER;
  for (ULONG i = 0; i < kMaxInterrupts && status == STATUS_INSUFFICIENT_RESOURCES; ++i) {
    HelperInterrupt *object = &gInterrupts[i];
    if (object->used) continue;
    object->used = TRUE;
    object->service = service;
    object->context = context;
    KeInitializeSpinLock(&object->ownLock);
    object->lock = lock != NULL ? lock : &object->ownLock;
    object->vector = vector;
    object->mode = mode;
    ++gRecord.Connected;
    *interrupt = (PKINTERRUPT)object;
    status = STATUS_SUCCESS;
  }
  Unlock(old);
  RecordAccess(WINE_HELPER_CONNECT, 0, 0, (ULONG)status);
  // An edge that came before the connection is not lost on a
  // level-sensitive line: the line is still asserted.
  if (NT_SUCCESS(status) && mode != Latched && BoardLineAsserted()) BoardLineRose();
  return status;
}

VOID NTAPI HelperDisconnectInterrupt(PKINTERRUPT interrupt) {
  KIRQL old;
  Lock(&old);
  HelperInterrupt *object = Find(interrupt);
  if (object != NULL) {
    object->used = FALSE;
    --gRecord.Connected;
    ++gRecord.Disconnects;
  }
  Unlock(old);
  if (object == NULL) {
    RecordAccess(WINE_HELPER_VIOLATION, 0, 0, WINE_HELPER_RULE_UNKNOWN_INTERRUPT);
    return;
  }
  // A routine still running on the interrupt thread finishes first.
  KeAcquireSpinLock(object->lock, &old);
  KeReleaseSpinLock(object->lock, old);
  // Windows stops a driver that leaves its device interrupting on a
  // level-sensitive line it disconnects from.
  BOOLEAN asserted = object->mode != Latched && BoardLineAsserted();
  RecordAccess(WINE_HELPER_DISCONNECT, 0, 0, asserted);
}

BOOLEAN NTAPI HelperSynchronizeExecution(PKINTERRUPT interrupt, PKSYNCHRONIZE_ROUTINE routine, PVOID context) {
  KIRQL old;
  Lock(&old);
  HelperInterrupt *object = Find(interrupt);
  PKSPIN_LOCK lock = object != NULL ? object->lock : NULL;
  Unlock(old);
  if (lock == NULL) {
    RecordAccess(WINE_HELPER_VIOLATION, 0, 0, WINE_HELPER_RULE_UNKNOWN_INTERRUPT);
    return FALSE;
  }
  KeAcquireSpinLock(lock, &old);
  BOOLEAN result = routine(context);
  KeReleaseSpinLock(lock, old);
  return result;
}

// A DPC already in the queue stays where it is, with its first arguments.
BOOLEAN NTAPI HelperInsertQueueDpc(PRKDPC dpc, PVOID argument1, PVOID argument2) {
  KIRQL irql;
  Lock(&irql);
  BOOLEAN queued = FALSE, full = gDpcCount == kMaxDpcs;
  for (ULONG i = 0; i < gDpcCount; ++i) queued = queued || gDpcs[i].dpc == dpc;
  if (!queued && !full) {
    gDpcs[gDpcCount].dpc = dpc;
    gDpcs[gDpcCount].argument1 = argument1;
    gDpcs[gDpcCount].argument2 = argument2;
    ++gDpcCount;
    KeResetEvent(&gDpcsIdle);
  }
  Unlock(irql);
  if (full) RecordAccess(WINE_HELPER_VIOLATION, 0, 0, WINE_HELPER_RULE_DPC_QUEUE);
  if (queued || full) return FALSE;
  KeSetEvent(&gDpcQueued, IO_NO_INCREMENT, FALSE);
  return TRUE;
}

// Returns once every DPC queued before the call has run.
VOID NTAPI HelperFlushQueuedDpcs(void) {
  KeWaitForSingleObject(&gDpcsIdle, Executive, KernelMode, FALSE, NULL);
}
