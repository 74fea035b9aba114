// dialog_probe: looks at a dialog of another program on the same desktop, so
// that the Wine run of the applet finds each control where the dialog really
// put it and waits for states instead of sleeping. Controls are found by ID
// among the dialog's own and its pages' controls. Exit status 0 when done, 1
// otherwise, 2 for a wrong command line.
//
//   rect TITLE ID      control ID's screen rectangle, "left top right bottom"
//   geometry TITLE     every page inside the tab control's display area
//   indicators TITLE   each indicator of the support page owner-drawn over its 8 x 8 dialog units
//   fit TITLE          the text of every static, button, check box, radio button and list entry of
//                      every page inside its control (GetTextExtentPoint32 in the control's font)
//   names TITLE        every control's accessible name and state (AccessibleObjectFromWindow): each
//                      indicator names its function and whether the board has it, no two controls of
//                      one kind on a page share a name, a disabled control is unavailable
//   cpl PATH           the applet's answers to the Control Panel's messages before a double click
//                      (the NEWCPLINFOA it fills), then to CPL_STOP and CPL_EXIT
//   wait MS CONDITION  at most MS milliseconds for window TITLE | gone TITLE | focus TITLE ID |
//                      tab TITLE INDEX | selection TITLE ID INDEX | check TITLE ID STATE; when it
//                      does not come, prints what the dialog shows instead
#include <windows.h>
#include <commctrl.h>
#include <cpl.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

const int kTabControl = 1000;

HWND Dialog(const char *title) {
  HWND dialog = FindWindowA("#32770", title);
  return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

// The dialog, or none with a line that says so.
HWND Shown(const char *title) {
  HWND dialog = Dialog(title);
  if (!dialog) printf("no dialog \"%s\"\n", title);
  return dialog;
}

std::string ClassOf(HWND window) {
  char name[64];
  GetClassNameA(window, name, sizeof name);
  return name;
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

// The support page's indicators (1033 to 1043) are 8 x 8 dialog units each.
// Another process's dialog units cannot be asked for, but its controls were
// placed with them: the label beside the first indicator (1046, 122 x 8
// units) is one vertical base unit high, and 4 horizontal units of it are
// its width / 30.5. Each indicator must be owner-drawn (the page draws it
// at its size), over those 8 x 8 units give or take a pixel of rounding.
int Indicators(const char *title) {
  HWND dialog = Dialog(title), label = Control(dialog, 1046);
  RECT text;
  if (!label || !GetWindowRect(label, &text)) {
    printf("no support page in \"%s\"\n", title);
    return 1;
  }
  int width = MulDiv(8, text.right - text.left, 122), height = text.bottom - text.top;
  printf("8 x 8 dialog units are about %d x %d pixels\n", width, height);
  int wrong = 0;
  for (int id = 1033; id <= 1043; ++id) {
    HWND indicator = Control(dialog, id);
    RECT at = {};
    bool drawn = indicator && GetWindowRect(indicator, &at) &&
                 (GetWindowLongA(indicator, GWL_STYLE) & SS_TYPEMASK) == SS_OWNERDRAW;
    bool fills = drawn && abs(at.right - at.left - width) <= 1 && abs(at.bottom - at.top - height) <= 1;
    printf("indicator %d: %ld x %ld, %s\n", id, at.right - at.left, at.bottom - at.top,
           fills ? "drawn by the page over all of it" : drawn ? "NOT ITS 8 X 8 UNITS" : "NOT OWNER-DRAWN");
    wrong += !fills;
  }
  return wrong ? 1 : 0;
}

// Every window the checks look at: the main dialog's own controls, then
// each page's.
std::vector<std::pair<HWND, HWND>> Controls(HWND dialog) {
  std::vector<std::pair<HWND, HWND>> out;
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (ClassOf(c) != "#32770") out.push_back({dialog, c});
  for (HWND page = NextPage(dialog, nullptr); page; page = NextPage(dialog, page))
    for (HWND c = GetWindow(page, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back({page, c});
  return out;
}

// The text as drawn: a "&" marks the next character, "&&" is one "&".
std::wstring Drawn(const std::wstring &text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && ++i == text.size()) break;
    out.push_back(text[i]);
  }
  return out;
}

std::string Narrow(const std::wstring &text) {
  char out[512];
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out, nullptr, nullptr);
  return out;
}

// The font a control draws with. Its own (WM_GETFONT) where this process
// can read it; otherwise the dialog's template font, made as the dialog
// manager makes it: 8 points at the screen's dots per inch, "MS Sans Serif"
// on the DO and support pages, "Microsoft Sans Serif" elsewhere.
HFONT FontOf(HWND parent, HWND control, int dpi, bool *own) {
  LOGFONTW font = {};
  HFONT handle = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  *own = handle && GetObjectW(handle, sizeof font, &font) == sizeof font;
  if (!*own) {
    font = LOGFONTW();
    font.lfHeight = -MulDiv(8, dpi, 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = PROOF_QUALITY;
    bool ms = GetDlgItem(parent, 1022) || GetDlgItem(parent, 1033);
    wcscpy(font.lfFaceName, ms ? L"MS Sans Serif" : L"Microsoft Sans Serif");
  }
  return CreateFontIndirectW(&font);
}

// What each kind of control needs beside its text, in pixels at `dpi`:
// the check box or radio circle and its gap, a push button's edges (and
// its shield), a group box's indents, a list's arrow button and edges.
int Beside(HWND control, int dpi) {
  std::string kind = ClassOf(control);
  LONG style = GetWindowLongA(control, GWL_STYLE);
  if (kind == "Button") {
    switch (style & BS_TYPEMASK) {
      case BS_CHECKBOX: case BS_AUTOCHECKBOX: case BS_RADIOBUTTON: case BS_AUTORADIOBUTTON:
        return GetSystemMetrics(SM_CXMENUCHECK) + MulDiv(4, dpi, 96);
      case BS_GROUPBOX:
        return MulDiv(16, dpi, 96);
    }
    return MulDiv(8, dpi, 96) + (GetDlgCtrlID(control) == 4 ? GetSystemMetrics(SM_CXSMICON) + MulDiv(4, dpi, 96) : 0);
  }
  if (kind == "ComboBox") return GetSystemMetrics(SM_CXVSCROLL) + MulDiv(6, dpi, 96);
  return 0;
}

int Fit(const char *title) {
  HWND dialog = Shown(title);
  if (!dialog) return 1;
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  int checked = 0, clipped = 0, own = 0;
  for (const auto &[parent, control] : Controls(dialog)) {
    std::string kind = ClassOf(control);
    LONG style = GetWindowLongA(control, GWL_STYLE);
    bool text = kind == "Button" || kind == "ComboBox" ||
                (kind == "Static" && (style & SS_TYPEMASK) <= SS_RIGHT);
    // Controls the template keeps hidden never show; the shield button may.
    if (!text || (!(style & WS_VISIBLE) && GetDlgCtrlID(control) != 4)) continue;
    std::vector<std::wstring> texts;
    if (kind == "ComboBox") {
      int count = int(SendMessageW(control, CB_GETCOUNT, 0, 0));
      for (int i = 0; i < count; ++i) {
        wchar_t item[128] = L"";
        if (SendMessageW(control, CB_GETLBTEXTLEN, i, 0) < 127) SendMessageW(control, CB_GETLBTEXT, i, (LPARAM)item);
        texts.push_back(item);
      }
    } else {
      wchar_t t[256] = L"";
      GetWindowTextW(control, t, 256);
      texts.push_back(kind == "Static" && (style & SS_NOPREFIX) ? t : Drawn(t));
    }
    bool ownFont;
    HFONT font = FontOf(parent, control, dpi, &ownFont);
    own += ownFont;
    HGDIOBJ old = SelectObject(dc, font);
    RECT client;
    GetClientRect(control, &client);
    int room = client.right - Beside(control, dpi), height = client.bottom;
    for (const auto &t : texts) {
      SIZE size = {};
      GetTextExtentPoint32W(dc, t.c_str(), int(t.size()), &size);
      bool fits = size.cx <= room && (kind == "ComboBox" || size.cy <= height);
      printf("%d %s \"%s\": text %ld x %ld, room %d x %d%s\n", GetDlgCtrlID(control), kind.c_str(),
             Narrow(t).c_str(), size.cx, size.cy, room, height, fits ? "" : "  CLIPPED");
      ++checked;
      clipped += !fits;
    }
    SelectObject(dc, old);
    DeleteObject(font);
  }
  DeleteDC(dc);
  printf("%d texts at %d dots per inch (%d controls' own fonts read), %d clipped\n", checked, dpi, own, clipped);
  return checked > 0 && clipped == 0 ? 0 : 1;
}

// The Control Panel's questions before a double click, and the answers.
int Cpl(const char *path) {
  HMODULE applet = LoadLibraryA(path);
  APPLET_PROC proc = applet ? reinterpret_cast<APPLET_PROC>(reinterpret_cast<void *>(GetProcAddress(applet, "CPlApplet"))) : nullptr;
  if (!proc) {
    printf("no CPlApplet in %s (error %lu)\n", path, GetLastError());
    return 1;
  }
  HWND window = GetDesktopWindow();
  printf("CPL_INIT %ld\n", proc(window, CPL_INIT, 0, 0));
  printf("CPL_GETCOUNT %ld\n", proc(window, CPL_GETCOUNT, 0, 0));
  CPLINFO info;
  memset(&info, 0x5A, sizeof info);
  LONG inquired = proc(window, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info));
  printf("CPL_INQUIRE %ld, record %s\n", inquired, info.idIcon == 0x5A5A5A5A ? "untouched" : "written");
  NEWCPLINFOA described;
  memset(&described, 0x5A, sizeof described);
  described.dwSize = sizeof described;
  LONG answer = proc(window, CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&described));
  printf("CPL_NEWINQUIRE %ld: dwSize %lu dwFlags %lu dwHelpContext %lu lData %ld icon %s help \"%s\"\n", answer,
         (unsigned long)described.dwSize, (unsigned long)described.dwFlags, (unsigned long)described.dwHelpContext,
         (long)described.lData, described.hIcon ? "yes" : "none", described.szHelpFile[0] ? "?" : "");
  printf("name \"%s\"\ninfo \"%s\"\n", described.szName, described.szInfo);
  printf("CPL_STOP %ld\n", proc(window, CPL_STOP, 0, info.lData));
  printf("CPL_EXIT %ld\n", proc(window, CPL_EXIT, 0, 0));
  FreeLibrary(applet);
  return 0;
}

int Names(const char *title) {
  HWND dialog = Shown(title);
  if (!dialog) return 1;
  CoInitialize(nullptr);
  int wrong = 0;
  std::set<std::string> seen;
  for (const auto &[parent, control] : Controls(dialog)) {
    IAccessible *object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, OBJID_CLIENT, __uuidof(IAccessible),
                                          reinterpret_cast<void **>(&object))) || !object) {
      printf("%d: NO ACCESSIBLE OBJECT\n", GetDlgCtrlID(control));
      ++wrong;
      continue;
    }
    VARIANT self, state;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VariantInit(&state);
    BSTR name = nullptr;
    object->get_accName(self, &name);
    object->get_accState(self, &state);
    std::string text = name ? Narrow(name) : "";
    long flags = state.vt == VT_I4 ? state.lVal : 0;
    std::string kind = ClassOf(control);
    LONG style = GetWindowLongA(control, GWL_STYLE);
    int id = GetDlgCtrlID(control);
    std::string problem;
    if (id >= 1033 && id <= 1043) {
      size_t colon = text.find(": ");
      std::string said = colon == std::string::npos ? "" : text.substr(colon + 2);
      if (said != "supported" && said != "not supported") problem = "an indicator that does not say supported or not";
    }
    // A list's accessible name is its label's on Windows; Wine's names it
    // by the entry it shows, so lists are left out of the comparison.
    if (!text.empty() && kind != "ComboBox" && (style & WS_VISIBLE) &&
        !seen.insert(std::to_string(uintptr_t(parent)) + kind + text).second)
      problem = "a second " + kind + " of this page with this name";
    if (bool(style & WS_DISABLED) != bool(flags & STATE_SYSTEM_UNAVAILABLE)) problem = "unavailable is not disabled";
    printf("%d %s \"%s\" state 0x%lx%s%s\n", id, kind.c_str(), text.c_str(), flags, problem.empty() ? "" : "  ",
           problem.c_str());
    wrong += !problem.empty();
    if (name) SysFreeString(name);
    object->Release();
  }
  CoUninitialize();
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
  const std::pair<const char *, int (*)(const char *)> commands[] = {
      {"geometry", Geometry}, {"indicators", Indicators}, {"fit", Fit}, {"cpl", Cpl}, {"names", Names}};
  for (const auto &[name, run] : commands)
    if (argc >= 3 && !strcmp(argv[1], name)) return run(argv[2]);
  if (argc >= 4 && !strcmp(argv[1], "wait")) return Wait(argc - 2, argv + 2);
  fprintf(stderr, "usage: dialog_probe rect TITLE ID | geometry TITLE | indicators TITLE | fit TITLE | names TITLE | cpl PATH | "
                  "wait MS CONDITION...\n");
  return 2;
}
