// The paths the driver publishes (its device interface and the device map),
// opening one, and what a refused request means.
#include <cctype>
#include <cstddef>

#include "dioctl.h"

namespace dioctl {
namespace {

const GUID kInterfaceClass = DIO_INTERFACE_GUID_VALUE;

}  // namespace

std::vector<std::string> InterfacePaths() {
  std::vector<std::string> paths;
  HDEVINFO set = SetupDiGetClassDevsA(&kInterfaceClass, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA data;
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, NULL, &kInterfaceClass, i, &data); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &data, NULL, 0, &size, NULL);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
    std::vector<char> buffer(size);
    auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, NULL, NULL)) {
      // The path runs on past the declared one-character array.
      paths.push_back(buffer.data() + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return paths;
}

// The value is stored without a terminator: its length is the stored size.
std::string MapEntryPath() {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, DIO_KEY_MAP_ENTRY, &key) != ERROR_SUCCESS) return std::string();
  std::string path;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, DIO_VALUE_MAP_DEVICE0, NULL, &type, NULL, &size) == ERROR_SUCCESS && type == REG_SZ &&
      size > 0) {
    std::vector<char> text(size + 1, 0);
    if (RegQueryValueExA(key, DIO_VALUE_MAP_DEVICE0, NULL, &type, reinterpret_cast<BYTE *>(text.data()), &size) ==
            ERROR_SUCCESS &&
        size < text.size()) {
      path.assign(text.data(), strnlen(text.data(), size));
    }
  }
  RegCloseKey(key);
  return path;
}

// "\\?\x" from SetupDi and "\\.\x" from the device map name the same device.
bool SameDevice(const std::string &a, const std::string &b) {
  if (a.size() != b.size() || a.size() < 4) return false;
  for (size_t i = 4; i < a.size(); ++i)
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

int OpenDevice(const Options &options, DWORD access, Output &output, HANDLE *device, std::string *path) {
  *device = INVALID_HANDLE_VALUE;
  *path = options.device;
  if (path->empty()) {
    std::vector<std::string> paths = InterfacePaths();
    *path = paths.empty() ? MapEntryPath() : paths[0];
  }
  if (path->empty()) {
    return output.Fail(kDioctlRefused,
                       "no device: the driver publishes none (no device of its interface, no device map "
                       "entry); is the board installed and started?");
  }
  *device = CreateFileA(path->c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (*device != INVALID_HANDLE_VALUE) return kDioctlDone;
  DWORD error = GetLastError();
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return output.Fail(kDioctlRefused, "no device at %s: the board is not present (removed or not started)",
                         path->c_str());
    case ERROR_ACCESS_DENIED:
      return output.Fail(kDioctlRefused,
                         "access denied to %s: the device admits administrators only, or is being removed",
                         path->c_str());
  }
  return output.Fail(kDioctlRefused, "cannot open %s: %s", path->c_str(), DescribeRefusal(error).c_str());
}

// The statuses the driver and the I/O manager refuse a request with, by the
// Win32 error DeviceIoControl reports for each (RtlNtStatusToDosError).
std::string DescribeRefusal(DWORD error) {
  struct Meaning {
    DWORD error;
    const char *text;
  };
  static const Meaning kMeanings[] = {
      {ERROR_NOACCESS, "STATUS_ACCESS_VIOLATION (0xC0000005): the access does not lie wholly inside the "
                       "board's register block"},
      {ERROR_BAD_COMMAND, "STATUS_INVALID_DEVICE_STATE (0xC0000184): the board is not started"},
      {ERROR_NOT_READY, "STATUS_DEVICE_NOT_READY (0xC00000A3): the board has no power now (the system is "
                        "going to sleep or waking, or the device is in D3)"},
      {ERROR_OPERATION_ABORTED, "STATUS_CANCELLED (0xC0000120): the request was cancelled while it waited "
                                "for the board's restart"},
      {ERROR_INVALID_PARAMETER, "STATUS_INVALID_PARAMETER (0xC000000D): the request's buffers have the wrong "
                                "length"},
      {ERROR_INSUFFICIENT_BUFFER, "STATUS_BUFFER_TOO_SMALL (0xC0000023): a buffer is shorter than the "
                                  "request's record"},
      {ERROR_INVALID_FUNCTION, "STATUS_NOT_IMPLEMENTED (0xC0000002) or STATUS_INVALID_DEVICE_REQUEST "
                               "(0xC0000010): the driver does not carry out this request on this handle"},
      {ERROR_ACCESS_DENIED, "STATUS_ACCESS_DENIED (0xC0000022): the handle, or an event handle it names, lacks "
                            "the access the request needs; or STATUS_DELETE_PENDING (0xC0000056): the board "
                            "is being removed"},
      {ERROR_INVALID_HANDLE, "STATUS_INVALID_HANDLE (0xC0000008) or STATUS_OBJECT_TYPE_MISMATCH (0xC0000024): "
                             "a handle the request names is no event of this program"},
      {ERROR_NO_SYSTEM_RESOURCES, "STATUS_INSUFFICIENT_RESOURCES (0xC000009A): the system is out of memory or "
                                  "the driver out of handle slots"},
      {ERROR_GEN_FAILURE, "STATUS_UNSUCCESSFUL (0xC0000001): the driver could not carry out the request"},
  };
  for (const Meaning &m : kMeanings)
    if (m.error == error) return m.text;
  return "Windows error " + std::to_string(error);
}

bool Request(HANDLE device, DWORD code, const void *input, DWORD inputSize, void *output, DWORD outputSize,
             DWORD *returned, Output &out, const char *what) {
  *returned = 0;
  if (DeviceIoControl(device, code, const_cast<void *>(input), inputSize, output, outputSize, returned, NULL))
    return true;
  out.Fail(kDioctlRefused, "%s refused: %s", what, DescribeRefusal(GetLastError()).c_str());
  return false;
}

}  // namespace dioctl
