// Requests through a stack of three device objects: stack locations,
// completion routines and their order, pending propagation, and the
// verifier's stops.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "host_kernel.h"

namespace {

// A driver whose behaviour each test scripts: what its dispatch routine does
// with a request, and a log of what ran.
std::vector<std::string> journal;

struct Layer {
  PDRIVER_OBJECT driver = nullptr;
  PDEVICE_OBJECT device = nullptr;
  PDEVICE_OBJECT lower = nullptr;
};

Layer middle, top;

enum class Action {
  Skip,
  CopyWithRoutine,
  CopyWithRoutineAndPend,
  CompleteSuccess,
  EnterCriticalRegion,
  // Power requests, passed down with PoCallDriver unless said otherwise.
  PowerSkip,              // PoStartNextPowerIrp, then skip
  PowerSkipUnstarted,     // skip without PoStartNextPowerIrp
  PowerSkipIoCallDriver,  // PoStartNextPowerIrp, skip, IoCallDriver
  PowerCopyStartTwice,    // PoStartNextPowerIrp, copy, and again in the routine
  PowerCopyUnstarted,     // copy with a routine that never calls it
};
Action middleAction = Action::Skip;
Action topAction = Action::Skip;
NTSTATUS routineResult = STATUS_SUCCESS;

NTSTATUS Routine(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  journal.push_back(std::string("routine of ") + static_cast<const char *>(context) +
                    (device == top.device      ? " (top)"
                     : device == middle.device ? " (middle)"
                                               : " (none)") +
                    (irp->PendingReturned ? " pending-returned" : ""));
  if (irp->PendingReturned && routineResult != STATUS_MORE_PROCESSING_REQUIRED)
    IoMarkIrpPending(irp);
  return routineResult;
}

NTSTATUS StartNextRoutine(PDEVICE_OBJECT, PIRP irp, PVOID) {
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  PoStartNextPowerIrp(irp);
  return STATUS_SUCCESS;
}

NTSTATUS ActOnPower(Layer &layer, Action action, PIRP irp) {
  switch (action) {
    case Action::PowerSkip:
    case Action::PowerSkipIoCallDriver:
      PoStartNextPowerIrp(irp);
      IoSkipCurrentIrpStackLocation(irp);
      return action == Action::PowerSkip ? PoCallDriver(layer.lower, irp) : IoCallDriver(layer.lower, irp);
    case Action::PowerSkipUnstarted:
      IoSkipCurrentIrpStackLocation(irp);
      return PoCallDriver(layer.lower, irp);
    default:
      if (action == Action::PowerCopyStartTwice) PoStartNextPowerIrp(irp);
      IoCopyCurrentIrpStackLocationToNext(irp);
      IoSetCompletionRoutine(irp, action == Action::PowerCopyUnstarted ? Routine : StartNextRoutine,
                             const_cast<char *>("power"), TRUE, TRUE, TRUE);
      return PoCallDriver(layer.lower, irp);
  }
}

NTSTATUS Act(Layer &layer, Action action, PIRP irp, const char *name) {
  journal.push_back(std::string("dispatch ") + name);
  switch (action) {
    case Action::Skip:
      IoSkipCurrentIrpStackLocation(irp);
      return IoCallDriver(layer.lower, irp);
    case Action::CopyWithRoutine:
    case Action::CopyWithRoutineAndPend: {
      IoCopyCurrentIrpStackLocationToNext(irp);
      IoSetCompletionRoutine(irp, Routine, const_cast<char *>(name), TRUE, TRUE, TRUE);
      if (action == Action::CopyWithRoutineAndPend) IoMarkIrpPending(irp);
      NTSTATUS status = IoCallDriver(layer.lower, irp);
      return action == Action::CopyWithRoutineAndPend ? STATUS_PENDING : status;
    }
    case Action::EnterCriticalRegion:
      KeEnterCriticalRegion();  // and never leaves it
      [[fallthrough]];
    case Action::CompleteSuccess:
      irp->IoStatus.Status = STATUS_SUCCESS;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return STATUS_SUCCESS;
    default:
      return ActOnPower(layer, action, irp);
  }
}

NTSTATUS MiddleDispatch(PDEVICE_OBJECT, PIRP irp) { return Act(middle, middleAction, irp, "middle"); }
NTSTATUS TopDispatch(PDEVICE_OBJECT, PIRP irp) { return Act(top, topAction, irp, "top"); }

template <PDRIVER_DISPATCH dispatch>
NTSTATUS Entry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  for (auto &entry : driver->MajorFunction) entry = dispatch;
  return STATUS_SUCCESS;
}

class IrpTest : public testing::Test {
 protected:
  void SetUp() override {
    journal.clear();
    routineResult = STATUS_SUCCESS;
    pdo_ = hostk::CreatePdo({});
    middle.driver = hostk::LoadDriver(Entry<MiddleDispatch>, u"\\REGISTRY\\MACHINE\\middle", nullptr);
    top.driver = hostk::LoadDriver(Entry<TopDispatch>, u"\\REGISTRY\\MACHINE\\top", nullptr);
    for (Layer *layer : {&middle, &top}) {
      ASSERT_EQ(IoCreateDevice(layer->driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &layer->device),
                STATUS_SUCCESS);
      layer->lower = IoAttachDeviceToDeviceStack(layer->device, pdo_);
      layer->device->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
    }
  }
  void TearDown() override {
    for (Layer *layer : {&top, &middle}) {
      IoDetachDevice(layer->lower);
      IoDeleteDevice(layer->device);
      hostk::UnloadDriver(layer->driver);
    }
    hostk::DeletePdo(pdo_);
  }
  PDEVICE_OBJECT pdo_ = nullptr;
};

// Skipped and copied locations reach the bus unchanged; completion routines
// run lowest first, each with the device of the driver that set it; where a
// driver pends with a routine and the one above skips, the I/O manager marks
// the top location pending itself.
TEST_F(IrpTest, RequestsGoDownUnchangedAndComeBackLowestFirst) {
  // What the middle and top drivers do, then what the send returns, whether
  // the request was pending, and the journal.
  const std::tuple<Action, Action, NTSTATUS, bool, std::vector<std::string>> cases[] = {
      {Action::Skip, Action::Skip, STATUS_NOT_SUPPORTED, false, {"dispatch top", "dispatch middle"}},
      {Action::CopyWithRoutine, Action::CopyWithRoutine, STATUS_NOT_SUPPORTED, false,
       {"dispatch top", "dispatch middle", "routine of middle (middle)", "routine of top (top)"}},
      {Action::CopyWithRoutineAndPend, Action::Skip, STATUS_PENDING, true,
       {"dispatch top", "dispatch middle", "routine of middle (middle)"}},
  };
  static int marker;
  for (const auto &[middle, upper, returned, pendingReturned, expected] : cases) {
    journal.clear();
    middleAction = middle;
    topAction = upper;
    hostk::IrpResult result = hostk::SendIrp(top.device, IRP_MJ_PNP, 0x14, [](PIRP, PIO_STACK_LOCATION location) {
      location->Parameters.Others.Argument2 = &marker;
    });
    EXPECT_EQ(std::make_tuple(result.completed, result.returned, result.pendingReturned, journal),
              std::make_tuple(true, returned, pendingReturned, expected));
    EXPECT_EQ(hostk::BusRequests().back().minor, 0x14);
    EXPECT_EQ(hostk::BusRequests().back().arguments[1], &marker);
  }
}

// The bus starts its device and fills in capabilities; every other Plug and
// Play code it completes with the status the request carries, whatever a
// driver above set there.
TEST_F(IrpTest, TheBusCompletesCodesItDoesNotHandleWithTheStatusItFinds) {
  middleAction = topAction = Action::Skip;
  // The code, the status it carries down, the status it completes with.
  const std::tuple<UCHAR, NTSTATUS, NTSTATUS> cases[] = {
      {IRP_MN_START_DEVICE, STATUS_NOT_SUPPORTED, STATUS_SUCCESS},
      {IRP_MN_QUERY_CAPABILITIES, STATUS_NOT_SUPPORTED, STATUS_SUCCESS},
      {IRP_MN_QUERY_STOP_DEVICE, STATUS_NOT_SUPPORTED, STATUS_NOT_SUPPORTED},
      {IRP_MN_SURPRISE_REMOVAL, STATUS_NOT_SUPPORTED, STATUS_NOT_SUPPORTED},
      {IRP_MN_QUERY_PNP_DEVICE_STATE, STATUS_BUFFER_OVERFLOW, STATUS_BUFFER_OVERFLOW},
  };
  for (const auto &[minor, carried, completed] : cases) {
    auto carry = [status = carried](PIRP irp, PIO_STACK_LOCATION) { irp->IoStatus.Status = status; };
    EXPECT_EQ(hostk::SendIrp(top.device, IRP_MJ_PNP, minor, carry).ioStatus.Status, completed) << int(minor);
  }
}

// A routine's STATUS_MORE_PROCESSING_REQUIRED stops the walk until the request
// is completed again. A warning takes the error path: the originator's
// success-only routine, which gets no device, does not run.
TEST_F(IrpTest, MoreProcessingRequiredStopsTheWalkAndWarningsTakeTheErrorPath) {
  middleAction = topAction = Action::CopyWithRoutine;
  routineResult = STATUS_MORE_PROCESSING_REQUIRED;
  PIRP irp = IoAllocateIrp(top.device->StackSize, FALSE);
  irp->IoStatus.Status = STATUS_BUFFER_OVERFLOW;
  IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_PNP;
  IoGetNextIrpStackLocation(irp)->MinorFunction = IRP_MN_QUERY_PNP_DEVICE_STATE;
  int calls = 0;
  IoSetCompletionRoutine(
      irp, [](PDEVICE_OBJECT device, PIRP, PVOID context) -> NTSTATUS {
        ++*static_cast<int *>(context);
        EXPECT_EQ(device, nullptr);
        return STATUS_MORE_PROCESSING_REQUIRED;
      },
      &calls, TRUE, FALSE, FALSE);
  IoCallDriver(top.device, irp);
  EXPECT_EQ(journal.back(), "routine of middle (middle)") << "the walk stopped at the middle";
  routineResult = STATUS_SUCCESS;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  EXPECT_EQ(journal.back(), "routine of top (top)");
  EXPECT_EQ(calls, 0) << "a success-only routine must not see a warning";
  IoFreeIrp(irp);
}

// Without pool a request is not sent, unless it comes from the Plug and Play
// or power manager, whose requests Windows never fails at a driver's expense.
TEST_F(IrpTest, OnlyTheManagersRequestsGetThroughWithoutPool) {
  middleAction = topAction = Action::Skip;
  hostk::FailAllocationsFrom(1);
  hostk::IrpResult refused = hostk::SendIrp(top.device, IRP_MJ_PNP, IRP_MN_QUERY_PNP_DEVICE_STATE);
  EXPECT_EQ(std::make_tuple(refused.completed, refused.returned, refused.ioStatus.Status),
            std::make_tuple(false, STATUS_INSUFFICIENT_RESOURCES, STATUS_INSUFFICIENT_RESOURCES));
  EXPECT_TRUE(journal.empty());

  const uint64_t attempts = hostk::Pool().attempts;
  EXPECT_TRUE(hostk::SendPnp(pdo_, IRP_MN_QUERY_PNP_DEVICE_STATE).completed);
  middleAction = topAction = Action::PowerSkip;  // handed on as a power request
  EXPECT_TRUE(hostk::SendSetPower(pdo_, SystemPowerState, hostk::SystemState(PowerSystemWorking)).completed);
  EXPECT_EQ(hostk::Pool().attempts, attempts + 2) << "counted all the same";
  EXPECT_EQ(journal, (std::vector<std::string>{"dispatch top", "dispatch middle", "dispatch top",
                                               "dispatch middle"}));
  hostk::FailAllocationsFrom(0);
}

// A request completed twice, one with a location fewer than the stack's
// drivers copy into, a dispatch routine that leaves a critical region
// entered, and query-power or set-power requests not handed on once with
// PoStartNextPowerIrp (before a driver skips its location or in its
// completion routine, as the driver's own power tests do both ways) and
// PoCallDriver. A wait-wake request needs no PoStartNextPowerIrp.
TEST_F(IrpTest, TheVerifierStopsMisuse) {
  topAction = middleAction = Action::PowerSkipUnstarted;
  EXPECT_TRUE(hostk::SendIrp(top.device, IRP_MJ_POWER, IRP_MN_WAIT_WAKE).completed);
  // A request of its own, with room for `locations` drivers, completed once
  // more after the stack when `again`.
  auto send = [](CCHAR locations, bool again) {
    return [locations, again] {
      PIRP irp = IoAllocateIrp(locations, FALSE);
      IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_PNP;
      IoCallDriver(top.device, irp);
      if (again) IoCompleteRequest(irp, IO_NO_INCREMENT);
    };
  };
  auto setPower = [] { hostk::SendIrp(top.device, IRP_MJ_POWER, IRP_MN_SET_POWER); };
  // What the middle and top drivers do, the request sent, the stop it meets.
  const std::tuple<Action, Action, std::function<void()>, const char *> cases[] = {
      {Action::CompleteSuccess, Action::Skip, send(3, true), "STOP 0x00000044"},
      {Action::CopyWithRoutine, Action::CopyWithRoutine, send(CCHAR(top.device->StackSize - 1), false),
       "STOP 0x00000035"},
      {Action::Skip, Action::EnterCriticalRegion, [] { hostk::SendIrp(top.device, IRP_MJ_PNP, 0); },
       "STOP 0x000000C4: dispatch routine returned with its critical regions unbalanced"},
      {Action::PowerSkip, Action::PowerCopyStartTwice, setPower, "STOP 0x000000C4: PoStartNextPowerIrp called twice"},
      {Action::PowerSkip, Action::PowerSkipUnstarted, setPower,
       "STOP 0x000000C4: .*skipped, without PoStartNextPowerIrp"},
      {Action::PowerSkip, Action::PowerCopyUnstarted, setPower, "STOP 0x000000C4: .*did not call PoStartNextPowerIrp"},
      {Action::PowerSkip, Action::PowerSkipIoCallDriver, setPower, "STOP 0x000000C4: .*without PoCallDriver"},
  };
  for (const auto &[middle, upper, sendIt, stop] : cases) {
    SCOPED_TRACE(stop);
    middleAction = middle;
    topAction = upper;
    EXPECT_DEATH(sendIt(), stop);
  }
}

}  // namespace
