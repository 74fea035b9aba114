// Internal to the Win32 stand-in: what kernel32's file, device-control and
// event routines need of the kernel stand-in, in plain C++ so that neither
// side sees the other's headers. Handles are the calling process's handles
// of the kernel stand-in; statuses are NTSTATUS values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hostwin {
namespace kernel {

// The user process the calling thread runs in, or none.
void *CurrentProcess();
// Runs `body` on the calling thread inside `process`, as a thread the system
// creates in that process would.
void RunInProcess(void *process, const std::function<void()> &body);
// Handles the current process holds.
size_t HandleCount();

// Opens "\\.\name" through the I/O manager with the file rights `access`
// (generic rights mapped as for a file).
int32_t OpenDevice(const std::u16string &path, uint32_t access, void **handle);
struct ControlResult {
  int32_t status;
  uint64_t information;  // bytes copied back to the output buffer
};
ControlResult Control(void *file, uint32_t code, const void *input, uint32_t inputLength, void *output,
                      uint32_t outputLength);
int32_t CloseHandle(void *handle);

// Event objects of the current process.
void *CreateEvent(bool manualReset, bool initialState);
bool IsEvent(void *handle);
int32_t SetEvent(void *handle);
int32_t ResetEvent(void *handle);
// Waits until one of the events is signalled: the lowest index of those
// signalled is returned, and an auto-reset event is reset by the wait. -1
// when `milliseconds` pass first (kInfinite: no time-out; the stand-in's
// wait limit then applies); -2 when a handle is no event of the process.
constexpr uint32_t kInfinite = 0xFFFFFFFF;
int WaitForAny(void *const *events, size_t count, uint32_t milliseconds);

// The Win32 error a status becomes (RtlNtStatusToDosError), for the
// statuses the I/O manager, the objects and the driver return.
uint32_t ErrorOf(int32_t status);

// The device interfaces the I/O manager holds, by their "\??\" link names;
// with `enabledOnly` only those switched on.
std::vector<std::u16string> InterfaceLinks(bool enabledOnly);

}  // namespace kernel
}  // namespace hostwin
