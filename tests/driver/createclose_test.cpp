// The cleanup's sweep of the device queue: idle, busy with nothing queued, and
// busy with requests of this handle and another, queued here as a queuing
// routine would (the driver queues the port requests it holds while stopped).
#include "event_program.h"

namespace diotest {
namespace {

// A request waiting in the queue, and its completion.
struct Queued {
  PIRP irp = nullptr;
  bool completed = false;
  NTSTATUS status = STATUS_PENDING;
  BOOLEAN cancel = FALSE;
};

NTSTATUS RecordCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto *queued = static_cast<Queued *>(context);
  queued->completed = true;
  queued->status = irp->IoStatus.Status;
  queued->cancel = irp->Cancel;
  return STATUS_MORE_PROCESSING_REQUIRED;
}

class CleanupTest : public EventProgramTest {
 protected:
  void SetUp() override { Bring(24); }
  void TearDown() override {
    for (auto &q : queued_) IoFreeIrp(q->irp);
    EventProgramTest::TearDown();
  }
  PFILE_OBJECT FileOf(HANDLE handle) {
    PVOID file = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, *IoFileObjectType, KernelMode, &file, nullptr),
              STATUS_SUCCESS);
    ObDereferenceObject(file);  // the handle keeps it
    return static_cast<PFILE_OBJECT>(file);
  }
  PKDEVICE_QUEUE DeviceQueue() { return &device_->DeviceQueue; }

  // Marks the queue busy, as a request being worked on does.
  void StartWorking() { AtDispatch([&] { EXPECT_FALSE(KeInsertDeviceQueue(DeviceQueue(), &working_)); }); }
  // Queues a device-control request of `file` behind it.
  Queued *QueueRequest(PFILE_OBJECT file) {
    queued_.push_back(std::make_unique<Queued>());
    Queued *q = queued_.back().get();
    q->irp = IoAllocateIrp(device_->StackSize, FALSE);
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(q->irp);
    location->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    location->FileObject = file;
    location->DeviceObject = device_;
    IoSetCompletionRoutine(q->irp, RecordCompletion, q, TRUE, TRUE, TRUE);
    q->irp->CurrentLocation--;  // received by the driver
    q->irp->Tail.Overlay.CurrentStackLocation--;
    AtDispatch([&] { EXPECT_TRUE(KeInsertDeviceQueue(DeviceQueue(), &q->irp->Tail.Overlay.DeviceQueueEntry)); });
    return q;
  }
  // The requests still queued, in order.
  std::vector<PIRP> Waiting() {
    std::vector<PIRP> irps;
    for (PLIST_ENTRY e = DeviceQueue()->DeviceListHead.Flink; e != &DeviceQueue()->DeviceListHead; e = e->Flink)
      irps.push_back(CONTAINING_RECORD(e, IRP, Tail.Overlay.DeviceQueueEntry.DeviceListEntry));
    return irps;
  }
  // The request being worked on ends: the queue goes idle.
  void FinishWorking() {
    AtDispatch([&] {
      while (KeRemoveDeviceQueue(DeviceQueue()) != nullptr) {
      }
    });
  }
  template <typename Body>
  static void AtDispatch(Body body) {
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    body();
    KeLowerIrql(old);
  }

  KDEVICE_QUEUE_ENTRY working_;
  std::vector<std::unique_ptr<Queued>> queued_;
};

// An idle queue, or a busy one with nothing queued, is left as it is; of
// queued requests only the handle's are cancelled.
TEST_F(CleanupTest, OnlyTheHandlesQueuedRequestsAreCancelledAndTheRestKeepTheirOrder) {
  for (bool busy : {false, true}) {
    SCOPED_TRACE(busy ? "busy" : "idle");
    if (busy) StartWorking();
    EXPECT_EQ(hostk::user::CloseHandle(Open()), STATUS_SUCCESS);
    EXPECT_EQ(DeviceQueue()->Busy, busy) << "only the request being worked on holds the queue";
    EXPECT_TRUE(IsListEmpty(&DeviceQueue()->DeviceListHead));
  }
  HANDLE mine = file_, other = Open();
  PFILE_OBJECT myFile = FileOf(mine), otherFile = FileOf(other);
  Queued *first = QueueRequest(myFile);
  Queued *second = QueueRequest(otherFile);
  Queued *third = QueueRequest(myFile);
  Queued *fourth = QueueRequest(otherFile);

  EXPECT_EQ(hostk::user::CloseHandle(mine), STATUS_SUCCESS);
  for (Queued *q : {first, third}) {
    EXPECT_TRUE(q->completed);
    EXPECT_EQ(q->status, STATUS_CANCELLED);
    EXPECT_TRUE(q->cancel);
  }
  EXPECT_FALSE(second->completed);
  EXPECT_FALSE(fourth->completed);
  EXPECT_EQ(Waiting(), (std::vector<PIRP>{second->irp, fourth->irp}));
  EXPECT_TRUE(DeviceQueue()->Busy) << "the request being worked on still holds the queue";
  FinishWorking();
  EXPECT_EQ(hostk::user::CloseHandle(other), STATUS_SUCCESS);
}

// An open reaching the driver after a surprise removal is refused: the handle
// would outlive its device.
TEST_F(DriverTest, AnOpenThatMeetsASurpriseRemovalIsRefused) {
  StartedDevice(24);
  Program program;
  hostk::AtNextEntry("NtCreateFile", [this] { hostk::SurpriseRemove(Pdo()); });
  program.Open(GENERIC_READ, STATUS_DELETE_PENDING);
  EXPECT_EQ(Pdo()->AttachedDevice, nullptr) << "removed: no handle held it";
}

}  // namespace
}  // namespace diotest
