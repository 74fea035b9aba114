// Opening the applet elevated. Windows 10 and 11 run Control Panel applets
// without administrator rights, also for an administrator, and only
// administrators may change the driver's service key: from such a Control
// Panel no setting can be stored. The dialog then shows a shield button,
// and a refused save offers the same: the Control Panel is started again,
// elevated, on this applet, and the edits made so far go with it on its
// command line. An applet that runs elevated, or that was itself started so
// (an administrator's account whose rights are not enough, UAC off), does
// not offer it again: that would only loop through prompts.
#include "applet.h"

#include <shellapi.h>


namespace {

// The Control Panel that loads this module: on 64-bit Windows the 32-bit
// one, in the 32-bit system folder; on 32-bit Windows the one in System32.
// (The 64-bit build, for the Wine run only, takes its own System32.)
BOOL ControlPanelPath(WCHAR *path, UINT size) {
  static const WCHAR program[] = L"\\control.exe";
  const UINT programLength = sizeof program / sizeof program[0];
#if defined(_WIN64)
  UINT length = GetSystemDirectoryW(path, size);
#else
  UINT length = GetSystemWow64DirectoryW(path, size);
  if (length == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) length = GetSystemDirectoryW(path, size);
#endif
  if (length == 0 || length + programLength > size) return FALSE;
  for (UINT i = 0; i < programLength; ++i) path[length + i] = program[i];
  return TRUE;
}

// The Control Panel's command line for this module with the edits:
// "<path>",@0,/edits:... The path is the module's own, in UTF-16, so that
// a folder whose name lies outside the ANSI code page still names it.
DWORD ElevatedCommandLine(WCHAR *parameters, size_t size) {
  WCHAR applet[MAX_PATH], edits[1024];
  DWORD length = GetModuleFileNameW(gApplet.moduleInstance, applet, MAX_PATH);
  if (length == 0) return GetLastError();
  if (length >= MAX_PATH) return ERROR_INSUFFICIENT_BUFFER;
  if (!WriteCarriedEdits(edits, sizeof edits / sizeof edits[0])) return ERROR_INSUFFICIENT_BUFFER;
  size_t at = 0;
  auto put = [&](const WCHAR *text) {
    for (; *text; ++text)
      if (at + 1 < size) parameters[at++] = *text;
  };
  put(L"\"");
  put(applet);
  put(L"\",@0,");
  put(edits);
  if (at + 1 >= size) return ERROR_INSUFFICIENT_BUFFER;
  parameters[at] = 0;
  return ERROR_SUCCESS;
}

}  // namespace

// Only a refusal counts: a service key that is not there (no driver) says
// nothing about the rights.
BOOL SettingsNeedElevation(void) {
  HKEY key;
  LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, DIO_KEY_SERVICE, 0, KEY_SET_VALUE, &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status == ERROR_ACCESS_DENIED;
}

// The process's token says whether it runs elevated; a token that cannot
// be asked counts as not elevated.
BOOL ProcessIsElevated(void) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return FALSE;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  BOOL asked = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return asked && elevation.TokenIsElevated;
}

BOOL ElevationCanHelp(void) { return !gApplet.editsCarried && !ProcessIsElevated(); }

// Starts the Control Panel elevated ("runas") with the edits; it runs on
// after this one has ended, and may take the foreground (the prompt in
// between leaves it with nobody's permission otherwise). ERROR_SUCCESS, or
// why not: ERROR_CANCELLED when the user declined the prompt.
DWORD RestartElevated(HWND owner) {
  WCHAR control[MAX_PATH], parameters[MAX_PATH + 1100];
  if (!ControlPanelPath(control, MAX_PATH)) return ERROR_INSUFFICIENT_BUFFER;
  DWORD error = ElevatedCommandLine(parameters, sizeof parameters / sizeof parameters[0]);
  if (error != ERROR_SUCCESS) return error;
  AllowSetForegroundWindow(ASFW_ANY);
  SHELLEXECUTEINFOW run = {};
  run.cbSize = sizeof run;
  run.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  run.hwnd = owner;
  run.lpVerb = L"runas";
  run.lpFile = control;
  run.lpParameters = parameters;
  run.nShow = SW_SHOWNORMAL;
  return ShellExecuteExW(&run) ? DWORD(ERROR_SUCCESS) : GetLastError();
}
