// The DI interrupt page (dialog 104): for each DI interrupt channel, whether
// its interrupt is used and on which edge it triggers. The page edits
// gApplet only; OK and Apply save.
#include "applet.h"

#include <cstdio>

namespace {

LRESULT Send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendDlgItemMessageA(gApplet.interruptPage, id, message, wParam, lParam);
}

void SetCheck(int id, int on) { Send(id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED); }

int Checked(int id) { return Send(id, BM_GETCHECK) == BST_CHECKED ? 1 : 0; }

// The channel the buttons act on: selectedChannel while the list shows it,
// otherwise none (-1), so that a click on a page without channels changes
// nothing.
int EditedChannel(void) {
  int shown = int(Send(IDC_INT_CHANNEL, CB_GETCURSEL));
  if (shown < 0 || shown >= DIO_MAX_DI_CHANNELS || shown != gApplet.selectedChannel) return -1;
  return shown;
}

void page_on_command(int id, int code) {
  if (id == IDC_INT_CHANNEL) {
    if (code != CBN_SELCHANGE) return;
    gApplet.selectedChannel = int(Send(IDC_INT_CHANNEL, CB_GETCURSEL));
    RefreshInterruptControls();
    return;
  }
  int channel = EditedChannel();
  if (channel < 0) return;
  switch (id) {
    case IDC_INT_ENABLE:
      gApplet.diEnable[channel] = Checked(IDC_INT_ENABLE);
      break;
    case IDC_INT_RISING:
      gApplet.diRisingEdge[channel] = Checked(IDC_INT_RISING);
      break;
    case IDC_INT_FALLING:
      gApplet.diRisingEdge[channel] = Checked(IDC_INT_FALLING) ? 0 : 1;
      break;
  }
}

}  // namespace

// Model 24 lists its own DI interrupt channels (at most the 16 the tables
// hold); every other model lists DI0 and DI1.
void InitInterruptPage(void) {
  int channels = gApplet.deviceType == DIO_MODEL_DIO_INFO ? InterruptChannelCount() : 2;
  for (int n = 0; n < channels; ++n) {
    char name[16];
    snprintf(name, sizeof name, "DI%d", n);
    Send(IDC_INT_CHANNEL, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  }
  RefreshInterruptControls();
}

// Shows the settings of channel selectedChannel; 0, with the buttons left
// as they are, when the list has no such entry.
int RefreshInterruptControls(void) {
  Send(IDC_INT_CHANNEL, CB_SETCURSEL, WPARAM(gApplet.selectedChannel));
  int channel = EditedChannel();
  if (channel < 0) return 0;
  SetCheck(IDC_INT_ENABLE, gApplet.diEnable[channel]);
  SetCheck(IDC_INT_RISING, gApplet.diRisingEdge[channel]);
  SetCheck(IDC_INT_FALLING, !gApplet.diRisingEdge[channel]);
  return 1;
}

INT_PTR CALLBACK InterruptPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  gApplet.interruptPage = page;
  switch (message) {
    case WM_INITDIALOG:
      InitInterruptPage();
      return TRUE;
    case WM_COMMAND:
      page_on_command(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
  }
  return FALSE;
}
