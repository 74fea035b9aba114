// What the two DI interrupt pages (dialogs 104 and 106) share: the list of
// channels "DI0", "DI1", ..., the channel it shows, which both keep in
// gApplet.selectedChannel, and their buttons.
#include "applet.h"

#include <cstdio>

void FillChannelList(HWND page, int list, int channels) {
  for (int n = 0; n < channels; ++n) {
    char name[16];
    snprintf(name, sizeof name, "DI%d", n);
    SendDlgItemMessageA(page, list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  }
}

// The channel the buttons act on: selectedChannel while the list shows it
// (and the page's table holds it), otherwise none (-1), so that a click on a
// page without channels changes nothing.
int EditedChannel(HWND page, int list, int channels) {
  int shown = int(SendDlgItemMessageA(page, list, CB_GETCURSEL, 0, 0));
  if (shown < 0 || shown >= channels || shown != gApplet.selectedChannel) return -1;
  return shown;
}

int ShowSelectedChannel(HWND page, int list, int channels) {
  SendDlgItemMessageA(page, list, CB_SETCURSEL, WPARAM(gApplet.selectedChannel), 0);
  return EditedChannel(page, list, channels);
}

void ChooseChannel(HWND page, int list) {
  gApplet.selectedChannel = int(SendDlgItemMessageA(page, list, CB_GETCURSEL, 0, 0));
}

void SetButton(HWND page, int id, int on) {
  SendDlgItemMessageA(page, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

int ButtonChecked(HWND page, int id) {
  return SendDlgItemMessageA(page, id, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}
