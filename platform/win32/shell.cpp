// The machine's system folders, and ShellExecuteExA with the "runas" verb:
// the elevation prompt, answered by the test's user, and the programs it
// starts. The machine is 64-bit Windows unless a test says otherwise, with
// the 32-bit system folder SysWOW64 beside System32; on 32-bit Windows
// GetSystemWow64DirectoryA fails with ERROR_CALL_NOT_IMPLEMENTED
// [MS:sysinfoapi/nf-sysinfoapi-getsystemdirectorya]
// [MS:wow64apiset/nf-wow64apiset-getsystemwow64directorya].
#include <deque>
#include <strings.h>

#include <shellapi.h>

#include "desktop.h"

namespace hostwin {
namespace {

constexpr char kSystem[] = "C:\\Windows\\system32";
constexpr char kSysWow64[] = "C:\\Windows\\SysWOW64";

bool &Windows32Bit() {
  static bool windows32 = false;
  return windows32;
}
std::vector<ShellExecution> &Executions() {
  static std::vector<ShellExecution> executions;
  return executions;
}
std::deque<bool> &ElevationAnswers() {
  static std::deque<bool> answers;
  return answers;
}

// A folder's path, and its length, when the buffer holds it with its
// terminator; otherwise the size the buffer needs, the buffer untouched.
UINT CopyFolder(const char *path, LPSTR buffer, UINT size) {
  UINT length = UINT(strlen(path));
  if (!buffer || size <= length) return length + 1;
  memcpy(buffer, path, length + 1);
  return length;
}

// The programs the shell can start here: the Control Panel of each system
// folder.
bool Exists(const char *file) {
  auto is = [file](const char *folder) { return strcasecmp(file, (std::string(folder) + "\\control.exe").c_str()) == 0; };
  return file && (is(kSystem) || (!Windows32Bit() && is(kSysWow64)));
}


// One ShellExecuteEx call, its texts in UTF-8.
BOOL Execute(HWND owner, const char *verb, const std::string &file, const std::string &parameters,
             const std::string &directory, int show, ULONG mask, HINSTANCE *instance) {
  if (!verb || strcasecmp(verb, "runas") != 0 || (mask & SEE_MASK_NOCLOSEPROCESS)) {
    Fault("ShellExecuteEx other than \"runas\" without a process handle: not simulated");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (owner && !Find(owner))
    Fault("ShellExecuteEx owned by a window that does not exist: the elevation prompt would not show");
  ShellExecution run{owner, verb, file, parameters, directory, show, mask, "", false};
  DWORD error = 0;
  if (!Exists(file.c_str())) {
    error = ERROR_FILE_NOT_FOUND;
  } else if (CurrentRights() != Rights::ElevatedAdministrator) {
    run.prompt = CurrentRights() == Rights::UnelevatedAdministrator ? "consent" : "credentials";
    if (ElevationAnswers().empty()) {
      Fault("an elevation prompt opened with nobody to answer it");
      error = ERROR_CANCELLED;
    } else {
      if (!ElevationAnswers().front()) error = ERROR_CANCELLED;
      ElevationAnswers().pop_front();
    }
  }
  run.started = error == 0;
  Executions().push_back(run);
  *instance = reinterpret_cast<HINSTANCE>(uintptr_t(error == 0                     ? 42
                                                    : error == ERROR_FILE_NOT_FOUND ? SE_ERR_FNF
                                                                                    : SE_ERR_ACCESSDENIED));
  if (error) SetLastError(error);
  return error == 0;
}

}  // namespace

const std::vector<ShellExecution> &ShellExecutions() { return Executions(); }
void WhenElevationAsked(bool approve) { ElevationAnswers().push_back(approve); }
void RunOn32BitWindows() { Windows32Bit() = true; }

void ForgetShell() {
  Executions().clear();
  ElevationAnswers().clear();
  Windows32Bit() = false;
}

std::vector<std::string> UnusedElevationAnswers() {
  return std::vector<std::string>(ElevationAnswers().size(), "an answer waits for an elevation prompt that never came");
}

}  // namespace hostwin

using namespace hostwin;

extern "C" {

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) { return CopyFolder(kSystem, buffer, size); }

UINT WINAPI GetSystemWow64DirectoryA(LPSTR buffer, UINT size) {
  if (Windows32Bit()) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
  }
  return CopyFolder(kSysWow64, buffer, size);
}

// The wide forms count WCHARs; the folders' names are plain ASCII.
UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size) {
  char narrow[MAX_PATH];
  UINT length = GetSystemDirectoryA(narrow, sizeof narrow);
  if (!buffer || size <= length) return length + 1;
  for (UINT i = 0; i <= length; ++i) buffer[i] = WCHAR(narrow[i]);
  return length;
}

UINT WINAPI GetSystemWow64DirectoryW(LPWSTR buffer, UINT size) {
  char narrow[MAX_PATH];
  UINT length = GetSystemWow64DirectoryA(narrow, sizeof narrow);
  if (length == 0) return 0;
  if (!buffer || size <= length) return length + 1;
  for (UINT i = 0; i <= length; ++i) buffer[i] = WCHAR(narrow[i]);
  return length;
}

// "runas" starts the program elevated once the user has agreed: an
// unelevated administrator consents, a standard user gives an
// administrator's credentials; a process that is elevated already is not
// asked. A prompt the user declines fails with ERROR_CANCELLED
// [MS:shellapi/nf-shellapi-shellexecuteexa] [MS:shellapi/ns-shellapi-shellexecuteinfoa].
// An owner window that does not exist keeps the prompt from showing (it only
// flashes in the taskbar) [MS:windows-7/cc722028 CorrectShellExecuteHWND fix].
// The wide and the ANSI calls differ only in their texts.
BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW *info) {
  if (!info || info->cbSize != sizeof(SHELLEXECUTEINFOW)) {
    Fault("ShellExecuteEx without a SHELLEXECUTEINFO of its own size");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto text = [](LPCWSTR s) { return s ? Utf8(reinterpret_cast<const char16_t *>(s)) : std::string(); };
  return Execute(info->hwnd, info->lpVerb ? text(info->lpVerb).c_str() : nullptr, text(info->lpFile),
                 text(info->lpParameters), text(info->lpDirectory), info->nShow, info->fMask, &info->hInstApp);
}

BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA *info) {
  if (!info || info->cbSize != sizeof(SHELLEXECUTEINFOA)) {
    Fault("ShellExecuteEx without a SHELLEXECUTEINFO of its own size");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto text = [](LPCSTR s) { return std::string(s ? s : ""); };
  return Execute(info->hwnd, info->lpVerb, text(info->lpFile), text(info->lpParameters), text(info->lpDirectory),
                 info->nShow, info->fMask, &info->hInstApp);
}

}  // extern "C"
