// dialog_probe: looks at a dialog of another program on the same desktop, so
// that the Wine run of the applet finds each control where the dialog really
// put it and waits for states instead of sleeping. Controls are found by ID
// among the dialog's own and its pages' controls.
//
//   dialog_probe rect TITLE ID         screen rectangle of control ID: "left top right bottom"
//   dialog_probe geometry TITLE        fails unless every page lies inside the tab control's display area
//   dialog_probe indicators TITLE      fails unless each indicator of the support page shows a bitmap
//                                      over its whole 7 x 7 dialog units
//   dialog_probe wait MS CONDITION     waits at most MS milliseconds for one of
//     window TITLE | gone TITLE | focus TITLE ID | tab TITLE INDEX | selection TITLE ID INDEX |
//     check TITLE ID STATE
//                                      and, when it does not come, prints what the dialog shows instead
//
// Exit status 0 when done, 1 otherwise, 2 for a wrong command line.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int kTabControl = 1000;

HWND Dialog(const char *title) {
  HWND dialog = FindWindowA("#32770", title);
  return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

// The dialog's pages, one after the other in the Z order: NextPage(dialog,
// nullptr) is the first, none (nullptr) follows the last.
HWND NextPage(HWND dialog, HWND page) { return FindWindowExA(dialog, page, "#32770", nullptr); }

HWND Control(HWND dialog, int id) {
  if (!dialog) return nullptr;
  HWND found = GetDlgItem(dialog, id);
  for (HWND page = NextPage(dialog, nullptr); page && !found; page = NextPage(dialog, page))
    found = GetDlgItem(page, id);
  return found;
}

// TCM_ADJUSTRECT takes its rectangle in the tab control's own process.
bool DisplayArea(HWND tab, RECT *area) {
  DWORD pid = 0;
  GetWindowThreadProcessId(tab, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return false;
  void *remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
  bool ok = remote && GetWindowRect(tab, area) && WriteProcessMemory(process, remote, area, sizeof(RECT), nullptr);
  if (ok) SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(remote));
  ok = ok && ReadProcessMemory(process, remote, area, sizeof(RECT), nullptr);
  if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return ok;
}

int Geometry(const char *title) {
  HWND dialog = Dialog(title), tab = Control(dialog, kTabControl);
  RECT area, window;
  if (!tab || !DisplayArea(tab, &area) || !GetWindowRect(tab, &window)) {
    printf("no tab control in \"%s\"\n", title);
    return 1;
  }
  printf("tab control: %ld %ld %ld %ld, display area: %ld %ld %ld %ld\n", window.left, window.top, window.right,
         window.bottom, area.left, area.top, area.right, area.bottom);
  int count = 0, outside = 0;
  for (HWND page = NextPage(dialog, nullptr); page; page = NextPage(dialog, page)) {
    RECT at = {};
    GetWindowRect(page, &at);
    bool inside = at.left >= area.left && at.top >= area.top && at.right <= area.right && at.bottom <= area.bottom;
    printf("page %p: %ld %ld %ld %ld %s\n", (void *)page, at.left, at.top, at.right, at.bottom,
           inside ? "inside" : "OUTSIDE");
    ++count;
    outside += !inside;
  }
  return count > 0 && outside == 0 ? 0 : 1;
}

// The support page's indicators (1033 to 1043) are 7 x 7 dialog units each.
// Another process's dialog units cannot be asked for, but its controls were
// placed with them: the label beside the first indicator (1046, 120 x 8
// units) is 30 horizontal base units wide and one vertical base unit high.
int Indicators(const char *title) {
  HWND dialog = Dialog(title), label = Control(dialog, 1046);
  RECT text;
  if (!label || !GetWindowRect(label, &text)) {
    printf("no support page in \"%s\"\n", title);
    return 1;
  }
  int width = MulDiv(7, (text.right - text.left) / 30, 4), height = MulDiv(7, text.bottom - text.top, 8);
  printf("7 x 7 dialog units are %d x %d pixels\n", width, height);
  int wrong = 0;
  for (int id = 1033; id <= 1043; ++id) {
    HWND indicator = Control(dialog, id);
    RECT at = {};
    bool shows = indicator && GetWindowRect(indicator, &at) && SendMessageA(indicator, STM_GETIMAGE, IMAGE_BITMAP, 0);
    bool fills = shows && at.right - at.left == width && at.bottom - at.top == height &&
                 !(GetWindowLongA(indicator, GWL_STYLE) & SS_CENTERIMAGE);
    printf("indicator %d: %ld x %ld, %s\n", id, at.right - at.left, at.bottom - at.top,
           fills ? "its bitmap over all of it" : shows ? "NOT ITS 7 X 7 UNITS" : "NO BITMAP");
    wrong += !fills;
  }
  return wrong ? 1 : 0;
}

// What the condition argv[0..] looks at, as it is now (-1 where there is no
// such window), and in *wanted the value it waits for; false for a
// condition this program does not know.
bool Now(int argc, char **argv, long *now, long *wanted) {
  if (argc < 2) return false;
  const char *what = argv[0];
  HWND dialog = Dialog(argv[1]);
  if (!strcmp(what, "window") || !strcmp(what, "gone")) {
    *now = (!strcmp(what, "window") ? dialog : FindWindowA("#32770", argv[1])) != nullptr;
    *wanted = !strcmp(what, "window");
    return true;
  }
  if (argc == 3 && (!strcmp(what, "focus") || !strcmp(what, "tab"))) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND tab = Control(dialog, kTabControl);
    bool focused = dialog && GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus;
    if (!strcmp(what, "tab")) *now = tab ? long(SendMessageA(tab, TCM_GETCURSEL, 0, 0)) : -1;
    else *now = focused ? GetDlgCtrlID(info.hwndFocus) : -1;
    *wanted = atol(argv[2]);
    return true;
  }
  if (argc == 4 && (!strcmp(what, "selection") || !strcmp(what, "check"))) {
    HWND control = Control(dialog, atoi(argv[2]));
    *now = control ? long(SendMessageA(control, !strcmp(what, "check") ? BM_GETCHECK : CB_GETCURSEL, 0, 0)) : -1;
    *wanted = atol(argv[3]);
    return true;
  }
  return false;
}

int Wait(int argc, char **argv) {
  DWORD limit = DWORD(atoi(argv[0])), start = GetTickCount();
  for (;;) {
    long now, wanted;
    if (!Now(argc - 1, argv + 1, &now, &wanted)) {
      fprintf(stderr, "unknown condition\n");
      return 2;
    }
    if (now == wanted) return 0;
    if (GetTickCount() - start > limit) {
      printf("%ld\n", now);  // what the dialog shows instead
      return 1;
    }
    Sleep(50);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 4 && !strcmp(argv[1], "rect")) {
    HWND control = Control(Dialog(argv[2]), atoi(argv[3]));
    RECT at;
    if (!control || !GetWindowRect(control, &at)) return 1;
    printf("%ld %ld %ld %ld\n", at.left, at.top, at.right, at.bottom);
    return 0;
  }
  if (argc >= 3 && !strcmp(argv[1], "geometry")) return Geometry(argv[2]);
  if (argc >= 3 && !strcmp(argv[1], "indicators")) return Indicators(argv[2]);
  if (argc >= 4 && !strcmp(argv[1], "wait")) return Wait(argc - 2, argv + 2);
  fprintf(stderr, "usage: dialog_probe rect TITLE ID | geometry TITLE | indicators TITLE | wait MS CONDITION...\n");
  return 2;
}
