// Interrupt lines and interrupt objects: connection to a vector, delivery of
// latched and level-sensitive lines to the service routines at their IRQL
// under their lock, interrupt storms, synchronisation with the routines, and
// the processor thread that takes interrupts when a test asks for one.
//
// Locking: one mutex guards the connected objects and the lines. It is never
// held while a service routine runs, but it is held while the kernel asks a
// device for its line's level, so a device must not call the kernel holding
// a lock of its own. An object in use by a delivery or a synchronisation
// counts its users; IoDisconnectInterrupt waits until none is left.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "machine.h"

struct _KINTERRUPT {
  PKSERVICE_ROUTINE serviceRoutine;
  PVOID serviceContext;
  ULONG vector;
  KIRQL irql;
  KIRQL synchronizeIrql;
  KINTERRUPT_MODE mode;
  BOOLEAN shared;
  KAFFINITY affinity;
  std::recursive_mutex *lock;  // the interrupt's spin lock
  bool held;                   // the lock is taken (recursion is a deadlock)
  int users;                   // deliveries and synchronisations using it now
};

namespace hostk {
namespace {

constexpr ULONG kInterruptTag = 0x746E4920;  // " Int"

struct Line {
  std::vector<InterruptSource *> sources;
  bool asserted = false;     // the level last seen
  unsigned long drops = 0;   // times the line was seen to fall
  unsigned long edges = 0;   // rising edges seen while unmasked, not yet delivered
  bool delivering = false;   // a processor delivers on the vector now
  bool deferred = false;     // waits for a thread's IRQL to drop
};

struct Controller {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<PKINTERRUPT> connected;  // in the order of connection
  std::map<ULONG, Line> lines;
  bool held = false;
  bool threads = false;
  bool stopping = false;
  std::thread processor;
};

Controller &State() {
  static Controller controller;
  return controller;
}

std::atomic<bool> anyDeferred{false};

std::string VectorName(ULONG vector) {
  char text[16];
  snprintf(text, sizeof text, "0x%X", unsigned(vector));
  return text;
}

std::vector<PKINTERRUPT> ChainLocked(const Controller &c, ULONG vector) {
  std::vector<PKINTERRUPT> chain;
  for (PKINTERRUPT i : c.connected)
    if (i->vector == vector) chain.push_back(i);
  return chain;
}

bool IsConnectedLocked(const Controller &c, PKINTERRUPT interrupt) {
  return std::find(c.connected.begin(), c.connected.end(), interrupt) != c.connected.end();
}

// Asks the line's devices for its level. An edge counts only while a routine
// is connected: a masked line loses its edges.
void RefreshLocked(const Controller &c, ULONG vector, Line &line) {
  bool asserted = false;
  for (InterruptSource *source : line.sources) asserted = source->InterruptAsserted() || asserted;
  if (asserted && !line.asserted && !ChainLocked(c, vector).empty()) ++line.edges;
  if (!asserted && line.asserted) ++line.drops;
  line.asserted = asserted;
}

// Whether the vector has an interrupt to deliver now.
bool HasWorkLocked(const Controller &c, ULONG vector, const Line &line) {
  std::vector<PKINTERRUPT> chain = ChainLocked(c, vector);
  if (chain.empty() || c.held) return false;
  return chain.front()->mode == LevelSensitive ? line.asserted : line.edges > 0;
}

// Runs `routine` at the interrupt's IRQL holding its lock.
template <typename Routine>
BOOLEAN UnderInterruptLock(PKINTERRUPT interrupt, Routine routine) {
  KIRQL old;
  KeRaiseIrql(interrupt->synchronizeIrql, &old);
  interrupt->lock->lock();
  if (interrupt->held) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "interrupt lock taken again by its holder");
  }
  interrupt->held = true;
  BOOLEAN result = routine();
  interrupt->held = false;
  interrupt->lock->unlock();
  KeLowerIrql(old);
  return result;
}

void Release(const std::vector<PKINTERRUPT> &used) {
  Controller &c = State();
  {
    std::lock_guard<std::mutex> hold(c.mutex);
    for (PKINTERRUPT i : used) --i->users;
  }
  c.changed.notify_all();
}

// One delivery on the calling thread: the vector's routines in connection
// order until one claims the interrupt.
bool DeliverOnce(ULONG vector) {
  Controller &c = State();
  std::vector<PKINTERRUPT> chain;
  {
    std::lock_guard<std::mutex> hold(c.mutex);
    chain = ChainLocked(c, vector);
    for (PKINTERRUPT i : chain) ++i->users;
  }
  bool claimed = false;
  for (PKINTERRUPT i : chain) {
    claimed = UnderInterruptLock(i, [i] { return i->serviceRoutine(i, i->serviceContext); });
    if (claimed) break;
  }
  Release(chain);
  return claimed;
}

// Delivers on the vector while it has work. Returns at once when another
// processor delivers there already: that one looks again before it stops.
void Service(ULONG vector) {
  Controller &c = State();
  std::unique_lock<std::mutex> lock(c.mutex);
  Line &line = c.lines[vector];
  if (line.delivering) return;
  line.delivering = true;
  int stuck = 0;  // deliveries in a row through which the line stayed up
  for (;;) {
    RefreshLocked(c, vector, line);
    if (!HasWorkLocked(c, vector, line)) break;
    std::vector<PKINTERRUPT> chain = ChainLocked(c, vector);
    if (!c.threads && KeGetCurrentIrql() >= chain.front()->irql) {
      // This processor runs at or above the interrupt's IRQL: it takes the
      // interrupt when its IRQL drops.
      line.deferred = true;
      anyDeferred = true;
      break;
    }
    bool level = chain.front()->mode == LevelSensitive;
    if (!level) --line.edges;
    unsigned long dropsBefore = line.drops;
    lock.unlock();
    bool claimed = DeliverOnce(vector);
    lock.lock();
    if (!level) continue;
    RefreshLocked(c, vector, line);
    if (!line.asserted || line.drops != dropsBefore) {
      stuck = 0;
    } else if (++stuck >= kInterruptStormDeliveries) {
      BugCheck(HARDWARE_INTERRUPT_STORM,
               "interrupt storm on vector " + VectorName(vector) + ": its level-sensitive line stayed " +
                   "asserted through " + std::to_string(stuck) + " deliveries, " +
                   (claimed ? "claimed by a service routine that does not quiet its device"
                            : "claimed by no service routine"));
    }
  }
  line.delivering = false;
  lock.unlock();
  c.changed.notify_all();
}

// Delivers, on the calling thread, whatever work the lines have now.
void ServiceAll() {
  std::vector<ULONG> vectors;
  {
    Controller &c = State();
    std::lock_guard<std::mutex> hold(c.mutex);
    for (auto &entry : c.lines) vectors.push_back(entry.first);
  }
  for (ULONG vector : vectors) Service(vector);
}

// The processor that takes interrupts while tests ask for processor threads.
void ProcessorLoop() {
  Controller &c = State();
  std::unique_lock<std::mutex> lock(c.mutex);
  for (;;) {
    ULONG next = 0;
    c.changed.wait(lock, [&c, &next] {
      if (c.stopping) return true;
      for (const auto &entry : c.lines) {
        if (!entry.second.delivering && HasWorkLocked(c, entry.first, entry.second)) {
          next = entry.first;
          return true;
        }
      }
      return false;
    });
    if (c.stopping) return;
    lock.unlock();
    Service(next);
    lock.lock();
  }
}

}  // namespace

void AttachInterruptSource(ULONG vector, InterruptSource *source) {
  Controller &c = State();
  {
    std::lock_guard<std::mutex> hold(c.mutex);
    Line &line = c.lines[vector];
    line.sources.push_back(source);
  }
  InterruptLineChanged(vector);
}

void DetachInterruptSource(InterruptSource *source) {
  Controller &c = State();
  {
    std::lock_guard<std::mutex> hold(c.mutex);
    for (auto &entry : c.lines) {
      auto &sources = entry.second.sources;
      sources.erase(std::remove(sources.begin(), sources.end(), source), sources.end());
      RefreshLocked(c, entry.first, entry.second);
    }
  }
  c.changed.notify_all();
}

void InterruptLineChanged(ULONG vector) {
  Controller &c = State();
  bool deliverHere;
  {
    std::lock_guard<std::mutex> hold(c.mutex);
    Line &line = c.lines[vector];
    RefreshLocked(c, vector, line);
    deliverHere = !c.threads && !line.delivering && HasWorkLocked(c, vector, line);
  }
  c.changed.notify_all();
  if (deliverHere) Service(vector);
}

void DeliverDeferredInterrupts() {
  if (!anyDeferred) return;
  std::vector<ULONG> vectors;
  {
    Controller &c = State();
    std::lock_guard<std::mutex> hold(c.mutex);
    anyDeferred = false;
    for (auto &entry : c.lines) {
      if (entry.second.deferred) vectors.push_back(entry.first);
      entry.second.deferred = false;
    }
  }
  for (ULONG vector : vectors) Service(vector);
}

bool RaiseInterrupt(ULONG vector) { return DeliverOnce(vector); }

void HoldInterrupts(bool hold) {
  Controller &c = State();
  bool inlineDelivery;
  {
    std::lock_guard<std::mutex> lock(c.mutex);
    c.held = hold;
    inlineDelivery = !hold && !c.threads;
  }
  c.changed.notify_all();
  if (inlineDelivery) ServiceAll();
}

void UseProcessorThreads(bool use) {
  Controller &c = State();
  {
    std::lock_guard<std::mutex> hold(c.mutex);
    if (c.threads == use) return;
  }
  if (use) {
    StartDpcThread();
    std::lock_guard<std::mutex> hold(c.mutex);
    c.threads = true;
    c.stopping = false;
    c.processor = std::thread(ProcessorLoop);
    return;
  }
  StopInterruptThread();
  StopDpcThread();
  // What arrived meanwhile is taken here now.
  ServiceAll();
  if (KeGetCurrentIrql() < DISPATCH_LEVEL) RunPendingDpcs();
}

void StopInterruptThread() {
  Controller &c = State();
  std::thread processor;
  {
    std::lock_guard<std::mutex> hold(c.mutex);
    if (!c.threads) return;
    c.stopping = true;
    c.threads = false;
    processor.swap(c.processor);
  }
  c.changed.notify_all();
  processor.join();
}

std::vector<InterruptInfo> ConnectedInterrupts() {
  Controller &c = State();
  std::lock_guard<std::mutex> hold(c.mutex);
  std::vector<InterruptInfo> out;
  for (PKINTERRUPT i : c.connected)
    out.push_back(InterruptInfo{i->vector, i->irql, i->mode, i->shared != 0, i->affinity});
  return out;
}

bool InterruptContextWithin(const void *begin, size_t bytes) {
  Controller &c = State();
  std::lock_guard<std::mutex> hold(c.mutex);
  auto first = static_cast<const char *>(begin);
  for (PKINTERRUPT i : c.connected) {
    auto context = static_cast<const char *>(i->serviceContext);
    if (context >= first && context < first + bytes) return true;
  }
  return false;
}

void ListInterruptLeaks(std::vector<std::string> *out) {
  Controller &c = State();
  std::lock_guard<std::mutex> hold(c.mutex);
  for (PKINTERRUPT i : c.connected)
    out->push_back("interrupt on vector " + std::to_string(i->vector) + " still connected");
}

void ResetInterrupts() {
  StopInterruptThread();
  Controller &c = State();
  std::lock_guard<std::mutex> hold(c.mutex);
  for (PKINTERRUPT i : c.connected) delete i->lock;
  c.connected.clear();
  c.lines.clear();
  c.held = false;
  anyDeferred = false;
}

}  // namespace hostk

using namespace hostk;

extern "C" {

NTSTATUS IoConnectInterrupt(PKINTERRUPT *interruptObject, PKSERVICE_ROUTINE serviceRoutine,
                            PVOID serviceContext, PKSPIN_LOCK spinLock, ULONG vector, KIRQL irql,
                            KIRQL synchronizeIrql, KINTERRUPT_MODE mode, BOOLEAN shareVector,
                            KAFFINITY affinity, BOOLEAN floatingSave) {
  (void)floatingSave;
  RunEntryHook("IoConnectInterrupt");
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoConnectInterrupt");
  *interruptObject = nullptr;
  if (spinLock) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "interrupts with a driver-supplied lock are not simulated");
  }
  if (affinity == 0 || synchronizeIrql < irql || irql <= DISPATCH_LEVEL)
    return STATUS_INVALID_PARAMETER;
  Controller &c = State();
  {
    std::lock_guard<std::mutex> hold(c.mutex);
    for (PKINTERRUPT other : ChainLocked(c, vector)) {
      // A vector is shared only by interrupts that all agree to share it in
      // the same mode.
      if (!shareVector || !other->shared || other->mode != mode) return STATUS_INVALID_PARAMETER;
    }
    auto *interrupt = static_cast<PKINTERRUPT>(AllocateSystem(NonPagedPool, sizeof(KINTERRUPT), kInterruptTag));
    if (!interrupt) return STATUS_INSUFFICIENT_RESOURCES;
    *interrupt = KINTERRUPT{serviceRoutine, serviceContext, vector, irql, synchronizeIrql, mode,
                            shareVector, affinity, new std::recursive_mutex, false, 0};
    c.connected.push_back(interrupt);
    // The routine may run from here on, even before this call returns.
    *interruptObject = interrupt;
  }
  InterruptLineChanged(vector);
  return STATUS_SUCCESS;
}

VOID IoDisconnectInterrupt(PKINTERRUPT interrupt) {
  RunEntryHook("IoDisconnectInterrupt");
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoDisconnectInterrupt");
  Controller &c = State();
  std::unique_lock<std::mutex> lock(c.mutex);
  auto it = std::find(c.connected.begin(), c.connected.end(), interrupt);
  if (it == c.connected.end()) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "IoDisconnectInterrupt of an interrupt not connected");
  }
  if (interrupt->mode == LevelSensitive) {
    Line &line = c.lines[interrupt->vector];
    RefreshLocked(c, interrupt->vector, line);
    if (line.asserted) {
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
               "IoDisconnectInterrupt while the level-sensitive line of vector " +
                   VectorName(interrupt->vector) + " is asserted: quiet the device first");
    }
  }
  c.connected.erase(it);
  // A delivery or synchronisation running elsewhere finishes before the
  // object goes.
  c.changed.wait(lock, [interrupt] { return interrupt->users == 0; });
  lock.unlock();
  delete interrupt->lock;
  FreeSystem(interrupt, kInterruptTag);
}

BOOLEAN KeSynchronizeExecution(PKINTERRUPT interrupt, PKSYNCHRONIZE_ROUTINE routine, PVOID context) {
  RunEntryHook("KeSynchronizeExecution");
  Controller &c = State();
  {
    std::lock_guard<std::mutex> hold(c.mutex);
    if (!IsConnectedLocked(c, interrupt)) {
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
               "KeSynchronizeExecution with an interrupt object that is not connected");
    }
    RequireIrqlAtMost(interrupt->synchronizeIrql, "KeSynchronizeExecution");
    ++interrupt->users;
  }
  BOOLEAN result = UnderInterruptLock(interrupt, [routine, context] { return routine(context); });
  Release({interrupt});
  return result;
}

}  // extern "C"
