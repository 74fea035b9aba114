// kernel32's CreateFile, DeviceIoControl and CloseHandle over the kernel
// stand-in's I/O manager: a device path opens the device's stack, a
// device-control request is an IRP_MJ_DEVICE_CONTROL to it, and a failure
// status becomes the Win32 error RtlNtStatusToDosError gives it.
#include "desktop.h"
#include "host_win32_io.h"
#include "io_state.h"
#include "kernel_bridge.h"

namespace hostwin {
namespace {

// "\\.\name" and "\\?\name" both name "\??\name"; the I/O manager takes the
// first form. Other paths name no file here.
bool DevicePath(LPCWSTR fileName, std::u16string *path) {
  if (!fileName) return false;
  std::u16string text;
  for (LPCWSTR p = fileName; *p; ++p) text.push_back(char16_t(*p));
  if (text.size() < 5 || text[0] != u'\\' || text[1] != u'\\' || text[3] != u'\\' ||
      (text[2] != u'.' && text[2] != u'?')) {
    return false;
  }
  text[2] = u'.';
  *path = text;
  return true;
}

DWORD deniedRights = 0;

bool InProcess(const char *routine) {
  if (kernel::CurrentProcess()) return true;
  Fault(std::string(routine) + " called outside a user process");
  return false;
}

}  // namespace

void DenyDeviceAccess(unsigned long rights) { deniedRights = DWORD(rights); }

void ForgetDeviceAccess() { deniedRights = 0; }

}  // namespace hostwin

using namespace hostwin;

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
  (void)shareMode;
  (void)security;
  (void)templateFile;
  if (!InProcess("CreateFile")) return INVALID_HANDLE_VALUE;
  // A device exists or it does not: every other disposition asks to create
  // a file [MS:fileapi/nf-fileapi-createfilew].
  if (disposition != OPEN_EXISTING) {
    Fault("CreateFile of a device with a disposition other than OPEN_EXISTING");
  }
  if (flags & FILE_FLAG_OVERLAPPED) Fault("CreateFile with FILE_FLAG_OVERLAPPED: not simulated");
  std::u16string path;
  if (!DevicePath(fileName, &path)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // The access check comes before the device sees the open.
  DWORD asked = access;
  if (asked & GENERIC_ALL) asked |= GENERIC_READ | GENERIC_WRITE;
  if (asked & deniedRights & (GENERIC_READ | GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  void *handle = nullptr;
  int32_t status = kernel::OpenDevice(path, access, &handle);
  if (status < 0) {
    SetLastError(kernel::ErrorOf(status));
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

// ANSI names are widened byte for byte: device paths are ASCII.
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
  std::vector<WCHAR> wide;
  for (LPCSTR p = fileName; p && *p; ++p) wide.push_back(WCHAR(static_cast<unsigned char>(*p)));
  wide.push_back(0);
  return CreateFileW(fileName ? wide.data() : nullptr, access, shareMode, security, disposition, flags,
                     templateFile);
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                            DWORD outputSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
  if (!InProcess("DeviceIoControl")) return FALSE;
  if (overlapped) Fault("DeviceIoControl with an OVERLAPPED: not simulated");
  // "If lpOverlapped is NULL, lpBytesReturned cannot be NULL"
  // [MS:ioapiset/nf-ioapiset-deviceiocontrol].
  if (!bytesReturned) {
    Fault("DeviceIoControl without lpBytesReturned on a synchronous handle");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *bytesReturned = 0;
  // The I/O manager probes the caller's buffers before it builds the request.
  if ((!input && inputSize) || (!output && outputSize)) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  kernel::ControlResult result = kernel::Control(device, code, input, inputSize, output, outputSize);
  if (result.status < 0 && (uint32_t(result.status) >> 30) == 3) {
    SetLastError(kernel::ErrorOf(result.status));
    return FALSE;
  }
  *bytesReturned = DWORD(result.information);
  if (result.status < 0) {  // a warning: the data came back, the call fails
    SetLastError(kernel::ErrorOf(result.status));
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"


// CloseHandle (token.cpp) hands the kernel's handles here. Every program
// that holds one opened its device through this file, so it is linked in.
BOOL CloseKernelHandle(HANDLE handle) {
  if (!InProcess("CloseHandle")) return FALSE;
  int32_t status = kernel::CloseHandle(handle);
  if (status < 0) {
    Fault("CloseHandle of a handle that is not open");
    SetLastError(kernel::ErrorOf(status));
    return FALSE;
  }
  return TRUE;
}
