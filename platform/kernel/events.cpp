// Kernel events. Waits come with the threads that need them; what is here is
// the state of an event and the IRQL rules of setting it.
#include "machine.h"

extern "C" {

VOID KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state) {
  if (type != NotificationEvent && type != SynchronizationEvent) {
    hostk::BugCheck(hostk::DRIVER_VERIFIER_DETECTED_VIOLATION, "KeInitializeEvent with an unknown type");
  }
  memset(event, 0, sizeof *event);
  event->Header.Type = UCHAR(type);
  event->Header.SignalState = state ? 1 : 0;
  event->Header.WaitListHead.Flink = event->Header.WaitListHead.Blink = &event->Header.WaitListHead;
}

LONG KeSetEvent(PRKEVENT event, LONG increment, BOOLEAN wait) {
  (void)increment;
  hostk::RequireIrqlAtMost(wait ? APC_LEVEL : DISPATCH_LEVEL, "KeSetEvent");
  return __atomic_exchange_n(&event->Header.SignalState, 1, __ATOMIC_SEQ_CST);
}

LONG KeResetEvent(PRKEVENT event) {
  hostk::RequireIrqlAtMost(DISPATCH_LEVEL, "KeResetEvent");
  return __atomic_exchange_n(&event->Header.SignalState, 0, __ATOMIC_SEQ_CST);
}

VOID KeClearEvent(PRKEVENT event) { KeResetEvent(event); }

LONG KeReadStateEvent(PRKEVENT event) {
  return __atomic_load_n(&event->Header.SignalState, __ATOMIC_SEQ_CST);
}

}  // extern "C"
