// The device's installation from the shipped INF (tools/package.sh), what the
// installation leaves, the device's interface as SetupDi reports it, and its
// removal.
#include "checks.h"
#include "read_file.h"

#include <newdev.h>
#include <setupapi.h>

namespace winetest {

static const GUID kInterfaceGuid = DIO_INTERFACE_GUID_VALUE;

static const wchar_t kServiceName[] = L"TESZEPDIOS";
static const wchar_t kAppletName[] = L"TesZEPDIOConfig.cpl";
static const wchar_t kCplsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cpls";

static bool SameFile(const std::wstring &installed, const std::wstring &shipped) {
  std::vector<BYTE> a, b;
  return ReadWholeFile(installed, &a) && ReadWholeFile(shipped, &b) && a == b;
}

// A service's image path as a file name: "\SystemRoot\..." (Windows) or a
// full path (Wine's setupapi writes the one it copied to).
static std::wstring ImageFile(const std::wstring &imagePath) {
  const std::wstring systemRoot = L"\\SystemRoot\\";
  if (_wcsnicmp(imagePath.c_str(), systemRoot.c_str(), systemRoot.size()) != 0) return imagePath;
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\" + imagePath.substr(systemRoot.size());
}

// The driver's service joins the helper's load order group before the
// install, so that Wine loads both into one winedevice process. The shipped
// INF names no group, and setupapi keeps the one the service has.
static bool JoinGroup(const std::wstring &group) {
  SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"\\SystemRoot\\none.sys",
                                     group.c_str(), NULL, NULL, NULL, NULL);
  bool created = service != NULL;
  if (service != NULL) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return Check(created, "service %s made in load order group \"%s\" before the install (error %lu)",
               Narrow(kServiceName).c_str(), Narrow(group).c_str(), created ? 0 : GetLastError());
}

// The service the model's install section made, and its image, which it
// returns.
static std::wstring CheckService(const std::wstring &directory, const std::wstring &group, uint32_t model) {
  SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_CONFIG);
  union {
    QUERY_SERVICE_CONFIGW config;
    BYTE bytes[8192];
  } buffer;
  DWORD needed = 0;
  bool queried = service != NULL && QueryServiceConfigW(service, &buffer.config, sizeof buffer, &needed);
  if (service != NULL) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (!Check(queried, "service %s installed", Narrow(kServiceName).c_str())) return std::wstring();
  const QUERY_SERVICE_CONFIGW &config = buffer.config;
  Check(config.dwServiceType == SERVICE_KERNEL_DRIVER && config.dwStartType == SERVICE_DEMAND_START &&
            config.dwErrorControl == SERVICE_ERROR_NORMAL,
        "service: kernel driver, demand start, normal error control (%lu, %lu, %lu)", config.dwServiceType,
        config.dwStartType, config.dwErrorControl);
  Check(group == config.lpLoadOrderGroup, "service kept its load order group (\"%s\")",
        Narrow(config.lpLoadOrderGroup).c_str());
  std::wstring image = ImageFile(config.lpBinaryPathName);
  Check(SameFile(image, directory + L"\\TesZEPDIO.sys"), "the service's image %s is the package's TesZEPDIO.sys",
        Narrow(image).c_str());
  DWORD type = 0, data = 0, size = sizeof data;
  LONG read = RegGetValueW(HKEY_LOCAL_MACHINE, kServiceKey, L"DeviceType", RRF_RT_ANY, &type, &data, &size);
  Check(read == ERROR_SUCCESS && type == REG_DWORD && size == 4 && data == model,
        "service key: \"DeviceType\" REG_DWORD %lu from the model's section (type %lu, %lu bytes, %lu)",
        (unsigned long)model, type, size, data);
  return image;
}

// The applet in the 32-bit system folder and in the 32-bit Control Panel;
// returns where it lies.
static std::wstring CheckApplet(const std::wstring &directory) {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemWow64DirectoryW(folder, MAX_PATH);
  std::wstring installed = std::wstring(folder, length) + L"\\" + kAppletName;
  Check(length > 0 && SameFile(installed, directory + L"\\" + kAppletName), "the applet copied to %s",
        Narrow(installed).c_str());
  // Windows writes the registration in the 32-bit view (FLG_ADDREG_32BITKEY);
  // Wine 8's setupapi ignores the flag and writes the native view.
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path - sizeof(wchar_t);
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCplsKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) continue;
    DWORD type = 0;
    LONG read = RegQueryValueExW(key, L"TesZEPDIOConfig", NULL, &type, reinterpret_cast<BYTE *>(path), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS) continue;
    Check(type == REG_SZ && _wcsicmp(path, installed.c_str()) == 0,
          "the Control Panel registration (%s view) names %s", view == KEY_WOW64_32KEY ? "32-bit" : "native",
          Narrow(path).c_str());
    return installed;
  }
  Check(false, "the Control Panel registration is there");
  return installed;
}

bool InstallDevice(const std::wstring &directory, const std::wstring &hardwareId, const std::wstring &group,
                   uint32_t model) {
  const std::wstring infPath = directory + L"\\TesZEPDIO.inf";
  if (!JoinGroup(group)) return false;
  GUID classGuid;
  wchar_t className[64];
  if (!Check(SetupDiGetINFClassW(infPath.c_str(), &classGuid, className, 64, NULL),
             "INF class read (error %lu)", GetLastError())) {
    return false;
  }
  HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, NULL);
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  // The hardware ID as a multi-string: the ID, then an empty string.
  const std::wstring ids = hardwareId + L'\0' + L'\0';
  bool registered =
      SetupDiCreateDeviceInfoW(set, className, &classGuid, NULL, NULL, DICD_GENERATE_ID, &device) &&
      SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE *>(ids.data()),
                                        DWORD(ids.size() * sizeof(wchar_t))) &&
      SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
  Check(registered, "root-enumerated device %s registered in class %s (error %lu)", Narrow(hardwareId).c_str(),
        Narrow(className).c_str(), registered ? 0 : GetLastError());
  SetupDiDestroyDeviceInfoList(set);
  if (!registered) return false;

  BOOL reboot = FALSE;
  bool installed =
      UpdateDriverForPlugAndPlayDevicesW(NULL, hardwareId.c_str(), infPath.c_str(), INSTALLFLAG_FORCE, &reboot);
  if (!Check(installed && !reboot, "driver installed for the device from the shipped INF (error %lu)",
             installed ? 0 : GetLastError())) {
    return false;
  }
  std::wstring image = CheckService(directory, group, model);
  std::wstring applet = CheckApplet(directory);
  CheckVersions(infPath, {image, applet, directory + L"\\dioctl.exe"});
  return true;
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
bool RemoveDevice(const std::wstring &hardwareId) {
  HDEVINFO set = SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  bool removed = false;
  for (DWORD i = 0; !removed && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    wchar_t ids[256] = {};
    if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, NULL, (BYTE *)ids,
                                          sizeof ids - sizeof(wchar_t), NULL) &&
        lstrcmpiW(ids, hardwareId.c_str()) == 0) {
      removed = SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
      Check(removed, "DIF_REMOVE for the device (error %lu)", removed ? 0 : GetLastError());
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return removed;
}

}  // namespace winetest
