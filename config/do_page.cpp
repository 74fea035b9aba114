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

LRESULT Send(int id, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendDlgItemMessageA(gApplet.doPage, id, message, wParam, lParam);
}

void AddItem(int id, const char *text) { Send(id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); }

void EnableList(int id, BOOL enable) { EnableWindow(GetDlgItem(gApplet.doPage, id), enable); }

// The trigger follows its check box; the channel and level lists are usable
// only while it is on.
int page_on_trigger(int box, int channelList, int levelList) {
  int on = Send(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
  EnableList(channelList, on);
  EnableList(levelList, on);
  return on;
}

int Selection(int id) { return int(Send(id, CB_GETCURSEL, 0, 0)); }

void page_on_command(int id, int code) {
  switch (id) {
    case IDC_DO_START_ENABLE:
      gApplet.triggerStart = page_on_trigger(IDC_DO_START_ENABLE, IDC_DO_START_CHANNEL, IDC_DO_START_LEVEL);
      break;
    case IDC_DO_SHUTDOWN_ENABLE:
      gApplet.triggerShutdown =
          page_on_trigger(IDC_DO_SHUTDOWN_ENABLE, IDC_DO_SHUTDOWN_CHANNEL, IDC_DO_SHUTDOWN_LEVEL);
      break;
    case IDC_DO_START_CHANNEL:
      if (code == CBN_SELCHANGE) gApplet.channelStart = Selection(id);
      break;
    case IDC_DO_SHUTDOWN_CHANNEL:
      if (code == CBN_SELCHANGE) gApplet.channelShutdown = Selection(id);
      break;
    case IDC_DO_START_LEVEL:
      if (code == CBN_SELCHANGE) gApplet.levelStart = Selection(id) == kHigh ? 1 : 0;
      break;
    case IDC_DO_SHUTDOWN_LEVEL:
      if (code == CBN_SELCHANGE) gApplet.levelShutdown = Selection(id) == kHigh ? 1 : 0;
      break;
  }
}

}  // namespace

void FillDoPage(void) {
  AddItem(IDC_DO_START_LEVEL, "High");
  AddItem(IDC_DO_START_LEVEL, "Low");
  AddItem(IDC_DO_SHUTDOWN_LEVEL, "High");
  AddItem(IDC_DO_SHUTDOWN_LEVEL, "Low");
  // Models 2 and 3 have eight DO channels to choose from, the others four.
  int channels = (gApplet.deviceType == 3 || gApplet.deviceType == 2) ? 8 : 4;
  for (int channel = 0; channel < channels; ++channel) {
    char name[16];
    snprintf(name, sizeof name, "DO%d", channel);
    AddItem(IDC_DO_START_CHANNEL, name);
    AddItem(IDC_DO_SHUTDOWN_CHANNEL, name);
  }
  Send(IDC_DO_START_ENABLE, BM_SETCHECK, gApplet.triggerStart ? BST_CHECKED : BST_UNCHECKED, 0);
  if (!gApplet.triggerStart) {
    EnableList(IDC_DO_START_CHANNEL, FALSE);
    EnableList(IDC_DO_START_LEVEL, FALSE);
  }
  Send(IDC_DO_SHUTDOWN_ENABLE, BM_SETCHECK, gApplet.triggerShutdown ? BST_CHECKED : BST_UNCHECKED, 0);
  if (!gApplet.triggerShutdown) {
    EnableList(IDC_DO_SHUTDOWN_CHANNEL, FALSE);
    EnableList(IDC_DO_SHUTDOWN_LEVEL, FALSE);
  }
  // A stored channel beyond the list leaves it without a selection.
  Send(IDC_DO_START_CHANNEL, CB_SETCURSEL, WPARAM(gApplet.channelStart), 0);
  Send(IDC_DO_SHUTDOWN_CHANNEL, CB_SETCURSEL, WPARAM(gApplet.channelShutdown), 0);
  Send(IDC_DO_START_LEVEL, CB_SETCURSEL, gApplet.levelStart ? kHigh : kLow, 0);
  Send(IDC_DO_SHUTDOWN_LEVEL, CB_SETCURSEL, gApplet.levelShutdown ? kHigh : kLow, 0);
}

INT_PTR CALLBACK DoPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  gApplet.doPage = page;
  switch (message) {
    case WM_INITDIALOG:
      FillDoPage();
      return TRUE;
    case WM_COMMAND:
      page_on_command(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
  }
  return FALSE;
}
