// I/O request packets: allocation, passing down a stack, and completion with
// the real walk over the stack locations.
#include <map>
#include <mutex>

#include "machine.h"

namespace {

constexpr CSHORT kIoTypeIrp = 6;
constexpr ULONG kIrpTag = 0x20707249;  // "Irp "

std::mutex liveMutex;
std::map<PIRP, bool> liveIrps;  // allocated and not freed

// The requests inside dispatch routines on this thread, innermost last.
thread_local std::vector<std::pair<PIRP, PDEVICE_OBJECT>> dispatching;

}  // namespace

namespace hostk {

PDEVICE_OBJECT DispatchingDevice(PIRP irp) {
  for (auto it = dispatching.rbegin(); it != dispatching.rend(); ++it)
    if (it->first == irp) return it->second;
  return nullptr;
}

void ListIrpLeaks(std::vector<std::string> *out) {
  std::lock_guard<std::mutex> hold(liveMutex);
  for (const auto &entry : liveIrps) {
    (void)entry;
    out->push_back("IRP allocated and never freed (never completed?)");
  }
}

void ResetIrps() {
  std::lock_guard<std::mutex> hold(liveMutex);
  liveIrps.clear();
}

namespace {

NTSTATUS CaptureCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto *result = static_cast<IrpResult *>(context);
  IO_STATUS_BLOCK ioStatus = irp->IoStatus;
  bool pendingReturned = irp->PendingReturned != 0;
  NotifyWaiters([&] {
    result->ioStatus = ioStatus;
    result->pendingReturned = pendingReturned;
    result->completed = true;
  });
  // The originator keeps the IRP and frees it.
  return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

IrpResult SendIrp(PDEVICE_OBJECT device, UCHAR major, UCHAR minor,
                  const std::function<void(PIRP, PIO_STACK_LOCATION)> &setup) {
  return SendRequest(device, major, minor, setup, false);
}

IrpResult SendRequest(PDEVICE_OBJECT device, UCHAR major, UCHAR minor,
                      const std::function<void(PIRP, PIO_STACK_LOCATION)> &setup, bool fromReserve,
                      const std::function<void(PIRP, bool)> &track) {
  IrpResult result;
  PIRP irp;
  {
    PoolReserve reserve(fromReserve);
    irp = IoAllocateIrp(device->StackSize, FALSE);
  }
  if (!irp) {
    // Nothing is sent.
    result.returned = result.ioStatus.Status = STATUS_INSUFFICIENT_RESOURCES;
    return result;
  }
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  irp->RequestorMode = KernelMode;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = major;
  next->MinorFunction = minor;
  if (setup) setup(irp, next);
  IoSetCompletionRoutine(irp, CaptureCompletion, &result, TRUE, TRUE, TRUE);
  if (track) track(irp, true);
  result.returned = major == IRP_MJ_POWER ? PoCallDriver(device, irp) : IoCallDriver(device, irp);
  if (result.returned == STATUS_PENDING) {
    WaitForCompletion([&result] { return result.completed; });
  } else {
    if (!result.completed) {
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
               "dispatch routine returned " + std::to_string(result.returned) +
                   " without completing the request");
    }
    if (result.returned != result.ioStatus.Status) {
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
               "dispatch routine returned a status different from the request's final status");
    }
  }
  if (track) track(irp, false);
  IoFreeIrp(irp);
  return result;
}

}  // namespace hostk

using namespace hostk;

extern "C" {

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota) {
  (void)chargeQuota;
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateIrp");
  if (stackSize < 1) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "IoAllocateIrp without locations");
  size_t size = sizeof(IRP) + size_t(stackSize) * sizeof(IO_STACK_LOCATION);
  auto *irp = static_cast<PIRP>(AllocateSystem(NonPagedPool, size, kIrpTag));
  if (!irp) return nullptr;
  memset(irp, 0, size);
  irp->Type = kIoTypeIrp;
  irp->Size = USHORT(size);
  irp->StackCount = stackSize;
  irp->CurrentLocation = CHAR(stackSize + 1);
  auto *locations = reinterpret_cast<PIO_STACK_LOCATION>(irp + 1);
  irp->Tail.Overlay.CurrentStackLocation = locations + stackSize;
  std::lock_guard<std::mutex> hold(liveMutex);
  liveIrps[irp] = true;
  return irp;
}

VOID IoFreeIrp(PIRP irp) {
  {
    std::lock_guard<std::mutex> hold(liveMutex);
    if (!liveIrps.erase(irp)) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "IoFreeIrp of an unknown IRP");
  }
  ForgetPowerIrp(irp);
  FreeSystem(irp, kIrpTag);
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT device, PIRP irp) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IofCallDriver");
  irp->CurrentLocation--;
  if (irp->CurrentLocation <= 0) {
    BugCheck(NO_MORE_IRP_STACK_LOCATIONS, "IofCallDriver with no stack location left");
  }
  PIO_STACK_LOCATION location = --irp->Tail.Overlay.CurrentStackLocation;
  location->DeviceObject = device;
  if (!TakePoCall(irp) && location->MajorFunction == IRP_MJ_POWER && DispatchingDevice(irp)) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "power request passed down without PoCallDriver");
  }
  PDRIVER_DISPATCH dispatch = device->DriverObject->MajorFunction[location->MajorFunction];
  KIRQL before = KeGetCurrentIrql();
  int locksBefore = SpinLocksHeld();
  int regionsBefore = CriticalRegionDepth();
  dispatching.emplace_back(irp, device);
  NTSTATUS status = dispatch(device, irp);
  dispatching.pop_back();
  if (SpinLocksHeld() != locksBefore) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "dispatch routine returned holding a spin lock");
  }
  if (CriticalRegionDepth() != regionsBefore) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "dispatch routine returned with its critical regions unbalanced");
  }
  if (KeGetCurrentIrql() != before) {
    BugCheck(IRQL_NOT_LESS_OR_EQUAL, "dispatch routine returned at another IRQL than it was called");
  }
  return status;
}

VOID IofCompleteRequest(PIRP irp, CCHAR priorityBoost) {
  (void)priorityBoost;
  RequireIrqlAtMost(DISPATCH_LEVEL, "IofCompleteRequest");
  // A request walked to the top already has no location left to complete;
  // only one handed back by STATUS_MORE_PROCESSING_REQUIRED may be completed
  // again.
  if (irp->CurrentLocation > irp->StackCount) {
    BugCheck(MULTIPLE_IRP_COMPLETE_REQUESTS, "IofCompleteRequest of a request already completed");
  }
  if (irp->CancelRoutine) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "request completed with its cancel routine set");
  }
  if (irp->IoStatus.Status == STATUS_PENDING) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "request completed with STATUS_PENDING");
  }
  // Walk up from the completing driver's location. Before each routine runs
  // the current location moves up one, so the routine sees the location of
  // the driver that set it.
  while (irp->CurrentLocation <= irp->StackCount) {
    PIO_STACK_LOCATION location = irp->Tail.Overlay.CurrentStackLocation;
    CheckPowerLeft(irp, location);
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
    bool above = irp->CurrentLocation <= irp->StackCount;
    irp->PendingReturned = (location->Control & SL_PENDING_RETURNED) != 0;
    NTSTATUS status = irp->IoStatus.Status;
    UCHAR control = location->Control;
    PIO_COMPLETION_ROUTINE routine = location->CompletionRoutine;
    PVOID context = location->Context;
    bool invoke = routine && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                              (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                              (irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
    // The finished location is scrubbed: a routine must not read it.
    location->MinorFunction = 0xFF;
    location->Control = 0;
    location->FileObject = nullptr;
    location->CompletionRoutine = nullptr;
    location->Context = nullptr;
    if (invoke) {
      PDEVICE_OBJECT setter = above ? irp->Tail.Overlay.CurrentStackLocation->DeviceObject : nullptr;
      if (routine(setter, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
    } else if (irp->PendingReturned && above) {
      IoMarkIrpPending(irp);
    }
  }
}

}  // extern "C"
