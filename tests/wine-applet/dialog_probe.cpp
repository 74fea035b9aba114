// dialog_probe: looks at a dialog of another program on the same desktop, so
// that the Wine run of the applet finds each control where the dialog really
// put it and waits for states instead of sleeping. Built for 32-bit Windows
// and run under Wine next to the Control Panel.
//
//   dialog_probe rect TITLE ID          screen rectangle of control ID: "left top right bottom"
//   dialog_probe geometry TITLE         every page of the dialog against its tab control's
//                                       display area (TCM_ADJUSTRECT); fails unless all lie inside
//   dialog_probe indicators TITLE       the support page's eleven indicators: fails unless each
//                                       shows a bitmap over its whole 7 x 7 dialog units
//   dialog_probe wait MS CONDITION...   waits until the condition holds, at most MS milliseconds:
//     window TITLE                        a visible dialog with this title exists
//     gone TITLE                          no such dialog exists
//     focus TITLE ID                      control ID of the dialog has the keyboard focus
//     tab TITLE INDEX                     the tab control (1000) shows tab INDEX
//     selection TITLE ID INDEX            list ID shows entry INDEX
//     check TITLE ID STATE                button ID is in state STATE (0 clear, 1 checked)
//
// Controls are found by their ID among all the dialog's descendants, the
// controls of the pages included. Exit status 0 when done, 1 otherwise; a
// wait that ends without its condition prints what the dialog shows instead
// (the focused control's ID, the tab, the entry or the button's state).
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

struct Search {
  int id;
  HWND found;
};

BOOL CALLBACK MatchId(HWND window, LPARAM context) {
  auto *search = reinterpret_cast<Search *>(context);
  if (GetDlgCtrlID(window) != search->id) return TRUE;
  search->found = window;
  return FALSE;
}

HWND Control(HWND dialog, int id) {
  Search search = {id, nullptr};
  if (dialog) EnumChildWindows(dialog, MatchId, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND Control(const char *title, const char *id) { return Control(Dialog(title), atoi(id)); }

// The control with the keyboard focus in the dialog's thread.
HWND Focus(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!dialog || !GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// TCM_ADJUSTRECT takes a rectangle in the tab control's own process.
bool DisplayArea(HWND tab, RECT *area) {
  DWORD pid = 0;
  GetWindowThreadProcessId(tab, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return false;
  bool ok = false;
  void *remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
  if (remote && GetWindowRect(tab, area) && WriteProcessMemory(process, remote, area, sizeof(RECT), nullptr)) {
    SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(remote));
    ok = ReadProcessMemory(process, remote, area, sizeof(RECT), nullptr) != FALSE;
  }
  if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return ok;
}

struct Pages {
  HWND dialog;
  RECT area;
  int count;
  int outside;
};

BOOL CALLBACK CheckPage(HWND window, LPARAM context) {
  auto *pages = reinterpret_cast<Pages *>(context);
  char name[16] = "";
  GetClassNameA(window, name, sizeof name);
  if (GetParent(window) != pages->dialog || strcmp(name, "#32770") != 0) return TRUE;
  RECT at;
  GetWindowRect(window, &at);
  const RECT &a = pages->area;
  bool inside = at.left >= a.left && at.top >= a.top && at.right <= a.right && at.bottom <= a.bottom;
  printf("page %p%s: %ld %ld %ld %ld %s\n", (void *)window, IsWindowVisible(window) ? " (shown)" : "", at.left,
         at.top, at.right, at.bottom, inside ? "inside" : "OUTSIDE");
  ++pages->count;
  pages->outside += !inside;
  return TRUE;
}

int Geometry(const char *title) {
  HWND dialog = Dialog(title);
  HWND tab = Control(dialog, kTabControl);
  Pages pages = {dialog, {}, 0, 0};
  if (!tab || !DisplayArea(tab, &pages.area)) {
    printf("no tab control in \"%s\"\n", title);
    return 1;
  }
  RECT window;
  GetWindowRect(tab, &window);
  printf("tab control: %ld %ld %ld %ld, display area: %ld %ld %ld %ld\n", window.left, window.top, window.right,
         window.bottom, pages.area.left, pages.area.top, pages.area.right, pages.area.bottom);
  EnumChildWindows(dialog, CheckPage, reinterpret_cast<LPARAM>(&pages));
  return pages.count > 0 && pages.outside == 0 ? 0 : 1;
}

// The support page's indicators (1033 to 1043) are 7 x 7 dialog units each.
// A dialog's base units cannot be asked of another process, but its
// controls were placed with them, each number on its own: the label beside
// the first indicator (1046, 120 x 8 units) is 30 horizontal base units wide
// and one vertical base unit high.
int Indicators(const char *title) {
  HWND dialog = Dialog(title);
  HWND label = Control(dialog, 1046);
  RECT text;
  if (!label || !GetWindowRect(label, &text)) {
    printf("no support page in \"%s\"\n", title);
    return 1;
  }
  int baseX = (text.right - text.left) / 30, baseY = text.bottom - text.top;
  int width = MulDiv(7, baseX, 4), height = MulDiv(7, baseY, 8);
  printf("base units %d x %d: 7 x 7 dialog units are %d x %d pixels\n", baseX, baseY, width, height);
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

// What a condition in argv looks at, as it is now: the dialog's presence (1
// or 0), the ID of the control with the focus, the tab shown, the entry a
// list shows or a button's state; -1 where there is no such window.
// *known is false for a condition this program does not know.
long Now(int argc, char **argv, bool *known) {
  *known = true;
  if (argc >= 2) {
    const char *what = argv[0], *title = argv[1];
    if (!strcmp(what, "window")) return Dialog(title) != nullptr;
    if (!strcmp(what, "gone")) return FindWindowA("#32770", title) != nullptr;
    HWND dialog = Dialog(title);
    if (argc >= 3 && !strcmp(what, "focus")) {
      HWND focus = Focus(dialog);
      return focus ? GetDlgCtrlID(focus) : -1;
    }
    if (argc >= 3 && !strcmp(what, "tab")) {
      HWND tab = Control(dialog, kTabControl);
      return tab ? SendMessageA(tab, TCM_GETCURSEL, 0, 0) : -1;
    }
    HWND control = argc >= 4 ? Control(dialog, atoi(argv[2])) : nullptr;
    if (argc >= 4 && !strcmp(what, "selection")) return control ? SendMessageA(control, CB_GETCURSEL, 0, 0) : -1;
    if (argc >= 4 && !strcmp(what, "check")) return control ? SendMessageA(control, BM_GETCHECK, 0, 0) : -1;
  }
  *known = false;
  return 0;
}

// The value the condition waits for.
long Wanted(int argc, char **argv) {
  const char *what = argv[0];
  if (!strcmp(what, "window")) return 1;
  if (!strcmp(what, "gone")) return 0;
  return atol(argv[argc == 3 ? 2 : 3]);
}

int Wait(int argc, char **argv) {
  DWORD limit = DWORD(atoi(argv[0])), start = GetTickCount();
  for (;;) {
    bool known;
    long now = Now(argc - 1, argv + 1, &known);
    if (!known) {
      fprintf(stderr, "unknown condition\n");
      return 2;
    }
    if (now == Wanted(argc - 1, argv + 1)) return 0;
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
    HWND control = Control(argv[2], argv[3]);
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
