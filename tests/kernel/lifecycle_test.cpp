// The parts of the kernel stand-in a device's longer life needs: a file
// object's cleanup and close, the misuse of work items (the driver's power
// tests run its own work item), cancelling a request with its cancel
// routine, the PnP manager's surprise removal and rebalance, and the
// machine's power transitions.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host_kernel.h"
#include "user_mode.h"

namespace {

// A small function driver on a PDO of the simulated bus: it passes Plug and
// Play and power requests down, and holds device-control requests in the
// device queue with a cancel routine until they are cancelled or a test
// completes them (CompleteHeld). With `askD0` it asks for D0 once a system
// request for S0 has come back, as a device's power policy owner does.
PDEVICE_OBJECT lower;
std::vector<std::string> journal;
bool askD0 = false;
std::atomic<int> d0Done{0};

void Note(const std::string &what) { journal.push_back(what); }

VOID CountCall(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK) {
  ++*static_cast<std::atomic<int> *>(context);
}

NTSTATUS AskForD0(PDEVICE_OBJECT, PIRP irp, PVOID) {
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  PoRequestPowerIrp(lower, IRP_MN_SET_POWER, hostk::DeviceState(PowerDeviceD0), CountCall, &d0Done, nullptr);
  PoStartNextPowerIrp(irp);
  return STATUS_CONTINUE_COMPLETION;
}

bool IsWake(PIO_STACK_LOCATION location) {
  return location->MinorFunction == IRP_MN_SET_POWER && location->Parameters.Power.Type == SystemPowerState &&
         location->Parameters.Power.State.SystemState == PowerSystemWorking;
}

VOID CancelHeld(PDEVICE_OBJECT device, PIRP irp) {
  Note("cancel");
  KeRemoveEntryDeviceQueue(&device->DeviceQueue, &irp->Tail.Overlay.DeviceQueueEntry);
  IoReleaseCancelSpinLock(irp->CancelIrql);
  irp->IoStatus.Status = STATUS_CANCELLED;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
  switch (location->MajorFunction) {
    case IRP_MJ_PNP: {
      Note("pnp " + std::to_string(location->MinorFunction));
      const bool removing = location->MinorFunction == IRP_MN_REMOVE_DEVICE;
      irp->IoStatus.Status = STATUS_SUCCESS;
      IoSkipCurrentIrpStackLocation(irp);
      NTSTATUS status = IoCallDriver(lower, irp);
      if (removing) {
        IoDetachDevice(lower);
        IoDeleteDevice(device);
      }
      return status;
    }
    case IRP_MJ_POWER:
      if (askD0 && IsWake(location)) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, AskForD0, nullptr, TRUE, TRUE, TRUE);
        return PoCallDriver(lower, irp);
      }
      PoStartNextPowerIrp(irp);
      IoSkipCurrentIrpStackLocation(irp);
      return PoCallDriver(lower, irp);
    case IRP_MJ_DEVICE_CONTROL: {
      KIRQL irql;
      IoAcquireCancelSpinLock(&irql);
      (VOID) IoSetCancelRoutine(irp, CancelHeld);
      IoMarkIrpPending(irp);
      if (!KeInsertDeviceQueue(&device->DeviceQueue, &irp->Tail.Overlay.DeviceQueueEntry))
        KeInsertDeviceQueue(&device->DeviceQueue, &irp->Tail.Overlay.DeviceQueueEntry);
      IoReleaseCancelSpinLock(irql);
      return STATUS_PENDING;
    }
    default:
      Note(location->MajorFunction == IRP_MJ_CREATE    ? "create"
           : location->MajorFunction == IRP_MJ_CLEANUP ? "cleanup"
                                                       : "close");
      irp->IoStatus.Status = STATUS_SUCCESS;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return STATUS_SUCCESS;
  }
}

void CompleteHeld(PDEVICE_OBJECT device) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  PIRP irp = CONTAINING_RECORD(KeRemoveDeviceQueue(&device->DeviceQueue), IRP, Tail.Overlay.DeviceQueueEntry);
  (VOID) IoSetCancelRoutine(irp, nullptr);
  IoReleaseCancelSpinLock(irql);
  irp->IoStatus.Status = STATUS_SUCCESS;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS Entry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  for (auto &entry : driver->MajorFunction) entry = Dispatch;
  return STATUS_SUCCESS;
}

const GUID kInterface = {0x1d5a0002, 0x2400, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}};

class LifecycleTest : public testing::Test {
 protected:
  void SetUp() override {
    journal.clear();
    askD0 = false;
    d0Done = 0;
    driver_ = hostk::LoadDriver(Entry, u"\\REGISTRY\\MACHINE\\life", nullptr);
    pdo_ = hostk::CreatePdo({});
    ASSERT_EQ(IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device_), STATUS_SUCCESS);
    lower = IoAttachDeviceToDeviceStack(device_, pdo_);
    device_->Flags &= ~DO_DEVICE_INITIALIZING;
    ASSERT_EQ(IoRegisterDeviceInterface(pdo_, &kInterface, nullptr, &link_), STATUS_SUCCESS);
    IoSetDeviceInterfaceState(&link_, TRUE);
    path_ = u"\\\\.\\" + hostk::Text(&link_).substr(4);  // "\??\X" opened as "\\.\X"
    HANDLE early = nullptr;
    hostk::user::ProcessScope scope(program_);
    EXPECT_EQ(hostk::user::OpenFile(path_, GENERIC_READ, &early), STATUS_NO_SUCH_DEVICE) << "not started yet";
    EXPECT_TRUE(journal.empty()) << "the driver sees no create";
    ASSERT_EQ(hostk::StartDevice(pdo_, nullptr, nullptr).ioStatus.Status, STATUS_SUCCESS);
    journal.clear();
  }
  void TearDown() override {
    if (pdo_->AttachedDevice) {
      IoSetDeviceInterfaceState(&link_, FALSE);
      hostk::SendPnp(pdo_, IRP_MN_REMOVE_DEVICE);
    }
    RtlFreeUnicodeString(&link_);
    hostk::DeletePdo(pdo_);
    hostk::UnloadDriver(driver_);
  }

  // Sends a device-control request on a thread of `process`, which the
  // driver holds; its status lands in `status`.
  static std::thread Request(hostk::user::Process &process, HANDLE file, std::atomic<NTSTATUS> *status) {
    std::thread requester([&process, file, status] {
      hostk::user::ProcessScope inProgram(process);
      *status = hostk::user::DeviceIoControl(file, 0x222000, nullptr, 0, nullptr, 0).status;
    });
    hostk::WaitForBlockedThreads(1);
    return requester;
  }

  hostk::user::Process program_{"program"};
  PDRIVER_OBJECT driver_ = nullptr;
  PDEVICE_OBJECT pdo_ = nullptr, device_ = nullptr;
  UNICODE_STRING link_ = {};
  std::u16string path_;
};

// A request held on a file: CancelIo runs its cancel routine, which takes
// it out of the device queue (the queue stays busy). The cleanup comes with
// the last handle, the close only once the last request in progress on the
// file is back, whichever thread completes it; a closed handle is gone for
// the requests after.
TEST_F(LifecycleTest, HeldRequestsEndCancelledOrCompletedAndTheCloseWaitsForThem) {
  hostk::user::ProcessScope scope(program_);
  HANDLE file = nullptr;
  ASSERT_EQ(hostk::user::OpenFile(path_, GENERIC_READ, &file), STATUS_SUCCESS);
  std::atomic<NTSTATUS> status{STATUS_PENDING};
  std::thread requester = Request(program_, file, &status);
  EXPECT_EQ(status, STATUS_PENDING);
  EXPECT_EQ(hostk::user::CancelIo(file), STATUS_SUCCESS);
  requester.join();
  EXPECT_EQ(status, STATUS_CANCELLED);
  EXPECT_TRUE(device_->DeviceQueue.Busy);
  EXPECT_TRUE(IsListEmpty(&device_->DeviceQueue.DeviceListHead));

  requester = Request(program_, file, &status);
  EXPECT_EQ(hostk::user::CloseHandle(file), STATUS_SUCCESS);
  EXPECT_EQ(journal, (std::vector<std::string>{"create", "cancel", "cleanup"}));
  CompleteHeld(device_);
  requester.join();
  EXPECT_EQ(status, STATUS_SUCCESS);
  EXPECT_EQ(journal, (std::vector<std::string>{"create", "cancel", "cleanup", "close"}));
  EXPECT_EQ(hostk::user::DeviceIoControl(file, 0x222000, nullptr, 0, nullptr, 0).status, STATUS_INVALID_HANDLE);
}

// A process that ends while a thread of it has a request in the driver: the
// request is cancelled and waited for before the handle's cleanup and close.
TEST_F(LifecycleTest, AProcessThatEndsCancelsItsRequestsBeforeItsHandlesClose) {
  auto ending = std::make_unique<hostk::user::Process>("ending");
  HANDLE file = nullptr;
  {
    hostk::user::ProcessScope scope(*ending);
    ASSERT_EQ(hostk::user::OpenFile(path_, GENERIC_READ, &file), STATUS_SUCCESS);
  }
  std::atomic<NTSTATUS> status{STATUS_PENDING};
  std::thread requester = Request(*ending, file, &status);
  ending.reset();
  requester.join();
  EXPECT_EQ(status, STATUS_CANCELLED);
  EXPECT_EQ(journal, (std::vector<std::string>{"create", "cancel", "cleanup", "close"}));
}

// Each hold keeps its work waiting until it is released: a power request
// asked for before the stack sees it, its callback once the bus has
// completed it, a work item before its routine runs.
TEST_F(LifecycleTest, HeldPowerWorkWaitsForItsRelease) {
  using hostk::PowerWork;
  std::atomic<int> called{0};
  PIO_WORKITEM item = IoAllocateWorkItem(device_);
  for (PowerWork what : {PowerWork::Request, PowerWork::Callback, PowerWork::WorkItem}) {
    SCOPED_TRACE(int(what));
    called = 0;
    size_t seen = hostk::BusRequests().size();
    hostk::HoldPowerWork(what, true);
    if (what == PowerWork::WorkItem) {
      auto count = [](PDEVICE_OBJECT, PVOID context) { ++*static_cast<std::atomic<int> *>(context); };
      IoQueueWorkItem(item, count, DelayedWorkQueue, &called);
    } else {
      EXPECT_EQ(PoRequestPowerIrp(lower, IRP_MN_SET_POWER, hostk::DeviceState(PowerDeviceD0), CountCall, &called,
                                  nullptr),
                STATUS_PENDING);
    }
    hostk::WaitForHeldPowerWork(what, 1);
    EXPECT_EQ(called, 0);
    EXPECT_EQ(hostk::BusRequests().size() - seen, what == PowerWork::Callback ? 1u : 0u);
    if (what == PowerWork::Callback) {
      EXPECT_EQ(hostk::PowerRequests().back().status, STATUS_SUCCESS) << "completed, its callback waiting";
    }
    hostk::HoldPowerWork(what, false);
    hostk::DrainPowerWork();
    EXPECT_EQ(called, 1);
    EXPECT_EQ(hostk::HeldPowerWork(what), 0u);
  }
  IoFreeWorkItem(item);
}

// While the machine sleeps, Plug and Play waits for S0. Once the S0 requests
// have gone, the device requests they caused may still be in flight, and
// Plug and Play goes on beside them.
TEST_F(LifecycleTest, PlugAndPlayWaitsForS0AndMeetsTheResume) {
  askD0 = true;
  hostk::EnterSystemTransition(hostk::SystemTransition::Sleep);
  std::thread query([this] { hostk::SendPnp(pdo_, IRP_MN_QUERY_STOP_DEVICE); });
  hostk::WaitForBlockedThreads(1);
  EXPECT_TRUE(journal.empty()) << "asleep: the query waits";
  hostk::HoldPowerWork(hostk::PowerWork::Request, true);
  std::thread resume([] { hostk::LeaveSystemTransition(hostk::SystemTransition::Sleep); });
  hostk::WaitForHeldPowerWork(hostk::PowerWork::Request, 1);  // the D0 request
  query.join();
  EXPECT_EQ(hostk::SendPnp(pdo_, IRP_MN_CANCEL_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(journal, (std::vector<std::string>{"pnp 5", "pnp 6"})) << "both while the D0 request waits";
  EXPECT_EQ(d0Done, 0);
  hostk::HoldPowerWork(hostk::PowerWork::Request, false);
  resume.join();
  EXPECT_EQ(d0Done, 1) << "the transition waits for it";
}

using LifecycleDeathTest = LifecycleTest;

TEST_F(LifecycleDeathTest, MisusedRoutinesStopTheRun) {
  const std::pair<std::function<void()>, const char *> cases[] = {
      {[this] {
         static KEVENT never;
         KeInitializeEvent(&never, NotificationEvent, FALSE);
         PIO_WORKITEM item = IoAllocateWorkItem(device_);
         auto wait = [](PDEVICE_OBJECT, PVOID) { KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr); };
         hostk::HoldPowerWork(hostk::PowerWork::WorkItem, true);
         IoQueueWorkItem(item, wait, DelayedWorkQueue, nullptr);
         IoQueueWorkItem(item, wait, DelayedWorkQueue, nullptr);
       },
       "STOP 0x000000C4: IoQueueWorkItem of a work item that is queued already"},
      {[this] {
         PIO_WORKITEM item = IoAllocateWorkItem(device_);
         hostk::HoldPowerWork(hostk::PowerWork::WorkItem, true);  // the worker cannot take it yet
         IoQueueWorkItem(item, [](PDEVICE_OBJECT, PVOID) {}, DelayedWorkQueue, nullptr);
         IoFreeWorkItem(item);
       },
       "STOP 0x000000C4: IoFreeWorkItem of a work item that is still queued"},
      {[this] {
         PIO_WORKITEM item = IoAllocateWorkItem(device_);
         IoQueueWorkItem(item, [](PDEVICE_OBJECT, PVOID) {
           KIRQL old;
           KeRaiseIrql(DISPATCH_LEVEL, &old);
         }, DelayedWorkQueue, nullptr);
         hostk::DrainPowerWork();
       },
       "STOP 0x0000000A: work item routine returned above PASSIVE_LEVEL"},
      {[] {
         IRP irp = {};
         IO_STACK_LOCATION location = {};
         irp.StackCount = 1;
         irp.CurrentLocation = 1;
         irp.Tail.Overlay.CurrentStackLocation = &location;
         PDRIVER_CANCEL keeps = [](PDEVICE_OBJECT, PIRP) {};
         (VOID) IoSetCancelRoutine(&irp, keeps);
         IoCancelIrp(&irp);
       },
       "STOP 0x000000C4: cancel routine returned without releasing the cancel spin lock"},
      {[this] {
         hostk::user::ProcessScope scope(program_);
         HANDLE file = nullptr;
         hostk::user::OpenFile(path_, GENERIC_READ, &file);
         hostk::SurpriseRemove(pdo_);
         hostk::SendPnp(pdo_, IRP_MN_REMOVE_DEVICE);
       },
       "STOP 0x000000C4: IRP_MN_REMOVE_DEVICE for a surprise-removed device whose handles are still open"},
      {[] {
         hostk::EnterSystemTransition(hostk::SystemTransition::Sleep);
         hostk::EnterSystemTransition(hostk::SystemTransition::Sleep);
       },
       "STOP 0x000000C4: the machine is not in S0"},
      {[] {
         hostk::EnterSystemTransition(hostk::SystemTransition::Shutdown);
         hostk::LeaveSystemTransition(hostk::SystemTransition::Shutdown);
       },
       "STOP 0x000000C4: a shutdown or restart is left only by a boot"},
  };
  for (const auto &[misuse, stop] : cases) EXPECT_DEATH(misuse(), stop) << stop;
}

}  // namespace
