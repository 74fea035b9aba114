// The kernel stand-in's side of kernel32's files, device control and events:
// the calling process's handles, the I/O manager and the dispatcher.
#include "kernel_bridge.h"

#include <memory>
#include <mutex>

#include "machine.h"
#include "process.h"
#include "user_mode.h"

namespace hostwin {
namespace kernel {
namespace {

// The event a handle of the current process names, with the rights granted,
// or none.
std::shared_ptr<hostk::HandleObject> EventObject(void *handle, ACCESS_MASK *granted) {
  NTSTATUS status;
  auto object = hostk::LookupHandle(handle, UserMode, granted, &status);
  if (!object || object->Type() != &hostk::EventObjectType) return nullptr;
  return object;
}

PRKEVENT Body(const std::shared_ptr<hostk::HandleObject> &object) {
  return static_cast<PRKEVENT>(object->Body());
}

}  // namespace

void *CurrentProcess() { return hostk::CurrentProcess(); }

void RunInProcess(void *process, const std::function<void()> &body) {
  hostk::Process *saved = hostk::CurrentProcess();
  hostk::SetCurrentProcess(static_cast<hostk::Process *>(process));
  body();
  hostk::SetCurrentProcess(saved);
}

size_t HandleCount() {
  std::lock_guard<std::recursive_mutex> hold(hostk::ObjectLock());
  hostk::Process *process = hostk::CurrentProcess();
  return process ? process->table.entries.size() : 0;
}

int32_t OpenDevice(const std::u16string &path, uint32_t access, void **handle) {
  HANDLE file = nullptr;
  NTSTATUS status = hostk::user::OpenFile(path, access, &file);
  *handle = file;
  return status;
}

ControlResult Control(void *file, uint32_t code, const void *input, uint32_t inputLength, void *output,
                      uint32_t outputLength) {
  hostk::user::IoctlResult result =
      hostk::user::DeviceIoControl(file, code, input, inputLength, output, outputLength);
  return ControlResult{result.status, result.information};
}

int32_t CloseHandle(void *handle) { return hostk::user::CloseHandle(handle); }

void *CreateEvent(bool manualReset, bool initialState) {
  if (!hostk::CurrentProcess()) return nullptr;
  return hostk::user::CreateEvent(manualReset, initialState);
}

bool IsEvent(void *handle) { return EventObject(handle, nullptr) != nullptr; }

namespace {

// Changes an event's state through a handle that may modify it.
int32_t ChangeEvent(void *handle, LONG (*change)(PRKEVENT)) {
  ACCESS_MASK granted = 0;
  auto event = EventObject(handle, &granted);
  if (!event) return STATUS_INVALID_HANDLE;
  if (!(granted & EVENT_MODIFY_STATE)) return STATUS_ACCESS_DENIED;
  change(Body(event));
  return STATUS_SUCCESS;
}

LONG Set(PRKEVENT event) { return KeSetEvent(event, 0, FALSE); }

}  // namespace

int32_t SetEvent(void *handle) { return ChangeEvent(handle, Set); }

int32_t ResetEvent(void *handle) { return ChangeEvent(handle, KeResetEvent); }

int WaitForAny(void *const *events, size_t count, uint32_t milliseconds) {
  // The wait holds the events, as the kernel's wait blocks do: a handle
  // closed meanwhile does not free them.
  std::vector<std::shared_ptr<hostk::HandleObject>> held;
  for (size_t i = 0; i < count; ++i) {
    ACCESS_MASK granted = 0;
    held.push_back(EventObject(events[i], &granted));
    if (!held.back() || !(granted & SYNCHRONIZE)) return -2;
  }
  int signalled = -1;
  // Evaluated under the dispatcher lock, which guards every event's state.
  auto ready = [&] {
    for (size_t i = 0; i < held.size(); ++i) {
      DISPATCHER_HEADER &header = Body(held[i])->Header;
      if (header.SignalState == 0) continue;
      if (header.Type == SynchronizationEvent) header.SignalState = 0;
      signalled = int(i);
      return true;
    }
    return false;
  };
  if (milliseconds == kInfinite) {
    hostk::WaitUntil(ready);
  } else {
    hostk::WaitUntilFor(ready, milliseconds);
  }
  return signalled;
}

uint32_t ErrorOf(int32_t status) {
  // [W8: RtlNtStatusToDosError of each status]
  switch (status) {
    case STATUS_SUCCESS: return 0;
    case STATUS_NOT_IMPLEMENTED:
    case STATUS_INVALID_DEVICE_REQUEST: return 1;     // ERROR_INVALID_FUNCTION
    case STATUS_OBJECT_NAME_NOT_FOUND: return 2;      // ERROR_FILE_NOT_FOUND
    case STATUS_OBJECT_PATH_NOT_FOUND: return 3;      // ERROR_PATH_NOT_FOUND
    case STATUS_ACCESS_DENIED:
    case STATUS_DELETE_PENDING: return 5;             // ERROR_ACCESS_DENIED
    case STATUS_INVALID_HANDLE:
    case STATUS_OBJECT_TYPE_MISMATCH: return 6;       // ERROR_INVALID_HANDLE
    case STATUS_DEVICE_NOT_READY: return 21;          // ERROR_NOT_READY
    case STATUS_INVALID_DEVICE_STATE: return 22;      // ERROR_BAD_COMMAND
    case STATUS_UNSUCCESSFUL: return 31;              // ERROR_GEN_FAILURE
    case STATUS_NOT_SUPPORTED: return 50;             // ERROR_NOT_SUPPORTED
    case STATUS_INVALID_PARAMETER: return 87;         // ERROR_INVALID_PARAMETER
    case STATUS_BUFFER_TOO_SMALL: return 122;         // ERROR_INSUFFICIENT_BUFFER
    case STATUS_BUFFER_OVERFLOW: return 234;          // ERROR_MORE_DATA
    case STATUS_NO_SUCH_DEVICE: return 433;           // ERROR_NO_SUCH_DEVICE
    case STATUS_CANCELLED: return 995;                // ERROR_OPERATION_ABORTED
    case STATUS_ACCESS_VIOLATION: return 998;         // ERROR_NOACCESS
    case STATUS_DEVICE_NOT_CONNECTED: return 1167;    // ERROR_DEVICE_NOT_CONNECTED
    case STATUS_INSUFFICIENT_RESOURCES: return 1450;  // ERROR_NO_SYSTEM_RESOURCES
  }
  // ERROR_MR_MID_NOT_FOUND, as for a status without a mapping.
  return 317;
}

std::vector<std::u16string> InterfaceLinks(bool enabledOnly) {
  std::vector<std::u16string> links;
  for (const auto &i : hostk::Interfaces())
    if (i.enabled || !enabledOnly) links.push_back(i.symbolicLink);
  return links;
}

}  // namespace kernel
}  // namespace hostwin
