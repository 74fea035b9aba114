// SetupDi's device interfaces over the interfaces the kernel stand-in's I/O
// manager holds: a device information set is a snapshot of the interfaces
// of one class (by the class's GUID in the link name, as Windows names them),
// and an interface's path is its link name with "\\?\" for "\??\".
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "desktop.h"
#include "io_state.h"
#include "kernel_bridge.h"

#include <setupapi.h>

namespace hostwin {
namespace {

struct InterfaceEntry {
  std::u16string link;
  bool enabled;
};
struct DeviceInfoSet {
  std::vector<InterfaceEntry> interfaces;
};

std::mutex setsMutex;
std::map<HDEVINFO, std::unique_ptr<DeviceInfoSet>> sets;

std::u16string GuidText(const GUID &guid) {
  char text[40];
  snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", unsigned(guid.Data1),
           guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
           guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return std::u16string(text, text + strlen(text));
}

char16_t Lower(char16_t c) { return c < 0x80 ? char16_t(tolower(c)) : c; }

// A link "\??\<instance>#{class}" or "\??\<instance>#{class}\<reference>".
bool OfClass(const std::u16string &link, const GUID &guid) {
  std::u16string suffix = u"#" + GuidText(guid);
  size_t end = link.find(u'\\', 4);
  std::u16string name = link.substr(0, end);
  if (name.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i)
    if (Lower(name[name.size() - suffix.size() + i]) != Lower(suffix[i])) return false;
  return true;
}

DeviceInfoSet *Find(HDEVINFO set) {
  auto it = sets.find(set);
  return it == sets.end() ? nullptr : it->second.get();
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

std::vector<std::string> OpenDeviceInfoSets() {
  std::lock_guard<std::mutex> hold(setsMutex);
  return std::vector<std::string>(sets.size(), "device information set not destroyed");
}

void ForgetDeviceInfoSets() {
  std::lock_guard<std::mutex> hold(setsMutex);
  sets.clear();
}

}  // namespace hostwin

using namespace hostwin;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
  (void)parent;
  if (!(flags & DIGCF_DEVICEINTERFACE)) {
    Fault("SetupDiGetClassDevs of device setup classes: not simulated");
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (enumerator) Fault("SetupDiGetClassDevs with an enumerator: not simulated");
  bool all = (flags & DIGCF_ALLCLASSES) != 0;
  if (!classGuid && !all) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto set = std::make_unique<DeviceInfoSet>();
  for (const auto &link : kernel::InterfaceLinks(false)) {
    bool enabled = false;
    for (const auto &on : kernel::InterfaceLinks(true)) enabled = enabled || on == link;
    if ((flags & DIGCF_PRESENT) && !enabled) continue;
    if (all || OfClass(link, *classGuid)) set->interfaces.push_back(InterfaceEntry{link, enabled});
  }
  std::lock_guard<std::mutex> hold(setsMutex);
  HDEVINFO handle = set.get();
  sets[handle] = std::move(set);
  return handle;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA device, const GUID *guid, DWORD index,
                                        PSP_DEVICE_INTERFACE_DATA data) {
  if (device) Fault("SetupDiEnumDeviceInterfaces of one device: not simulated");
  std::lock_guard<std::mutex> hold(setsMutex);
  DeviceInfoSet *set = Find(handle);
  if (!set) return Fail(ERROR_INVALID_HANDLE);
  if (!guid || !data) return Fail(ERROR_INVALID_PARAMETER);
  if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
  DWORD seen = 0;
  for (size_t i = 0; i < set->interfaces.size(); ++i) {
    if (!OfClass(set->interfaces[i].link, *guid) || seen++ != index) continue;
    data->InterfaceClassGuid = *guid;
    data->Flags = set->interfaces[i].enabled ? SPINT_ACTIVE : 0;
    data->Reserved = i + 1;  // which interface of the set
    return TRUE;
  }
  return Fail(ERROR_NO_MORE_ITEMS);
}

// The usual two calls: one without a buffer for the size, one with it.
BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                             PDWORD requiredSize, PSP_DEVINFO_DATA device) {
  if (device) Fault("SetupDiGetDeviceInterfaceDetail with device information: not simulated");
  std::lock_guard<std::mutex> hold(setsMutex);
  DeviceInfoSet *set = Find(handle);
  if (!set) return Fail(ERROR_INVALID_HANDLE);
  if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
      data->Reserved > set->interfaces.size()) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::u16string path = u"\\\\?\\" + set->interfaces[data->Reserved - 1].link.substr(4);
  DWORD needed = DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
  if (requiredSize) *requiredSize = needed;
  if (!detail) return Fail(detailSize ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER);
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return Fail(ERROR_INVALID_USER_BUFFER);
  if (detailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  // The path runs on past the declared one-character array.
  // Link names are ASCII: the instance path and the class.
  char *out = reinterpret_cast<char *>(detail) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  for (size_t i = 0; i < path.size(); ++i) out[i] = path[i] < 0x80 ? char(path[i]) : '?';
  out[path.size()] = 0;
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
  std::lock_guard<std::mutex> hold(setsMutex);
  return sets.erase(handle) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

}  // extern "C"
