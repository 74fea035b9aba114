// The DIO library's five functions over a configured board. A handle is
// valid from DeviceOpen until DeviceClose; DOSysConfig acts on the board
// opened last and fails when none is open.
#include "diolib.h"

#include <algorithm>
#include <cstdio>

namespace diolib {
namespace {

struct State {
  Board board;
  std::vector<Call> calls;
  std::vector<HANDLE> open;
  uintptr_t nextHandle = 0xD100;
  void (*sink)(const Call &) = nullptr;
};

State &S() {
  static State state;
  return state;
}

constexpr LONG kFailure = -1;

bool Fails(const char *function) {
  const auto &failing = S().board.failing;
  return std::find(failing.begin(), failing.end(), function) != failing.end();
}

bool IsOpen(HANDLE handle) {
  const auto &open = S().open;
  return std::find(open.begin(), open.end(), handle) != open.end();
}

LONG Record(Call call) {
  S().calls.push_back(call);
  if (S().sink) S().sink(call);
  return call.result;
}

}  // namespace

void Configure(const Board &board) { S().board = board; }
const Board &Current() { return S().board; }
const std::vector<Call> &Calls() { return S().calls; }
void SetCallSink(void (*sink)(const Call &call)) { S().sink = sink; }

void Reset() {
  void (*sink)(const Call &) = S().sink;
  S() = State();
  S().sink = sink;
}

std::vector<std::string> Outstanding() {
  std::vector<std::string> out;
  for (HANDLE handle : S().open) {
    char text[80];
    snprintf(text, sizeof text, "DIO library handle %p still open", handle);
    out.push_back(text);
  }
  return out;
}

std::string Describe(const Call &call) {
  char text[160];
  if (call.function == "DOSysConfig") {
    const DIO_DO_CONFIG &c = call.config;
    snprintf(text, sizeof text, "DOSysConfig(%lu %lu %lu %lu %lu %lu) = %ld", (unsigned long)c.TriggerStart,
             (unsigned long)c.TriggerShutdown, (unsigned long)c.ChannelStart, (unsigned long)c.ChannelShutdown,
             (unsigned long)c.LevelStart, (unsigned long)c.LevelShutdown, (long)call.result);
  } else if (call.function == "DeviceOpen") {
    snprintf(text, sizeof text, "DeviceOpen(%ld) = %ld", (long)call.deviceNumber, (long)call.result);
  } else {
    snprintf(text, sizeof text, "%s = %ld", call.function.c_str(), (long)call.result);
  }
  return text;
}

}  // namespace diolib

using namespace diolib;

extern "C" {

LONG WINAPI DeviceOpen(LONG deviceNumber, HANDLE *handle) {
  Call call{"DeviceOpen", deviceNumber, nullptr, {}, kFailure};
  if (handle && deviceNumber == 0 && S().board.present && !Fails("DeviceOpen")) {
    *handle = reinterpret_cast<HANDLE>(S().nextHandle);
    S().nextHandle += 4;
    S().open.push_back(*handle);
    call.handle = *handle;
    call.result = 0;
  }
  return Record(call);
}

LONG WINAPI DeviceClose(HANDLE *handle) {
  Call call{"DeviceClose", 0, handle ? *handle : nullptr, {}, kFailure};
  if (handle && IsOpen(*handle) && !Fails("DeviceClose")) {
    auto &open = S().open;
    open.erase(std::find(open.begin(), open.end(), *handle));
    call.result = 0;
  }
  return Record(call);
}

LONG WINAPI GetDeviceInfor(HANDLE handle, DWORD *diCount, DWORD *doCount, DWORD *featureFlags) {
  Call call{"GetDeviceInfor", 0, handle, {}, kFailure};
  if (IsOpen(handle) && diCount && doCount && featureFlags && !Fails("GetDeviceInfor")) {
    *diCount = S().board.diCount;
    *doCount = S().board.doCount;
    *featureFlags = S().board.featureFlags;
    call.result = 0;
  }
  return Record(call);
}

LONG WINAPI DeviceDIOInfo(HANDLE handle, DIO_INFO *info) {
  Call call{"DeviceDIOInfo", 0, handle, {}, kFailure};
  if (IsOpen(handle) && info && !Fails("DeviceDIOInfo")) {
    const DIO_INFO &board = S().board.info;
    info->diCount = board.diCount;
    info->diInterruptCount = board.diInterruptCount;
    info->doCount = board.doCount;
    info->pledCount = board.pledCount;
    info->fpgaVersion = board.fpgaVersion;
    call.result = 0;
  }
  return Record(call);
}

LONG WINAPI DOSysConfig(DIO_DO_CONFIG *config) {
  Call call{"DOSysConfig", 0, S().open.empty() ? nullptr : S().open.back(), {}, kFailure};
  if (config) call.config = *config;
  if (config && !S().open.empty() && !Fails("DOSysConfig")) call.result = 0;
  return Record(call);
}

}  // extern "C"
