// The tabbed main dialog (dialog 101): creates the pages the board calls for,
// switches between them, and saves every setting on OK and Apply.
#include "applet.h"

#include <cstdio>

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

void main_on_init(HWND dialog) {
  gApplet.tabControl = GetDlgItem(dialog, IDC_TAB);

  if (gApplet.deviceType == DIO_MODEL_NINE_CHANNEL) {
    gApplet.interruptPage =
        AddPage(dialog, IDD_INTERRUPT9_PAGE, Interrupt9PageProc, 0, "Interrupt", gApplet.tabControl);
    ShowWindow(gApplet.interruptPage, SW_SHOW);
    return;
  }

  gApplet.supportPage = AddPage(dialog, IDD_SUPPORT_PAGE, SupportPageProc, 0, "Function", gApplet.tabControl);
  ShowWindow(gApplet.supportPage, SW_SHOW);
  gApplet.pageTable[0] = gApplet.supportPage;
  int next = 1;
  if (gApplet.featureFlags & DIO_FEATURE_DI_INTERRUPT) {
    gApplet.interruptPage =
        AddPage(dialog, IDD_INTERRUPT_PAGE, InterruptPageProc, 1, "Interrupt", gApplet.pageTable[next - 1]);
    gApplet.pageTable[next++] = gApplet.interruptPage;
  }
  if (gApplet.featureFlags & DIO_FEATURE_COUNTER) {
    gApplet.counterPage =
        AddPage(dialog, IDD_COUNTER_PAGE, CounterPageProc, 2, "Counter", gApplet.pageTable[next - 1]);
    gApplet.pageTable[next++] = gApplet.counterPage;
  }
  if (gApplet.dioInfo.doCount != 0) {
    gApplet.doPage = AddPage(dialog, IDD_DO_PAGE, DoPageProc, 3, "DO", gApplet.pageTable[next - 1]);
    gApplet.pageTable[next] = gApplet.doPage;
  }
}

// The page of the tab that is losing the selection hides, the one gaining
// it shows.
void main_on_notify(const NMHDR *header) {
  int selected = int(SendMessageA(gApplet.tabControl, TCM_GETCURSEL, 0, 0));
  if (selected < 0 || selected >= DIO_MAX_PAGES || !gApplet.pageTable[selected]) return;
  if (header->code == TCN_SELCHANGING) ShowWindow(gApplet.pageTable[selected], SW_HIDE);
  else if (header->code == TCN_SELCHANGE) ShowWindow(gApplet.pageTable[selected], SW_SHOW);
}

// One message box for a save the registry refused: a standard user, or an
// administrator whose Control Panel is not elevated, cannot change the
// driver's service key. It says why, and that the DO settings went to the
// board all the same while nothing was stored.
void ReportRefusedSave(HWND dialog, LSTATUS status) {
  char format[320], why[400], board[200], text[640], caption[80];
  int id = status == ERROR_ACCESS_DENIED ? IDS_SAVE_DENIED : IDS_SAVE_FAILED;
  LoadStringA(gApplet.moduleInstance, UINT(id), format, sizeof format);
  snprintf(why, sizeof why, format, (unsigned long)status);
  LoadStringA(gApplet.moduleInstance, IDS_NOTHING_STORED, board, sizeof board);
  snprintf(text, sizeof text, "%s\n\n%s", why, board);
  GetWindowTextA(dialog, caption, sizeof caption);
  MessageBoxA(dialog, text, caption, MB_OK | MB_ICONWARNING);
}

// Every setting goes to the registry whichever pages exist, and the DO
// settings also go straight to the board, even when the registry refused
// them; the user is told when it did. ERROR_SUCCESS, or the first error.
LSTATUS SaveAllSettings(HWND dialog) {
  LSTATUS status;
  if (gApplet.deviceType == DIO_MODEL_NINE_CHANNEL) {
    status = SaveInterrupt9Settings(1);
  } else {
    status = SaveInterruptSettings(1);
    status = FirstFailure(status, SaveCounterSettings(1));
  }
  status = FirstFailure(status, SaveDoSettings(1));
  DIO_DO_CONFIG config;
  config.TriggerStart = DWORD(gApplet.triggerStart);
  config.TriggerShutdown = DWORD(gApplet.triggerShutdown);
  config.ChannelStart = DWORD(gApplet.channelStart);
  config.ChannelShutdown = DWORD(gApplet.channelShutdown);
  config.LevelStart = DWORD(gApplet.levelStart);
  config.LevelShutdown = DWORD(gApplet.levelShutdown);
  ApplyDoSettings(&config);
  if (status != ERROR_SUCCESS) ReportRefusedSave(dialog, status);
  return status;
}

// OK closes the dialog once everything is stored; after a refused save the
// edits stay on screen, to be stored from an elevated applet or left with
// Cancel.
void main_on_command(HWND dialog, int id) {
  switch (id) {
    case IDOK:
      if (SaveAllSettings(dialog) == ERROR_SUCCESS) EndDialog(dialog, IDOK);
      break;
    case IDC_APPLY:
      SaveAllSettings(dialog);
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
  }
  return FALSE;
}
