// The nine-channel interrupt page (dialog 106), for board model 22: whether
// the interrupt of each of DI0 to DI8 is used. The page reads the stored
// settings once, when it is created, and from then on edits gApplet only:
// changing the channel shown keeps the edits of the others until OK or
// Apply saves them all, or Cancel closes the dialog (the next dialog reads
// the registry again).
#include "applet.h"

namespace {

void page_on_command(HWND page, int id, int code) {
  switch (id) {
    case IDC_INT9_CHANNEL:
      if (code != CBN_SELCHANGE) return;
      ChooseChannel(page, IDC_INT9_CHANNEL);
      RefreshInterrupt9Controls(page);
      break;
    case IDC_INT9_ENABLE: {
      int channel = EditedChannel(page, IDC_INT9_CHANNEL, DIO_DI9_CHANNELS);
      if (channel >= 0) gApplet.di9Enable[channel] = ButtonChecked(page, IDC_INT9_ENABLE);
      break;
    }
  }
}

}  // namespace

// The trigger-edge controls of the template stay hidden: these channels
// have no edge setting. Edits carried over by an elevated restart stand in
// for the stored settings.
void InitInterrupt9Page(HWND page) {
  FillChannelList(page, IDC_INT9_CHANNEL, DIO_DI9_CHANNELS);
  if (!gApplet.editsCarried) LoadInterrupt9Settings();
  RefreshInterrupt9Controls(page);
}

// Shows channel selectedChannel from memory; 0 when the list has no such
// entry.
int RefreshInterrupt9Controls(HWND page) {
  int channel = ShowSelectedChannel(page, IDC_INT9_CHANNEL, DIO_DI9_CHANNELS);
  if (channel < 0) return 0;
  SetButton(page, IDC_INT9_ENABLE, gApplet.di9Enable[channel]);
  return 1;
}

INT_PTR CALLBACK Interrupt9PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (message) {
    case WM_INITDIALOG:
      InitInterrupt9Page(page);
      return TRUE;
    case WM_COMMAND:
      page_on_command(page, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
  }
  return FALSE;
}
