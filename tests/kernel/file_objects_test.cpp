// A file object's cleanup and close as the I/O manager sends them: the
// cleanup when the last handle goes, the close only when the last request in
// progress on the file has come back, whichever thread that request runs on.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_kernel.h"
#include "user_mode.h"

namespace {

// A driver that records the requests it gets and holds a device-control
// request until the test lets it go.
std::mutex journalLock;
std::vector<std::string> journal;
KEVENT release;
std::atomic<bool> entered{false};

void Note(const char *what) {
  std::lock_guard<std::mutex> hold(journalLock);
  journal.push_back(what);
}

std::vector<std::string> Journal() {
  std::lock_guard<std::mutex> hold(journalLock);
  return journal;
}

NTSTATUS Dispatch(PDEVICE_OBJECT, PIRP irp) {
  switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_CREATE: Note("create"); break;
    case IRP_MJ_CLEANUP: Note("cleanup"); break;
    case IRP_MJ_CLOSE: Note("close"); break;
    case IRP_MJ_DEVICE_CONTROL:
      Note("device control");
      entered = true;
      KeWaitForSingleObject(&release, Executive, KernelMode, FALSE, nullptr);
      Note("device control done");
      break;
  }
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

// Plug and Play requests go down to the bus, which starts the device.
PDEVICE_OBJECT lowerDevice;
NTSTATUS DispatchPnp(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(lowerDevice, irp);
}

NTSTATUS Entry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE, IRP_MJ_DEVICE_CONTROL})
    driver->MajorFunction[major] = Dispatch;
  driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  return STATUS_SUCCESS;
}

const GUID kInterface = {0x1d5a0001, 0x2400, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};

class FileObjectTest : public testing::Test {
 protected:
  void SetUp() override {
    journal.clear();
    entered = false;
    KeInitializeEvent(&release, NotificationEvent, FALSE);
    driver_ = hostk::LoadDriver(Entry, u"\\REGISTRY\\MACHINE\\files", nullptr);
    pdo_ = hostk::CreatePdo({});
    ASSERT_EQ(IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device_), STATUS_SUCCESS);
    lowerDevice = lower_ = IoAttachDeviceToDeviceStack(device_, pdo_);
    device_->Flags &= ~DO_DEVICE_INITIALIZING;
    ASSERT_EQ(IoRegisterDeviceInterface(pdo_, &kInterface, nullptr, &link_), STATUS_SUCCESS);
    IoSetDeviceInterfaceState(&link_, TRUE);
    path_ = u"\\\\.\\" + hostk::Text(&link_).substr(4);  // "\??\X" opened as "\\.\X"
    // Opens of the interface fail until the device has started.
    hostk::user::Process early("early");
    hostk::user::ProcessScope scope(early);
    HANDLE file = nullptr;
    EXPECT_EQ(hostk::user::OpenFile(path_, GENERIC_READ, &file), STATUS_NO_SUCH_DEVICE);
    EXPECT_EQ(Journal(), std::vector<std::string>{}) << "the driver sees no create";
    ASSERT_EQ(hostk::StartDevice(pdo_, nullptr, nullptr).ioStatus.Status, STATUS_SUCCESS);
  }
  void TearDown() override {
    IoSetDeviceInterfaceState(&link_, FALSE);
    RtlFreeUnicodeString(&link_);
    IoDetachDevice(lower_);
    IoDeleteDevice(device_);
    hostk::DeletePdo(pdo_);
    hostk::UnloadDriver(driver_);
  }

  PDRIVER_OBJECT driver_ = nullptr;
  PDEVICE_OBJECT pdo_ = nullptr, device_ = nullptr, lower_ = nullptr;
  UNICODE_STRING link_ = {};
  std::u16string path_;
};

TEST_F(FileObjectTest, TheCloseWaitsForARequestInProgressOnAnotherThread) {
  hostk::user::Process program("program");
  hostk::user::ProcessScope scope(program);
  HANDLE file = nullptr;
  ASSERT_EQ(hostk::user::OpenFile(path_, GENERIC_READ | GENERIC_WRITE, &file), STATUS_SUCCESS);
  std::thread worker([&] {
    hostk::user::ProcessScope inProgram(program);
    EXPECT_EQ(hostk::user::DeviceIoControl(file, 0x222000, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
  });
  hostk::WaitForBlockedThreads(1);
  ASSERT_TRUE(entered);
  EXPECT_EQ(hostk::user::CloseHandle(file), STATUS_SUCCESS);
  EXPECT_EQ(Journal(), (std::vector<std::string>{"create", "device control", "cleanup"}))
      << "the cleanup comes with the last handle, the close not before the request is back";
  KeSetEvent(&release, 0, FALSE);
  worker.join();
  EXPECT_EQ(Journal(), (std::vector<std::string>{"create", "device control", "cleanup",
                                                 "device control done", "close"}));
  // A handle closed first is gone for a request that comes after.
  EXPECT_EQ(hostk::user::DeviceIoControl(file, 0x222000, nullptr, 0, nullptr, 0).status,
            STATUS_INVALID_HANDLE);
}

TEST_F(FileObjectTest, WithNoRequestInProgressTheCloseFollowsTheCleanup) {
  hostk::user::Process program("program");
  hostk::user::ProcessScope scope(program);
  HANDLE file = nullptr;
  ASSERT_EQ(hostk::user::OpenFile(path_, GENERIC_READ, &file), STATUS_SUCCESS);
  KeSetEvent(&release, 0, FALSE);
  EXPECT_EQ(hostk::user::DeviceIoControl(file, 0x222000, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
  EXPECT_EQ(hostk::user::CloseHandle(file), STATUS_SUCCESS);
  EXPECT_EQ(Journal(), (std::vector<std::string>{"create", "device control", "device control done",
                                                 "cleanup", "close"}));
}

}  // namespace
