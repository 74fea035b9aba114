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

bool Helper::SetBoard(const Board &board) {
  WINE_HELPER_BOARD record = {board.model, board.infoBase, board.base, board.portCount};
  return Control(IOCTL_WINE_HELPER_SET_BOARD, &record, sizeof record, NULL, 0);
}

bool Helper::SetPorts(const WINE_HELPER_PORTS &ports) {
  return Control(IOCTL_WINE_HELPER_SET_PORTS, &ports, sizeof ports, NULL, 0);
}

bool Helper::Fire(std::initializer_list<int> lines) {
  WINE_HELPER_FIRE fire = {};
  for (int line : lines) fire.Lines[fire.Count++] = UCHAR(line);
  return Control(IOCTL_WINE_HELPER_FIRE, &fire, sizeof fire, NULL, 0);
}

bool Helper::Settle() {
  ULONG settled = 0;
  return Control(IOCTL_WINE_HELPER_SETTLE, NULL, 0, &settled, sizeof settled) && settled;
}

WINE_HELPER_INTERRUPTS Helper::Interrupts() {
  WINE_HELPER_INTERRUPTS interrupts = {};
  Control(IOCTL_WINE_HELPER_INTERRUPTS, NULL, 0, &interrupts, sizeof interrupts);
  return interrupts;
}

WINE_HELPER_BOARD_STATE Helper::BoardState() {
  WINE_HELPER_BOARD_STATE state = {};
  Control(IOCTL_WINE_HELPER_BOARD_STATE, NULL, 0, &state, sizeof state);
  return state;
}

bool Helper::SystemPower(ULONG transition, ULONG step, WINE_HELPER_TRANSITION_RESULT *result) {
  union {
    WINE_HELPER_TRANSITION in;
    WINE_HELPER_TRANSITION_RESULT out;
  } buffer;
  buffer.in = WINE_HELPER_TRANSITION{transition, step};
  if (!Control(IOCTL_WINE_HELPER_SYSTEM_POWER, &buffer, sizeof buffer, &buffer, sizeof buffer)) return false;
  *result = buffer.out;
  return true;
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

Trace Helper::TraceOf(size_t count, unsigned long milliseconds) {
  Trace trace, more;
  bool enough = WaitFor(milliseconds, [&] {
    TakeTrace(&more);
    trace.insert(trace.end(), more.begin(), more.end());
    return trace.size() >= count;
  });
  if (enough) {
    Sleep(100);
    TakeTrace(&more);
    trace.insert(trace.end(), more.begin(), more.end());
  }
  return trace;
}

Trace TraceUntilClose(Helper &helper, unsigned long milliseconds) {
  Trace trace, more;
  WaitFor(milliseconds, [&] {
    helper.TakeTrace(&more);
    trace.insert(trace.end(), more.begin(), more.end());
    return !trace.empty() && trace.back().kind == WINE_HELPER_CLOSE;
  });
  return trace;
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

static const char *Minor(UCHAR minor) { return minor == 3 ? "query" : minor == 2 ? "set" : "other"; }

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
    case WINE_HELPER_CONNECT: snprintf(text, sizeof text, "connect %08lX", a.value); break;
    case WINE_HELPER_DISCONNECT: snprintf(text, sizeof text, "disconnect%s", a.value ? " (asserted)" : ""); break;
    case WINE_HELPER_ISR: snprintf(text, sizeof text, "isr %s", a.value ? "claimed" : "declined"); break;
    case WINE_HELPER_DPC: snprintf(text, sizeof text, "dpc"); break;
    case WINE_HELPER_STORM: snprintf(text, sizeof text, "storm after %lu", a.value); break;
    case WINE_HELPER_SHUTDOWN: snprintf(text, sizeof text, "shutdown %08lX", a.value); break;
    case WINE_HELPER_POWER_REQUEST: snprintf(text, sizeof text, "request %s D%lu", Minor(a.width), a.value - 1); break;
    case WINE_HELPER_BUS_POWER:
      // S0 is 1, S3 to S5 are 4 to 6; D0 to D3 are 1 to 4.
      snprintf(text, sizeof text, "bus %s %s%lu", Minor(a.width), a.port == 0 ? "S" : "D",
               a.port == 0 && a.value == 1 ? 0 : a.value - 1);
      break;
    case WINE_HELPER_BOARD_POWER: snprintf(text, sizeof text, "board %s", a.value ? "on" : "off"); break;
    case WINE_HELPER_VIOLATION: snprintf(text, sizeof text, "violation %lu", a.value); break;
    default: snprintf(text, sizeof text, "kind %u? %u %04X %08lX", a.kind, a.width, a.port, a.value); break;
  }
  return text;
}

bool CheckTrace(const char *what, const Trace &got, const Trace &expected) {
  size_t n = got.size() > expected.size() ? got.size() : expected.size();
  bool same = got.size() == expected.size();
  for (size_t i = 0; i < n && same; ++i) {
    same = got[i].kind == expected[i].kind && got[i].width == expected[i].width &&
           got[i].port == expected[i].port && got[i].value == expected[i].value;
  }
  if (Check(same, "%s: %zu port accesses and requests as expected", what, expected.size())) return true;
  for (size_t i = 0; i < n; ++i) {
    Note("    %-3zu got %-20s expected %s", i, i < got.size() ? Describe(got[i]).c_str() : "-",
         i < expected.size() ? Describe(expected[i]).c_str() : "-");
  }
  return false;
}

void CheckConnection(const char *what, const Board &board, Helper &helper, ULONG connects) {
  WINE_HELPER_INTERRUPTS i = helper.Interrupts();
  const WINE_HELPER_RESOURCES &r = board.resources;
  const UCHAR mode = (r.InterruptFlags & 1) ? 1 /* Latched */ : 0 /* LevelSensitive */;
  Check(i.Connects == connects && i.Connected == 1 && i.Vector == r.TranslatedVector &&
            i.Irql == r.TranslatedLevel && i.SynchronizeIrql == r.TranslatedLevel && i.Mode == mode &&
            i.ShareVector == (r.InterruptShare == 3) && i.Affinity == r.Affinity && !i.FloatingSave,
        "%s: the interrupt connected (%lu of %lu in force) on vector 0x%lX, IRQL %u/%u, %s, %s, "
        "affinity 0x%llX, no floating save, as the start's translated interrupt gave it",
        what, (unsigned long)i.Connected, (unsigned long)i.Connects, (unsigned long)i.Vector, i.Irql,
        i.SynchronizeIrql, i.Mode ? "latched" : "level-sensitive", i.ShareVector ? "shared" : "exclusive",
        (unsigned long long)i.Affinity);
}

}  // namespace winetest
