// The tabbed main dialog (dialog 101): creates the pages the board calls for,
// switches between them, and saves every setting on OK and Apply.
#include "applet.h"

#include <cstdio>

namespace {

// Pages sit below the tabs, at this offset in the dialog's client area.
const int kPageX = 10;
const int kPageY = 30;

HWND CreatePage(HWND dialog, int templateId, DLGPROC proc) {
  HWND page = CreateDialogParamA(gApplet.moduleInstance, MAKEINTRESOURCEA(templateId), dialog, proc, 0);
  SetWindowPos(page, NULL, kPageX, kPageY, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  return page;
}

// The item is inserted at `index`; past the last tab the control appends it,
// so positions stay in step with pageTable.
void AddTab(TCITEMA *item, int index, const char *caption, HWND page) {
  item->pszText = const_cast<char *>(caption);
  item->lParam = reinterpret_cast<LPARAM>(page);
  SendMessageA(gApplet.tabControl, TCM_INSERTITEMA, WPARAM(index), reinterpret_cast<LPARAM>(item));
}

void main_on_init(HWND dialog) {
  gApplet.tabControl = GetDlgItem(dialog, IDC_TAB);
  TCITEMA item = {};
  item.mask = TCIF_TEXT | TCIF_PARAM;

  if (gApplet.deviceType == DIO_MODEL_NINE_CHANNEL) {
    gApplet.interruptPage = CreatePage(dialog, IDD_INTERRUPT9_PAGE, Interrupt9PageProc);
    ShowWindow(gApplet.interruptPage, SW_SHOW);
    AddTab(&item, 0, "Interrupt", gApplet.interruptPage);
    return;
  }

  gApplet.supportPage = CreatePage(dialog, IDD_SUPPORT_PAGE, SupportPageProc);
  ShowWindow(gApplet.supportPage, SW_SHOW);
  AddTab(&item, 0, "Function", gApplet.supportPage);
  gApplet.pageTable[0] = gApplet.supportPage;
  int next = 1;
  if (gApplet.featureFlags & DIO_FEATURE_DI_INTERRUPT) {
    gApplet.interruptPage = CreatePage(dialog, IDD_INTERRUPT_PAGE, InterruptPageProc);
    AddTab(&item, 1, "Interrupt", gApplet.interruptPage);
    gApplet.pageTable[next++] = gApplet.interruptPage;
  }
  if (gApplet.featureFlags & DIO_FEATURE_COUNTER) {
    gApplet.counterPage = CreatePage(dialog, IDD_COUNTER_PAGE, CounterPageProc);
    AddTab(&item, 2, "Counter", gApplet.counterPage);
    gApplet.pageTable[next++] = gApplet.counterPage;
  }
  if (gApplet.dioInfo.doCount != 0) {
    gApplet.doPage = CreatePage(dialog, IDD_DO_PAGE, DoPageProc);
    AddTab(&item, 3, "DO", gApplet.doPage);
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
// driver's service key.
void ReportRefusedSave(HWND dialog, LSTATUS status) {
  char format[320], text[400], caption[80];
  int id = status == ERROR_ACCESS_DENIED ? IDS_SAVE_DENIED : IDS_SAVE_FAILED;
  LoadStringA(gApplet.moduleInstance, UINT(id), format, sizeof format);
  snprintf(text, sizeof text, format, (unsigned long)status);
  GetWindowTextA(dialog, caption, sizeof caption);
  MessageBoxA(dialog, text, caption, MB_OK | MB_ICONWARNING);
}

// Every setting goes to the registry whichever pages exist, and the DO
// settings also go straight to the board, even when the registry refused
// them; the user is told when it did.
void SaveAllSettings(HWND dialog) {
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
}

void main_on_command(HWND dialog, int id) {
  switch (id) {
    case IDOK:
      SaveAllSettings(dialog);
      EndDialog(dialog, IDOK);
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
