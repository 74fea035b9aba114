// The I/O manager's path from user mode: opening a device by its path, file
// objects, the create, cleanup, close and device-control requests, and the
// system shutdown's requests.
#include <algorithm>
#include <atomic>
#include <mutex>

#include "devices.h"
#include "registry_store.h"
#include "process.h"
#include "user_mode.h"

namespace hostk {
namespace {

constexpr CSHORT kIoTypeFile = 5;
constexpr ULONG kFileTag = 0x656C6946;    // "File"
constexpr ULONG kNameTag = 0x6D614E46;    // "FNam"
constexpr ULONG kBufferTag = 0x66754249;  // "IBuf"
constexpr uint8_t kUninitialisedBuffer = 0xCC;

// The stack a path names: "\\.\X" is "\??\X", an enabled interface's link.
// What follows the link's name is the name inside the device's namespace,
// which the create request carries in the file object, as the object
// manager hands it on: "\\.\X\inner" opens "\??\X" with "\inner".
PDEVICE_OBJECT Resolve(const std::u16string &path, std::u16string *remaining) {
  if (path.size() < 4 || path.compare(0, 4, u"\\\\.\\") != 0) return nullptr;
  std::u16string name = u"\\??\\" + path.substr(4);
  for (const auto &i : Interfaces()) {
    size_t length = i.symbolicLink.size();
    if (!i.enabled || name.size() < length || (name.size() > length && name[length] != u'\\') ||
        !hostreg::EqualNoCase(i.symbolicLink, name.substr(0, length))) {
      continue;
    }
    *remaining = name.substr(length);
    return i.pdo;
  }
  return nullptr;
}

// A file object and the device it was opened on. The driver gets the
// cleanup when the last handle goes, and the close when the last reference
// goes: a request in progress on the file holds one, so a close waits for
// the requests other threads still have in the driver [MS:irp-mj-close].
struct FileHolder : HandleObject {
  PFILE_OBJECT file = nullptr;
  PDEVICE_OBJECT pdo = nullptr;
  // The top of the stack when the file was opened: every request of the
  // file goes there, and the file keeps the device object until its close,
  // also when the device is removed meanwhile.
  PDEVICE_OBJECT top = nullptr;
  std::mutex lock;
  // Requests on the file still in progress; changed under `lock`, read
  // without it by a process's end, which waits for them.
  std::atomic<int> requests{0};
  std::vector<PIRP> sent;  // their IRPs, while the driver may hold them
  bool handlesGone = false;
  bool closed = false;

  ~FileHolder() override {
    if (file && file->FileName.Buffer) FreeSystem(file->FileName.Buffer, kNameTag);
    if (file) FreeSystem(file, kFileTag);
  }
  std::string Describe() const override { return "file on a device"; }
  POBJECT_TYPE Type() const override { return &FileObjectType; }
  void *Body() override { return file; }

  // A handle's cleanup and close must succeed; an open or a device-control
  // request without pool for its IRP fails with STATUS_INSUFFICIENT_RESOURCES.
  IrpResult Send(UCHAR major, const std::function<void(PIRP, PIO_STACK_LOCATION)> &setup = {}) {
    PFILE_OBJECT f = file;
    return SendRequest(
        top, major, 0,
        [f, &setup](PIRP irp, PIO_STACK_LOCATION location) {
          irp->RequestorMode = UserMode;
          irp->Tail.Overlay.OriginalFileObject = f;
          irp->IoStatus.Status = STATUS_SUCCESS;
          location->FileObject = f;
          if (setup) setup(irp, location);
        },
        major == IRP_MJ_CLEANUP || major == IRP_MJ_CLOSE,
        [this](PIRP irp, bool sending) {
          std::lock_guard<std::mutex> held(lock);
          if (sending) {
            sent.push_back(irp);
          } else {
            sent.erase(std::find(sent.begin(), sent.end(), irp));
          }
        });
  }

  // Cancels the requests in progress on the file, as CancelIoEx does.
  void CancelRequests() {
    std::lock_guard<std::mutex> held(lock);
    for (PIRP irp : sent) IoCancelIrp(irp);
  }

  // The close, once neither a handle nor a request holds the file. After
  // the last close of a surprise-removed device its removal request comes.
  void CloseWhenUnused(std::unique_lock<std::mutex> &held) {
    if (!handlesGone || requests != 0 || closed) return;
    closed = true;
    held.unlock();
    Send(IRP_MJ_CLOSE);
    DereferenceDevice(top);
    if (NoteFileClosed(pdo)) SendPnp(pdo, IRP_MN_REMOVE_DEVICE);
  }

  // A request takes its reference on the file; false when the file was
  // closed first (its handle lost the race with a close on another thread).
  bool BeginRequest() {
    std::lock_guard<std::mutex> held(lock);
    if (closed) return false;
    ++requests;
    return true;
  }
  void EndRequest() {
    {
      std::unique_lock<std::mutex> held(lock);
      --requests;
      CloseWhenUnused(held);
    }
    NotifyWaiters();
  }

  // The last handle is gone: the driver cleans up now, and closes once no
  // request is left in progress.
  void LastHandleClosed() override {
    Send(IRP_MJ_CLEANUP);
    std::unique_lock<std::mutex> held(lock);
    handlesGone = true;
    CloseWhenUnused(held);
  }
};

// Generic rights as a file maps them.
ACCESS_MASK MapFileAccess(ACCESS_MASK access) {
  if (access & GENERIC_READ) access |= FILE_READ_DATA;
  if (access & GENERIC_WRITE) access |= FILE_WRITE_DATA;
  if (access & GENERIC_ALL) access |= FILE_READ_DATA | FILE_WRITE_DATA;
  return access & ~ACCESS_MASK(GENERIC_READ | GENERIC_WRITE | GENERIC_ALL);
}

}  // namespace

// A process's threads have ended: the system cancels the requests they
// still have in progress ("the system cancels unprocessed IRPs if the
// thread that initiated the I/O request exits" [MS:canceling-irps]) and
// waits for them; only then are its handles closed.
void EndRequestsOf(HandleTable &table) {
  std::vector<std::shared_ptr<FileHolder>> files;
  {
    std::lock_guard<std::recursive_mutex> hold(ObjectLock());
    for (const auto &entry : table.entries) {
      if (auto file = std::dynamic_pointer_cast<FileHolder>(entry.second.object)) files.push_back(file);
    }
  }
  for (const auto &file : files) file->CancelRequests();
  for (const auto &file : files) WaitUntil([&file] { return file->requests == 0; });
}

namespace user {

NTSTATUS OpenFile(const std::u16string &path, ACCESS_MASK access, HANDLE *handle) {
  *handle = nullptr;
  hostk::Process *process = CurrentProcess();
  if (!process) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "OpenFile outside a user process");
  std::u16string remaining;
  PDEVICE_OBJECT pdo = Resolve(path, &remaining);
  if (!pdo) return STATUS_OBJECT_NAME_NOT_FOUND;
  // Opens fail until the device's start request has completed
  // [MS:nf-wdm-iosetdeviceinterfacestate], with the status the I/O manager
  // gives an open of a device that cannot take one now.
  if (!HasStarted(pdo)) return STATUS_NO_SUCH_DEVICE;
  auto holder = std::make_shared<FileHolder>();
  holder->pdo = pdo;
  holder->file = static_cast<PFILE_OBJECT>(AllocateSystem(NonPagedPool, sizeof(FILE_OBJECT), kFileTag));
  if (!holder->file) return STATUS_INSUFFICIENT_RESOURCES;
  memset(holder->file, 0, sizeof(FILE_OBJECT));
  if (!remaining.empty()) {
    size_t bytes = remaining.size() * sizeof(WCHAR);
    auto *buffer = static_cast<PWSTR>(AllocateSystem(PagedPool, bytes, kNameTag));
    if (!buffer) return STATUS_INSUFFICIENT_RESOURCES;
    for (size_t c = 0; c < remaining.size(); ++c) buffer[c] = remaining[c];
    holder->file->FileName.Buffer = buffer;
    holder->file->FileName.Length = holder->file->FileName.MaximumLength = USHORT(bytes);
  }
  holder->file->Type = kIoTypeFile;
  holder->file->Size = sizeof(FILE_OBJECT);
  holder->file->DeviceObject = pdo;
  ACCESS_MASK granted = MapFileAccess(access);
  holder->file->ReadAccess = (granted & FILE_READ_DATA) != 0;
  holder->file->WriteAccess = (granted & FILE_WRITE_DATA) != 0;
  // The file counts as open on its device from here: the PnP manager does
  // not remove a surprise-removed device under a create in progress. One
  // whose last file closed while the path was resolved is being removed:
  // its stack is not looked at again.
  if (!NoteFileOpened(pdo)) return STATUS_DELETE_PENDING;
  holder->top = IoGetAttachedDevice(pdo);
  ReferenceDevice(holder->top);
  RunEntryHook("NtCreateFile");
  IrpResult result = holder->Send(IRP_MJ_CREATE);
  // No cleanup or close follows a failed open.
  if (!NT_SUCCESS(result.ioStatus.Status)) {
    DereferenceDevice(holder->top);
    if (NoteFileClosed(pdo)) SendPnp(pdo, IRP_MN_REMOVE_DEVICE);
    return result.ioStatus.Status;
  }
  *handle = InsertProcessHandle(process, holder, granted);
  return STATUS_SUCCESS;
}

NTSTATUS CancelIo(HANDLE handle) {
  ACCESS_MASK granted = 0;
  NTSTATUS status;
  auto holder = std::dynamic_pointer_cast<FileHolder>(LookupHandle(handle, UserMode, &granted, &status));
  if (!holder) return STATUS_INVALID_HANDLE;
  holder->CancelRequests();
  return STATUS_SUCCESS;
}

IoctlResult DeviceIoControl(HANDLE handle, ULONG code, const void *input, ULONG inputLength,
                            void *output, ULONG outputLength) {
  ACCESS_MASK granted = 0;
  NTSTATUS status;
  auto holder = std::dynamic_pointer_cast<FileHolder>(LookupHandle(handle, UserMode, &granted, &status));
  if (!holder || !holder->BeginRequest()) return IoctlResult{STATUS_INVALID_HANDLE, 0, 0, {}};
  struct RequestEnd {
    FileHolder *holder;
    ~RequestEnd() { holder->EndRequest(); }
  } requestEnd{holder.get()};
  // The request holds the file now; another thread may close its handle.
  RunEntryHook("NtDeviceIoControlFile");
  // The access the code asks for is checked before the driver sees it.
  ULONG needed = (code >> 14) & 3;
  if (((needed & FILE_READ_ACCESS) && !(granted & FILE_READ_DATA)) ||
      ((needed & FILE_WRITE_ACCESS) && !(granted & FILE_WRITE_DATA))) {
    return IoctlResult{STATUS_ACCESS_DENIED, 0, 0, {}};
  }
  ULONG method = code & 3;
  PVOID systemBuffer = nullptr;
  ULONG bufferLength = std::max(inputLength, outputLength);
  if (method == METHOD_BUFFERED && bufferLength) {
    systemBuffer = AllocateSystem(NonPagedPool, bufferLength, kBufferTag);
    if (!systemBuffer) return IoctlResult{STATUS_INSUFFICIENT_RESOURCES, 0, 0, {}};
    memset(systemBuffer, kUninitialisedBuffer, bufferLength);
    if (inputLength) memcpy(systemBuffer, input, inputLength);
  }
  IrpResult result = holder->Send(IRP_MJ_DEVICE_CONTROL, [&](PIRP irp, PIO_STACK_LOCATION location) {
    location->Parameters.DeviceIoControl.IoControlCode = code;
    location->Parameters.DeviceIoControl.InputBufferLength = inputLength;
    location->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
    if (method == METHOD_BUFFERED) {
      irp->AssociatedIrp.SystemBuffer = systemBuffer;
    } else {
      location->Parameters.DeviceIoControl.Type3InputBuffer = const_cast<void *>(input);
    }
    irp->UserBuffer = output;
  });
  IoctlResult out{result.ioStatus.Status, 0, result.ioStatus.Information, {}};
  if (systemBuffer) {
    auto *bytes = static_cast<uint8_t *>(systemBuffer);
    out.systemBuffer.assign(bytes, bytes + bufferLength);
  }
  ULONG_PTR information = result.ioStatus.Information;
  if (!NT_ERROR(result.ioStatus.Status)) {
    if (information > outputLength) {
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
               "device-control request completed with more bytes than its output buffer holds");
    }
    if (method == METHOD_BUFFERED && information) memcpy(output, systemBuffer, information);
  } else {
    information = 0;
  }
  if (systemBuffer) FreeSystem(systemBuffer, kBufferTag);
  out.information = information;
  return out;
}

}  // namespace user

std::vector<NTSTATUS> ShutdownSystem() {
  std::vector<NTSTATUS> statuses;
  for (PDEVICE_OBJECT device : ShutdownRegistrations()) {
    statuses.push_back(SendIrp(IoGetAttachedDevice(device), IRP_MJ_SHUTDOWN, 0).ioStatus.Status);
  }
  return statuses;
}

}  // namespace hostk
