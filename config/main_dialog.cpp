// The tabbed main dialog (dialog 101): creates the pages the board calls for,
// switches between them, and saves every setting on OK and Apply.
#include "applet.h"

#include <cstdio>
#include <cstring>

namespace {

// Pages sit below the tabs, at this offset in the dialog's client area, as
// far as the tab control's display area allows. The offset is in dialog
// units, so that it grows with the dialog at every scale: at 100 % (96 dots
// per inch) it is (11, 29) pixels, the nearest whole units come to (10, 30).
const int kPageX = 7;
const int kPageY = 18;

// The offset along one axis that keeps [at, at + size) inside [low, high):
// the wanted one where it fits, otherwise as close to it as the area allows.
int Fit(int wanted, int size, int low, int high) {
  int at = wanted + size > high ? high - size : wanted;
  return at < low ? low : at;
}

// Places a page inside the tab control's display area (TCM_ADJUSTRECT, in
// the dialog's client coordinates) and right after `previous` in the Z
// order, so that the keyboard reaches the page from the tab strip before
// the buttons below it.
void PlacePage(HWND dialog, HWND page, HWND previous) {
  RECT area, size, origin = {kPageX, kPageY, kPageX, kPageY};
  GetWindowRect(gApplet.tabControl, &area);
  MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT *>(&area), 2);
  SendMessageA(gApplet.tabControl, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  MapDialogRect(dialog, &origin);
  GetWindowRect(page, &size);
  int x = Fit(origin.left, size.right - size.left, area.left, area.right);
  int y = Fit(origin.top, size.bottom - size.top, area.top, area.bottom);
  SetWindowPos(page, previous, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

// Creates a page and its tab, then places the page; its WM_INITDIALOG runs
// inside the creation. The page's background is the tab control's, in the
// system's visual style. The tab is inserted at `index`; past the last tab
// the control appends it, so positions stay in step with pageTable.
HWND AddPage(HWND dialog, int templateId, DLGPROC proc, int index, const char *caption, HWND previous) {
  HWND page = CreateDialogParamA(gApplet.moduleInstance, MAKEINTRESOURCEA(templateId), dialog, proc, 0);
  EnableThemeDialogTexture(page, ETDT_ENABLETAB);
  TCITEMA item = {};
  item.mask = TCIF_TEXT | TCIF_PARAM;
  item.pszText = const_cast<char *>(caption);
  item.lParam = reinterpret_cast<LPARAM>(page);
  SendMessageA(gApplet.tabControl, TCM_INSERTITEMA, WPARAM(index), reinterpret_cast<LPARAM>(&item));
  PlacePage(dialog, page, previous);
  return page;
}

// Ctrl+Tab and Ctrl+PgDn go to the next tab, Ctrl+Shift+Tab and Ctrl+PgUp
// to the one before, round the ends, as in a property sheet; the keyboard
// focus goes with the page. The hook sees the keys of the dialog's modal
// loop before the dialog manager, which would take Ctrl+Tab for Tab.
void SwitchTab(HWND dialog, int step) {
  HWND tab = gApplet.tabControl;
  int count = int(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
  int from = int(SendMessageA(tab, TCM_GETCURSEL, 0, 0));
  if (count < 2 || from < 0 || from >= DIO_MAX_PAGES) return;
  int to = (from + step + count) % count;
  HWND focus = GetFocus();
  bool inPage = focus && IsChild(gApplet.pageTable[from], focus);
  ShowWindow(gApplet.pageTable[from], SW_HIDE);
  SendMessageA(tab, TCM_SETCURSEL, WPARAM(to), 0);
  ShowWindow(gApplet.pageTable[to], SW_SHOW);
  HWND first = GetNextDlgTabItem(gApplet.pageTable[to], NULL, FALSE);
  if (inPage || focus == dialog || !focus) SetFocus(first ? first : tab);
}

LRESULT CALLBACK TabKeysProc(int code, WPARAM wParam, LPARAM lParam) {
  const MSG *msg = reinterpret_cast<const MSG *>(lParam);
  HWND dialog = GetParent(gApplet.tabControl);
  if (code == MSGF_DIALOGBOX && msg->message == WM_KEYDOWN && GetKeyState(VK_CONTROL) < 0 && dialog &&
      (msg->hwnd == dialog || IsChild(dialog, msg->hwnd))) {
    int step = 0;
    if (msg->wParam == VK_TAB) step = GetKeyState(VK_SHIFT) < 0 ? -1 : 1;
    else if (msg->wParam == VK_NEXT) step = 1;
    else if (msg->wParam == VK_PRIOR) step = -1;
    if (step) {
      SwitchTab(dialog, step);
      return 1;
    }
  }
  return CallNextHookEx(gApplet.tabKeys, code, wParam, lParam);
}

// Where the settings cannot be stored, the shield button restarts the
// applet elevated; it shows only where that would help.
void ShowShieldButton(HWND dialog) {
  HWND button = GetDlgItem(dialog, IDC_ELEVATE);
  if (!SettingsNeedElevation() || !ElevationCanHelp()) return;
  SendMessageA(button, BCM_SETSHIELD, 0, TRUE);
  ShowWindow(button, SW_SHOW);
}

// The dialog can be found: it has a taskbar button (and an Alt+Tab entry)
// while its owner, the Control Panel's window, is hidden, and an elevated
// restart, which starts behind the window that was in front, comes forward.
void MakeReachable(HWND dialog) {
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (!owner || !IsWindowVisible(owner))
    SetWindowLongPtrA(dialog, GWL_EXSTYLE, GetWindowLongPtrA(dialog, GWL_EXSTYLE) | WS_EX_APPWINDOW);
  if (gApplet.editsCarried) SetForegroundWindow(dialog);
}

void main_on_init(HWND dialog) {
  gApplet.tabControl = GetDlgItem(dialog, IDC_TAB);
  gApplet.tabKeys = SetWindowsHookExA(WH_MSGFILTER, TabKeysProc, NULL, GetCurrentThreadId());
  ShowShieldButton(dialog);
  MakeReachable(dialog);

  if (gApplet.deviceType == DIO_MODEL_NINE_CHANNEL) {
    HWND page = AddPage(dialog, IDD_INTERRUPT9_PAGE, Interrupt9PageProc, 0, "Interrupt", gApplet.tabControl);
    ShowWindow(page, SW_SHOW);
    return;
  }

  HWND *pages = gApplet.pageTable;
  pages[0] = AddPage(dialog, IDD_SUPPORT_PAGE, SupportPageProc, 0, "Function", gApplet.tabControl);
  ShowWindow(pages[0], SW_SHOW);
  int next = 1;
  if (gApplet.featureFlags & DIO_FEATURE_DI_INTERRUPT) {
    pages[next] = AddPage(dialog, IDD_INTERRUPT_PAGE, InterruptPageProc, 1, "Interrupt", pages[next - 1]);
    ++next;
  }
  if (gApplet.featureFlags & DIO_FEATURE_COUNTER) {
    pages[next] = AddPage(dialog, IDD_COUNTER_PAGE, CounterPageProc, 2, "Counter", pages[next - 1]);
    ++next;
  }
  if (gApplet.dioInfo.doCount != 0) pages[next] = AddPage(dialog, IDD_DO_PAGE, DoPageProc, 3, "DO", pages[next - 1]);
}

// The page of the tab that is losing the selection hides, the one gaining
// it shows.
void main_on_notify(const NMHDR *header) {
  int selected = int(SendMessageA(gApplet.tabControl, TCM_GETCURSEL, 0, 0));
  if (selected < 0 || selected >= DIO_MAX_PAGES || !gApplet.pageTable[selected]) return;
  if (header->code == TCN_SELCHANGING) ShowWindow(gApplet.pageTable[selected], SW_HIDE);
  else if (header->code == TCN_SELCHANGE) ShowWindow(gApplet.pageTable[selected], SW_SHOW);
}

// What the save of OK or Apply did: each key's result, in the order of the
// saves, and whether the board took the DO settings.
struct SaveResult {
  struct {
    const char *key;
    LSTATUS status;
  } keys[3];
  int count;
  int boardTook;
};

void Note(SaveResult *result, const char *key, LSTATUS status) {
  result->keys[result->count].key = key;
  result->keys[result->count].status = status;
  ++result->count;
}

BOOL EverythingStored(const SaveResult &result) {
  for (int i = 0; i < result.count; ++i)
    if (result.keys[i].status != ERROR_SUCCESS) return FALSE;
  return TRUE;
}

// Every setting goes to the registry whichever pages exist, each key on its
// own, so that a refused key does not keep the others from being stored;
// the DO settings also go straight to the board.
SaveResult SaveAllSettings(void) {
  SaveResult result = {};
  if (gApplet.deviceType == DIO_MODEL_NINE_CHANNEL) {
    Note(&result, DIO_KEY_INTERRUPT, SaveInterrupt9Settings(1));
  } else {
    Note(&result, DIO_KEY_INTERRUPT, SaveInterruptSettings(1));
    Note(&result, DIO_KEY_COUNTER, SaveCounterSettings(1));
  }
  Note(&result, DIO_KEY_DO, SaveDoSettings(1));
  DIO_DO_CONFIG config = gApplet.doConfig;  // the library's to read, not to change
  result.boardTook = ApplyDoSettings(&config);
  return result;
}

// Appends string `id` as a line of its own, formatted with up to two texts.
void Append(char *text, size_t size, UINT id, const char *first = "", const char *second = "") {
  char format[200];
  LoadStringA(gApplet.moduleInstance, id, format, sizeof format);
  size_t length = strlen(text);
  if (length && length + 1 < size) text[length++] = '\n', text[length] = '\0';
  if (length < size) snprintf(text + length, size - length, format, first, second);
}

// Why the registry refused a key, in words.
void Reason(LSTATUS status, char *text, size_t size) {
  char format[120];
  LoadStringA(gApplet.moduleInstance, status == ERROR_ACCESS_DENIED ? IDS_REASON_DENIED : IDS_REASON_OTHER, format,
              sizeof format);
  snprintf(text, size, format, (unsigned long)status);
}

void ReportElevationFailure(HWND dialog, DWORD error) {
  char format[200], text[260], caption[80];
  LoadStringA(gApplet.moduleInstance, IDS_ELEVATION_FAILED, format, sizeof format);
  snprintf(text, sizeof text, format, (unsigned long)error);
  GetWindowTextA(dialog, caption, sizeof caption);
  MessageBoxA(dialog, text, caption, MB_OK | MB_ICONERROR);
}

// The elevated applet takes over with the edits, and this dialog closes; a
// prompt the user declined leaves it as it was.
void Elevate(HWND dialog) {
  DWORD error = RestartElevated(dialog);
  if (error == ERROR_SUCCESS) EndDialog(dialog, IDCANCEL);
  else if (error != ERROR_CANCELLED) ReportElevationFailure(dialog, error);
}

// Says what a save did when it did not do everything: which keys were
// stored and which were refused, and why; whether the board took the DO
// settings; and, where an elevated applet could store the rest, offers to
// open one with the edits. TRUE when that applet took over.
BOOL ReportSave(HWND dialog, const SaveResult &result) {
  BOOL stored = EverythingStored(result);
  if (stored && result.boardTook) return FALSE;
  char text[1600] = "", caption[80];
  GetWindowTextA(dialog, caption, sizeof caption);
  if (stored) {
    Append(text, sizeof text, IDS_BOARD_MISSED_STORED);
    MessageBoxA(dialog, text, caption, MB_OK | MB_ICONWARNING);
    return FALSE;
  }
  int refused = 0;
  for (int i = 0; i < result.count; ++i) refused += result.keys[i].status != ERROR_SUCCESS;
  Append(text, sizeof text, refused == result.count ? IDS_NOTHING_STORED : IDS_PARTLY_STORED);
  for (int i = 0; i < result.count; ++i) {
    char key[160], why[120];
    snprintf(key, sizeof key, "HKEY_LOCAL_MACHINE\\%s", result.keys[i].key);
    Reason(result.keys[i].status, why, sizeof why);
    if (result.keys[i].status == ERROR_SUCCESS) Append(text, sizeof text, IDS_KEY_STORED, key);
    else Append(text, sizeof text, IDS_KEY_REFUSED, key, why);
  }
  Append(text, sizeof text, result.boardTook ? IDS_BOARD_TOOK : IDS_BOARD_MISSED);
  if (!ElevationCanHelp()) {
    Append(text, sizeof text, IDS_CHANGES_KEPT);
    MessageBoxA(dialog, text, caption, MB_OK | MB_ICONERROR);
    return FALSE;
  }
  Append(text, sizeof text, IDS_OFFER_ELEVATION);
  if (MessageBoxA(dialog, text, caption, MB_YESNO | MB_ICONWARNING) != IDYES) return FALSE;
  Elevate(dialog);
  return !IsWindowVisible(dialog);
}

// OK closes the dialog once everything is stored; after a refused save the
// edits stay on screen, to be stored from an elevated applet or left with
// Cancel.
void main_on_command(HWND dialog, int id) {
  switch (id) {
    case IDOK: {
      SaveResult result = SaveAllSettings();
      if (ReportSave(dialog, result)) return;
      if (EverythingStored(result)) EndDialog(dialog, IDOK);
      break;
    }
    case IDC_APPLY:
      ReportSave(dialog, SaveAllSettings());
      break;
    case IDC_ELEVATE:
      Elevate(dialog);
      break;
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      break;
  }
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      main_on_init(dialog);
      return TRUE;
    case WM_NOTIFY:
      main_on_notify(reinterpret_cast<const NMHDR *>(lParam));
      return TRUE;
    case WM_COMMAND:
      main_on_command(dialog, LOWORD(wParam));
      return TRUE;
    case WM_DESTROY:
      if (gApplet.tabKeys) UnhookWindowsHookEx(gApplet.tabKeys);
      gApplet.tabKeys = NULL;
      return FALSE;
  }
  return FALSE;
}
