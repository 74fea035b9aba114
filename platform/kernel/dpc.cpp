// DPCs, spin locks, the device queue and the cancel spin lock.
//
// A queued DPC runs at DISPATCH_LEVEL as soon as the IRQL of the thread that
// queued it (or of any thread) drops below DISPATCH_LEVEL, unless a test
// holds DPCs back to run them later with RunDpcs. With processor threads the
// DPCs run on a thread of their own instead.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "machine.h"

namespace hostk {
namespace {

std::recursive_mutex dpcMutex;
std::condition_variable_any dpcChanged;
std::deque<PKDPC> dpcQueue;
bool dpcsHeld = false;
std::vector<PKDPC> dpcsRunning;  // on any thread
bool dpcThreadRuns = false;
bool dpcThreadStopping = false;
std::thread dpcThread;
thread_local bool runningDpcs = false;
thread_local int spinLocksHeld = 0;

// Marks a DPC as queued; KDPC.DpcData is the kernel's own field for this.
void *const kQueuedMark = reinterpret_cast<void *>(1);

KSPIN_LOCK cancelSpinLock;

ULONG_PTR Owner() {
  static thread_local char token;
  return reinterpret_cast<ULONG_PTR>(&token);
}

void Acquire(PKSPIN_LOCK lock, const char *routine) {
  ULONG_PTR me = Owner();
  if (__atomic_load_n(lock, __ATOMIC_SEQ_CST) == me) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, std::string(routine) + ": spin lock acquired again by its holder");
  }
  ULONG_PTR expected = 0;
  while (!__atomic_compare_exchange_n(lock, &expected, me, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
    expected = 0;
    std::this_thread::yield();
  }
  ++spinLocksHeld;
}

void Release(PKSPIN_LOCK lock, const char *routine) {
  if (__atomic_load_n(lock, __ATOMIC_SEQ_CST) != Owner()) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, std::string(routine) + ": spin lock released by a thread that does not hold it");
  }
  --spinLocksHeld;
  __atomic_store_n(lock, 0, __ATOMIC_RELEASE);
}

void RequireDispatch(const char *routine) {
  if (KeGetCurrentIrql() != DISPATCH_LEVEL) {
    BugCheck(IRQL_NOT_LESS_OR_EQUAL, std::string(routine) + " needs DISPATCH_LEVEL");
  }
}

}  // namespace

int SpinLocksHeld() { return spinLocksHeld; }

void RunDpcQueue(bool evenIfHeld) {
  if (runningDpcs) return;
  runningDpcs = true;
  for (;;) {
    PKDPC dpc;
    KDPC taken;  // as it was dequeued: a new queuing may change the object
    {
      std::lock_guard<std::recursive_mutex> hold(dpcMutex);
      if ((dpcsHeld && !evenIfHeld) || dpcQueue.empty()) break;
      dpc = dpcQueue.front();
      dpcQueue.pop_front();
      dpc->DpcData = nullptr;
      taken = *dpc;
      dpcsRunning.push_back(dpc);
    }
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    taken.DeferredRoutine(dpc, taken.DeferredContext, taken.SystemArgument1, taken.SystemArgument2);
    if (spinLocksHeld != 0) {
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "DPC returned holding a spin lock");
    }
    {
      std::lock_guard<std::recursive_mutex> hold(dpcMutex);
      dpcsRunning.erase(std::find(dpcsRunning.begin(), dpcsRunning.end(), dpc));
    }
    dpcChanged.notify_all();
    KeLowerIrql(old);
  }
  runningDpcs = false;
}

void RunPendingDpcs() {
  {
    std::lock_guard<std::recursive_mutex> hold(dpcMutex);
    if (dpcThreadRuns) return;  // the DPC thread's work
  }
  RunDpcQueue(false);
}

void HoldDpcs(bool hold) {
  {
    std::lock_guard<std::recursive_mutex> lock(dpcMutex);
    dpcsHeld = hold;
  }
  dpcChanged.notify_all();
  if (!hold && KeGetCurrentIrql() < DISPATCH_LEVEL) RunPendingDpcs();
}

void StartDpcThread() {
  std::lock_guard<std::recursive_mutex> hold(dpcMutex);
  if (dpcThreadRuns) return;
  dpcThreadRuns = true;
  dpcThreadStopping = false;
  dpcThread = std::thread([] {
    for (;;) {
      {
        std::unique_lock<std::recursive_mutex> lock(dpcMutex);
        dpcChanged.wait(lock, [] { return dpcThreadStopping || (!dpcsHeld && !dpcQueue.empty()); });
        if (dpcThreadStopping) return;
      }
      RunDpcQueue(false);
    }
  });
}

void StopDpcThread() {
  std::thread stopped;
  {
    std::lock_guard<std::recursive_mutex> hold(dpcMutex);
    if (!dpcThreadRuns) return;
    dpcThreadStopping = true;
    dpcThreadRuns = false;
    stopped.swap(dpcThread);
  }
  dpcChanged.notify_all();
  stopped.join();
}

bool DpcPendingWithin(const void *begin, size_t bytes) {
  auto first = static_cast<const char *>(begin);
  auto inside = [first, bytes](PKDPC dpc) {
    auto at = reinterpret_cast<const char *>(dpc);
    return at >= first && at < first + bytes;
  };
  std::lock_guard<std::recursive_mutex> hold(dpcMutex);
  return std::any_of(dpcQueue.begin(), dpcQueue.end(), inside) ||
         std::any_of(dpcsRunning.begin(), dpcsRunning.end(), inside);
}

void RunDpcs() { HoldDpcs(false); }

size_t QueuedDpcCount() {
  std::lock_guard<std::recursive_mutex> hold(dpcMutex);
  return dpcQueue.size();
}

void ResetDpcs() {
  StopDpcThread();
  std::lock_guard<std::recursive_mutex> hold(dpcMutex);
  dpcQueue.clear();
  dpcsHeld = false;
  dpcsRunning.clear();
  cancelSpinLock = 0;
}

}  // namespace hostk

using namespace hostk;

extern "C" {

VOID KeInitializeDpc(PRKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context) {
  std::lock_guard<std::recursive_mutex> hold(dpcMutex);
  for (PKDPC queued : dpcQueue) {
    if (queued == dpc) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "KeInitializeDpc of a queued DPC");
  }
  for (PKDPC running : dpcsRunning) {
    if (running == dpc) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "KeInitializeDpc of a running DPC");
  }
  memset(dpc, 0, sizeof *dpc);
  dpc->DeferredRoutine = routine;
  dpc->DeferredContext = context;
}

BOOLEAN KeInsertQueueDpc(PRKDPC dpc, PVOID argument1, PVOID argument2) {
  {
    std::lock_guard<std::recursive_mutex> hold(dpcMutex);
    if (dpc->DpcData) return FALSE;  // already queued: the new arguments are dropped
    dpc->DpcData = kQueuedMark;
    dpc->SystemArgument1 = argument1;
    dpc->SystemArgument2 = argument2;
    dpcQueue.push_back(dpc);
  }
  dpcChanged.notify_all();
  if (KeGetCurrentIrql() < DISPATCH_LEVEL) RunPendingDpcs();
  return TRUE;
}

// Every DPC queued before the call has run when it returns, even held ones.
VOID KeFlushQueuedDpcs(void) {
  RunEntryHook("KeFlushQueuedDpcs");
  RequireIrqlAtMost(PASSIVE_LEVEL, "KeFlushQueuedDpcs");
  RunDpcQueue(true);
  std::unique_lock<std::recursive_mutex> lock(dpcMutex);
  dpcChanged.wait(lock, [] { return dpcsRunning.empty(); });
}

VOID KeInitializeSpinLock(PKSPIN_LOCK lock) { *lock = 0; }

VOID KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "KeAcquireSpinLock");
  KeRaiseIrql(DISPATCH_LEVEL, oldIrql);
  Acquire(lock, "KeAcquireSpinLock");
}

VOID KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL oldIrql) {
  RequireDispatch("KeReleaseSpinLock");
  Release(lock, "KeReleaseSpinLock");
  KeLowerIrql(oldIrql);
}

VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK lock) {
  RequireDispatch("KeAcquireSpinLockAtDpcLevel");
  Acquire(lock, "KeAcquireSpinLockAtDpcLevel");
}

VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK lock) {
  RequireDispatch("KeReleaseSpinLockFromDpcLevel");
  Release(lock, "KeReleaseSpinLockFromDpcLevel");
}

VOID IoAcquireCancelSpinLock(PKIRQL oldIrql) { KeAcquireSpinLock(&cancelSpinLock, oldIrql); }

VOID IoReleaseCancelSpinLock(KIRQL oldIrql) { KeReleaseSpinLock(&cancelSpinLock, oldIrql); }

VOID KeInitializeDeviceQueue(PKDEVICE_QUEUE queue) {
  memset(queue, 0, sizeof *queue);
  queue->DeviceListHead.Flink = queue->DeviceListHead.Blink = &queue->DeviceListHead;
}

BOOLEAN KeInsertDeviceQueue(PKDEVICE_QUEUE queue, PKDEVICE_QUEUE_ENTRY entry) {
  RequireDispatch("KeInsertDeviceQueue");
  if (!queue->Busy) {
    // An idle queue only becomes busy: the caller starts the request now.
    queue->Busy = TRUE;
    entry->Inserted = FALSE;
    return FALSE;
  }
  PLIST_ENTRY head = &queue->DeviceListHead;
  entry->DeviceListEntry.Flink = head;
  entry->DeviceListEntry.Blink = head->Blink;
  head->Blink->Flink = &entry->DeviceListEntry;
  head->Blink = &entry->DeviceListEntry;
  entry->Inserted = TRUE;
  return TRUE;
}

// Takes one entry out wherever it is; the queue stays busy, even empty.
BOOLEAN KeRemoveEntryDeviceQueue(PKDEVICE_QUEUE queue, PKDEVICE_QUEUE_ENTRY entry) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "KeRemoveEntryDeviceQueue");
  (void)queue;
  if (!entry->Inserted) return FALSE;
  entry->DeviceListEntry.Blink->Flink = entry->DeviceListEntry.Flink;
  entry->DeviceListEntry.Flink->Blink = entry->DeviceListEntry.Blink;
  entry->Inserted = FALSE;
  return TRUE;
}

// Marks the request cancelled and calls its cancel routine, if it has one,
// holding the cancel spin lock; the routine must release it.
BOOLEAN IoCancelIrp(PIRP irp) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoCancelIrp");
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  irp->Cancel = TRUE;
  PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
  if (!routine) {
    IoReleaseCancelSpinLock(irql);
    return FALSE;
  }
  irp->CancelIrql = irql;
  int held = spinLocksHeld;
  routine(IoGetCurrentIrpStackLocation(irp)->DeviceObject, irp);
  if (spinLocksHeld != held - 1 || KeGetCurrentIrql() != irql) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "cancel routine returned without releasing the cancel spin lock at the request's CancelIrql");
  }
  return TRUE;
}

PKDEVICE_QUEUE_ENTRY KeRemoveDeviceQueue(PKDEVICE_QUEUE queue) {
  RequireDispatch("KeRemoveDeviceQueue");
  // Only the owner of the request being worked on takes the next one: the
  // kernel asserts that the queue is busy.
  if (!queue->Busy) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "KeRemoveDeviceQueue on a queue that is not busy");
  }
  PLIST_ENTRY head = &queue->DeviceListHead;
  if (head->Flink == head) {
    queue->Busy = FALSE;
    return nullptr;
  }
  PLIST_ENTRY first = head->Flink;
  head->Flink = first->Flink;
  first->Flink->Blink = head;
  auto *entry = CONTAINING_RECORD(first, KDEVICE_QUEUE_ENTRY, DeviceListEntry);
  entry->Inserted = FALSE;
  return entry;
}

}  // extern "C"
