// The nine-channel interrupt page (dialog 106), for board model 22: whether
// the interrupt of each of DI0 to DI8 is used. The page reads the stored
// settings once, when it is created, and from then on edits gApplet only:
// changing the channel shown keeps the edits of the others until OK or
// Apply saves them all, or Cancel closes the dialog (the next dialog reads
// the registry again).
#include "applet.h"

#include <cstdio>

namespace {

LRESULT Send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendDlgItemMessageA(gApplet.interruptPage, id, message, wParam, lParam);
}

// selectedChannel while the list shows it, otherwise none (-1).
int EditedChannel(void) {
  int shown = int(Send(IDC_INT9_CHANNEL, CB_GETCURSEL));
  if (shown < 0 || shown >= DIO_DI9_CHANNELS || shown != gApplet.selectedChannel) return -1;
  return shown;
}

void page_on_command(int id, int code) {
  switch (id) {
    case IDC_INT9_CHANNEL:
      if (code != CBN_SELCHANGE) return;
      gApplet.selectedChannel = int(Send(IDC_INT9_CHANNEL, CB_GETCURSEL));
      RefreshInterrupt9Controls();
      break;
    case IDC_INT9_ENABLE: {
      int channel = EditedChannel();
      if (channel >= 0) gApplet.di9Enable[channel] = Send(IDC_INT9_ENABLE, BM_GETCHECK) == BST_CHECKED ? 1 : 0;
      break;
    }
  }
}

}  // namespace

// The trigger-edge controls of the template stay hidden: these channels
// have no edge setting.
void InitInterrupt9Page(void) {
  for (int n = 0; n < DIO_DI9_CHANNELS; ++n) {
    char name[16];
    snprintf(name, sizeof name, "DI%d", n);
    Send(IDC_INT9_CHANNEL, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  }
  LoadInterrupt9Settings();
  RefreshInterrupt9Controls();
}

// Shows channel selectedChannel from memory; 0 when the list has no such
// entry.
int RefreshInterrupt9Controls(void) {
  Send(IDC_INT9_CHANNEL, CB_SETCURSEL, WPARAM(gApplet.selectedChannel));
  int channel = EditedChannel();
  if (channel < 0) return 0;
  Send(IDC_INT9_ENABLE, BM_SETCHECK, gApplet.di9Enable[channel] ? BST_CHECKED : BST_UNCHECKED);
  return 1;
}

INT_PTR CALLBACK Interrupt9PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  gApplet.interruptPage = page;
  switch (message) {
    case WM_INITDIALOG:
      InitInterrupt9Page();
      return TRUE;
    case WM_COMMAND:
      page_on_command(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
  }
  return FALSE;
}
