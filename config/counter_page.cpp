// The counter page (dialog 105). For now the page only takes its place under
// the "Counter" tab; its controls are not filled or handled yet, and the
// counter settings are saved from gApplet on OK and Apply as they stand.
#include "applet.h"

INT_PTR CALLBACK CounterPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  (void)lParam;
  gApplet.counterPage = page;
  return message == WM_INITDIALOG || message == WM_COMMAND ? TRUE : FALSE;
}
