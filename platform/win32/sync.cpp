// kernel32's events and waits: an event is a kernel event object of the
// calling process, so the handle a program passes to a driver is one the
// driver can reference; a wait blocks on the kernel stand-in's dispatcher.
#include <chrono>

#include "desktop.h"
#include "kernel_bridge.h"

namespace hostwin {
namespace {

HANDLE NewEvent(const void *name, BOOL manualReset, BOOL initialState) {
  if (!kernel::CurrentProcess()) {
    Fault("CreateEvent called outside a user process");
    return nullptr;
  }
  if (name) Fault("CreateEvent with a name: named objects are not simulated");
  return kernel::CreateEvent(manualReset != FALSE, initialState != FALSE);
}

BOOL Finish(int32_t status) {
  if (status >= 0) return TRUE;
  SetLastError(kernel::ErrorOf(status));
  return FALSE;
}

}  // namespace
}  // namespace hostwin

using namespace hostwin;

extern "C" {

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  (void)security;
  return NewEvent(name, manualReset, initialState);
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name) {
  (void)security;
  return NewEvent(name, manualReset, initialState);
}

BOOL WINAPI SetEvent(HANDLE event) { return Finish(kernel::SetEvent(event)); }

BOOL WINAPI ResetEvent(HANDLE event) { return Finish(kernel::ResetEvent(event)); }

// Waits for any one of the events. Only events can be waited for here, and
// only for any one of them.
DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (!handles) {
    SetLastError(ERROR_NOACCESS);
    return WAIT_FAILED;
  }
  if (waitAll) Fault("WaitForMultipleObjects for all objects: not simulated");
  int index = kernel::WaitForAny(handles, count, milliseconds);
  if (index == -2) {
    Fault("a wait on a handle that is not an event of the process");
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return index < 0 ? WAIT_TIMEOUT : WAIT_OBJECT_0 + DWORD(index);
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

ULONGLONG WINAPI GetTickCount64(void) {
  using namespace std::chrono;
  return ULONGLONG(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // extern "C"
