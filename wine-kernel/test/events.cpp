// DI events as a program sees them: real Win32 events handed to the driver
// on two handles, every DI line of the board fired, and each time exactly
// the events of the line's event number signalled; and the closes, the last
// of which turns the board's sources off and disconnects the interrupt.
#include "checks.h"

namespace winetest {

bool Enable(const Waiter &waiter, USHORT count, const char *what) {
  DIO_EVENT_REQUEST request = {};
  request.UserWord = 0x5A5A;
  request.Status = -1;
  request.HandleCount = count;
  for (USHORT n = 0; n < count && n < DIO_EVENT_COUNT; ++n)
    request.Handles[n] = ULONG64(reinterpret_cast<ULONG_PTR>(waiter.events[n]));
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(waiter.device, IOCTL_DIO_ENABLE_EVENT, &request, sizeof request, &request,
                            sizeof request, &returned, NULL);
  return Check(ok && returned == sizeof request && request.Status == 0,
               "%s: %s enables its events (error %lu, %lu bytes, status %08lX)", what, waiter.name,
               ok ? 0 : GetLastError(), returned, (unsigned long)request.Status);
}

void FireAndCheck(Helper &helper, int line, const std::vector<std::pair<const Waiter *, int>> &wakes,
                  const std::vector<const Waiter *> &waiters, bool claimed, const char *what) {
  Check(helper.Fire({line}), "%s: DI line %d fired", what, line);
  for (const auto &wake : wakes) {
    DWORD result = WaitForSingleObject(wake.first->events[wake.second], 2000);
    Check(result == WAIT_OBJECT_0, "%s: %s's event %d wakes its wait (%lu)", what, wake.first->name, wake.second,
          result);
  }
  Check(helper.Settle(), "%s: the interrupt and its DPC are done", what);
  // Auto-reset events: the waits above took the signals they expected; an
  // event signalled in place of one of them is still signalled.
  for (const Waiter *waiter : waiters) {
    for (int n = 0; n < DIO_EVENT_COUNT; ++n) {
      if (waiter->events[n] != NULL && WaitForSingleObject(waiter->events[n], 0) != WAIT_TIMEOUT)
        Check(false, "%s: %s's event %d is not signalled", what, waiter->name, n);
    }
  }
  WINE_HELPER_BOARD_STATE state = helper.BoardState();
  Check(state.IntSt0 == 0 && state.IntSt1 == 0, "%s: nothing left pending (status 0x%02X 0x%02X)", what,
        state.IntSt0, state.IntSt1);
  helper.ExpectTrace(what, claimed ? InterruptRequests() : Trace(), false);
}

void CloseEvents(Waiter &waiter) {
  for (HANDLE &event : waiter.events) {
    if (event != NULL) CloseHandle(event);
    event = NULL;
  }
}

void CheckEvents(const Board &board, const std::wstring &path, Helper &helper) {
  Waiter first = {"the first handle", Open(path), {}};
  Waiter second = {"the second handle", Open(path), {}};
  if (!Check(first.device != INVALID_HANDLE_VALUE && second.device != INVALID_HANDLE_VALUE,
             "events: two handles opened")) {
    return;
  }
  const std::vector<const Waiter *> both = {&first, &second};
  // Zero handles for events 2 and 6.
  for (int n = 0; n < DIO_EVENT_COUNT; ++n)
    first.events[n] = n == 2 || n == 6 ? NULL : CreateEventW(NULL, FALSE, FALSE, NULL);
  if (Enable(first, DIO_EVENT_COUNT, "first enable")) {
    helper.ExpectTrace("first enable", {Marker(WINE_HELPER_CONNECT, 0)}, false);
    CheckConnection("first enable", board, helper, 1);
  }

  // Every source on but source 1.
  const UCHAR enable0 = 0xFD;
  const UCHAR enable1 = board.intEn1 == kNoPort ? 0x00 : board.layout == kLayout22 ? 0x01 : 0xFF;
  bool on = WriteRegister(first.device, board, board.intEn0, enable0);
  if (board.intEn1 != kNoPort) on = WriteRegister(first.device, board, board.intEn1, enable1) && on;
  Check(on, "the board's DI sources switched on through the driver, all but source 1");
  CheckBoard(helper, "sources switched on", kDoStarted, enable0, enable1);

  for (int source = 0; source < board.sources; ++source) {
    bool enabled = source != 1;
    int event = EventOfSource(board, source);
    std::vector<std::pair<const Waiter *, int>> wakes;
    if (enabled && event >= 0 && first.events[event] != NULL) wakes.push_back({&first, event});
    std::string what = "DI line " + std::to_string(source) + (enabled ? "" : " (source off)");
    FireAndCheck(helper, source, wakes, both, enabled, what.c_str());
  }

  // A second handle's events are signalled beside the first's.
  second.events[0] = CreateEventW(NULL, FALSE, FALSE, NULL);
  second.events[3] = CreateEventW(NULL, FALSE, FALSE, NULL);
  if (Enable(second, DIO_EVENT_COUNT, "enable on the second handle"))
    helper.ExpectTrace("enable on the second handle", Trace());
  for (int line : {0, 3}) {
    std::string what = "two handles, DI line " + std::to_string(line);
    FireAndCheck(helper, line, {{&first, line}, {&second, line}}, both, true, what.c_str());
  }

  CloseAndCheck(second.device, "events: close of the other handle", CloseRequests(false), helper);
  CheckBoard(helper, "events: close of the other handle", kDoStarted, enable0, enable1);
  CloseAndCheck(first.device, "events: close of the last handle", CloseRequests(true), helper);
  CheckBoard(helper, "events: close of the last handle", kDoStarted, 0x00);
  FireAndCheck(helper, 0, {}, both, false, "after the last close, DI line 0");
  CloseEvents(first);
  CloseEvents(second);
}

}  // namespace winetest
