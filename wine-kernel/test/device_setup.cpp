// The device's installation from the shipped INF of its package
// (tools/package.sh), what the installation leaves, the device's interface as
// SetupDi reports it, and its removal.
#include "checks.h"

#include <newdev.h>
#include <setupapi.h>

namespace winetest {

static const GUID kInterfaceGuid = DIO_INTERFACE_GUID_VALUE;

static const wchar_t kServiceName[] = L"" DIO_SERVICE_NAME;
static const wchar_t kAppletName[] = L"TesZEPDIOConfig.cpl";
static const wchar_t kCplsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cpls";

// The device of this hardware ID in `set` (of all devices).
static bool FindDevice(HDEVINFO set, const std::wstring &hardwareId, SP_DEVINFO_DATA *device) {
  device->cbSize = sizeof *device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, device); ++i) {
    wchar_t ids[256] = {};
    if (SetupDiGetDeviceRegistryPropertyW(set, device, SPDRP_HARDWAREID, NULL, (BYTE *)ids,
                                          sizeof ids - sizeof(wchar_t), NULL) &&
        lstrcmpiW(ids, hardwareId.c_str()) == 0) {
      return true;
    }
  }
  return false;
}

// "DeviceType" of the device's hardware key (DIREG_DEV: what its INF's
// [ModelN.HW] section wrote, what the driver reads).
static Value DeviceKeyModel(const std::wstring &hardwareId) {
  HDEVINFO set = SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA device;
  Value model;
  HKEY key = FindDevice(set, hardwareId, &device)
                 ? SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ)
                 : (HKEY)INVALID_HANDLE_VALUE;
  if (key != INVALID_HANDLE_VALUE) {
    model = ReadValue(key, L"DeviceType");
    RegCloseKey(key);
  }
  SetupDiDestroyDeviceInfoList(set);
  return model;
}

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
// INF names no group, and setupapi keeps the one the service has (a second
// board's install finds the service made).
static bool JoinGroup(const std::wstring &group) {
  SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"\\SystemRoot\\none.sys",
                                     group.c_str(), NULL, NULL, NULL, NULL);
  bool created = service != NULL || GetLastError() == ERROR_SERVICE_EXISTS;
  if (service != NULL) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return Check(created, "service %s in load order group \"%s\" before the install (error %lu)",
               Narrow(kServiceName).c_str(), Narrow(group).c_str(), created ? 0 : GetLastError());
}

// The service's source in the System event log: its message files, the
// driver's image among them, and the kinds of entry. Wine 8's setupapi
// ignores the event-log-install section an AddService names (its fourth
// field) [WINE:dlls/setupapi/install.c SetupInstallServicesFromInfSectionW];
// the section is applied here as Windows applies it, its HKR the source's
// key, so that the INF's registration is read by setupapi all the same.
static void CheckEventLogSource(const std::wstring &infPath, uint32_t model, const std::wstring &image) {
  const wchar_t source[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\TESZEPDIOS";
  HINF inf = SetupOpenInfFileW(infPath.c_str(), NULL, INF_STYLE_WIN4, NULL);
  INFCONTEXT line;
  wchar_t services[64], section[64] = {};
  swprintf(services, 64, L"Model%u.Services", model);
  HKEY key = NULL;
  bool applied = inf != INVALID_HANDLE_VALUE && SetupFindFirstLineW(inf, services, L"AddService", &line) &&
                 SetupGetStringFieldW(&line, 4, section, 64, NULL) &&
                 RegCreateKeyExW(HKEY_LOCAL_MACHINE, source, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) ==
                     ERROR_SUCCESS &&
                 SetupInstallFromInfSectionW(NULL, inf, section, SPINST_REGISTRY, key, NULL, 0, NULL, NULL, NULL, NULL);
  if (key != NULL) RegCloseKey(key);
  if (inf != INVALID_HANDLE_VALUE) SetupCloseInfFile(inf);
  Check(applied, "[%s] AddService names the event-log-install section [%s], applied (error %lu)",
        Narrow(services).c_str(), Narrow(section).c_str(), applied ? 0 : GetLastError());
  wchar_t files[1024] = {};
  DWORD type = 0, size = sizeof files - sizeof(wchar_t);
  LONG read = RegGetValueW(HKEY_LOCAL_MACHINE, source, L"EventMessageFile", RRF_RT_ANY | RRF_NOEXPAND, &type, files,
                           &size);
  wchar_t expanded[1024] = {};
  ExpandEnvironmentStringsW(files, expanded, 1024);
  bool named = false;
  for (wchar_t *file = wcstok(expanded, L";"); file != NULL; file = wcstok(NULL, L";"))
    named = named || SameFile(file, image);
  Check(read == ERROR_SUCCESS && type == REG_EXPAND_SZ && named,
        "event log source TESZEPDIOS: EventMessageFile REG_EXPAND_SZ \"%s\" names the driver's image", Narrow(files).c_str());
  CheckValue(source, L"TypesSupported", Dword(7));
}

// The service the model's install section made, its image, and the model in
// the device's own hardware key, not in the service key. Returns the image.
static std::wstring CheckService(const std::wstring &directory, const std::wstring &hardwareId,
                                 const std::wstring &group, uint32_t model) {
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
  // One service serves every model: the model is in the device's own key.
  CheckValue(L"" DIO_KEY_SERVICE, L"DeviceType", Value());
  CheckValue("the device key's \"DeviceType\", from the model's line", DeviceKeyModel(hardwareId), Dword(model));
  return image;
}

// The applet is the software component's (tools/wine-msi-test.sh): the
// boards' package copies no applet and registers none.
static void CheckNoApplet() {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemWow64DirectoryW(folder, MAX_PATH);
  std::wstring copied = std::wstring(folder, length) + L"\\" + kAppletName;
  Check(GetFileAttributesW(copied.c_str()) == INVALID_FILE_ATTRIBUTES, "no applet in %s", Narrow(copied).c_str());
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    HKEY key;
    bool registered = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCplsKey, 0, KEY_READ | view, &key) == ERROR_SUCCESS &&
                      RegQueryValueExW(key, L"TesZEPDIOConfig", NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    if (registered) RegCloseKey(key);
    Check(!registered, "no Control Panel registration (%s view)", view == KEY_WOW64_32KEY ? "32-bit" : "native");
  }
}

bool InstallDevice(const std::wstring &directory, const std::wstring &infName, const std::wstring &hardwareId,
                   const std::wstring &group, uint32_t model) {
  const std::wstring infPath = directory + L"\\" + infName;
  if (!JoinGroup(group)) return false;
  GUID classGuid;
  wchar_t className[64];
  bool classRead = SetupDiGetINFClassW(infPath.c_str(), &classGuid, className, 64, NULL);
  if (!Check(classRead, "INF class read (error %lu)", classRead ? 0 : GetLastError())) {
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
  std::wstring image = CheckService(directory, hardwareId, group, model);
  CheckEventLogSource(infPath, model, image);
  CheckNoApplet();
  CheckVersions(infPath, {image, directory + L"\\dioctl.exe"});
  return true;
}

// The paths of the driver's interfaces that SetupDi lists with `flags`.
static std::vector<std::wstring> Paths(DWORD flags) {
  std::vector<std::wstring> paths;
  HDEVINFO set = SetupDiGetClassDevsW(&kInterfaceGuid, NULL, NULL, flags | DIGCF_DEVICEINTERFACE);
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

std::vector<std::wstring> InterfacePaths() { return Paths(DIGCF_PRESENT); }

std::vector<std::wstring> RegisteredInterfacePaths() { return Paths(0); }

// Finds the device by its hardware ID among all devices and removes it.
bool RemoveDevice(const std::wstring &hardwareId) {
  HDEVINFO set = SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA device;
  bool removed = FindDevice(set, hardwareId, &device) && SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
  Check(removed, "DIF_REMOVE for the device %s (error %lu)", Narrow(hardwareId).c_str(), removed ? 0 : GetLastError());
  SetupDiDestroyDeviceInfoList(set);
  return removed;
}

// The interface's "Linked" value (Control subkey of its key under
// DeviceClasses), which the kernel sets when the driver switches the
// interface on or off: 1, 0, or -1 when it was never switched.
int InterfaceLinked(const std::wstring &path) {
  std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{6b049747-8679-4542-b232-eccd4d2c6519}\\##?#" +
                     path.substr(4) + L"\\#\\Control";
  DWORD type = 0, data = 0, size = sizeof data;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Linked", RRF_RT_REG_DWORD, &type, &data, &size) != ERROR_SUCCESS)
    return -1;
  return int(data);
}

}  // namespace winetest
