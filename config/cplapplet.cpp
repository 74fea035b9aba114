// The Control Panel's entry point and the library entry.
#include "applet.h"

#include <cstdio>

namespace {

void DescribeApplet(NEWCPLINFOA *info) {
  info->dwSize = sizeof(NEWCPLINFOA);
  info->dwFlags = 0;
  info->dwHelpContext = 0;
  info->lData = 0;
  info->szHelpFile[0] = '\0';
  info->hIcon = LoadIconA(gApplet.moduleInstance, MAKEINTRESOURCEA(IDI_APPLET));
  LoadStringA(gApplet.moduleInstance, IDS_APPLET_NAME, info->szName, sizeof info->szName);
  LoadStringA(gApplet.moduleInstance, IDS_APPLET_INFO, info->szInfo, sizeof info->szInfo);
}

// The tab control is a common control: its class exists in the process only
// once it has been registered, and the applet's manifest asks for version 6
// of the common controls, whose classes are not those the Control Panel
// registered for itself.
void RegisterControls(void) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);
}

// A dialog that could not be made (DialogBoxParamA answers -1) is told, with
// the system's error.
void ReportDialogFailure(DWORD error) {
  char format[160], text[200], caption[64];
  LoadStringA(gApplet.moduleInstance, IDS_DIALOG_FAILED, format, sizeof format);
  LoadStringA(gApplet.moduleInstance, IDS_APPLET_NAME, caption, sizeof caption);
  snprintf(text, sizeof text, format, (unsigned long)error);
  MessageBoxA(gApplet.cplWindow, text, caption, MB_OK | MB_ICONERROR);
}

// The dialog opens whatever the rights: where the settings cannot be
// stored it says so itself, with its shield button.
void OpenApplet(void) {
  if (!IsDriverInstalled())
    MessageBoxA(gApplet.cplWindow, "The ZEP DIO driver does not installed", "Information", MB_OK);
  if (DialogBoxParamA(gApplet.moduleInstance, MAKEINTRESOURCEA(IDD_MAIN), gApplet.cplWindow, MainDialogProc, 0) == -1)
    ReportDialogFailure(GetLastError());
}

}  // namespace

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(NEWCPLINFOA) == 244, "NEWCPLINFOA as the 32-bit Control Panel lays it out");
#endif

LONG APIENTRY CPlApplet(HWND cplWindow, UINT message, LPARAM lParam1, LPARAM lParam2) {
  (void)lParam1;
  gApplet.cplWindow = cplWindow;
  switch (message) {
    case CPL_INIT:
      RegisterControls();
      InitializeApplet();
      return 1;
    case CPL_GETCOUNT:
      return 1;
    case CPL_NEWINQUIRE:
      if (lParam2) DescribeApplet(reinterpret_cast<NEWCPLINFOA *>(lParam2));
      return 0;
    case CPL_DBLCLK:
      OpenApplet();
      return 0;
    case CPL_STARTWPARMSW:
      // The elevated restart's command line carries the edits of the
      // applet that started it: the dialog opens with them, and the
      // Control Panel sends no CPL_DBLCLK after a non-zero answer. Any
      // other text (or none) is left to CPL_DBLCLK.
      if (!TakeCarriedEdits(reinterpret_cast<LPCWSTR>(lParam2))) return 0;
      OpenApplet();
      return 1;
  }
  // CPL_INQUIRE, CPL_SELECT, CPL_STOP, CPL_EXIT, CPL_STARTWPARMSA and
  // anything else: nothing to do.
  return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH || reason == DLL_THREAD_ATTACH) gApplet.moduleInstance = instance;
  return TRUE;
}
