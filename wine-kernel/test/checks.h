// The Wine kernel test program's shared pieces: the board under test and the
// helper driver's services (the checks: wine_program.h).
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <cstdint>

#include "../../driver/dio_ioctl.h"
#include "../../driver/dio_registry.h"
#include "wine_helper.h"
#include "wine_program.h"

namespace winetest {

// board.cpp: the board model under test, its resources and registers
enum Layout { kGeneral, kLayout22, kLayout24 };

// No register of the layout.
constexpr USHORT kNoPort = 0;

struct Board {
  uint32_t model;
  Layout layout;
  bool pci;          // models above 20: device power requests, a level-sensitive shared line
  WINE_HELPER_RESOURCES resources;
  USHORT base;       // the register block: the port requests' offset 0
  ULONG portCount;   // its length
  USHORT infoBase;   // layout 24: the information bytes
  USHORT doPort;     // the DO register
  // The interrupt enables (kNoPort where the layout has none) and the DI
  // sources 0 to sources - 1: source n is bit n of INTEN0, source 8 + n bit
  // n of INTEN1.
  USHORT intEn0, intEn1;
  int sources;
};
Board BoardFor(uint32_t model);
// The event number a DI source's status bit names, or -1.
int EventOfSource(const Board &board, int source);

// One expected helper trace entry.
struct Access {
  UCHAR kind;
  UCHAR width;
  USHORT port;
  ULONG value;
};
using Trace = std::vector<Access>;
Trace &operator+=(Trace &trace, const Trace &more);

// What the register file holds before the restart with resources.
std::vector<WINE_HELPER_PORTS> PortsBeforeStart(const Board &board);
// The board-information bytes the request returns after that start.
std::vector<uint8_t> BoardInfo(const Board &board);
Access Marker(UCHAR kind, ULONG value = 0);
// What the helper's kernel saw of the driver in a trace, without the port
// accesses: connections, cleanups and closes, the service routine's answers,
// DPCs, power requests and the board's power. The driver's register
// sequences are the host tests'; here the board's state after each step
// shows what they did.
Trace Requests(const Trace &trace);
// One interrupt the service routine claims, and its DPC.
Trace InterruptRequests();
// The cleanup and close of a handle, after the disconnection when the last
// one closes with the interrupt connected.
Trace CloseRequests(bool disconnects);
// The DO settings the test stores before the device is installed.
constexpr DWORD kDoStartChannel = 0;
constexpr DWORD kDoStartLevel = 1;
constexpr UCHAR kDoBefore = 0x5A;
// The DO register once the start has driven its output.
constexpr UCHAR kDoStarted = UCHAR(kDoStartLevel ? kDoBefore | (1u << kDoStartChannel)
                                                 : kDoBefore & ~(1u << kDoStartChannel));

// helper_client.cpp: the helper driver
class Helper {
 public:
  // Installs and starts the helper's service in `group`: the driver under
  // test must load into the same winedevice process.
  bool Start(const std::wstring &directory, const std::wstring &group);
  bool SetBoard(const Board &board);
  bool SetPorts(const WINE_HELPER_PORTS &ports);
  // The trace taken since the last call, its port accesses left out unless
  // `withAccesses`.
  bool ExpectTrace(const char *what, const Trace &expected, bool withAccesses = true);
  // Takes the trace until it holds `count` requests (Requests) or
  // `milliseconds` have passed, then for a short while more: what came late
  // is seen too.
  Trace TraceOf(size_t count, unsigned long milliseconds = 3000);
  // The trace up to and with the next close request, or what came within
  // `milliseconds`.
  Trace TraceUntilClose(unsigned long milliseconds);
  bool Rebalance(const WINE_HELPER_RESOURCES &resources, WINE_HELPER_REBALANCE_RESULT *result);
  // Pulses the DI lines; their interrupts come on the helper's thread.
  bool Fire(std::initializer_list<int> lines);
  // True once no interrupt or DPC is pending or running.
  bool Settle();
  WINE_HELPER_INTERRUPTS Interrupts();
  WINE_HELPER_BOARD_STATE BoardState();
  bool SystemPower(ULONG transition, ULONG step, WINE_HELPER_TRANSITION_RESULT *result);
  // The event log entries the driver wrote since the last call.
  std::vector<struct LoggedEntry> TakeErrorLog();
  ~Helper();

 private:
  bool Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize);
  // Appends the trace taken since the last call; false when the helper does
  // not answer or lost some of it.
  bool TakeTrace(Trace *trace);
  // A request whose output, zero when it fails, is all it gives.
  template <typename Out>
  Out Query(DWORD code) {
    Out out = {};
    Control(code, NULL, 0, &out, sizeof out);
    return out;
  }
  HANDLE device_ = INVALID_HANDLE_VALUE;
};
bool CheckTrace(const char *what, const Trace &got, const Trace &expected);
// The interrupt connection's arguments are the start's translated interrupt,
// after `connects` connections of which one is in force.
void CheckConnection(const char *what, const Board &board, Helper &helper, ULONG connects);
// The board has power, its DO register and enables hold these values, no
// status is pending and its line is down (board.cpp).
void CheckBoard(Helper &helper, const char *when, UCHAR doValue, UCHAR intEn0, UCHAR intEn1 = 0);

// device_setup.cpp: the device's installation and removal
// Registers a root-enumerated device of the model's hardware ID and installs
// it from the shipped INF `infName` in `directory` (with the files it names),
// its service in the helper's load order `group` when the service is new;
// checks the service, the model in the device's own key and that no applet
// came with it. True once the driver's call returns.
bool InstallDevice(const std::wstring &directory, const std::wstring &infName, const std::wstring &hardwareId,
                   const std::wstring &group, uint32_t model);
// The version resources of `files` carry the DriverVer version and the
// provider of the INF (versions.cpp).
void CheckVersions(const std::wstring &infPath, const std::vector<std::wstring> &files);
// The paths of the present devices with the driver's interface, and of all
// its registered interfaces, switched on or not.
std::vector<std::wstring> InterfacePaths();
std::vector<std::wstring> RegisteredInterfacePaths();
// The interface's "Linked" value: 1 on, 0 switched off, -1 never switched.
int InterfaceLinked(const std::wstring &path);
// Removes the device of this hardware ID with DIF_REMOVE.
bool RemoveDevice(const std::wstring &hardwareId);

// registry_checks.cpp
bool KeyExists(const std::wstring &path);
// A value's type and bytes; type REG_NONE with no bytes when it is missing.
struct Value {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};
Value Dword(DWORD value);
Value ReadValue(HKEY key, const wchar_t *name);
void CheckValue(const std::string &what, const Value &got, const Value &expected);
// The value `name` of the key at `path` (under HKEY_LOCAL_MACHINE) is
// `expected`; `when`, if given, says at which step it is read.
void CheckValue(const std::wstring &path, const wchar_t *name, const Value &expected, const char *when = "");
// The two Device000 keys, empty. Windows' RtlWriteRegistryValue creates the
// key it writes to; Wine 8's only opens it, so the start-up's values land
// only in keys that exist.
void CreateDeviceKeys();
void WriteDoSettings();
// The start-up's last value is written ("SlotNumber").
bool StartValuesWritten();
// The values the start-up writes, for a start with these port base and
// interrupt level.
void CheckStartValues(const Board &board, DWORD baseAddress, DWORD interrupt);
void CheckOnSystem(DWORD expected, const char *when);
// The device path in the device map (value "0"), as stored.
std::wstring MapEntryPath();
void CheckRemovedKeys();

// second_board.cpp: a second board of another model while the first serves
struct SecondBoard {
  uint32_t model;
  std::wstring hardwareId;
};
void CheckSecondBoard(const Board &board, const std::wstring &directory, const std::wstring &infName,
                      const SecondBoard &second, const std::wstring &group, const std::wstring &path,
                      Helper &helper);

// event_log.cpp: the driver's entries in the System event log
struct LoggedEntry {
  LONG code;    // the message (messages.h)
  LONG status;  // the packet's final status
  std::vector<std::wstring> strings;  // the insertion strings, %2 on
};
// Takes the entries the driver wrote since the last call and checks them
// against `expected`, and their text as Event Viewer shows it from the
// message table of `image`.
void CheckEventLog(Helper &helper, const std::wstring &image, const char *when,
                   const std::vector<LoggedEntry> &expected);
// The entry of a start without ports, and of a start refused for a DMA
// channel among the board's resources.
LoggedEntry NoPortsEntry(const Board &board);
LoggedEntry RefusedResourcesEntry(const Board &board);
// The entry of a second board's refused start while `first` serves.
LoggedEntry SecondBoardEntry(const Board &first, uint32_t model);

// kernel_test.cpp
HANDLE Open(const std::wstring &path);
// Closes a handle and checks the helper's trace up to the close request that
// follows, its port accesses left out: `expected` (CloseRequests).
void CloseAndCheck(HANDLE handle, const char *what, const Trace &expected, Helper &helper);

// device_control.cpp: every control code through DeviceIoControl
void CheckDeviceControl(const Board &board, HANDLE device, Helper &helper);
// A byte written to the board's register at `port` through the driver.
bool WriteRegister(HANDLE device, const Board &board, USHORT port, UCHAR value);

// events.cpp: DI events through real Win32 events on two handles
void CheckEvents(const Board &board, const std::wstring &path, Helper &helper);
// Events a program waits on: its handle and an auto-reset event for some
// event numbers.
struct Waiter {
  const char *name;
  HANDLE device;
  HANDLE events[DIO_EVENT_COUNT];
};
// Hands the first `count` entries of the waiter's events to the driver.
bool Enable(const Waiter &waiter, USHORT count, const char *what);
// Fires `line`, checks that each (waiter, event number) of `wakes` wakes a
// wait on that waiter's events and that no other event of the waiters is
// signalled, that the service routine claimed an interrupt when `claimed`
// and saw none otherwise, and that nothing is left pending.
void FireAndCheck(Helper &helper, int line, const std::vector<std::pair<const Waiter *, int>> &wakes,
                  const std::vector<const Waiter *> &waiters, bool claimed, const char *what);
void CloseEvents(Waiter &waiter);

// power.cpp: the system's power transitions and the shutdown
void CheckPower(const Board &board, const std::wstring &path, Helper &helper);

// tool_run.cpp: dioctl.exe beside the program, run against the device while
// no other handle is open
void CheckTool(const Board &board, const std::wstring &directory, const std::wstring &interfacePath,
               Helper &helper);
// dioctl watch, printing the events the test fires, ended by TerminateProcess
// with its events enabled.
void CheckToolWatch(const Board &board, const std::wstring &directory, Helper &helper);

}  // namespace winetest
