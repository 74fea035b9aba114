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

bool Helper::Settle() { return Query<ULONG>(IOCTL_WINE_HELPER_SETTLE) != 0; }

WINE_HELPER_INTERRUPTS Helper::Interrupts() { return Query<WINE_HELPER_INTERRUPTS>(IOCTL_WINE_HELPER_INTERRUPTS); }

WINE_HELPER_BOARD_STATE Helper::BoardState() {
  return Query<WINE_HELPER_BOARD_STATE>(IOCTL_WINE_HELPER_BOARD_STATE);
}

bool Helper::SystemPower(ULONG transition, ULONG step, WINE_HELPER_TRANSITION_RESULT *result) {
  WINE_HELPER_TRANSITION in = {transition, step};
  return Control(IOCTL_WINE_HELPER_SYSTEM_POWER, &in, sizeof in, result, sizeof *result);
}

std::vector<LoggedEntry> Helper::TakeErrorLog() {
  static WINE_HELPER_ERROR_LOG taken;
  std::vector<LoggedEntry> entries;
  if (!Control(IOCTL_WINE_HELPER_TAKE_ERROR_LOG, NULL, 0, &taken, sizeof taken)) return entries;
  Check(taken.Lost == 0, "the helper kept every event log entry (%lu lost)", (unsigned long)taken.Lost);
  for (ULONG i = 0; i < taken.Count; ++i) {
    const WINE_HELPER_LOGGED &e = taken.Entries[i];
    LoggedEntry entry = {e.ErrorCode, e.FinalStatus, {}};
    for (USHORT at = 0, n = 0; n < e.NumberOfStrings && at < e.StringChars; ++n) {
      entry.strings.push_back(std::wstring(e.Strings + at));
      at = USHORT(at + entry.strings.back().size() + 1);
    }
    entries.push_back(entry);
  }
  return entries;
}

bool Helper::Rebalance(const WINE_HELPER_RESOURCES &resources, WINE_HELPER_REBALANCE_RESULT *result) {
  return Control(IOCTL_WINE_HELPER_REBALANCE, &resources, sizeof resources, result, sizeof *result);
}

bool Helper::TakeTrace(Trace *trace) {
  static WINE_HELPER_TRACE taken;
  if (!Control(IOCTL_WINE_HELPER_TAKE_TRACE, NULL, 0, &taken, sizeof taken)) return false;
  for (ULONG i = 0; i < taken.Count; ++i) {
    const WINE_HELPER_ACCESS &a = taken.Accesses[i];
    trace->push_back(Access{a.Kind, a.Width, a.Port, a.Value});
  }
  return Check(taken.Lost == 0, "trace kept every access (%lu lost)", taken.Lost);
}

bool Helper::ExpectTrace(const char *what, const Trace &expected, bool withAccesses) {
  Trace trace;
  TakeTrace(&trace);
  return CheckTrace(what, withAccesses ? trace : Requests(trace), expected);
}

Trace Helper::TraceOf(size_t count, unsigned long milliseconds) {
  Trace trace;
  bool enough = WaitFor(milliseconds, [&] {
    TakeTrace(&trace);
    return Requests(trace).size() >= count;
  });
  if (enough) {
    Sleep(100);
    TakeTrace(&trace);
  }
  return trace;
}

// The helper lives in the driver's winedevice process: when it no longer
// answers, the process has ended and no close request comes.
Trace Helper::TraceUntilClose(unsigned long milliseconds) {
  Trace trace;
  WaitFor(milliseconds,
          [&] { return !TakeTrace(&trace) || (!trace.empty() && trace.back().kind == WINE_HELPER_CLOSE); });
  return trace;
}

// An entry's kind by name, then its raw fields; a port access as "in8 0301 5A".
static std::string Describe(const Access &a) {
  static const char *const kKinds[] = {"?",          "in",       "out",           "cleanup",   "close",
                                       "connect",    "disconnect", "isr",         "dpc",       "storm",
                                       "shutdown",   "power request", "bus power", "board power", "violation"};
  const char *kind = a.kind < sizeof kKinds / sizeof kKinds[0] ? kKinds[a.kind] : "?";
  char text[64];
  if (a.kind == WINE_HELPER_IN || a.kind == WINE_HELPER_OUT) {
    snprintf(text, sizeof text, "%s%u %04X %0*lX", kind, 8u * a.width, a.port, 2 * a.width, a.value);
  } else {
    snprintf(text, sizeof text, "%s (%u %u %lu)", kind, a.width, a.port, a.value);
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
    Note("    %-3zu got %-24s expected %s", i, i < got.size() ? Describe(got[i]).c_str() : "-",
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
