// DI interrupt notification: the event slots of open handles, the board's
// interrupt service routine and the DPC that signals the events.
//
// The slot table is driver-wide, so one driver-wide spin lock serialises
// every change of it with the DPC's signalling: no event is signalled after
// its reference has been taken out of the table to be released.
#include "driver.h"

KSPIN_LOCK gEventSlotLock;

// A slot belongs to one handle from its open to its close.
static BOOLEAN gSlotTaken[DIO_EVENT_SLOT_COUNT];

// Interrupt status bits of the general layout that name events.
#define DIO_GENERAL_EVENT_BITS 4
// Status bytes the interrupt service routine saves.
#define DIO_STATUS_BYTES 2

VOID InitializeEventSlots(void) {
  KeInitializeSpinLock(&gEventSlotLock);
  for (ULONG slot = 0; slot < DIO_EVENT_SLOT_COUNT; ++slot) {
    gEventSlots[slot].Enabled = 0;
    for (ULONG event = 0; event < DIO_EVENTS_PER_SLOT; ++event) gEventSlots[slot].Events[event] = NULL;
    gSlotTaken[slot] = FALSE;
  }
}

// The lowest free slot, now the caller's; -1 when all are taken.
LONG ClaimEventSlot(void) {
  KIRQL irql;
  LONG claimed = -1;
  KeAcquireSpinLock(&gEventSlotLock, &irql);
  for (LONG slot = 0; slot < DIO_EVENT_SLOT_COUNT; ++slot) {
    if (!gSlotTaken[slot]) {
      gSlotTaken[slot] = TRUE;
      claimed = slot;
      break;
    }
  }
  KeReleaseSpinLock(&gEventSlotLock, irql);
  return claimed;
}

// What EmptySlot clears besides the slot's events.
#define DIO_SLOT_EVENTS 0      // only the events (a repeated enable)
#define DIO_SLOT_STATE 1       // and the in-use mark and user word (disable)
#define DIO_SLOT_OWNER 2       // and the handle's claim on the slot (close)

// Takes a slot's events out under the lock and releases them after it.
static VOID EmptySlot(LONG slot, ULONG what) {
  PKEVENT released[DIO_EVENTS_PER_SLOT];
  KIRQL irql;
  KeAcquireSpinLock(&gEventSlotLock, &irql);
  PEVENT_SLOT s = &gEventSlots[slot];
  for (ULONG n = 0; n < DIO_EVENTS_PER_SLOT; ++n) {
    released[n] = s->Events[n];
    s->Events[n] = NULL;
  }
  if (what >= DIO_SLOT_STATE) {
    s->Enabled = 0;
    s->UserWord = 0;
  }
  if (what >= DIO_SLOT_OWNER) gSlotTaken[slot] = FALSE;
  KeReleaseSpinLock(&gEventSlotLock, irql);
  for (ULONG n = 0; n < DIO_EVENTS_PER_SLOT; ++n) {
    if (released[n] != NULL) ObDereferenceObject(released[n]);
  }
}

VOID ReleaseEventSlot(LONG slot) { EmptySlot(slot, DIO_SLOT_OWNER); }

// The slot of the handle a request came on, or -1.
static LONG SlotOf(PIO_STACK_LOCATION stack) {
  POPEN_CONTEXT context = stack->FileObject ? (POPEN_CONTEXT)stack->FileObject->FsContext2 : NULL;
  return context != NULL ? context->SlotIndex : -1;
}

// Forgets the status bytes saved by the interrupt service routine.
static BOOLEAN ClearSavedStatus(PVOID context) {
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)context;
  extension->IntStatus[0] = 0;
  extension->IntStatus[1] = 0;
  return TRUE;
}

static VOID ForgetSavedStatus(PDEVICE_EXTENSION extension) {
  if (extension->InterruptObject != NULL) {
    KeSynchronizeExecution(extension->InterruptObject, ClearSavedStatus, extension);
  } else {
    ClearSavedStatus(extension);
  }
}

NTSTATUS EnableEventNotification(PDEVICE_OBJECT device, PDEVICE_EXTENSION extension, PIRP irp,
                                 PIO_STACK_LOCATION stack) {
  PDIO_EVENT_REQUEST request = (PDIO_EVENT_REQUEST)irp->AssociatedIrp.SystemBuffer;
  LONG slot = SlotOf(stack);
  if (slot < 0) return STATUS_INVALID_DEVICE_REQUEST;
  ForgetSavedStatus(extension);

  // A repeated enable starts without the events of the last one.
  EmptySlot(slot, DIO_SLOT_EVENTS);
  KIRQL irql;
  KeAcquireSpinLock(&gEventSlotLock, &irql);
  gEventSlots[slot].UserWord = request->UserWord;
  KeReleaseSpinLock(&gEventSlotLock, irql);

  // The handles are the caller's: they are looked up as the caller's mode
  // allows, never as the kernel's own. Only nine events exist.
  ULONG count = request->HandleCount < DIO_EVENTS_PER_SLOT ? request->HandleCount : DIO_EVENTS_PER_SLOT;
  for (ULONG n = 0; n < count; ++n) {
    HANDLE handle = (HANDLE)(ULONG_PTR)request->Handles[n];
    if (handle == NULL) continue;
    PVOID event;
    NTSTATUS status = ObReferenceObjectByHandle(handle, SYNCHRONIZE, *ExEventObjectType,
                                                irp->RequestorMode, &event, NULL);
    if (!NT_SUCCESS(status)) {
      request->Status = status;
      irp->IoStatus.Information = sizeof(DIO_EVENT_REQUEST);
      return status;
    }
    KeAcquireSpinLock(&gEventSlotLock, &irql);
    PKEVENT replaced = gEventSlots[slot].Events[n];
    gEventSlots[slot].Events[n] = (PKEVENT)event;
    KeReleaseSpinLock(&gEventSlotLock, irql);
    if (replaced != NULL) ObDereferenceObject(replaced);  // a concurrent enable's
  }
  KeAcquireSpinLock(&gEventSlotLock, &irql);
  gEventSlots[slot].Enabled = 1;
  KeReleaseSpinLock(&gEventSlotLock, irql);

  if (extension->InterruptObject == NULL) {
    KeInitializeDpc(&device->Dpc, InterruptDpc, device);
    KeInitializeSpinLock(&extension->DpcLock);
    NTSTATUS status = IoConnectInterrupt(
        &extension->InterruptObject, InterruptService, extension->Self, NULL,
        extension->InterruptVector, extension->InterruptIrql, extension->InterruptIrql,
        BoardInterruptMode(), BoardInterruptShared(), extension->InterruptAffinity, FALSE);
    if (!NT_SUCCESS(status)) return status;
  }
  request->Status = STATUS_SUCCESS;
  irp->IoStatus.Information = sizeof(DIO_EVENT_REQUEST);
  return STATUS_SUCCESS;
}

// Disconnects the board's interrupt, if connected. A DPC the interrupt
// queued finds no interrupt any more and delivers nothing; one already
// running finishes before the interrupt object goes.
VOID DisconnectBoardInterrupt(PDEVICE_EXTENSION extension) {
  PKINTERRUPT interrupt = extension->InterruptObject;
  if (interrupt == NULL) return;
  extension->InterruptObject = NULL;
  KeFlushQueuedDpcs();
  IoDisconnectInterrupt(interrupt);
}

// Releases the handle's events. Called by the last handle's cleanup too
// (OpenCount already lowered to 0): the board's interrupts are then turned
// off and the interrupt disconnected.
NTSTATUS DisableEventNotification(PDEVICE_OBJECT device, PDEVICE_EXTENSION extension, PIRP irp,
                                  PIO_STACK_LOCATION stack) {
  UNREFERENCED_PARAMETER(device);
  ForgetSavedStatus(extension);
  LONG slot = SlotOf(stack);
  if (slot >= 0) EmptySlot(slot, DIO_SLOT_STATE);

  if (extension->OpenCount == 0) {
    // A board that is not started (never, or no longer) is not touched.
    if (extension->Started) ResetInterruptRegisters(extension, TRUE);
    DisconnectBoardInterrupt(extension);
  }
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  return STATUS_SUCCESS;
}

// Runs at the board's interrupt level under the interrupt's lock. Decides
// whether the interrupt is the board's, acknowledges what is pending and
// adds it to what the DPC has still to deliver.
BOOLEAN InterruptService(PKINTERRUPT interrupt, PVOID context) {
  UNREFERENCED_PARAMETER(interrupt);
  PDEVICE_OBJECT device = (PDEVICE_OBJECT)context;
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)device->DeviceExtension;
  ULONG64 base = extension->BaseAddress;
  UCHAR status0, status1;

  switch (BoardLayout()) {
    case BoardLayout24: {
      UCHAR summary = ReadRegister(extension->InfoBase, 24);
      if (summary == 0) return FALSE;
      if (summary & 1) {
        status0 = ReadRegister(base, 7);
        status1 = ReadRegister(base, 15);
        WriteRegister(base, 7, status0);
        WriteRegister(base, 15, status1);
        extension->IntStatus[0] |= status0;
        extension->IntStatus[1] |= status1;
      }
      break;
    }
    case BoardLayout22:
      status0 = ReadRegister(base, 8);
      status1 = ReadRegister(base, 9);
      if (status0 == 0 && status1 == 0) return FALSE;
      WriteRegister(base, 8, status0);
      WriteRegister(base, 9, status1);
      extension->IntStatus[0] |= status0;
      extension->IntStatus[1] |= status1;
      break;
    default:
      status0 = ReadRegister(base, 7);
      if (status0 == 0) return FALSE;
      WriteRegister(base, 7, status0);
      extension->IntStatus[0] |= status0;
      break;
  }
  KeInsertQueueDpc(&device->Dpc, device->CurrentIrp, extension);
  return TRUE;
}

// What the DPC takes over from the interrupt service routine.
typedef struct _SAVED_STATUS {
  PDEVICE_EXTENSION Extension;
  UCHAR Bytes[DIO_STATUS_BYTES];
} SAVED_STATUS;

static BOOLEAN TakeSavedStatus(PVOID context) {
  SAVED_STATUS *saved = (SAVED_STATUS *)context;
  for (ULONG k = 0; k < DIO_STATUS_BYTES; ++k) {
    saved->Bytes[k] = saved->Extension->IntStatus[k];
    saved->Extension->IntStatus[k] = 0;
  }
  return TRUE;
}

// Signals, in every slot, the event of each event number whose status bit
// the interrupt service routine saved.
VOID InterruptDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  UNREFERENCED_PARAMETER(dpc);
  UNREFERENCED_PARAMETER(context);
  UNREFERENCED_PARAMETER(argument1);
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)argument2;
  SAVED_STATUS saved;
  saved.Extension = extension;
  PKINTERRUPT interrupt = extension->InterruptObject;
  if (interrupt == NULL) return;  // being disconnected
  KeSynchronizeExecution(interrupt, TakeSavedStatus, &saved);

  KeAcquireSpinLockAtDpcLevel(&gEventSlotLock);
  switch (BoardLayout()) {
    case BoardLayout24: {
      // The first information byte tells how many status bytes the board
      // has; the routine saves two, and only event numbers 0 to 8 exist.
      ULONG bytes = (ULONG)(extension->BoardInfo[0] >> 3) + 1;
      if (bytes > DIO_STATUS_BYTES) bytes = DIO_STATUS_BYTES;
      for (ULONG k = 0; k < bytes; ++k) {
        for (ULONG bit = 0; bit < 8; ++bit) {
          ULONG number = 8 * k + bit;
          if ((saved.Bytes[k] & (1u << bit)) && number < DIO_EVENTS_PER_SLOT) SignalEvent((USHORT)number);
        }
      }
      break;
    }
    case BoardLayout22:
      for (ULONG bit = 0; bit < 8; ++bit) {
        if (saved.Bytes[0] & (1u << bit)) SignalEvent((USHORT)bit);
      }
      if (saved.Bytes[1] != 0) SignalEvent(8);
      break;
    default:
      for (ULONG bit = 0; bit < DIO_GENERAL_EVENT_BITS; ++bit) {
        if (saved.Bytes[0] & (1u << bit)) SignalEvent((USHORT)bit);
      }
      break;
  }
  KeReleaseSpinLockFromDpcLevel(&gEventSlotLock);
}

// Called holding gEventSlotLock.
VOID SignalEvent(USHORT eventNumber) {
  if (eventNumber >= DIO_EVENTS_PER_SLOT) return;
  for (ULONG slot = 0; slot < DIO_EVENT_SLOT_COUNT; ++slot) {
    PKEVENT event = gEventSlots[slot].Events[eventNumber];
    if (event != NULL) KeSetEvent(event, 0, FALSE);
  }
}
