// The Control Panel's entry point and the library entry.
#include "applet.h"

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

void OpenApplet(void) {
  if (!IsDriverInstalled())
    MessageBoxA(gApplet.cplWindow, "The ZEP DIO driver does not installed", "Information", MB_OK);
  DialogBoxParamA(gApplet.moduleInstance, MAKEINTRESOURCEA(IDD_MAIN), gApplet.cplWindow, MainDialogProc, 0);
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
  }
  // CPL_INQUIRE, CPL_SELECT, CPL_STOP, CPL_EXIT and anything else: nothing to
  // do. A non-zero answer to CPL_STARTWPARMS would keep the applet closed.
  return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH || reason == DLL_THREAD_ATTACH) gApplet.moduleInstance = instance;
  return TRUE;
}
