// The support function page (dialog 108): which functions the board has,
// with its port and channel counts. It shows the device description and
// changes nothing.
//
// Each indicator is an owner-drawn static control that the page draws at
// the control's own size, whatever the scale: a tick where the board has
// the function, a cross where it has not, on the window colour; green and
// red as the page's bitmaps 116 and 118 have them, and the system's text
// colour under high contrast. Its text, which assistive technology reads as
// its name, says the same in words ("Counter: supported").
#include "applet.h"

#include <cstdio>

namespace {

// Ports of eight channels each for k channels: 0 to 8 give 1, 9 to 16 give 2.
int Ports(int channels) { return (channels - 1) / 8 + 1; }

// The functions the indicators stand for, from IDC_SUP_DI_MARK on.
const char *const kFunctions[] = {"DI",    "DI Interrupt", "DO",  "Counter",     "Frequency", "Timer",
                                  "Pulse", "Buzzer",       "LED", "Program LED", "PowerState"};
const int kIndicators = sizeof kFunctions / sizeof kFunctions[0];

// Which indicators show a tick: one bit each, kept with the page window.
LONG_PTR Supported(HWND page) { return GetWindowLongPtrA(page, GWLP_USERDATA); }

void SetText(HWND page, int id, const char *text) {
  SendDlgItemMessageA(page, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void SetTick(HWND page, int id) {
  int index = id - IDC_SUP_DI_MARK;
  SetWindowLongPtrA(page, GWLP_USERDATA, Supported(page) | (LONG_PTR(1) << index));
  char name[40];
  snprintf(name, sizeof name, "%s: supported", kFunctions[index]);
  SetText(page, id, name);
}

BOOL HighContrastOn(void) {
  HIGHCONTRASTA contrast = {};
  contrast.cbSize = sizeof contrast;
  return SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
         (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

// A tick or a cross in the square in the middle of the control, with lines
// a sixth of its side wide.
void DrawIndicator(const DRAWITEMSTRUCT *item, BOOL tick) {
  RECT area = item->rcItem;
  FillRect(item->hDC, &area, GetSysColorBrush(COLOR_WINDOW));
  int width = area.right - area.left, height = area.bottom - area.top;
  int side = width < height ? width : height;
  int left = area.left + (width - side) / 2, top = area.top + (height - side) / 2;
  auto at = [&](int x, int y) { return POINT{left + MulDiv(side, x, 10), top + MulDiv(side, y, 10)}; };
  COLORREF ink = HighContrastOn() ? GetSysColor(COLOR_WINDOWTEXT) : tick ? RGB(0, 128, 0) : RGB(255, 0, 0);
  HPEN pen = CreatePen(PS_SOLID, side / 6 > 1 ? side / 6 : 1, ink);
  HGDIOBJ old = SelectObject(item->hDC, pen);
  if (tick) {
    POINT stroke[] = {at(2, 5), at(4, 7), at(8, 3)};
    Polyline(item->hDC, stroke, 3);
  } else {
    POINT down[] = {at(2, 2), at(8, 8)}, up[] = {at(8, 2), at(2, 8)};
    Polyline(item->hDC, down, 2);
    Polyline(item->hDC, up, 2);
  }
  SelectObject(item->hDC, old);
  DeleteObject(pen);
}

BOOL page_on_draw_item(HWND page, const DRAWITEMSTRUCT *item) {
  int index = int(item->CtlID) - IDC_SUP_DI_MARK;
  if (item->CtlType != ODT_STATIC || index < 0 || index >= kIndicators) return FALSE;
  DrawIndicator(item, (Supported(page) >> index) & 1);
  return TRUE;
}

}  // namespace

int FillSupportPage(HWND page) {
  const DIO_INFO &info = gApplet.dioInfo;
  DWORD features = gApplet.featureFlags;
  char text[80];
  SetWindowLongPtrA(page, GWLP_USERDATA, 0);
  if (gApplet.deviceType == DIO_MODEL_DIO_INFO) {
    snprintf(text, sizeof text, "Support Function (FPGA Version:%d.00)", int(info.fpgaVersion));
    SetText(page, IDC_SUP_GROUP, text);
  }
  SetTick(page, IDC_SUP_DI_MARK);
  snprintf(text, sizeof text, "DI Ports:%d (DI_0~DI_%d)", Ports(info.diCount), int(info.diCount) - 1);
  SetText(page, IDC_SUP_DI_TEXT, text);
  SetTick(page, IDC_SUP_DO_MARK);
  snprintf(text, sizeof text, "DO Ports:%d (DO_0~DO_%d)", Ports(info.doCount), int(info.doCount) - 1);
  SetText(page, IDC_SUP_DO_TEXT, text);
  if (features & DIO_FEATURE_DI_INTERRUPT) {
    SetTick(page, IDC_SUP_INTERRUPT_MARK);
    snprintf(text, sizeof text, "DI Interrupt (DI_0~DI_%d)", int(info.diInterruptCount) - 1);
    SetText(page, IDC_SUP_INTERRUPT_TEXT, text);
  }
  if (features & DIO_FEATURE_COUNTER) {
    SetTick(page, IDC_SUP_COUNTER_MARK);
    SetTick(page, IDC_SUP_FREQUENCY_MARK);
    SetTick(page, IDC_SUP_TIMER_MARK);
    SetTick(page, IDC_SUP_PULSE_MARK);
  }
  if (features & DIO_FEATURE_LED) SetTick(page, IDC_SUP_LED_MARK);
  if (features & DIO_FEATURE_PLED) {
    SetTick(page, IDC_SUP_PLED_MARK);
    snprintf(text, sizeof text, "Program LED (PLED0~PLED%d)", int(info.pledCount) - 1);
    SetText(page, IDC_SUP_PLED_TEXT, text);
  }
  if (features & DIO_FEATURE_BUZZER) SetTick(page, IDC_SUP_BUZZER_MARK);
  if (features & DIO_FEATURE_POWER_STATE) SetTick(page, IDC_SUP_POWER_MARK);
  return 1;
}

INT_PTR CALLBACK SupportPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  switch (message) {
    case WM_INITDIALOG:
      FillSupportPage(page);
      return TRUE;
    case WM_DRAWITEM:
      return page_on_draw_item(page, reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
      // High contrast on or off: the indicators take the new colours.
      InvalidateRect(page, NULL, TRUE);
      return FALSE;
  }
  return FALSE;
}
