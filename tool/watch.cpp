// watch: hands the driver an event object per event number, switches on the
// board's DI sources behind them and prints each event as it is signalled,
// until Ctrl+C or the time is up; then puts everything back.
#include "dioctl.h"

namespace dioctl {
namespace {

// Set by the console's Ctrl+C (or Ctrl+Break), which Windows delivers on a
// thread of its own.
HANDLE gStop = NULL;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  SetEvent(gStop);
  return TRUE;
}

struct Session {
  HANDLE device = INVALID_HANDLE_VALUE;
  std::vector<HANDLE> waits;  // gStop, then one event per watched number
  bool enabled = false;
  bool handlerSet = false;
  // The interrupt-enable registers as found, to be written back.
  std::vector<std::pair<uint32_t, uint32_t>> sources;
};

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
  if (s.handlerSet) SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  for (HANDLE h : s.waits) CloseHandle(h);
  gStop = NULL;
  if (s.device != INVALID_HANDLE_VALUE) CloseHandle(s.device);
  return ok;
}

std::string NumberList(const std::vector<int> &events) {
  std::string text;
  for (int n : events) text += (text.empty() ? "" : ", ") + std::to_string(n);
  return text;
}

// "   0.125 s  event 3": the seconds since the watch began.
void PrintEvent(Output &output, ULONGLONG start, int number) {
  ULONGLONG at = GetTickCount64() - start;
  output.Print("%8llu.%03llu s  event %d\n", (unsigned long long)(at / 1000), (unsigned long long)(at % 1000),
               number);
}

}  // namespace

int Watch(const Options &options, Output &output) {
  BoardRecord record = ReadBoardRecord();
  if (!record.found) {
    return output.Fail(kDioctlRefused,
                       "no board record (" DIOCTL_BOARD_KEY "): is the board installed and started?");
  }
  std::vector<int> events = options.events;
  int count = EventCount(record.deviceType);
  if (events.empty())
    for (int n = 0; n < count; ++n) events.push_back(n);
  for (int n : events) {
    if (n >= count) {
      return output.Fail(kDioctlUsage, "event %d does not exist on %s: its events are 0 to %d", n,
                         DescribeModel(record.deviceType).c_str(), count - 1);
    }
  }

  Session s;
  std::string path;
  int failed = OpenDevice(options, GENERIC_READ | GENERIC_WRITE, output, &s.device, &path);
  if (failed) return failed;
  // The handler comes first: a Ctrl+C from now on ends the watch cleanly.
  gStop = CreateEventA(NULL, TRUE, FALSE, NULL);
  s.waits.push_back(gStop);
  s.handlerSet = gStop && SetConsoleCtrlHandler(OnConsoleControl, TRUE) != FALSE;
  DIO_EVENT_REQUEST request = {};
  request.HandleCount = DIO_EVENT_COUNT;
  std::vector<int> numbers;  // the event number of each wait after the first
  for (int n = 0; n < DIO_EVENT_COUNT; ++n) {
    bool wanted = false;
    for (int e : events) wanted = wanted || e == n;
    if (!wanted) continue;
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);  // auto-reset: each wait takes one signal
    if (!event) break;
    s.waits.push_back(event);
    numbers.push_back(n);
    request.Handles[n] = ULONG64(reinterpret_cast<ULONG_PTR>(event));
  }
  if (!s.handlerSet || numbers.size() != events.size()) {
    DWORD error = GetLastError();
    End(s, output);
    return output.Fail(kDioctlRefused, "cannot create event objects or handle Ctrl+C: Windows error %lu",
                       (unsigned long)error);
  }
  DWORD returned;
  if (!Request(s.device, IOCTL_DIO_ENABLE_EVENT, &request, sizeof request, &request, sizeof request, &returned,
               output, "enable request")) {
    End(s, output);
    return kDioctlRefused;
  }
  s.enabled = true;

  // Switch on the sources behind the events, register by register.
  for (int n : numbers) {
    SourceBit bit = SourceOf(record.deviceType, n);
    bool known = false;
    for (const auto &saved : s.sources) known = known || saved.first == bit.offset;
    if (known) continue;
    uint32_t value;
    if (!ReadPort(s.device, bit.offset, 1, &value, output)) {
      End(s, output);
      return kDioctlRefused;
    }
    s.sources.push_back({bit.offset, value});
    uint32_t mask = 0;
    for (int m : numbers) {
      SourceBit other = SourceOf(record.deviceType, m);
      if (other.offset == bit.offset) mask |= other.mask;
    }
    if (!WritePort(s.device, bit.offset, 1, value | mask, output)) {
      End(s, output);
      return kDioctlRefused;
    }
  }
  output.Print("watching events %s of %s, %s", NumberList(numbers).c_str(), path.c_str(),
               DescribeModel(record.deviceType).c_str());
  if (options.milliseconds != INFINITE) {
    output.Print(" for %lu.%03lu s", (unsigned long)(options.milliseconds / 1000),
                 (unsigned long)(options.milliseconds % 1000));
  }
  output.Print("; Ctrl+C ends\n");

  ULONGLONG start = GetTickCount64();
  unsigned long seen = 0;
  const char *ending = "time is up";
  DWORD waitError = 0;
  for (;;) {
    DWORD wait = INFINITE;
    if (options.milliseconds != INFINITE) {
      ULONGLONG elapsed = GetTickCount64() - start;
      if (elapsed >= options.milliseconds) break;
      wait = DWORD(options.milliseconds - elapsed);
    }
    DWORD result = WaitForMultipleObjects(DWORD(s.waits.size()), s.waits.data(), FALSE, wait);
    if (result == WAIT_TIMEOUT) break;
    if (result == WAIT_OBJECT_0) {
      ending = "Ctrl+C";
      break;
    }
    if (result == WAIT_FAILED || result >= WAIT_OBJECT_0 + s.waits.size()) {
      waitError = result == WAIT_FAILED ? GetLastError() : result;
      ending = "a failed wait";
      break;
    }
    PrintEvent(output, start, numbers[result - WAIT_OBJECT_0 - 1]);
    ++seen;
  }
  // Events signalled before the end are still printed.
  for (size_t i = 1; !waitError && i < s.waits.size(); ++i) {
    if (WaitForSingleObject(s.waits[i], 0) != WAIT_OBJECT_0) continue;
    PrintEvent(output, start, numbers[i - 1]);
    ++seen;
  }
  ULONGLONG total = GetTickCount64() - start;
  bool ended = End(s, output);
  output.Print("stopped (%s) after %llu.%03llu s: %lu event%s\n", ending, (unsigned long long)(total / 1000),
               (unsigned long long)(total % 1000), seen, seen == 1 ? "" : "s");
  if (waitError) return output.Fail(kDioctlRefused, "the wait for the events failed: Windows error %lu",
                                    (unsigned long)waitError);
  return ended ? kDioctlDone : kDioctlRefused;
}

}  // namespace dioctl
