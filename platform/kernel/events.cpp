// Kernel events and waits. Waiters block on one condition variable shared by
// every dispatcher object; a set wakes them all to look again.
//
// A blocking wait that lasts past the wait limit is taken for one that never
// ends, as a deadlock, and stops the run: a lost wake-up fails the test that
// made it instead of hanging the test command. The limit is generous, for
// slow sanitizer runs on a loaded machine.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "machine.h"

namespace {

std::mutex dispatcherMutex;
std::condition_variable dispatcherChanged;
size_t blockedThreads = 0;  // threads waiting in KeWaitForSingleObject without a time limit
std::chrono::milliseconds waitLimit(60000);

// Waits under `hold` until `done`; past the wait limit, stops the run.
template <typename Done>
void WaitWithinLimit(std::unique_lock<std::mutex> &hold, Done done, const char *what) {
  if (!dispatcherChanged.wait_for(hold, waitLimit, done)) {
    hostk::BugCheck(hostk::DRIVER_VERIFIER_DETECTED_VIOLATION,
                    std::string(what) + ": no wake-up within " + std::to_string(waitLimit.count()) +
                        " ms, a wait that never ends");
  }
}

}  // namespace

namespace hostk {

// Used by the other parts of the kernel that wait for something other than
// an event (a request's completion): runs `done` under the dispatcher lock
// until it is true.
void WaitUntil(const std::function<bool()> &done) {
  std::unique_lock<std::mutex> hold(dispatcherMutex);
  WaitWithinLimit(hold, done, "a wait of the host kernel");
}

void WaitForCompletion(const std::function<bool()> &done) {
  std::unique_lock<std::mutex> hold(dispatcherMutex);
  if (done()) return;
  ++blockedThreads;
  dispatcherChanged.notify_all();
  WaitWithinLimit(hold, done, "a wait for a pended request");
  --blockedThreads;
}

bool WaitUntilFor(const std::function<bool()> &done, unsigned milliseconds) {
  std::unique_lock<std::mutex> hold(dispatcherMutex);
  return dispatcherChanged.wait_for(hold, std::chrono::milliseconds(milliseconds), done);
}

void SetWaitLimit(unsigned milliseconds) {
  std::lock_guard<std::mutex> hold(dispatcherMutex);
  waitLimit = std::chrono::milliseconds(milliseconds);
}

void WaitForBlockedThreads(size_t count) {
  WaitUntil([count] { return blockedThreads >= count; });
}

size_t BlockedThreadCount() {
  std::lock_guard<std::mutex> hold(dispatcherMutex);
  return blockedThreads;
}

void NotifyWaiters(const std::function<void()> &change) {
  std::lock_guard<std::mutex> hold(dispatcherMutex);
  if (change) change();
  dispatcherChanged.notify_all();
}

}  // namespace hostk

extern "C" {

VOID KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state) {
  if (type != NotificationEvent && type != SynchronizationEvent) {
    hostk::BugCheck(hostk::DRIVER_VERIFIER_DETECTED_VIOLATION, "KeInitializeEvent with an unknown type");
  }
  std::lock_guard<std::mutex> hold(dispatcherMutex);
  memset(event, 0, sizeof *event);
  event->Header.Type = UCHAR(type);
  event->Header.SignalState = state ? 1 : 0;
  event->Header.WaitListHead.Flink = event->Header.WaitListHead.Blink = &event->Header.WaitListHead;
}

LONG KeSetEvent(PRKEVENT event, LONG increment, BOOLEAN wait) {
  (void)increment;
  hostk::RequireIrqlAtMost(wait ? APC_LEVEL : DISPATCH_LEVEL, "KeSetEvent");
  std::lock_guard<std::mutex> hold(dispatcherMutex);
  LONG previous = event->Header.SignalState;
  event->Header.SignalState = 1;
  dispatcherChanged.notify_all();
  return previous;
}

LONG KeResetEvent(PRKEVENT event) {
  hostk::RequireIrqlAtMost(DISPATCH_LEVEL, "KeResetEvent");
  std::lock_guard<std::mutex> hold(dispatcherMutex);
  LONG previous = event->Header.SignalState;
  event->Header.SignalState = 0;
  return previous;
}

VOID KeClearEvent(PRKEVENT event) { KeResetEvent(event); }

LONG KeReadStateEvent(PRKEVENT event) {
  std::lock_guard<std::mutex> hold(dispatcherMutex);
  return event->Header.SignalState;
}

NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode,
                               BOOLEAN alertable, PLARGE_INTEGER timeout) {
  (void)reason;
  (void)mode;
  (void)alertable;
  bool poll = timeout && timeout->QuadPart == 0;
  // Only a test of the state may be made at DISPATCH_LEVEL.
  hostk::RequireIrqlAtMost(poll ? DISPATCH_LEVEL : APC_LEVEL, "KeWaitForSingleObject");
  auto *event = static_cast<PRKEVENT>(object);
  std::unique_lock<std::mutex> hold(dispatcherMutex);
  auto signalled = [event] { return event->Header.SignalState != 0; };
  if (!timeout) {
    if (!signalled()) {
      ++blockedThreads;
      dispatcherChanged.notify_all();
      WaitWithinLimit(hold, signalled, "KeWaitForSingleObject without a timeout");
      --blockedThreads;
    }
  } else if (!poll) {
    if (timeout->QuadPart > 0) {
      hostk::BugCheck(hostk::DRIVER_VERIFIER_DETECTED_VIOLATION,
                      "absolute wait times are not simulated");
    }
    auto span = std::chrono::microseconds(-timeout->QuadPart / 10);
    if (!dispatcherChanged.wait_for(hold, span, signalled)) return STATUS_TIMEOUT;
  } else if (!signalled()) {
    return STATUS_TIMEOUT;
  }
  if (event->Header.Type == SynchronizationEvent) event->Header.SignalState = 0;
  return STATUS_SUCCESS;
}

}  // extern "C"
