// The DO start/shutdown settings in the driver's "DO" key, which the driver
// reads whenever a board starts, and their hand-over to the board through
// the DIO library.
#include "applet.h"

namespace {

// Triggers and levels count as set only when stored as exactly 1.
void LoadFlag(HKEY key, LPCSTR name, DWORD *field) {
  DWORD value;
  if (ReadRegistryDword(key, name, &value)) *field = value == 1 ? 1 : 0;
}

}  // namespace

// 1 when the key was read, 0 when it could not be opened. A value that is
// missing or not four bytes long leaves its field as it was.
int LoadDoSettings(void) {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, DIO_KEY_DO, &key) != ERROR_SUCCESS) return 0;
  DIO_DO_CONFIG &c = gApplet.doConfig;
  LoadFlag(key, DIO_VALUE_DO_TRIGGER_START, &c.TriggerStart);
  LoadFlag(key, DIO_VALUE_DO_TRIGGER_SHUTDOWN, &c.TriggerShutdown);
  ReadRegistryDword(key, DIO_VALUE_DO_CHANNEL_START, &c.ChannelStart);
  ReadRegistryDword(key, DIO_VALUE_DO_CHANNEL_SHUTDOWN, &c.ChannelShutdown);
  LoadFlag(key, DIO_VALUE_DO_LEVEL_START, &c.LevelStart);
  LoadFlag(key, DIO_VALUE_DO_LEVEL_SHUTDOWN, &c.LevelShutdown);
  RegCloseKey(key);
  return 1;
}

// From the dialog (1), a trigger that is off keeps its stored channel and
// level; the first values of a new key (0) are all written.
LSTATUS SaveDoSettings(int fromDialog) {
  HKEY key;
  LSTATUS status = RegCreateKeyA(HKEY_LOCAL_MACHINE, DIO_KEY_DO, &key);
  if (status != ERROR_SUCCESS) return status;
  const DIO_DO_CONFIG &c = gApplet.doConfig;
  status = WriteRegistryDword(key, DIO_VALUE_DO_TRIGGER_START, c.TriggerStart ? 1 : 0);
  status = FirstFailure(status, WriteRegistryDword(key, DIO_VALUE_DO_TRIGGER_SHUTDOWN, c.TriggerShutdown ? 1 : 0));
  bool start = c.TriggerStart || !fromDialog;
  bool shutdown = c.TriggerShutdown || !fromDialog;
  if (start) status = FirstFailure(status, WriteRegistryDword(key, DIO_VALUE_DO_CHANNEL_START, c.ChannelStart));
  if (shutdown) status = FirstFailure(status, WriteRegistryDword(key, DIO_VALUE_DO_CHANNEL_SHUTDOWN, c.ChannelShutdown));
  if (start) status = FirstFailure(status, WriteRegistryDword(key, DIO_VALUE_DO_LEVEL_START, c.LevelStart));
  if (shutdown) status = FirstFailure(status, WriteRegistryDword(key, DIO_VALUE_DO_LEVEL_SHUTDOWN, c.LevelShutdown));
  RegCloseKey(key);
  return status;
}

// 1 when the board took the settings: the library opened it, took the
// configuration and closed it again, each without error.
int ApplyDoSettings(DIO_DO_CONFIG *config) {
  HANDLE handle = NULL;
  LONG opened = DeviceOpen(0, &handle);
  LONG configured = DOSysConfig(config);
  LONG closed = DeviceClose(&handle);
  return opened == 0 && configured == 0 && closed == 0 ? 1 : 0;
}
