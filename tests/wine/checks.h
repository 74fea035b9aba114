// The Wine kernel test program's shared pieces: checks that count failures,
// the board under test and the helper driver's services.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../../driver/dio_ioctl.h"
#include "wine_helper.h"

namespace winetest {

// ---------------------------------------------------------------------------
// checks.cpp
// Prints "ok" or "FAIL" with the text; a failure is counted.
bool Check(bool ok, const char *format, ...) __attribute__((format(gnu_printf, 2, 3)));
void Note(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
int Failures();
std::string Narrow(const std::wstring &text);
// Milliseconds since the program started.
unsigned long Elapsed();
// Polls `done` every 50 ms for up to `milliseconds`; true once it holds.
template <typename Done>
bool WaitFor(unsigned long milliseconds, Done done) {
  for (unsigned long waited = 0;; waited += 50) {
    if (done()) return true;
    if (waited >= milliseconds) return false;
    Sleep(50);
  }
}

// ---------------------------------------------------------------------------
// board.cpp: the board model under test, its resources and registers
enum Layout { kGeneral, kLayout22, kLayout24 };

struct Board {
  uint32_t model;
  Layout layout;
  WINE_HELPER_RESOURCES resources;
  USHORT base;       // the register block: the port requests' offset 0
  ULONG portCount;   // its length
  USHORT infoBase;   // layout 24: the information bytes
  USHORT doPort;     // the DO register
};
Board BoardFor(uint32_t model);

// One expected helper trace entry.
struct Access {
  UCHAR kind;
  UCHAR width;
  USHORT port;
  ULONG value;
};
using Trace = std::vector<Access>;

// What the register file holds before the restart with resources, and the
// accesses the start-up makes on it, in order.
std::vector<WINE_HELPER_PORTS> PortsBeforeStart(const Board &board);
Trace StartAccesses(const Board &board);
// The board-information bytes the request returns after that start.
std::vector<uint8_t> BoardInfo(const Board &board);
// The cleanup and close of a handle; the last one turns the interrupts off.
Trace CloseAccesses(const Board &board, bool lastHandle);
// The DO settings the test stores before the device is installed.
constexpr DWORD kDoStartChannel = 0;
constexpr DWORD kDoStartLevel = 1;
constexpr UCHAR kDoBefore = 0x5A;

// ---------------------------------------------------------------------------
// helper_client.cpp: the helper driver
class Helper {
 public:
  // Installs and starts the helper's service in `group`: the driver under
  // test must load into the same winedevice process.
  bool Start(const std::wstring &directory, const std::wstring &group);
  bool SetPorts(const WINE_HELPER_PORTS &ports);
  bool TakeTrace(Trace *trace);
  bool Rebalance(const WINE_HELPER_RESOURCES &resources, WINE_HELPER_REBALANCE_RESULT *result);
  ~Helper();

 private:
  bool Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize);
  HANDLE device_ = INVALID_HANDLE_VALUE;
};
// Compares a trace with the expected one, entry by entry.
void CheckTrace(const char *what, const Trace &got, const Trace &expected);

// ---------------------------------------------------------------------------
// device_setup.cpp: the device's installation and removal
extern const GUID kInterfaceGuid;
// Registers a root-enumerated device of the model's hardware ID and installs
// it from the shipped INF in `directory` (TesZEPDIO.inf, with the files it
// names), its service in the helper's load order `group`; checks the service
// and the applet the install left. True once the driver's call returns.
bool InstallDevice(const std::wstring &directory, const std::wstring &hardwareId, const std::wstring &group,
                   uint32_t model);
// The paths of the present devices with the driver's interface.
std::vector<std::wstring> InterfacePaths();
// Removes the device of this hardware ID with DIF_REMOVE.
bool RemoveDevice(const std::wstring &hardwareId);

// ---------------------------------------------------------------------------
// registry_checks.cpp
constexpr wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\TESZEPDIOS";
constexpr wchar_t kDeviceMapKey[] = L"SYSTEM\\CurrentControlSet\\Services\\ZEPDIO";
bool KeyExists(const std::wstring &path);
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
// The device path in the device map (value "0"), as stored.
std::wstring MapEntryPath();
void CheckRemovedKeys();

// ---------------------------------------------------------------------------
// device_control.cpp: every control code through DeviceIoControl
void CheckDeviceControl(const Board &board, HANDLE device, Helper &helper);

// ---------------------------------------------------------------------------
// tool_run.cpp: dioctl.exe beside the program, run against the device while
// no other handle is open
void CheckTool(const Board &board, const std::wstring &directory, const std::wstring &interfacePath,
               Helper &helper);

}  // namespace winetest
