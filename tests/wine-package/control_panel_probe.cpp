// The Control Panel as a user sees it, in Wine (tools/wine-msi-test.sh):
//
//   control_panel_probe.exe ITEM TITLE
//
// Opens the Control Panel's window on a thread of this program (shell32's
// Control_RunDLLW without an applet, as control.exe does: every applet of the
// system folder and of the registry's "Control Panel\Cpls" keys, one list
// item each), prints its items, and double-clicks ITEM, which the Control
// Panel opens as its "cplopen" verb, in a process of its own. The applet's
// window titled TITLE must then appear; the probe closes it (Cancel), then
// the Control Panel. Exit code 0 when ITEM was listed and its window opened
// and closed; every step has a time limit.
#include <windows.h>
#include <commctrl.h>

#include "../../wine-kernel/test/wine_program.h"

using winetest::WaitFor;

namespace {

using ControlRunDll = void(WINAPI *)(HWND, HINSTANCE, LPCWSTR, DWORD);

DWORD WINAPI RunControlPanel(LPVOID routine) {
  reinterpret_cast<ControlRunDll>(routine)(NULL, GetModuleHandleW(NULL), L"", SW_SHOWNORMAL);
  return 0;
}

int Fail(const char *what) {
  printf("control panel FAIL: %s\n", what);
  return 1;
}

int Run(const std::wstring &item, const std::wstring &title) {
  auto run = reinterpret_cast<ControlRunDll>(
      reinterpret_cast<void *>(GetProcAddress(LoadLibraryW(L"shell32.dll"), "Control_RunDLLW")));
  if (run == NULL) return Fail("shell32 has no Control_RunDLLW");
  HANDLE thread = CreateThread(NULL, 0, RunControlPanel, reinterpret_cast<LPVOID>(run), 0, NULL);
  HWND panel = NULL;
  WaitFor(30000, [&] { return (panel = FindWindowW(L"Shell_Control_WndClass", NULL)) != NULL; });
  // The window exists while it still fills its list (WM_CREATE): a message
  // sent to it returns once its thread takes messages, with the list full.
  DWORD_PTR answer;
  bool ready = panel != NULL && SendMessageTimeoutW(panel, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &answer);
  HWND list = ready ? FindWindowExW(panel, NULL, WC_LISTVIEWW, NULL) : NULL;
  if (list == NULL) return Fail("no Control Panel window with its list of applets");

  int count = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  int index = -1;
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    LVITEMW entry = {};
    entry.iSubItem = 0;
    entry.pszText = text;
    entry.cchTextMax = 255;
    SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&entry));
    printf("control panel lists: %ls\n", text);
    if (item == text) index = i;
  }
  if (index < 0) return Fail("the applet is not listed");

  // A double click on the item, as the list reports it to the panel.
  LVITEMW state = {};
  state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&state));
  NMHDR click = {list, UINT_PTR(GetDlgCtrlID(list)), UINT(NM_DBLCLK)};
  SendMessageW(panel, WM_NOTIFY, click.idFrom, reinterpret_cast<LPARAM>(&click));
  HWND dialog = NULL;
  if (!WaitFor(60000, [&] { return (dialog = FindWindowW(NULL, title.c_str())) != NULL; }))
    return Fail("the applet's window did not open");
  printf("control panel opened: %ls\n", title.c_str());
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  if (!WaitFor(30000, [&] { return !IsWindow(dialog); }))
    return Fail("the applet's window did not close on Cancel");

  PostMessageW(panel, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(thread, 30000) != WAIT_OBJECT_0) return Fail("the Control Panel did not close");
  CloseHandle(thread);
  printf("control panel ok: %ls listed, opened and closed\n", item.c_str());
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: control_panel_probe.exe ITEM TITLE\n");
    return 2;
  }
  return Run(argv[1], argv[2]);
}
