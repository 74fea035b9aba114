// Bug checks, IRQL tracking, critical regions and the entry hooks tests use
// to act at an exact moment.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "machine.h"

namespace {
// The IRQL of the calling thread. Every host thread starts at PASSIVE_LEVEL,
// as a system worker thread does.
thread_local KIRQL currentIrql = PASSIVE_LEVEL;
// KeEnterCriticalRegion nesting of the calling thread.
thread_local int criticalRegions = 0;

const char *const kHookedRoutines[] = {"IoConnectInterrupt", "IoDisconnectInterrupt",
                                       "KeSynchronizeExecution", "KeFlushQueuedDpcs",
                                       "NtDeviceIoControlFile", "NtCreateFile"};
std::mutex hookMutex;
std::map<std::string, std::function<void()>> entryHooks;
}  // namespace

namespace hostk {

void BugCheck(ULONG code, const std::string &what) {
  fprintf(stderr, "*** STOP 0x%08X: %s\n", code, what.c_str());
  fflush(stderr);
  abort();
}

void RequireIrqlAtMost(KIRQL max, const char *routine) {
  if (currentIrql > max) {
    BugCheck(IRQL_NOT_LESS_OR_EQUAL, std::string(routine) + " called at IRQL " +
                                         std::to_string(currentIrql) + ", above " +
                                         std::to_string(max));
  }
}

int CriticalRegionDepth() { return criticalRegions; }

void AtNextEntry(const std::string &routine, std::function<void()> action) {
  bool known = false;
  for (const char *name : kHookedRoutines) known = known || routine == name;
  if (!known) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "AtNextEntry of " + routine + ", which has no hook");
  std::lock_guard<std::mutex> hold(hookMutex);
  entryHooks[routine] = std::move(action);
}

void RunEntryHook(const char *routine) {
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> hold(hookMutex);
    auto it = entryHooks.find(routine);
    if (it == entryHooks.end()) return;
    action = std::move(it->second);
    entryHooks.erase(it);
  }
  action();
}

void ResetEntryHooks() {
  std::lock_guard<std::mutex> hold(hookMutex);
  entryHooks.clear();
}

}  // namespace hostk

extern "C" {

VOID KeBugCheckEx(ULONG code, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3, ULONG_PTR p4) {
  char text[128];
  snprintf(text, sizeof text, "KeBugCheckEx(%#lx, %#lx, %#lx, %#lx)", (unsigned long)p1,
           (unsigned long)p2, (unsigned long)p3, (unsigned long)p4);
  hostk::BugCheck(code, text);
}

KIRQL KeGetCurrentIrql(void) { return currentIrql; }

VOID KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql) {
  if (newIrql < currentIrql) {
    hostk::BugCheck(hostk::IRQL_NOT_LESS_OR_EQUAL,
                    "KeRaiseIrql to " + std::to_string(newIrql) + " from the higher IRQL " +
                        std::to_string(currentIrql));
  }
  *oldIrql = currentIrql;
  currentIrql = newIrql;
}

VOID KeLowerIrql(KIRQL newIrql) {
  if (newIrql > currentIrql) {
    hostk::BugCheck(hostk::IRQL_NOT_LESS_OR_EQUAL,
                    "KeLowerIrql to " + std::to_string(newIrql) + " from the lower IRQL " +
                        std::to_string(currentIrql));
  }
  KIRQL old = currentIrql;
  currentIrql = newIrql;
  // Interrupts held back by the IRQL are taken first, then the DPCs once it
  // drops below DISPATCH_LEVEL.
  if (newIrql < old) hostk::DeliverDeferredInterrupts();
  if (old >= DISPATCH_LEVEL && newIrql < DISPATCH_LEVEL) hostk::RunPendingDpcs();
}

VOID KeEnterCriticalRegion(void) {
  hostk::RequireIrqlAtMost(APC_LEVEL, "KeEnterCriticalRegion");
  ++criticalRegions;
}

VOID KeLeaveCriticalRegion(void) {
  hostk::RequireIrqlAtMost(APC_LEVEL, "KeLeaveCriticalRegion");
  if (criticalRegions == 0) {
    hostk::BugCheck(hostk::DRIVER_VERIFIER_DETECTED_VIOLATION,
                    "KeLeaveCriticalRegion without KeEnterCriticalRegion");
  }
  --criticalRegions;
}

VOID HostCheckPagedCode(const char *function) {
  if (currentIrql > APC_LEVEL) {
    hostk::BugCheck(hostk::IRQL_NOT_LESS_OR_EQUAL,
                    std::string("pageable routine ") + function + " entered at IRQL " +
                        std::to_string(currentIrql));
  }
}

VOID HostIrpAssert(int condition, const char *what) {
  if (!condition) hostk::BugCheck(hostk::NO_MORE_IRP_STACK_LOCATIONS, what);
}

}  // extern "C"
