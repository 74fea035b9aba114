// The process's access token, as far as a program asks whether it runs
// elevated: OpenProcessToken on the current process (the pseudo-handle
// GetCurrentProcess answers) with TOKEN_QUERY, GetTokenInformation for
// TokenElevation, and CloseHandle. An elevated administrator's token is
// elevated; a standard user's is not, and neither is the filtered token an
// administrator's programs run with under UAC until they are started
// elevated [MS:winnt/ns-winnt-token_elevation]
// [MS:securitybaseapi/nf-securitybaseapi-gettokeninformation]
// [MS:processthreadsapi/nf-processthreadsapi-openprocesstoken]. A token
// left open is reported; closing one twice is a fault, as CloseHandle of a
// handle that is not open is.
#include <set>

#include "desktop.h"

namespace hostwin {
namespace {

// The pseudo-handle of the current process, as on Windows.
HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(intptr_t(-1));

std::set<uintptr_t> &Tokens() {
  static std::set<uintptr_t> tokens;
  return tokens;
}
uintptr_t &NextToken() {
  static uintptr_t next = 0x7A000;
  return next;
}

}  // namespace

std::vector<std::string> OpenTokens() {
  return std::vector<std::string>(Tokens().size(), "an access token is still open");
}
void ForgetTokens() { Tokens().clear(); }
bool CloseToken(HANDLE handle) { return Tokens().erase(reinterpret_cast<uintptr_t>(handle)) != 0; }

}  // namespace hostwin

using namespace hostwin;

// The kernel's handles (files, events), where the program has them too.
__attribute__((weak)) BOOL CloseKernelHandle(HANDLE handle);

extern "C" {

HANDLE WINAPI GetCurrentProcess(void) { return kCurrentProcess; }

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE *token) {
  if (!token) {
    Fault("OpenProcessToken without a place for the token");
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  if (process != kCurrentProcess) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(access & TOKEN_QUERY)) Fault("OpenProcessToken without TOKEN_QUERY: GetTokenInformation would be refused");
  uintptr_t value = NextToken();
  NextToken() += 4;
  Tokens().insert(value);
  *token = reinterpret_cast<HANDLE>(value);
  return TRUE;
}

// TokenElevation fills a TOKEN_ELEVATION; a buffer of another size fails
// with ERROR_INSUFFICIENT_BUFFER (smaller) or is accepted (larger), the size
// needed written either way.
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS which, LPVOID information, DWORD size,
                                PDWORD returned) {
  if (!Tokens().count(reinterpret_cast<uintptr_t>(token))) {
    Fault("GetTokenInformation on a handle that is no open token");
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (which != TokenElevation) {
    Fault("GetTokenInformation for a class other than TokenElevation: not simulated");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!returned) {
    Fault("GetTokenInformation without ReturnLength");
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  *returned = sizeof(TOKEN_ELEVATION);
  if (!information || size < sizeof(TOKEN_ELEVATION)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  static_cast<TOKEN_ELEVATION *>(information)->TokenIsElevated = CurrentRights() == Rights::ElevatedAdministrator;
  return TRUE;
}

// Closing a handle that is not open is a programming error: "If the
// application is running under a debugger, the function will throw an
// exception if it receives either a handle value that is not valid or a
// pseudo-handle value" [MS:handleapi/nf-handleapi-closehandle].
BOOL WINAPI CloseHandle(HANDLE handle) {
  if (CloseToken(handle)) return TRUE;
  if (CloseKernelHandle) return CloseKernelHandle(handle);
  Fault("CloseHandle of a handle that is not open");
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

}  // extern "C"
