// What a user-mode program sees of the host machine: its process, event
// objects, and devices opened by path and driven with device-control
// requests, all through the I/O manager as on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_kernel.h"

namespace hostk {
struct Process;
namespace user {

// A user process. While a ProcessScope is alive the calling thread runs in
// it; its handles are its own. Ending the process, as process exit does,
// cancels the requests its threads still have in progress and waits for
// them, then closes every handle it still holds.
class Process {
 public:
  explicit Process(const std::string &name);
  ~Process();
  Process(const Process &) = delete;
  Process &operator=(const Process &) = delete;
  struct hostk::Process *get() const { return process_; }

 private:
  struct hostk::Process *process_;
};

class ProcessScope {
 public:
  explicit ProcessScope(Process &process);
  ~ProcessScope();

 private:
  struct hostk::Process *saved_;
};

// Event objects of the current process.
HANDLE CreateEvent(bool manualReset, bool initialState, ACCESS_MASK access = EVENT_ALL_ACCESS);
bool IsSignalled(HANDLE event);
void ResetEvent(HANDLE event);
// A kernel handle to a new event, as a driver's system thread would hold:
// a value a user program must not be able to use. Close with ZwClose.
HANDLE CreateKernelEvent();

// Opens a device by the path a program uses ("\\.\..."), sending
// IRP_MJ_CREATE to the top of its stack.
NTSTATUS OpenFile(const std::u16string &path, ACCESS_MASK access, HANDLE *file);
// Closes a handle; the last handle of a file sends IRP_MJ_CLEANUP, then
// IRP_MJ_CLOSE.
NTSTATUS CloseHandle(HANDLE handle);

// Cancels every request in progress on the file, whichever thread sent it,
// as CancelIoEx with no OVERLAPPED does: their IRPs' cancel routines run.
NTSTATUS CancelIo(HANDLE file);

struct IoctlResult {
  NTSTATUS status;
  ULONG_PTR information;  // bytes returned
  // What the driver left, seen only by tests: a program gets neither the
  // information count nor the buffer back when the status is an error.
  ULONG_PTR driverInformation = 0;
  std::vector<uint8_t> systemBuffer;
};
// DeviceIoControl on a file handle. METHOD_BUFFERED codes go through one
// system buffer; the output is copied back only for a status that is not an
// error. A code whose access the handle was not granted is refused here.
IoctlResult DeviceIoControl(HANDLE file, ULONG code, const void *input, ULONG inputLength,
                            void *output, ULONG outputLength);

}  // namespace user

// Delivers IRP_MJ_SHUTDOWN to every registered device, most recent
// registration first, at the top of its stack, as the system's shutdown
// does. Returns the statuses in delivery order; a device whose request got
// no pool is passed over, with STATUS_INSUFFICIENT_RESOURCES.
std::vector<NTSTATUS> ShutdownSystem();

}  // namespace hostk
