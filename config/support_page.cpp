// The support function page (dialog 108): which functions the board has,
// with its port and channel counts. It shows the device description and
// changes nothing.
#include "applet.h"

#include <cstdio>

namespace {

// Ports of eight channels each for k channels: 0 to 8 give 1, 9 to 16 give 2.
int Ports(int channels) { return (channels - 1) / 8 + 1; }

// The tick the page shows, one bitmap for every indicator, kept with the
// page window from WM_INITDIALOG to its last message.
HBITMAP Tick(HWND page) { return reinterpret_cast<HBITMAP>(GetWindowLongPtrA(page, GWLP_USERDATA)); }

// The cross a tick replaces was loaded by its control from the template and
// is handed back to be deleted.
void SetTick(HWND page, int id) {
  HBITMAP tick = Tick(page);
  auto shown = reinterpret_cast<HBITMAP>(
      SendDlgItemMessageA(page, id, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(tick)));
  if (shown && shown != tick) DeleteObject(shown);
}

void SetText(HWND page, int id, const char *text) {
  SendDlgItemMessageA(page, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

}  // namespace

int FillSupportPage(HWND page) {
  const DIO_INFO &info = gApplet.dioInfo;
  DWORD features = gApplet.featureFlags;
  char text[80];
  HBITMAP tick = LoadBitmapA(gApplet.moduleInstance, MAKEINTRESOURCEA(IDB_TICK));
  SetWindowLongPtrA(page, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(tick));
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
  (void)lParam;
  gApplet.supportPage = page;
  switch (message) {
    case WM_INITDIALOG:
      FillSupportPage(page);
      return TRUE;
    case WM_NCDESTROY:
      // The page's last message, after its indicators are gone.
      DeleteObject(Tick(page));
      return FALSE;
  }
  return FALSE;
}
