// The DI interrupt pages: dialog 104 (per channel: enable and edge) and
// dialog 106 (nine channels, enable only). For now the pages only take their
// place under the "Interrupt" tab; their controls are not filled or handled
// yet, and the settings they will edit are saved from gApplet on OK and
// Apply as they stand.
#include "applet.h"

INT_PTR CALLBACK InterruptPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  (void)lParam;
  gApplet.interruptPage = page;
  return message == WM_INITDIALOG || message == WM_COMMAND ? TRUE : FALSE;
}

INT_PTR CALLBACK Interrupt9PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  (void)lParam;
  gApplet.interruptPage = page;
  return message == WM_INITDIALOG || message == WM_COMMAND ? TRUE : FALSE;
}
