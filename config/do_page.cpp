// The DO start/shutdown page (dialog 107): whether a DO channel is driven
// when the system starts and when it shuts down, which one and to which
// level. The page edits gApplet only; OK and Apply save.
#include "applet.h"

#include <cstdio>

namespace {

// List positions of the two levels; adding them in this order keeps them
// there in the sorted lists.
const int kHigh = 0;
const int kLow = 1;

LRESULT Send(HWND page, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendDlgItemMessageA(page, id, message, wParam, lParam);
}

void AddItem(HWND page, int id, const char *text) { Send(page, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); }

void EnableList(HWND page, int id, BOOL enable) { EnableWindow(GetDlgItem(page, id), enable); }

// The trigger follows its check box; the channel and level lists are usable
// only while it is on.
int page_on_trigger(HWND page, int box, int channelList, int levelList) {
  int on = Send(page, box, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
  EnableList(page, channelList, on);
  EnableList(page, levelList, on);
  return on;
}

int Selection(HWND page, int id) { return int(Send(page, id, CB_GETCURSEL, 0, 0)); }

void page_on_command(HWND page, int id, int code) {
  DIO_DO_CONFIG &c = gApplet.doConfig;
  switch (id) {
    case IDC_DO_START_ENABLE:
      c.TriggerStart = page_on_trigger(page, IDC_DO_START_ENABLE, IDC_DO_START_CHANNEL, IDC_DO_START_LEVEL);
      break;
    case IDC_DO_SHUTDOWN_ENABLE:
      c.TriggerShutdown = page_on_trigger(page, IDC_DO_SHUTDOWN_ENABLE, IDC_DO_SHUTDOWN_CHANNEL, IDC_DO_SHUTDOWN_LEVEL);
      break;
    case IDC_DO_START_CHANNEL:
      if (code == CBN_SELCHANGE) c.ChannelStart = DWORD(Selection(page, id));
      break;
    case IDC_DO_SHUTDOWN_CHANNEL:
      if (code == CBN_SELCHANGE) c.ChannelShutdown = DWORD(Selection(page, id));
      break;
    case IDC_DO_START_LEVEL:
      if (code == CBN_SELCHANGE) c.LevelStart = Selection(page, id) == kHigh ? 1 : 0;
      break;
    case IDC_DO_SHUTDOWN_LEVEL:
      if (code == CBN_SELCHANGE) c.LevelShutdown = Selection(page, id) == kHigh ? 1 : 0;
      break;
  }
}

}  // namespace

void FillDoPage(HWND page) {
  AddItem(page, IDC_DO_START_LEVEL, "High");
  AddItem(page, IDC_DO_START_LEVEL, "Low");
  AddItem(page, IDC_DO_SHUTDOWN_LEVEL, "High");
  AddItem(page, IDC_DO_SHUTDOWN_LEVEL, "Low");
  // Models 2 and 3 have eight DO channels to choose from, the others four.
  int channels = (gApplet.deviceType == DIO_MODEL_ISA_3 || gApplet.deviceType == DIO_MODEL_ISA_2) ? 8 : 4;
  for (int channel = 0; channel < channels; ++channel) {
    char name[16];
    snprintf(name, sizeof name, "DO%d", channel);
    AddItem(page, IDC_DO_START_CHANNEL, name);
    AddItem(page, IDC_DO_SHUTDOWN_CHANNEL, name);
  }
  const DIO_DO_CONFIG &c = gApplet.doConfig;
  Send(page, IDC_DO_START_ENABLE, BM_SETCHECK, c.TriggerStart ? BST_CHECKED : BST_UNCHECKED, 0);
  if (!c.TriggerStart) {
    EnableList(page, IDC_DO_START_CHANNEL, FALSE);
    EnableList(page, IDC_DO_START_LEVEL, FALSE);
  }
  Send(page, IDC_DO_SHUTDOWN_ENABLE, BM_SETCHECK, c.TriggerShutdown ? BST_CHECKED : BST_UNCHECKED, 0);
  if (!c.TriggerShutdown) {
    EnableList(page, IDC_DO_SHUTDOWN_CHANNEL, FALSE);
    EnableList(page, IDC_DO_SHUTDOWN_LEVEL, FALSE);
  }
  // A stored channel beyond the list (a negative one too: it is the index
  // as an int) leaves it without a selection.
  Send(page, IDC_DO_START_CHANNEL, CB_SETCURSEL, WPARAM(int(c.ChannelStart)), 0);
  Send(page, IDC_DO_SHUTDOWN_CHANNEL, CB_SETCURSEL, WPARAM(int(c.ChannelShutdown)), 0);
  Send(page, IDC_DO_START_LEVEL, CB_SETCURSEL, c.LevelStart ? kHigh : kLow, 0);
  Send(page, IDC_DO_SHUTDOWN_LEVEL, CB_SETCURSEL, c.LevelShutdown ? kHigh : kLow, 0);
}

INT_PTR CALLBACK DoPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (message) {
    case WM_INITDIALOG:
      FillDoPage(page);
      return TRUE;
    case WM_COMMAND:
      page_on_command(page, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
  }
  return FALSE;
}
