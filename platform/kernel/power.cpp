// The power manager: power requests it sends for drivers, the hand-off rules
// of power requests, the worker threads that deliver requests to
// power-pageable devices at PASSIVE_LEVEL, and the holds a test puts on
// power work.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "devices.h"
#include "user_mode.h"

namespace hostk {
namespace {

std::mutex powerMutex;
std::set<std::pair<PIRP, PDEVICE_OBJECT>> startedNext;  // PoStartNextPowerIrp calls, per driver
std::vector<PowerRequestRecord> powerRequests;
std::vector<std::thread> workers;
// The request PoCallDriver is handing to IofCallDriver on this thread.
thread_local PIRP poCalling = nullptr;
// The machine is sending its S0 requests: the device requests drivers ask
// for meanwhile wait for a worker thread.
std::atomic<int> resuming{0};

// One hold of HoldPowerWork: whether it holds, and how much work waits at
// it. Read and changed under the dispatcher lock (WaitUntil, NotifyWaiters).
struct Gate {
  bool held = false;
  size_t waiting = 0;
};
Gate gates[3];

Gate &GateOf(PowerWork what) { return gates[static_cast<int>(what)]; }

bool Held(PowerWork what) {
  bool held = false;
  NotifyWaiters([&] { held = GateOf(what).held; });
  return held;
}

void AddWorker(std::function<void()> work) {
  std::lock_guard<std::mutex> hold(powerMutex);
  workers.emplace_back(std::move(work));
}

NTSTATUS CallThroughPo(PDEVICE_OBJECT device, PIRP irp) {
  PIRP saved = poCalling;
  poCalling = irp;
  NTSTATUS status = IofCallDriver(device, irp);
  poCalling = saved;
  return status;
}

struct RequestContext {
  PDEVICE_OBJECT device;
  UCHAR minor;
  POWER_STATE state;
  PREQUEST_POWER_COMPLETE callback;
  PVOID context;
  size_t record;
};

void CallBack(RequestContext *request, PIRP irp) {
  if (request->callback) {
    request->callback(request->device, request->minor, request->state, request->context,
                      &irp->IoStatus);
  }
  delete request;
  IoFreeIrp(irp);
}

// The power manager's own completion routine: hands the outcome to the
// requester's callback, then frees the request. A held callback runs later
// on a worker thread, at PASSIVE_LEVEL, which the callback must allow.
NTSTATUS RequestCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto *request = static_cast<RequestContext *>(context);
  {
    std::lock_guard<std::mutex> hold(powerMutex);
    if (request->record < powerRequests.size())
      powerRequests[request->record].status = irp->IoStatus.Status;
  }
  if (Held(PowerWork::Callback)) {
    AddWorker([request, irp] {
      PassPowerWork(PowerWork::Callback);
      CallBack(request, irp);
    });
  } else {
    CallBack(request, irp);
  }
  return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

void PassPowerWork(PowerWork what) {
  NotifyWaiters([what] { ++GateOf(what).waiting; });
  WaitUntil([what] { return !GateOf(what).held; });
  NotifyWaiters([what] { --GateOf(what).waiting; });
}

void ReleasePowerWork() {
  NotifyWaiters([] {
    for (Gate &gate : gates) gate.held = false;
  });
}

void HoldPowerWork(PowerWork what, bool hold) {
  NotifyWaiters([what, hold] { GateOf(what).held = hold; });
}

size_t HeldPowerWork(PowerWork what) {
  size_t waiting = 0;
  NotifyWaiters([&] { waiting = GateOf(what).waiting; });
  return waiting;
}

void WaitForHeldPowerWork(PowerWork what, size_t count) {
  WaitUntil([what, count] { return GateOf(what).waiting >= count; });
}

bool TakePoCall(PIRP irp) {
  if (poCalling != irp) return false;
  poCalling = nullptr;
  return true;
}

namespace {

// Query-power and set-power requests are the ones each driver hands on
// with PoStartNextPowerIrp, once per request.
bool NeedsStartNext(PIO_STACK_LOCATION location) {
  return location->MajorFunction == IRP_MJ_POWER &&
         (location->MinorFunction == IRP_MN_SET_POWER || location->MinorFunction == IRP_MN_QUERY_POWER);
}

bool StartedNext(PIRP irp, PDEVICE_OBJECT driver) {
  std::lock_guard<std::mutex> hold(powerMutex);
  return startedNext.count({irp, driver}) != 0;
}

}  // namespace

// A driver that skips its location never sees the request again, so it must
// have called PoStartNextPowerIrp already; one that copied its location may
// still call it in its completion routine.
void CheckPowerPassedDown(PIRP irp) {
  PDEVICE_OBJECT owner = DispatchingDevice(irp);
  if (!owner || !NeedsStartNext(IoGetNextIrpStackLocation(irp))) return;
  // A skip moved the current location up to the caller's (or past the top).
  bool skipped = irp->CurrentLocation > irp->StackCount ||
                 IoGetCurrentIrpStackLocation(irp)->DeviceObject != owner;
  if (skipped && !StartedNext(irp, owner)) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "power request passed down with its location skipped, without PoStartNextPowerIrp first");
  }
}

// Called as completion leaves a driver's location, after its completion
// routine (if any) has run: by then the driver must have called it.
void CheckPowerLeft(PIRP irp, PIO_STACK_LOCATION location) {
  if (!location->DeviceObject || !NeedsStartNext(location)) return;
  if (!StartedNext(irp, location->DeviceObject)) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "power request completed past a driver that did not call PoStartNextPowerIrp");
  }
}

void ForgetPowerIrp(PIRP irp) {
  std::lock_guard<std::mutex> hold(powerMutex);
  for (auto it = startedNext.begin(); it != startedNext.end();) {
    it = it->first == irp ? startedNext.erase(it) : std::next(it);
  }
}

std::vector<PowerRequestRecord> PowerRequests() {
  std::lock_guard<std::mutex> hold(powerMutex);
  return powerRequests;
}

// Power requests and work items may queue one another: both are drained
// until neither has anything left. What is held waits for its release.
void DrainPowerWork() {
  for (;;) {
    std::vector<std::thread> running;
    {
      std::lock_guard<std::mutex> hold(powerMutex);
      running.swap(workers);
    }
    if (running.empty()) {
      DrainWorkItems();
      std::lock_guard<std::mutex> hold(powerMutex);
      if (workers.empty()) break;
      continue;
    }
    for (auto &t : running) t.join();
  }
}

namespace {

std::vector<MachinePowerListener *> machineListeners;
std::atomic<bool> machinePowered{true};

// The boards hear of it first; then the Plug and Play operations that wait
// for S0 are woken.
void SetMachinePower(bool on) {
  std::vector<MachinePowerListener *> listeners;
  {
    std::lock_guard<std::mutex> hold(powerMutex);
    listeners = machineListeners;
  }
  for (MachinePowerListener *listener : listeners) listener->MachinePowerChanged(on);
  NotifyWaiters([on] { machinePowered = on; });
}

// While it lives, the machine is sending its S0 requests.
struct Resuming {
  Resuming() { ++resuming; }
  ~Resuming() { --resuming; }
};

}  // namespace

void AttachMachinePower(MachinePowerListener *listener) {
  std::lock_guard<std::mutex> hold(powerMutex);
  machineListeners.push_back(listener);
}

void DetachMachinePower(MachinePowerListener *listener) {
  std::lock_guard<std::mutex> hold(powerMutex);
  machineListeners.erase(std::remove(machineListeners.begin(), machineListeners.end(), listener),
                         machineListeners.end());
}

bool MachinePowered() { return machinePowered; }

void ResetPower() {
  ReleasePowerWork();
  DrainPowerWork();
  std::lock_guard<std::mutex> hold(powerMutex);
  powerRequests.clear();
  startedNext.clear();
  machinePowered = true;
}

IrpResult SendPower(PDEVICE_OBJECT pdo, UCHAR minor, POWER_STATE_TYPE type, POWER_STATE state) {
  return SendRequest(IoGetAttachedDevice(pdo), IRP_MJ_POWER, minor,
                     [type, state](PIRP, PIO_STACK_LOCATION location) {
                       location->Parameters.Power.Type = type;
                       location->Parameters.Power.State = state;
                       location->Parameters.Power.ShutdownType = PowerActionNone;
                     },
                     true);
}

IrpResult SendSetPower(PDEVICE_OBJECT pdo, POWER_STATE_TYPE type, POWER_STATE state) {
  return SendPower(pdo, IRP_MN_SET_POWER, type, state);
}

namespace {

// One row of the table per transition: the request entering it, and the S0
// request leaving it (none after a shutdown or restart).
struct TransitionRow {
  SystemTransition transition;
  const char *name;
  SystemPowerRequest entering;
  bool leaves;
  SYSTEM_POWER_STATE leftFrom;  // the leaving request's current state
};

constexpr TransitionRow kTransitions[] = {
    {SystemTransition::Sleep, "sleep",
     {PowerSystemSleeping3, PowerActionSleep, PowerSystemWorking, PowerSystemSleeping3, PowerSystemSleeping3},
     true, PowerSystemSleeping3},
    {SystemTransition::HybridSleep, "hybrid sleep",
     {PowerSystemHibernate, PowerActionHibernate, PowerSystemWorking, PowerSystemSleeping3, PowerSystemHibernate},
     true, PowerSystemSleeping3},
    {SystemTransition::Hibernate, "hibernation",
     {PowerSystemHibernate, PowerActionHibernate, PowerSystemWorking, PowerSystemHibernate, PowerSystemHibernate},
     true, PowerSystemHibernate},
    {SystemTransition::HybridShutdown, "hybrid shutdown",
     {PowerSystemHibernate, PowerActionHibernate, PowerSystemWorking, PowerSystemShutdown, PowerSystemHibernate},
     true, PowerSystemHibernate},
    {SystemTransition::Shutdown, "shutdown",
     {PowerSystemShutdown, PowerActionShutdownOff, PowerSystemWorking, PowerSystemShutdown, PowerSystemShutdown},
     false, PowerSystemShutdown},
    {SystemTransition::Restart, "restart",
     {PowerSystemShutdown, PowerActionShutdownReset, PowerSystemWorking, PowerSystemShutdown, PowerSystemShutdown},
     false, PowerSystemShutdown},
};

const TransitionRow &RowOf(SystemTransition transition) {
  for (const TransitionRow &row : kTransitions)
    if (row.transition == transition) return row;
  BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "no such system power transition");
}

}  // namespace

SystemPowerRequest Entering(SystemTransition transition) { return RowOf(transition).entering; }

bool Leaving(SystemTransition transition, SystemPowerRequest *request) {
  const TransitionRow &row = RowOf(transition);
  // Every way back to S0 is a "sleep" action from the state left.
  *request = SystemPowerRequest{PowerSystemWorking, PowerActionSleep, row.leftFrom, PowerSystemWorking,
                                PowerSystemWorking};
  return row.leaves;
}

std::string Describe(SystemTransition transition) { return RowOf(transition).name; }

std::vector<IrpResult> EnterSystemTransition(SystemTransition transition) {
  auto tree = LockDeviceTree(true);
  if (!MachinePowered()) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "the machine is not in S0");
  if (transition == SystemTransition::Shutdown || transition == SystemTransition::Restart)
    ShutdownSystem();
  std::vector<IrpResult> results;
  for (PDEVICE_OBJECT pdo : PdosWithStacks()) results.push_back(SendSystemPower(pdo, Entering(transition)));
  // What the requests queued runs while the boards still have power.
  DrainPowerWork();
  SetMachinePower(false);
  return results;
}

std::vector<IrpResult> LeaveSystemTransition(SystemTransition transition) {
  std::vector<IrpResult> results;
  {
    auto tree = LockDeviceTree(true);
    SystemPowerRequest leaving;
    if (!Leaving(transition, &leaving)) {
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "a shutdown or restart is left only by a boot");
    }
    if (MachinePowered()) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "the machine is in S0 already");
    SetMachinePower(true);
    Resuming resume;
    for (PDEVICE_OBJECT pdo : PdosWithStacks()) results.push_back(SendSystemPower(pdo, leaving));
  }
  // The device requests and work items the S0 requests caused go on beside
  // Plug and Play.
  DrainPowerWork();
  return results;
}

// The power manager's request, which Windows never fails for want of pool.
IrpResult SendSystemPower(PDEVICE_OBJECT pdo, const SystemPowerRequest &request) {
  return SendRequest(IoGetAttachedDevice(pdo), IRP_MJ_POWER, IRP_MN_SET_POWER,
                 [request](PIRP, PIO_STACK_LOCATION location) {
                   location->Parameters.Power.Type = SystemPowerState;
                   location->Parameters.Power.State.SystemState = request.state;
                   location->Parameters.Power.ShutdownType = request.shutdownType;
                   SYSTEM_POWER_STATE_CONTEXT context = {};
                   context.CurrentSystemState = request.current;
                   context.TargetSystemState = request.target;
                   context.EffectiveSystemState = request.effective;
                   location->Parameters.Power.SystemPowerStateContext = context;
                 },
                 true);
}

}  // namespace hostk

using namespace hostk;

extern "C" {

// The caller is the driver the current stack location belongs to: the one
// dispatching the request, or the one whose completion routine runs.
VOID PoStartNextPowerIrp(PIRP irp) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "PoStartNextPowerIrp");
  PDEVICE_OBJECT owner =
      irp->CurrentLocation <= irp->StackCount ? IoGetCurrentIrpStackLocation(irp)->DeviceObject : nullptr;
  std::lock_guard<std::mutex> hold(powerMutex);
  if (!startedNext.insert({irp, owner}).second) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "PoStartNextPowerIrp called twice for one request by the same driver");
  }
}

NTSTATUS PoCallDriver(PDEVICE_OBJECT device, PIRP irp) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "PoCallDriver");
  if (IoGetNextIrpStackLocation(irp)->MajorFunction != IRP_MJ_POWER) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "PoCallDriver with a request that is not a power request");
  }
  CheckPowerPassedDown(irp);
  // A power-pageable device gets its power requests at PASSIVE_LEVEL: from
  // a raised IRQL the request goes to a worker thread.
  if ((device->Flags & DO_POWER_PAGABLE) && KeGetCurrentIrql() > PASSIVE_LEVEL) {
    AddWorker([device, irp] { CallThroughPo(device, irp); });
    return STATUS_PENDING;
  }
  return CallThroughPo(device, irp);
}

NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                           PREQUEST_POWER_COMPLETE callback, PVOID context, PIRP *irpOut) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "PoRequestPowerIrp");
  if (minor != IRP_MN_SET_POWER && minor != IRP_MN_QUERY_POWER && minor != IRP_MN_WAIT_WAKE)
    return STATUS_INVALID_PARAMETER_2;
  PDEVICE_OBJECT top = IoGetAttachedDevice(device);
  PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
  if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  irp->RequestorMode = KernelMode;
  PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
  location->MajorFunction = IRP_MJ_POWER;
  location->MinorFunction = minor;
  location->Parameters.Power.Type = minor == IRP_MN_WAIT_WAKE ? SystemPowerState : DevicePowerState;
  location->Parameters.Power.State = state;
  auto *request = new RequestContext{device, minor, state, callback, context, 0};
  {
    std::lock_guard<std::mutex> hold(powerMutex);
    request->record = powerRequests.size();
    powerRequests.push_back(PowerRequestRecord{device, minor, state, STATUS_PENDING});
  }
  IoSetCompletionRoutine(irp, RequestCompletion, request, TRUE, TRUE, TRUE);
  if (irpOut) *irpOut = minor == IRP_MN_WAIT_WAKE ? irp : nullptr;
  // While the machine resumes, and while a test holds them, the requests go
  // out from a worker thread: the request that asked for one completes first.
  if (resuming || Held(PowerWork::Request)) {
    AddWorker([top, irp] {
      PassPowerWork(PowerWork::Request);
      PoCallDriver(top, irp);
    });
  } else {
    PoCallDriver(top, irp);
  }
  return STATUS_PENDING;
}

}  // extern "C"
