// The test program's side of the helper driver: its service and its control
// device.
#include "checks.h"

namespace winetest {

static const wchar_t kHelperImage[] = L"TesZEPDIOWineHelper.sys";

bool Helper::Start(const std::wstring &directory, const std::wstring &group) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring installed = std::wstring(system) + L"\\drivers\\" + kHelperImage;
  if (!Check(CopyFileW((directory + L"\\" + kHelperImage).c_str(), installed.c_str(), FALSE),
             "helper driver copied to the drivers directory")) {
    return false;
  }
  SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = CreateServiceW(
      manager, WINE_HELPER_SERVICE, L"TesZEPDIO Wine test helper", SERVICE_ALL_ACCESS,
      SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
      (std::wstring(L"\\SystemRoot\\System32\\drivers\\") + kHelperImage).c_str(), group.c_str(), NULL, NULL,
      NULL, NULL);
  bool started = service != NULL && StartServiceW(service, 0, NULL);
  Check(started, "helper service started in load order group \"%s\" (error %lu)",
        Narrow(group).c_str(), started ? 0 : GetLastError());
  if (service != NULL) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (!started) return false;
  device_ = CreateFileW(WINE_HELPER_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                        0, NULL);
  return Check(device_ != INVALID_HANDLE_VALUE, "helper's control device opened (error %lu)",
               device_ != INVALID_HANDLE_VALUE ? 0 : GetLastError());
}

Helper::~Helper() {
  if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
}

bool Helper::Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize) {
  DWORD returned;
  return DeviceIoControl(device_, code, const_cast<void *>(in), inSize, out, outSize, &returned,
                         NULL) != FALSE;
}

bool Helper::SetPorts(const WINE_HELPER_PORTS &ports) {
  return Control(IOCTL_WINE_HELPER_SET_PORTS, &ports, sizeof ports, NULL, 0);
}

bool Helper::TakeTrace(Trace *trace) {
  static WINE_HELPER_TRACE taken;
  trace->clear();
  if (!Control(IOCTL_WINE_HELPER_TAKE_TRACE, NULL, 0, &taken, sizeof taken)) return false;
  for (ULONG i = 0; i < taken.Count; ++i) {
    const WINE_HELPER_ACCESS &a = taken.Accesses[i];
    trace->push_back(Access{a.Kind, a.Width, a.Port, a.Value});
  }
  return Check(taken.Lost == 0, "trace kept every access (%lu lost)", taken.Lost);
}

bool Helper::Rebalance(const WINE_HELPER_RESOURCES &resources,
                       WINE_HELPER_REBALANCE_RESULT *result) {
  union {
    WINE_HELPER_RESOURCES in;
    WINE_HELPER_REBALANCE_RESULT out;
  } buffer;
  buffer.in = resources;
  if (!Control(IOCTL_WINE_HELPER_REBALANCE, &buffer, sizeof buffer, &buffer, sizeof buffer))
    return false;
  *result = buffer.out;
  return true;
}

static std::string Describe(const Access &a) {
  char text[64];
  switch (a.kind) {
    case WINE_HELPER_IN:
    case WINE_HELPER_OUT:
      snprintf(text, sizeof text, "%s%u %04X %0*lX", a.kind == WINE_HELPER_IN ? "in" : "out",
               8u * a.width, a.port, 2 * a.width, a.value);
      break;
    case WINE_HELPER_CLEANUP: snprintf(text, sizeof text, "cleanup %08lX", a.value); break;
    case WINE_HELPER_CLOSE: snprintf(text, sizeof text, "close"); break;
    default: snprintf(text, sizeof text, "kind %u?", a.kind); break;
  }
  return text;
}

void CheckTrace(const char *what, const Trace &got, const Trace &expected) {
  size_t n = got.size() > expected.size() ? got.size() : expected.size();
  bool same = got.size() == expected.size();
  for (size_t i = 0; i < n && same; ++i) {
    same = got[i].kind == expected[i].kind && got[i].width == expected[i].width &&
           got[i].port == expected[i].port && got[i].value == expected[i].value;
  }
  if (Check(same, "%s: %zu port accesses and requests as expected", what, expected.size())) return;
  for (size_t i = 0; i < n; ++i) {
    Note("    %-3zu got %-20s expected %s", i, i < got.size() ? Describe(got[i]).c_str() : "-",
         i < expected.size() ? Describe(expected[i]).c_str() : "-");
  }
}

}  // namespace winetest
