// The driver-wide table of event slots: each open handle owns one from its
// open to its close and keeps in it the events it enabled.
//
// The table is shared by every device, so one driver-wide spin lock
// serialises every change of it with the DPC's signalling: no event is
// signalled after its reference has been taken out of the table to be
// released. References are released after the lock is dropped.
#include "driver.h"

KSPIN_LOCK gEventSlotLock;

// A slot belongs to one handle from its open to its close.
static BOOLEAN gSlotTaken[DIO_EVENT_SLOT_COUNT];

_Use_decl_annotations_
VOID InitializeEventSlots(void) {
  KeInitializeSpinLock(&gEventSlotLock);
  for (ULONG slot = 0; slot < DIO_EVENT_SLOT_COUNT; ++slot) {
    gEventSlots[slot].Enabled = 0;
    for (ULONG event = 0; event < DIO_EVENTS_PER_SLOT; ++event) gEventSlots[slot].Events[event] = NULL;
    gSlotTaken[slot] = FALSE;
  }
}

// The lowest free slot, now the caller's; -1 when all are taken.
_Use_decl_annotations_
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

// Takes a slot's events out under the lock and releases them after it.
_Use_decl_annotations_
VOID EmptyEventSlot(LONG slot, ULONG what) {
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

_Use_decl_annotations_
VOID ReleaseEventSlot(LONG slot) { EmptyEventSlot(slot, DIO_SLOT_OWNER); }

_Use_decl_annotations_
VOID SetSlotUserWord(LONG slot, USHORT userWord) {
  KIRQL irql;
  KeAcquireSpinLock(&gEventSlotLock, &irql);
  gEventSlots[slot].UserWord = userWord;
  KeReleaseSpinLock(&gEventSlotLock, irql);
}

// Hands a referenced event to the slot as its event `eventNumber`.
_Use_decl_annotations_
VOID SetSlotEvent(LONG slot, ULONG eventNumber, PKEVENT event) {
  KIRQL irql;
  KeAcquireSpinLock(&gEventSlotLock, &irql);
  PKEVENT replaced = gEventSlots[slot].Events[eventNumber];
  gEventSlots[slot].Events[eventNumber] = event;
  KeReleaseSpinLock(&gEventSlotLock, irql);
  if (replaced != NULL) ObDereferenceObject(replaced);  // a concurrent enable's
}

_Use_decl_annotations_
VOID MarkSlotEnabled(LONG slot) {
  KIRQL irql;
  KeAcquireSpinLock(&gEventSlotLock, &irql);
  gEventSlots[slot].Enabled = 1;
  KeReleaseSpinLock(&gEventSlotLock, irql);
}

// Signals, in every slot, the event of each event number in the mask. Runs
// at DISPATCH_LEVEL (the DPC).
_Use_decl_annotations_
VOID SignalEvents(ULONG eventMask) {
  KeAcquireSpinLockAtDpcLevel(&gEventSlotLock);
  for (USHORT number = 0; number < DIO_EVENTS_PER_SLOT; ++number) {
    if (eventMask & (1u << number)) SignalEvent(number);
  }
  KeReleaseSpinLockFromDpcLevel(&gEventSlotLock);
}

// Called holding gEventSlotLock.
_Use_decl_annotations_
VOID SignalEvent(USHORT eventNumber) {
  if (eventNumber >= DIO_EVENTS_PER_SLOT) return;
  for (ULONG slot = 0; slot < DIO_EVENT_SLOT_COUNT; ++slot) {
    PKEVENT event = gEventSlots[slot].Events[eventNumber];
    if (event != NULL) KeSetEvent(event, 0, FALSE);
  }
}
