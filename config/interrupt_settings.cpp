// The DI interrupt settings in the applet's "Interrupt" key: per channel
// whether it is enabled and on which edge it triggers (dio_registry.h).
#include "applet.h"

#include <cstdio>
#include <cstring>

namespace {

// The formats of a channel's two value names.
const char *const kControl = DIO_VALUE_DI_CONTROL_FORMAT;
const char *const kEdge = DIO_VALUE_DI_EDGE_FORMAT;

// Sets *field from a stored text: 1 when it is exactly `match`.
void LoadText(HKEY key, int channel, const char *format, const char *match, int *field) {
  char name[32], text[DIO_TEXT_BUFFER];
  snprintf(name, sizeof name, format, channel);
  if (ReadRegistryText(key, name, text, sizeof text)) *field = strcmp(text, match) == 0 ? 1 : 0;
}

LSTATUS SaveText(HKEY key, int channel, const char *format, const char *text) {
  char name[32];
  snprintf(name, sizeof name, format, channel);
  return WriteRegistryText(key, name, text);
}

}  // namespace

// The board's DI interrupt channels, as far as the tables reach.
int InterruptChannelCount(void) {
  int count = gApplet.dioInfo.diInterruptCount;
  return count > DIO_MAX_DI_CHANNELS ? DIO_MAX_DI_CHANNELS : count;
}

// 1 when the key was read, 0 when it does not exist.
int LoadInterruptSettings(void) {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, DIO_KEY_INTERRUPT, &key) != ERROR_SUCCESS) return 0;
  for (int n = 0; n < InterruptChannelCount(); ++n) {
    LoadText(key, n, kControl, DIO_DATA_ENABLE, &gApplet.diEnable[n]);
    LoadText(key, n, kEdge, DIO_DATA_RISING, &gApplet.diRisingEdge[n]);
  }
  RegCloseKey(key);
  return 1;
}

// The first-run values (0) enable every channel on the rising edge.
LSTATUS SaveInterruptSettings(int fromDialog) {
  HKEY key;
  LSTATUS status = RegCreateKeyA(HKEY_LOCAL_MACHINE, DIO_KEY_INTERRUPT, &key);
  if (status != ERROR_SUCCESS) return status;
  for (int n = 0; n < InterruptChannelCount(); ++n) {
    status = FirstFailure(
        status, SaveText(key, n, kControl, fromDialog && !gApplet.diEnable[n] ? DIO_DATA_DISABLE : DIO_DATA_ENABLE));
    status = FirstFailure(
        status, SaveText(key, n, kEdge, fromDialog && !gApplet.diRisingEdge[n] ? DIO_DATA_FALLING : DIO_DATA_RISING));
  }
  RegCloseKey(key);
  return status;
}

// The nine-channel page's DI0 to DI8, read when the page is created; 1 when
// the key was read, 0 when it does not exist.
int LoadInterrupt9Settings(void) {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, DIO_KEY_INTERRUPT, &key) != ERROR_SUCCESS) return 0;
  for (int n = 0; n < DIO_DI9_CHANNELS; ++n) LoadText(key, n, kControl, DIO_DATA_ENABLE, &gApplet.di9Enable[n]);
  RegCloseKey(key);
  return 1;
}

LSTATUS SaveInterrupt9Settings(int fromDialog) {
  HKEY key;
  LSTATUS status = RegCreateKeyA(HKEY_LOCAL_MACHINE, DIO_KEY_INTERRUPT, &key);
  if (status != ERROR_SUCCESS) return status;
  for (int n = 0; n < DIO_DI9_CHANNELS; ++n)
    status = FirstFailure(
        status, SaveText(key, n, kControl, fromDialog && !gApplet.di9Enable[n] ? DIO_DATA_DISABLE : DIO_DATA_ENABLE));
  RegCloseKey(key);
  return status;
}
