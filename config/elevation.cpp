// Opening the applet elevated. Windows 10 and 11 run Control Panel applets
// without administrator rights, also for an administrator, and only
// administrators may change the driver's service key: from such a Control
// Panel no setting can be stored. The applet says so when it opens and
// offers to start the Control Panel again, elevated, on itself.
#include "applet.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>

namespace {

// The Control Panel that loads this module: on 64-bit Windows the 32-bit
// one, in the 32-bit system folder; on 32-bit Windows the one in System32.
// (The 64-bit build, for the Wine run only, takes its own System32.)
BOOL ControlPanelPath(char *path, UINT size) {
  static const char program[] = "\\control.exe";
#if defined(_WIN64)
  UINT length = GetSystemDirectoryA(path, size);
#else
  UINT length = GetSystemWow64DirectoryA(path, size);
  if (length == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) length = GetSystemDirectoryA(path, size);
#endif
  if (length == 0 || length + sizeof program > size) return FALSE;
  memcpy(path + length, program, sizeof program);
  return TRUE;
}

// Starts that Control Panel with the "runas" verb on this module's own path
// (the user may decline the prompt: ERROR_CANCELLED). It runs on after this
// Control Panel has ended.
DWORD StartElevated(HWND owner) {
  char control[MAX_PATH], applet[MAX_PATH], parameters[MAX_PATH + 3];
  DWORD length = GetModuleFileNameA(gApplet.moduleInstance, applet, sizeof applet);
  if (length == 0 || length >= sizeof applet) return length ? DWORD(ERROR_INSUFFICIENT_BUFFER) : GetLastError();
  if (!ControlPanelPath(control, sizeof control)) return ERROR_INSUFFICIENT_BUFFER;
  snprintf(parameters, sizeof parameters, "\"%s\"", applet);
  SHELLEXECUTEINFOA run = {};
  run.cbSize = sizeof run;
  run.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  run.hwnd = owner;
  run.lpVerb = "runas";
  run.lpFile = control;
  run.lpParameters = parameters;
  run.nShow = SW_SHOWNORMAL;
  return ShellExecuteExA(&run) ? DWORD(ERROR_SUCCESS) : GetLastError();
}

}  // namespace

// Only a refusal counts: a service key that is not there (no driver) says
// nothing about the rights.
BOOL SettingsNeedElevation(void) {
  HKEY key;
  LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, DIO_SERVICE_KEY, 0, KEY_SET_VALUE, &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status == ERROR_ACCESS_DENIED;
}

// One message, owned by the Control Panel's window: the settings cannot be
// stored from here; yes opens the applet elevated. TRUE when the elevated
// Control Panel took over; a failure other than the user's no is told.
BOOL OfferElevation(HWND owner) {
  char text[400], caption[64];
  LoadStringA(gApplet.moduleInstance, IDS_APPLET_NAME, caption, sizeof caption);
  LoadStringA(gApplet.moduleInstance, IDS_NEEDS_ELEVATION, text, sizeof text);
  if (MessageBoxA(owner, text, caption, MB_YESNO | MB_ICONWARNING) != IDYES) return FALSE;
  DWORD error = StartElevated(owner);
  if (error == ERROR_SUCCESS) return TRUE;
  if (error != ERROR_CANCELLED) {
    char format[200];
    LoadStringA(gApplet.moduleInstance, IDS_ELEVATION_FAILED, format, sizeof format);
    snprintf(text, sizeof text, format, (unsigned long)error);
    MessageBoxA(owner, text, caption, MB_OK | MB_ICONERROR);
  }
  return FALSE;
}
