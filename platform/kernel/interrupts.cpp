// Interrupt objects: connection to a vector, delivery to the service
// routines at their IRQL under their lock, and synchronisation with them.
#include <map>
#include <mutex>

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
};

namespace hostk {
namespace {

constexpr ULONG kInterruptTag = 0x746E4920;  // " Int"

std::recursive_mutex tableMutex;
std::multimap<ULONG, PKINTERRUPT> connected;

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

}  // namespace

bool RaiseInterrupt(ULONG vector) {
  std::vector<PKINTERRUPT> chain;
  {
    std::lock_guard<std::recursive_mutex> hold(tableMutex);
    auto range = connected.equal_range(vector);
    for (auto it = range.first; it != range.second; ++it) chain.push_back(it->second);
  }
  for (PKINTERRUPT interrupt : chain) {
    BOOLEAN claimed = UnderInterruptLock(interrupt, [interrupt] {
      return interrupt->serviceRoutine(interrupt, interrupt->serviceContext);
    });
    if (claimed) return true;
  }
  return false;
}

std::vector<InterruptInfo> ConnectedInterrupts() {
  std::lock_guard<std::recursive_mutex> hold(tableMutex);
  std::vector<InterruptInfo> out;
  for (const auto &entry : connected) {
    PKINTERRUPT i = entry.second;
    out.push_back(InterruptInfo{i->vector, i->irql, i->mode, i->shared != 0, i->affinity});
  }
  return out;
}

void ListInterruptLeaks(std::vector<std::string> *out) {
  std::lock_guard<std::recursive_mutex> hold(tableMutex);
  for (const auto &entry : connected)
    out->push_back("interrupt on vector " + std::to_string(entry.first) + " still connected");
}

void ResetInterrupts() {
  std::lock_guard<std::recursive_mutex> hold(tableMutex);
  for (const auto &entry : connected) delete entry.second->lock;
  connected.clear();
}

}  // namespace hostk

using namespace hostk;

extern "C" {

NTSTATUS IoConnectInterrupt(PKINTERRUPT *interruptObject, PKSERVICE_ROUTINE serviceRoutine,
                            PVOID serviceContext, PKSPIN_LOCK spinLock, ULONG vector, KIRQL irql,
                            KIRQL synchronizeIrql, KINTERRUPT_MODE mode, BOOLEAN shareVector,
                            KAFFINITY affinity, BOOLEAN floatingSave) {
  (void)floatingSave;
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoConnectInterrupt");
  *interruptObject = nullptr;
  if (spinLock) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "interrupts with a driver-supplied lock are not simulated");
  }
  if (affinity == 0 || synchronizeIrql < irql || irql <= DISPATCH_LEVEL)
    return STATUS_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> hold(tableMutex);
  auto range = connected.equal_range(vector);
  for (auto it = range.first; it != range.second; ++it) {
    // A vector is shared only by interrupts that all agree to share it in
    // the same mode.
    if (!shareVector || !it->second->shared || it->second->mode != mode)
      return STATUS_INVALID_PARAMETER;
  }
  auto *interrupt = static_cast<PKINTERRUPT>(AllocateSystem(NonPagedPool, sizeof(KINTERRUPT), kInterruptTag));
  if (!interrupt) return STATUS_INSUFFICIENT_RESOURCES;
  *interrupt = KINTERRUPT{serviceRoutine, serviceContext, vector,   irql, synchronizeIrql,
                          mode,           shareVector,    affinity, new std::recursive_mutex, false};
  connected.emplace(vector, interrupt);
  *interruptObject = interrupt;
  return STATUS_SUCCESS;
}

VOID IoDisconnectInterrupt(PKINTERRUPT interrupt) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoDisconnectInterrupt");
  std::lock_guard<std::recursive_mutex> hold(tableMutex);
  for (auto it = connected.begin(); it != connected.end(); ++it) {
    if (it->second == interrupt) {
      connected.erase(it);
      // A service routine running elsewhere finishes before the object goes.
      interrupt->lock->lock();
      interrupt->lock->unlock();
      delete interrupt->lock;
      FreeSystem(interrupt, kInterruptTag);
      return;
    }
  }
  BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "IoDisconnectInterrupt of an interrupt not connected");
}

BOOLEAN KeSynchronizeExecution(PKINTERRUPT interrupt, PKSYNCHRONIZE_ROUTINE routine, PVOID context) {
  RequireIrqlAtMost(interrupt->synchronizeIrql, "KeSynchronizeExecution");
  return UnderInterruptLock(interrupt, [routine, context] { return routine(context); });
}

}  // extern "C"
