// The DI interrupt page (dialog 104): for each DI interrupt channel, whether
// its interrupt is used and on which edge it triggers. The page edits
// gApplet only; OK and Apply save.
#include "applet.h"

namespace {

// The channels the list shows: model 24's own DI interrupt channels (at
// most the 16 the tables hold), DI0 and DI1 for every other model.
int Channels(void) { return gApplet.deviceType == DIO_MODEL_DIO_INFO ? InterruptChannelCount() : 2; }

void page_on_command(HWND page, int id, int code) {
  if (id == IDC_INT_CHANNEL) {
    if (code != CBN_SELCHANGE) return;
    ChooseChannel(page, IDC_INT_CHANNEL);
    RefreshInterruptControls(page);
    return;
  }
  int channel = EditedChannel(page, IDC_INT_CHANNEL, Channels());
  if (channel < 0) return;
  switch (id) {
    case IDC_INT_ENABLE:
      gApplet.diEnable[channel] = ButtonChecked(page, IDC_INT_ENABLE);
      break;
    case IDC_INT_RISING:
      gApplet.diRisingEdge[channel] = ButtonChecked(page, IDC_INT_RISING);
      break;
    case IDC_INT_FALLING:
      gApplet.diRisingEdge[channel] = ButtonChecked(page, IDC_INT_FALLING) ? 0 : 1;
      break;
  }
}

}  // namespace

void InitInterruptPage(HWND page) {
  FillChannelList(page, IDC_INT_CHANNEL, Channels());
  RefreshInterruptControls(page);
}

// Shows the settings of channel selectedChannel; 0, with the buttons left
// as they are, when the list has no such entry.
int RefreshInterruptControls(HWND page) {
  int channel = ShowSelectedChannel(page, IDC_INT_CHANNEL, Channels());
  if (channel < 0) return 0;
  SetButton(page, IDC_INT_ENABLE, gApplet.diEnable[channel]);
  SetButton(page, IDC_INT_RISING, gApplet.diRisingEdge[channel]);
  SetButton(page, IDC_INT_FALLING, !gApplet.diRisingEdge[channel]);
  return 1;
}

INT_PTR CALLBACK InterruptPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (message) {
    case WM_INITDIALOG:
      InitInterruptPage(page);
      return TRUE;
    case WM_COMMAND:
      page_on_command(page, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
  }
  return FALSE;
}
