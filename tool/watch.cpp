// watch: hands the driver an event object per event number, switches on the
// board's DI sources behind them and prints each event as it is signalled,
// until Ctrl+C or the time is up; then puts everything back.
#include "dioctl.h"

namespace dioctl {
namespace {

// Ctrl+C (or Ctrl+Break) comes to the console handler on a thread of its
// own, with nothing but the kind of event, so the event it sets is the one
// thing of a watch held outside its session, and only from CatchCtrlC to
// ReleaseCtrlC.
HANDLE gCtrlC = NULL;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  SetEvent(gCtrlC);
  return TRUE;
}

struct Session {
  HANDLE device = INVALID_HANDLE_VALUE;
  std::vector<HANDLE> waits;  // the Ctrl+C event, then one event per watched number
  std::vector<int> numbers;   // the event number of each wait after the first
  bool enabled = false;
  // The interrupt-enable registers as found, to be written back.
  std::vector<std::pair<uint32_t, uint32_t>> sources;
};

// How the wait for the events ended.
struct Outcome {
  unsigned long seen = 0;
  const char *ending = "time is up";
  DWORD waitError = 0;
};

// The event numbers asked for, every one of the board's by default; each
// must exist on the board. 0, or the exit code.
int ChooseEvents(const Options &options, DWORD deviceType, Output &output, std::vector<int> *events) {
  *events = options.events;
  int count = EventCount(deviceType);
  if (events->empty())
    for (int n = 0; n < count; ++n) events->push_back(n);
  for (int n : *events) {
    if (n >= count) {
      return output.Fail(kDioctlUsage, "event %d does not exist on %s: its events are 0 to %d", n,
                         DescribeModel(deviceType).c_str(), count - 1);
    }
  }
  return kDioctlDone;
}

bool CatchCtrlC(Session &s) {
  HANDLE ctrlC = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (!ctrlC) return false;
  s.waits.push_back(ctrlC);
  gCtrlC = ctrlC;
  if (SetConsoleCtrlHandler(OnConsoleControl, TRUE)) return true;
  gCtrlC = NULL;
  return false;
}

void ReleaseCtrlC() {
  if (!gCtrlC) return;
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  gCtrlC = NULL;
}

// An auto-reset event per number, in the request's slot of its number
// (each wait takes one signal).
bool CreateEvents(Session &s, const std::vector<int> &events, DIO_EVENT_REQUEST *request) {
  *request = {};
  request->HandleCount = DIO_EVENT_COUNT;
  for (int n = 0; n < DIO_EVENT_COUNT; ++n) {
    bool wanted = false;
    for (int e : events) wanted = wanted || e == n;
    if (!wanted) continue;
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!event) return false;
    s.waits.push_back(event);
    s.numbers.push_back(n);
    request->Handles[n] = ULONG64(reinterpret_cast<ULONG_PTR>(event));
  }
  return true;
}

// The Ctrl+C handler comes first: a Ctrl+C from then on ends the watch
// cleanly. 0, or the exit code.
int EnableEvents(Session &s, const std::vector<int> &events, Output &output) {
  DIO_EVENT_REQUEST request;
  if (!CatchCtrlC(s) || !CreateEvents(s, events, &request)) {
    return output.Fail(kDioctlRefused, "cannot create event objects or handle Ctrl+C: Windows error %lu",
                       (unsigned long)GetLastError());
  }
  DWORD returned;
  if (!Request(s.device, IOCTL_DIO_ENABLE_EVENT, &request, sizeof request, &request, sizeof request, &returned,
               output, "enable request")) {
    return kDioctlRefused;
  }
  s.enabled = true;
  return kDioctlDone;
}

// The bits of the watched events' sources in the enable register at `offset`.
uint32_t SourceMask(const Session &s, DWORD deviceType, uint32_t offset) {
  uint32_t mask = 0;
  for (int n : s.numbers) {
    SourceBit bit = SourceOf(deviceType, n);
    if (bit.offset == offset) mask |= bit.mask;
  }
  return mask;
}

// Switches on the sources behind the events, register by register, each
// register's value kept first so that the end can write it back.
bool SwitchOnSources(Session &s, DWORD deviceType, Output &output) {
  for (int n : s.numbers) {
    uint32_t offset = SourceOf(deviceType, n).offset;
    bool known = false;
    for (const auto &saved : s.sources) known = known || saved.first == offset;
    if (known) continue;
    uint32_t value;
    if (!ReadPort(s.device, offset, 1, &value, output)) return false;
    s.sources.push_back({offset, value});
    if (!WritePort(s.device, offset, 1, value | SourceMask(s, deviceType, offset), output)) return false;
  }
  return true;
}

std::string NumberList(const std::vector<int> &events) {
  std::string text;
  for (int n : events) text += (text.empty() ? "" : ", ") + std::to_string(n);
  return text;
}

void PrintWatching(const Session &s, const std::string &path, DWORD deviceType, DWORD milliseconds,
                   Output &output) {
  output.Print("watching events %s of %s, %s", NumberList(s.numbers).c_str(), path.c_str(),
               DescribeModel(deviceType).c_str());
  if (milliseconds != INFINITE)
    output.Print(" for %lu.%03lu s", (unsigned long)(milliseconds / 1000), (unsigned long)(milliseconds % 1000));
  output.Print("; Ctrl+C ends\n");
}

// "   0.125 s  event 3": the seconds since the watch began.
void PrintEvent(Output &output, ULONGLONG start, int number) {
  ULONGLONG at = GetTickCount64() - start;
  output.Print("%8llu.%03llu s  event %d\n", (unsigned long long)(at / 1000), (unsigned long long)(at % 1000),
               number);
}

// One line per signal until Ctrl+C, the end of the time, or a failed wait.
Outcome WaitForEvents(const Session &s, DWORD milliseconds, ULONGLONG start, Output &output) {
  Outcome outcome;
  for (;;) {
    DWORD wait = INFINITE;
    if (milliseconds != INFINITE) {
      ULONGLONG elapsed = GetTickCount64() - start;
      if (elapsed >= milliseconds) break;
      wait = DWORD(milliseconds - elapsed);
    }
    DWORD result = WaitForMultipleObjects(DWORD(s.waits.size()), s.waits.data(), FALSE, wait);
    if (result == WAIT_TIMEOUT) break;
    if (result == WAIT_OBJECT_0) {
      outcome.ending = "Ctrl+C";
      break;
    }
    if (result == WAIT_FAILED || result >= WAIT_OBJECT_0 + s.waits.size()) {
      outcome.waitError = result == WAIT_FAILED ? GetLastError() : result;
      outcome.ending = "a failed wait";
      break;
    }
    PrintEvent(output, start, s.numbers[result - WAIT_OBJECT_0 - 1]);
    ++outcome.seen;
  }
  return outcome;
}

// Events signalled before the end are still printed.
void PrintSignalled(const Session &s, ULONGLONG start, Output &output, Outcome *outcome) {
  for (size_t i = 1; i < s.waits.size(); ++i) {
    if (WaitForSingleObject(s.waits[i], 0) != WAIT_OBJECT_0) continue;
    PrintEvent(output, start, s.numbers[i - 1]);
    ++outcome->seen;
  }
}

// Writes back the interrupt-enable registers, disables the events and
// closes everything; the driver's last cleanup would turn the sources off
// anyway, but another program may be using the board.
bool End(Session &s, Output &output) {
  bool ok = true;
  for (auto it = s.sources.rbegin(); it != s.sources.rend(); ++it)
    ok = WritePort(s.device, it->first, 1, it->second, output) && ok;
  DWORD returned;
  if (s.enabled)
    ok = Request(s.device, IOCTL_DIO_DISABLE_EVENT, NULL, 0, NULL, 0, &returned, output, "disable request") && ok;
  ReleaseCtrlC();
  for (HANDLE h : s.waits) CloseHandle(h);
  if (s.device != INVALID_HANDLE_VALUE) CloseHandle(s.device);
  return ok;
}

int Report(const Outcome &outcome, ULONGLONG total, bool ended, Output &output) {
  output.Print("stopped (%s) after %llu.%03llu s: %lu event%s\n", outcome.ending, (unsigned long long)(total / 1000),
               (unsigned long long)(total % 1000), outcome.seen, outcome.seen == 1 ? "" : "s");
  if (outcome.waitError) {
    return output.Fail(kDioctlRefused, "the wait for the events failed: Windows error %lu",
                       (unsigned long)outcome.waitError);
  }
  return ended ? kDioctlDone : kDioctlRefused;
}

}  // namespace

int Watch(const Options &options, Output &output) {
  BoardRecord record = ReadBoardRecord();
  if (!record.found) {
    return output.Fail(kDioctlRefused,
                       "no board record (" DIOCTL_BOARD_KEY "): is the board installed and started?");
  }
  std::vector<int> events;
  if (int wrong = ChooseEvents(options, record.deviceType, output, &events)) return wrong;
  Session s;
  std::string path;
  if (int failed = OpenDevice(options, GENERIC_READ | GENERIC_WRITE, output, &s.device, &path)) return failed;
  int refused = EnableEvents(s, events, output);
  if (!refused && !SwitchOnSources(s, record.deviceType, output)) refused = kDioctlRefused;
  if (refused) {
    End(s, output);
    return refused;
  }
  PrintWatching(s, path, record.deviceType, options.milliseconds, output);
  ULONGLONG start = GetTickCount64();
  Outcome outcome = WaitForEvents(s, options.milliseconds, start, output);
  if (!outcome.waitError) PrintSignalled(s, start, output, &outcome);
  ULONGLONG total = GetTickCount64() - start;
  return Report(outcome, total, End(s, output), output);
}

}  // namespace dioctl
