// What the applet does once per load: find the board and the driver, and
// bring the settings in from the registry (or write the first-run defaults).
#include "applet.h"

namespace {

// The board model is the first byte of "DeviceType", taken as signed. A
// value that cannot be read gives 0, which matches no model.
int ReadDeviceType(void) {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, DIO_KEY_SERVICE_DEVICE000, &key) != ERROR_SUCCESS) return 0;
  BYTE data[DIO_TEXT_BUFFER];
  DWORD size = sizeof data;
  LSTATUS status = RegQueryValueExA(key, DIO_VALUE_DEVICE_TYPE, NULL, NULL, data, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || size == 0) return 0;
  return static_cast<signed char>(data[0]);
}

void DescribeDevice(void) {
  DeviceOpen(0, &gApplet.deviceHandle);
  GetDeviceInfor(gApplet.deviceHandle, &gApplet.infoDiCount, &gApplet.infoDoCount, &gApplet.featureFlags);
  if (gApplet.deviceType == DIO_MODEL_DIO_INFO) {
    DeviceDIOInfo(gApplet.deviceHandle, &gApplet.dioInfo);
  } else {
    gApplet.dioInfo.diCount = LOBYTE(gApplet.infoDiCount);
    gApplet.dioInfo.doCount = LOBYTE(gApplet.infoDoCount);
    gApplet.dioInfo.diInterruptCount = 2;
    if (gApplet.deviceType == DIO_MODEL_PCI_23 || gApplet.deviceType == DIO_MODEL_ISA_4) gApplet.dioInfo.pledCount = 0;
  }
  DeviceClose(&gApplet.deviceHandle);
}

}  // namespace

BOOL IsDriverInstalled(void) { return KeyExists(DIO_KEY_SERVICE_DEVICE000); }

// 1 when the settings were loaded; 0 on a first run, when the counter and
// interrupt defaults were written and nothing was loaded.
int InitializeApplet(void) {
  gApplet.deviceType = ReadDeviceType();
  DescribeDevice();
  if (!KeyExists(DIO_KEY_COUNTER)) {
    SaveCounterSettings(0);
    SaveInterruptSettings(0);
    return 0;
  }
  if (!KeyExists(DIO_KEY_DO)) SaveDoSettings(0);
  LoadCounterSettings();
  LoadInterruptSettings();
  LoadDoSettings();
  return 1;
}
