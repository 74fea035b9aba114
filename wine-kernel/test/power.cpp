// The system's power transitions in Windows' order, sent by the helper to
// the device stack (docs/power-transitions.md): sleep and wake, hibernation
// and wake, the hybrid shutdown and the fast startup after it, and the
// shutdown (IRP_MJ_SHUTDOWN, then S5). The board loses power as a real one
// does: in S3, S4 and S5, and a PCI board in D3. Each step's trace holds the
// power requests at the bus, the device requests the driver makes and the
// board's power, in order; then "OnSystem", the board's registers and an
// interrupt show what the driver made of it.
#include "checks.h"

#include <tuple>

namespace winetest {

namespace {

constexpr UCHAR kSet = 2, kQuery = 3;      // IRP_MN_SET_POWER, IRP_MN_QUERY_POWER
constexpr USHORT kSystem = 0, kDevice = 1;  // the power types
constexpr ULONG kS0 = 1, kS3 = 4, kS4 = 5, kS5 = 6, kD0 = 1, kD3 = 4;

// The DO configuration the power test gives the driver: channel 0 driven to
// 1 at the start, channel 2 to 1 at the shutdown.
constexpr DIO_DO_CONFIG kDoConfig = {1, 1, 0, 2, 1, 1};
constexpr UCHAR kStartBit = 0x01;

Access Bus(UCHAR minor, USHORT type, ULONG state) { return {WINE_HELPER_BUS_POWER, minor, type, state}; }
Access DeviceRequest(ULONG state) { return {WINE_HELPER_POWER_REQUEST, kSet, 0, state}; }

// A system request leaving S0: a PCI board asks for D3 and loses power with
// it, a latched board with the machine.
Trace Entering(const Board &board, ULONG state, bool queried) {
  Trace trace;
  if (queried) trace.push_back(Bus(kQuery, kSystem, state));
  if (board.pci) {
    trace += {DeviceRequest(kD3), Bus(kSet, kDevice, kD3), Marker(WINE_HELPER_BOARD_POWER, 0),
              Bus(kSet, kSystem, state)};
  } else {
    trace += {Bus(kSet, kSystem, state), Marker(WINE_HELPER_BOARD_POWER, 0)};
  }
  return trace;
}

// The S0 request goes down first; a PCI board asks for D0 in its
// completion and gets power with it.
Trace Leaving(const Board &board) {
  if (board.pci) {
    return {Bus(kSet, kSystem, kS0), DeviceRequest(kD0), Bus(kSet, kDevice, kD0), Marker(WINE_HELPER_BOARD_POWER, 1)};
  }
  return {Marker(WINE_HELPER_BOARD_POWER, 1), Bus(kSet, kSystem, kS0)};
}

// One step of a transition: its trace, then "OnSystem" as the driver left it.
void Step(Helper &helper, ULONG transition, ULONG step, const char *what, const Trace &expected, DWORD onSystem) {
  WINE_HELPER_TRANSITION_RESULT result = {};
  bool sent = helper.SystemPower(transition, step, &result);
  Check(sent && result.QueryStatus == 0 && result.SetStatus == 0,
        "%s: the system's requests succeed (query %08lX, set %08lX)", what, (unsigned long)result.QueryStatus,
        (unsigned long)result.SetStatus);
  CheckTrace(what, Requests(helper.TraceOf(expected.size())), expected);
  CheckOnSystem(onSystem, what);
}

}  // namespace

void CheckPower(const Board &board, const std::wstring &path, Helper &helper) {
  Waiter waiter = {"the power test's handle", Open(path), {}};
  if (!Check(waiter.device != INVALID_HANDLE_VALUE, "power: a handle opened")) return;
  waiter.events[0] = CreateEventW(NULL, FALSE, FALSE, NULL);
  Enable(waiter, 1, "before the transitions");
  Check(WriteRegister(waiter.device, board, board.intEn0, 0x01), "before the transitions: source 0 switched on");
  DIO_DO_CONFIG config = kDoConfig;
  DWORD returned;
  Check(DeviceIoControl(waiter.device, IOCTL_DIO_DO_SYS_CONFIG, &config, sizeof config, NULL, 0, &returned, NULL) !=
            FALSE,
        "before the transitions: DO channel 2 to 1 at the shutdown");
  helper.ExpectTrace("before the transitions", {Marker(WINE_HELPER_CONNECT, 0)}, false);
  CheckBoard(helper, "before the transitions", kDoStarted, 0x01);
  const std::vector<const Waiter *> waiters = {&waiter};

  // Sleep and wake, hibernation and wake: the board's registers come back.
  // The transition, its system state, and its two steps.
  const std::tuple<ULONG, ULONG, const char *, const char *> sleeps[] = {
      {WINE_HELPER_SLEEP, kS3, "sleep (S3)", "wake from sleep"},
      {WINE_HELPER_HIBERNATE, kS4, "hibernation (S4)", "wake from hibernation"}};
  for (const auto &[transition, state, enter, leave] : sleeps) {
    Step(helper, transition, WINE_HELPER_ENTER, enter, Entering(board, state, true), 1);
    Step(helper, transition, WINE_HELPER_LEAVE, leave, Leaving(board), 1);
    CheckBoard(helper, leave, kDoStarted, 0x01);
    FireAndCheck(helper, 0, {{&waiter, 0}}, waiters, true, leave);
  }

  // The hybrid shutdown ends the session before it goes down; the fast
  // startup after it does a start's work on the board at its power-on
  // values. The interrupt stays connected.
  Step(helper, WINE_HELPER_HYBRID_SHUTDOWN, WINE_HELPER_ENTER, "hybrid shutdown (S4, target S5)",
       Entering(board, kS4, true), 0);
  Step(helper, WINE_HELPER_HYBRID_SHUTDOWN, WINE_HELPER_LEAVE, "fast startup", Leaving(board), 1);
  CheckBoard(helper, "fast startup", kStartBit, 0x00);
  FireAndCheck(helper, 0, {}, waiters, false, "fast startup, its sources off: DI line 0");
  Check(WriteRegister(waiter.device, board, board.intEn0, 0x01), "fast startup: source 0 switched on again");
  FireAndCheck(helper, 0, {{&waiter, 0}}, waiters, true, "fast startup, the interrupt still connected");
  CloseAndCheck(waiter.device, "power: close of the last handle", CloseRequests(true), helper);
  CloseEvents(waiter);

  // The shutdown: the shutdown request, then S5; no way back.
  Trace shutdown = {Marker(WINE_HELPER_SHUTDOWN, 0)};
  Step(helper, WINE_HELPER_SHUTDOWN_OFF, WINE_HELPER_ENTER, "shutdown (IRP_MJ_SHUTDOWN, S5)",
       shutdown += Entering(board, kS5, false), 0);
}

}  // namespace winetest
