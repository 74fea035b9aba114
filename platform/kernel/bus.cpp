// The simulated bus driver at the bottom of every device stack. It answers
// each request as a bus driver does, or as a test told it to, and can hold
// requests pending to complete them later from another thread.
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "devices.h"

namespace hostk {
namespace {

struct Held {
  PIRP irp;
  BusReply reply;
};

struct BusState {
  std::mutex mutex;
  std::vector<BusRequest> requests;
  std::map<std::tuple<PDEVICE_OBJECT, UCHAR, UCHAR>, BusReply> replies;
  std::vector<Held> held;
  std::map<PDEVICE_OBJECT, std::function<void(DEVICE_POWER_STATE)>> powerHooks;
};

BusState &State() {
  static BusState state;
  return state;
}

// What a bus driver does unasked: it starts the device it enumerated, fills
// in its capabilities and succeeds power changes. Every other request,
// the queries, cancels, stop and removals among them, it completes with the
// status the request carries, so a function driver that handled one must
// have set the status to success before passing it down.
bool DefaultReply(UCHAR major, UCHAR minor, BusReply *reply) {
  if (major == IRP_MJ_PNP) {
    if (minor == IRP_MN_START_DEVICE || minor == IRP_MN_QUERY_CAPABILITIES) {
      *reply = BusReply{};
      return true;
    }
    return false;
  }
  if (major == IRP_MJ_POWER) {
    if (minor == IRP_MN_SET_POWER || minor == IRP_MN_QUERY_POWER) {
      *reply = BusReply{};
      return true;
    }
  }
  return false;
}

void FillCapabilities(PDEVICE_OBJECT pdo, PIO_STACK_LOCATION location) {
  PDEVICE_CAPABILITIES caps = location->Parameters.DeviceCapabilities.Capabilities;
  if (!caps || caps->Size < sizeof(DEVICE_CAPABILITIES) || caps->Version != 1) return;
  PdoConfig config = ConfigOf(pdo);
  caps->Address = config.hasAddress ? config.address : 0xFFFFFFFF;
  caps->UINumber = 0xFFFFFFFF;
  caps->DeviceState[PowerSystemWorking] = PowerDeviceD0;
  for (int s = PowerSystemSleeping1; s < PowerSystemMaximum; ++s) caps->DeviceState[s] = PowerDeviceD3;
  caps->SystemWake = PowerSystemUnspecified;
  caps->DeviceWake = PowerDeviceUnspecified;
}

// A device set-power request the bus succeeds changes the hardware's power.
void ApplyDevicePower(PIO_STACK_LOCATION location, NTSTATUS status) {
  if (location->MajorFunction != IRP_MJ_POWER || location->MinorFunction != IRP_MN_SET_POWER ||
      location->Parameters.Power.Type != DevicePowerState || !NT_SUCCESS(status)) {
    return;
  }
  std::function<void(DEVICE_POWER_STATE)> hook;
  {
    std::lock_guard<std::mutex> hold(State().mutex);
    auto it = State().powerHooks.find(location->DeviceObject);
    if (it != State().powerHooks.end()) hook = it->second;
  }
  if (hook) hook(location->Parameters.Power.State.DeviceState);
}

void Complete(PIRP irp, const BusReply &reply) {
  PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
  ApplyDevicePower(location, reply.status);
  irp->IoStatus.Status = reply.status;
  irp->IoStatus.Information = reply.information;
  if (location->MajorFunction == IRP_MJ_POWER) PoStartNextPowerIrp(irp);
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

}  // namespace

NTSTATUS BusDispatch(PDEVICE_OBJECT pdo, PIRP irp) {
  PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
  UCHAR major = location->MajorFunction, minor = location->MinorFunction;
  BusState &state = State();
  BusReply reply;
  bool answered;
  {
    std::lock_guard<std::mutex> hold(state.mutex);
    state.requests.push_back(BusRequest{pdo, major, minor,
                                        {location->Parameters.Others.Argument1,
                                         location->Parameters.Others.Argument2,
                                         location->Parameters.Others.Argument3,
                                         location->Parameters.Others.Argument4}});
    auto it = state.replies.find({pdo, major, minor});
    answered = it != state.replies.end();
    if (answered) reply = it->second;
  }
  if (!answered && !DefaultReply(major, minor, &reply)) {
    NTSTATUS status = irp->IoStatus.Status;
    if (major == IRP_MJ_POWER) PoStartNextPowerIrp(irp);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  }
  if (major == IRP_MJ_PNP && minor == IRP_MN_QUERY_CAPABILITIES && NT_SUCCESS(reply.status))
    FillCapabilities(pdo, location);
  if (reply.hold) {
    IoMarkIrpPending(irp);
    {
      std::lock_guard<std::mutex> hold(state.mutex);
      state.held.push_back(Held{irp, reply});
    }
    NotifyWaiters();
    return STATUS_PENDING;
  }
  Complete(irp, reply);
  return reply.status;
}

std::vector<BusRequest> BusRequests() {
  std::lock_guard<std::mutex> hold(State().mutex);
  return State().requests;
}

void SetBusReply(PDEVICE_OBJECT pdo, UCHAR major, UCHAR minor, const BusReply &reply) {
  std::lock_guard<std::mutex> hold(State().mutex);
  State().replies[{pdo, major, minor}] = reply;
}

size_t HeldRequestCount() {
  std::lock_guard<std::mutex> hold(State().mutex);
  return State().held.size();
}

void WaitForHeldRequests(size_t count) {
  WaitUntil([count] {
    std::lock_guard<std::mutex> hold(State().mutex);
    return State().held.size() >= count;
  });
}

void CompleteHeldRequests(KIRQL irql) {
  std::vector<Held> held;
  {
    std::lock_guard<std::mutex> hold(State().mutex);
    held.swap(State().held);
  }
  std::thread completer([&held, irql] {
    for (const Held &h : held) {
      KIRQL old;
      KeRaiseIrql(irql, &old);
      Complete(h.irp, h.reply);
      KeLowerIrql(old);
    }
  });
  completer.join();
}

void OnDevicePower(PDEVICE_OBJECT pdo, std::function<void(DEVICE_POWER_STATE)> hook) {
  std::lock_guard<std::mutex> hold(State().mutex);
  State().powerHooks[pdo] = std::move(hook);
}

void ResetBus() {
  std::lock_guard<std::mutex> hold(State().mutex);
  State().requests.clear();
  State().replies.clear();
  State().held.clear();
  State().powerHooks.clear();
}

}  // namespace hostk
