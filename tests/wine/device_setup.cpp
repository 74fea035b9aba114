// The device's installation as a root-enumerated device from the test INF,
// its interface as SetupDi reports it, and its removal.
#include "checks.h"

#include <newdev.h>
#include <setupapi.h>

namespace winetest {

const GUID kInterfaceGuid = DIO_INTERFACE_GUID_VALUE;

// The hardware ID as a multi-string: the ID, then an empty string.
static std::vector<BYTE> HardwareIds() {
  std::wstring ids(kHardwareId);
  ids.push_back(L'\0');
  ids.push_back(L'\0');
  const BYTE *bytes = reinterpret_cast<const BYTE *>(ids.data());
  return std::vector<BYTE>(bytes, bytes + ids.size() * sizeof(wchar_t));
}

bool InstallDevice(const std::wstring &infPath) {
  GUID classGuid;
  wchar_t className[64];
  if (!Check(SetupDiGetINFClassW(infPath.c_str(), &classGuid, className, 64, NULL),
             "INF class read (error %lu)", GetLastError())) {
    return false;
  }
  HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, NULL);
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  std::vector<BYTE> ids = HardwareIds();
  bool registered =
      SetupDiCreateDeviceInfoW(set, className, &classGuid, NULL, NULL, DICD_GENERATE_ID, &device) &&
      SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, ids.data(), DWORD(ids.size())) &&
      SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
  Check(registered, "root-enumerated device registered (error %lu)", registered ? 0 : GetLastError());
  SetupDiDestroyDeviceInfoList(set);
  if (!registered) return false;

  BOOL reboot = FALSE;
  bool installed =
      UpdateDriverForPlugAndPlayDevicesW(NULL, kHardwareId, infPath.c_str(), INSTALLFLAG_FORCE, &reboot);
  return Check(installed && !reboot, "driver installed for the device from the INF (error %lu)",
               installed ? 0 : GetLastError());
}

std::vector<std::wstring> InterfacePaths() {
  std::vector<std::wstring> paths;
  HDEVINFO set = SetupDiGetClassDevsW(&kInterfaceGuid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, NULL, &kInterfaceGuid, i, &data); ++i) {
    union {
      SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
      BYTE bytes[sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + MAX_PATH * sizeof(wchar_t)];
    } buffer;
    buffer.detail.cbSize = sizeof buffer.detail;
    if (SetupDiGetDeviceInterfaceDetailW(set, &data, &buffer.detail, sizeof buffer, NULL, NULL))
      paths.push_back(buffer.detail.DevicePath);
  }
  SetupDiDestroyDeviceInfoList(set);
  return paths;
}

// Finds the device by its hardware ID among all devices and removes it.
bool RemoveDevice() {
  HDEVINFO set = SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  bool removed = false;
  for (DWORD i = 0; !removed && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    wchar_t ids[256] = {};
    if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, NULL, (BYTE *)ids,
                                          sizeof ids - sizeof(wchar_t), NULL) &&
        lstrcmpiW(ids, kHardwareId) == 0) {
      removed = SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
      Check(removed, "DIF_REMOVE for the device (error %lu)", removed ? 0 : GetLastError());
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return removed;
}

}  // namespace winetest
