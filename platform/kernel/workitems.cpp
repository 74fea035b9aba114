// Work items: routines a driver has run at PASSIVE_LEVEL on a system worker
// thread, each holding a reference on its device object until it returns,
// so that the device object outlives a routine that is still running when
// its device is deleted [MS:nf-wdm-ioqueueworkitem].
#include <mutex>
#include <thread>

#include "machine.h"

struct _IO_WORKITEM {
  PDEVICE_OBJECT device;
  bool queued;  // queued and its routine not yet called
};

namespace hostk {
namespace {

constexpr ULONG kWorkItemTag = 0x6B726F57;  // "Work"

std::mutex workMutex;
std::vector<std::thread> workers;

void RunWorkItem(PIO_WORKITEM item, PIO_WORKITEM_ROUTINE routine, PVOID context) {
  PDEVICE_OBJECT device = item->device;
  PassPowerWork(PowerWork::WorkItem);
  {
    // From here on the routine may queue the item again, or free it.
    std::lock_guard<std::mutex> hold(workMutex);
    item->queued = false;
  }
  routine(device, context);
  if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
    BugCheck(IRQL_NOT_LESS_OR_EQUAL, "work item routine returned above PASSIVE_LEVEL");
  }
  if (SpinLocksHeld() != 0 || CriticalRegionDepth() != 0) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "work item routine returned holding a spin lock or in a critical region");
  }
  DereferenceDevice(device);
}

}  // namespace

// Held work items are waited for until they are released.
void DrainWorkItems() {
  for (;;) {
    std::vector<std::thread> running;
    {
      std::lock_guard<std::mutex> hold(workMutex);
      running.swap(workers);
    }
    if (running.empty()) return;
    for (auto &t : running) t.join();
  }
}

void ResetWorkItems() {
  ReleasePowerWork();
  DrainWorkItems();
}

}  // namespace hostk

using namespace hostk;

extern "C" {

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT device) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateWorkItem");
  auto *item = static_cast<PIO_WORKITEM>(AllocateSystem(NonPagedPool, sizeof(_IO_WORKITEM), kWorkItemTag));
  if (!item) return nullptr;
  item->device = device;
  item->queued = false;
  return item;
}

VOID IoQueueWorkItem(PIO_WORKITEM item, PIO_WORKITEM_ROUTINE routine, WORK_QUEUE_TYPE queueType,
                     PVOID context) {
  (void)queueType;
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoQueueWorkItem");
  if (!routine) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "IoQueueWorkItem without a routine");
  std::lock_guard<std::mutex> hold(workMutex);
  if (item->queued) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "IoQueueWorkItem of a work item that is queued already");
  }
  item->queued = true;
  ReferenceDevice(item->device);
  workers.emplace_back([item, routine, context] { RunWorkItem(item, routine, context); });
}

VOID IoFreeWorkItem(PIO_WORKITEM item) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoFreeWorkItem");
  {
    std::lock_guard<std::mutex> hold(workMutex);
    if (item->queued) {
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "IoFreeWorkItem of a work item that is still queued");
    }
  }
  FreeSystem(item, kWorkItemTag);
}

}  // extern "C"
