// Internal to dioctl: the parsed command line, where output goes, the
// devices and the board record, and the commands.
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <setupapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../driver/dio_ioctl.h"
#include "../driver/dio_registers.h"
#include "../driver/dio_registry.h"
#include "dioctl_main.h"

namespace dioctl {

// ---------------------------------------------------------------------------
// cli.cpp: the command line
struct Options {
  std::string command;
  std::string device;  // --device PATH; empty: the first device found
  uint32_t offset = 0;
  uint32_t value = 0;
  uint32_t width = 1;
  std::vector<int> events;  // watch --events; empty: every event of the board
  DWORD milliseconds = INFINITE;  // watch --for
  DIO_DO_CONFIG config = {};      // do-config
};

// Where a command writes: results to `out`, a failure as one line on `err`.
struct Output {
  FILE *out;
  FILE *err;
  void Print(const char *format, ...) __attribute__((format(printf, 2, 3)));
  // "dioctl: " and the text; returns `code`.
  int Fail(int code, const char *format, ...) __attribute__((format(printf, 3, 4)));
};

// The keys the commands name, as Services\... below HKEY_LOCAL_MACHINE.
#define DIOCTL_BOARD_KEY "Services\\" DIO_SERVICE_NAME "\\" DIO_KEY_DEVICE000_NAME
#define DIOCTL_MAP_KEY "Services\\" DIO_DEVICE_MAP_NAME "\\" DIO_KEY_MAP_ENTRY_NAME

// ---------------------------------------------------------------------------
// board.cpp: the board record the driver keeps in the registry, and what the
// board model makes of the board
struct BoardRecord {
  bool found = false;  // the service's Device000 holds "DeviceType"
  DWORD deviceType = 0;
  DWORD baseAddress = 0;
  DWORD interrupt = 0;
  DWORD busNumber = 0;
  DWORD slotNumber = 0;
};
BoardRecord ReadBoardRecord();
std::string DescribeModel(DWORD deviceType);
// The event numbers the driver signals on boards of the model: 0 to 3 on the
// general layout, 0 to 8 on layouts 22 and 24.
int EventCount(DWORD deviceType);
// The interrupt-enable register and bit of the DI source behind an event.
struct SourceBit {
  uint32_t offset;
  uint8_t mask;
};
SourceBit SourceOf(DWORD deviceType, int event);

// ---------------------------------------------------------------------------
// devices.cpp: the published device paths and opening one
// Paths of the present devices with the driver's interface (SetupDi).
std::vector<std::string> InterfacePaths();
// The device map's value "0", the path the driver published for its device
// (the driver numbers every device 0); empty when there is none.
std::string MapEntryPath();
bool SameDevice(const std::string &a, const std::string &b);
// Opens --device, or the first present device, with `access`. On failure
// returns the exit code after writing the line that says why.
int OpenDevice(const Options &options, DWORD access, Output &output, HANDLE *device, std::string *path);
// "STATUS_... (0x...): what it means" for the Win32 error of a request the
// driver or the I/O manager refused.
std::string DescribeRefusal(DWORD error);
// Sends a request; on failure writes "<what> refused: ..." and returns false.
bool Request(HANDLE device, DWORD code, const void *input, DWORD inputSize, void *output, DWORD outputSize,
             DWORD *returned, Output &out, const char *what);

// ---------------------------------------------------------------------------
// commands.cpp, watch.cpp
int List(const Options &options, Output &output);
int Info(const Options &options, Output &output);
int Read(const Options &options, Output &output);
int Write(const Options &options, Output &output);
int ConfigureDo(const Options &options, Output &output);
int Watch(const Options &options, Output &output);
// Port requests, used by the commands and by watch.
bool ReadPort(HANDLE device, uint32_t offset, uint32_t width, uint32_t *value, Output &output);
bool WritePort(HANDLE device, uint32_t offset, uint32_t width, uint32_t value, Output &output);

}  // namespace dioctl
