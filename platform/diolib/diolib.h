// The stand-in for the DIO library: a board description that tests (or, in
// the Windows build, the environment) configure, and a record of every call
// the applet makes.
#pragma once

#include <string>
#include <vector>

#include "TesZEPDIO.h"

namespace diolib {

struct Board {
  bool present = true;  // false: DeviceOpen fails and writes nothing
  DWORD diCount = 16;
  DWORD doCount = 8;
  DWORD featureFlags = 0x7E;
  DIO_INFO info = {16, 4, 8, 0, 4, 0, 3, 0};
  // Functions that fail without writing anything: "GetDeviceInfor" and so on.
  std::vector<std::string> failing;
};

struct Call {
  std::string function;
  LONG deviceNumber = 0;     // DeviceOpen
  HANDLE handle = nullptr;   // the handle passed, or for DeviceOpen the one written
  DIO_DO_CONFIG config = {};  // DOSysConfig
  LONG result = 0;
};

void Configure(const Board &board);
const Board &Current();
const std::vector<Call> &Calls();
std::string Describe(const Call &call);
// Handles opened and not closed, one line each.
std::vector<std::string> Outstanding();
// The default board, no calls, no open handles.
void Reset();
// Called with each call as it is recorded (the Windows build logs them).
void SetCallSink(void (*sink)(const Call &call));

}  // namespace diolib
