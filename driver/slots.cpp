// The driver-wide table of event slots: each open handle owns one from its
// open to its close and keeps in it the events it enabled.
//
// The table is shared by every device, so one driver-wide spin lock
// serialises every change of it with the DPC's signalling: no event is
// signalled after its reference has been taken out of the table to be
// released. References are released after the lock is dropped.
//
// Beside the table, for each event number, a bitmap of the slots that hold
// an event of that number, changed with the table under the same lock: the
// DPC visits only those slots, in slot order, so an interrupt costs what its
// waiting events cost and not a walk of all 100 slots per event number. The
// table stays the record of what each slot holds.
#include "driver.h"

KSPIN_LOCK gEventSlotLock;

// A slot belongs to one handle from its open to its close.
static BOOLEAN gSlotTaken[DIO_EVENT_SLOT_COUNT];

// Bit (s % 64) of word (s / 64) of gEventHolders[n] is set exactly when
// gEventSlots[s].Events[n] is not null.
#define DIO_HOLDER_WORDS ((DIO_EVENT_SLOT_COUNT + 63) / 64)
static ULONG64 gEventHolders[DIO_EVENTS_PER_SLOT][DIO_HOLDER_WORDS];

_Use_decl_annotations_
VOID InitializeEventSlots(void) {
  KeInitializeSpinLock(&gEventSlotLock);
  for (ULONG slot = 0; slot < DIO_EVENT_SLOT_COUNT; ++slot) {
    for (ULONG event = 0; event < DIO_EVENTS_PER_SLOT; ++event) gEventSlots[slot].Events[event] = NULL;
    gSlotTaken[slot] = FALSE;
  }
  for (ULONG event = 0; event < DIO_EVENTS_PER_SLOT; ++event) {
    for (ULONG word = 0; word < DIO_HOLDER_WORDS; ++word) gEventHolders[event][word] = 0;
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

// Puts `events` (references handed over; none when null) in the slot's nine
// entries, the bitmaps kept in step, and hands the references they replace
// back in `replaced`. Called holding gEventSlotLock.
static VOID ExchangeSlotEvents(LONG slot, PKEVENT const *events, PKEVENT *replaced) {
  PEVENT_SLOT s = &gEventSlots[slot];
  const ULONG word = (ULONG)slot / 64;
  const ULONG64 bit = 1ull << ((ULONG)slot % 64);
  for (ULONG n = 0; n < DIO_EVENTS_PER_SLOT; ++n) {
    replaced[n] = s->Events[n];
    s->Events[n] = events != NULL ? events[n] : NULL;
    if (s->Events[n] != NULL) {
      gEventHolders[n][word] |= bit;
    } else {
      gEventHolders[n][word] &= ~bit;
    }
  }
}

static VOID ReleaseEvents(PKEVENT *events) {
  for (ULONG n = 0; n < DIO_EVENTS_PER_SLOT; ++n) {
    if (events[n] != NULL) ObDereferenceObject(events[n]);
  }
}

// Puts `events` (or none) in the slot under the lock, the slot given up
// too when `release`, and releases the events they replace after it.
static VOID ReplaceSlotEvents(LONG slot, PKEVENT const *events, BOOLEAN release) {
  PKEVENT replaced[DIO_EVENTS_PER_SLOT];
  KIRQL irql;
  KeAcquireSpinLock(&gEventSlotLock, &irql);
  ExchangeSlotEvents(slot, events, replaced);
  if (release) gSlotTaken[slot] = FALSE;
  KeReleaseSpinLock(&gEventSlotLock, irql);
  ReleaseEvents(replaced);
}

_Use_decl_annotations_
VOID EmptyEventSlot(LONG slot) { ReplaceSlotEvents(slot, NULL, FALSE); }

_Use_decl_annotations_
VOID ReleaseEventSlot(LONG slot) { ReplaceSlotEvents(slot, NULL, TRUE); }

// An enable's events, in one step: they replace all of the slot's earlier
// ones.
_Use_decl_annotations_
VOID FillEventSlot(LONG slot, PKEVENT const *events) { ReplaceSlotEvents(slot, events, FALSE); }

// Signals the event of that number (below DIO_EVENTS_PER_SLOT) in each
// slot that holds one, in slot order. Called holding gEventSlotLock.
_IRQL_requires_(DISPATCH_LEVEL) _Requires_lock_held_(gEventSlotLock)
static VOID SignalEvent(USHORT eventNumber) {
  for (ULONG word = 0; word < DIO_HOLDER_WORDS; ++word) {
    for (ULONG64 holders = gEventHolders[eventNumber][word]; holders != 0; holders &= holders - 1) {
      PKEVENT event = gEventSlots[word * 64 + (ULONG)__builtin_ctzll(holders)].Events[eventNumber];
      if (event != NULL) KeSetEvent(event, 0, FALSE);
    }
  }
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
