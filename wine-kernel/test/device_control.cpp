// Every control code through DeviceIoControl on a started board: what each
// request returns, what it leaves in the caller's buffer and which ports it
// touches. The enable requests sent here are refused before the driver
// connects the interrupt; events.cpp enables events.
#include "checks.h"

namespace winetest {

namespace {

constexpr BYTE kUntouched = 0xCC;  // what the output buffer holds before a request

struct Request {
  const char *what;
  DWORD code;
  std::vector<BYTE> in;
  DWORD outSize;
  DWORD error;               // 0: the request succeeds
  std::vector<BYTE> out;     // on success, the bytes returned
  Trace accesses;            // the port accesses it makes
};

// A port request: the offset, then (writes) the value of the request's
// width, each little-endian.
std::vector<BYTE> PortRequest(ULONG offset, uint64_t value = 0, size_t width = 0) {
  std::vector<BYTE> in(4 + width);
  for (size_t i = 0; i < in.size(); ++i) in[i] = BYTE(i < 4 ? offset >> (8 * i) : value >> (8 * (i - 4)));
  return in;
}

template <typename Record>
std::vector<BYTE> BytesOf(const Record &record) {
  const BYTE *bytes = reinterpret_cast<const BYTE *>(&record);
  return std::vector<BYTE>(bytes, bytes + sizeof record);
}

std::vector<Request> Requests(const Board &board) {
  const ULONG n = board.portCount;
  const USHORT b = board.base;
  const USHORT last = USHORT(b + n - 4);
  std::vector<BYTE> info = BoardInfo(board);
  DIO_EVENT_REQUEST request = {};
  request.HandleCount = 1;
  request.Handles[0] = 0x7FFC;  // no handle of the caller
  std::vector<BYTE> enable = BytesOf(request);
  std::vector<BYTE> shortEnable(enable.begin(), enable.end() - 1);
  std::vector<BYTE> doConfig = BytesOf(DIO_DO_CONFIG{1, 1, 2, 3, 1, 0});
  std::vector<BYTE> longDoConfig = doConfig;
  longDoConfig.resize(32, 0);
  return {
      {"board information", IOCTL_DIO_GET_BOARD_INFO, {}, 8, 0, info, {}},
      {"board information, 7-byte buffer", IOCTL_DIO_GET_BOARD_INFO, {}, 7, ERROR_INSUFFICIENT_BUFFER, {}, {}},
      {"byte write at 3", IOCTL_DIO_WRITE_PORT_UCHAR, PortRequest(3, 0xA5, 1), 0, 0, {},
       {{WINE_HELPER_OUT, 1, USHORT(b + 3), 0xA5}}},
      {"byte read at 3", IOCTL_DIO_READ_PORT_UCHAR, PortRequest(3), 1, 0, {0xA5},
       {{WINE_HELPER_IN, 1, USHORT(b + 3), 0xA5}}},
      {"word write at 4", IOCTL_DIO_WRITE_PORT_USHORT, PortRequest(4, 0xBEEF, 2), 0, 0, {},
       {{WINE_HELPER_OUT, 2, USHORT(b + 4), 0xBEEF}}},
      {"word read at 4", IOCTL_DIO_READ_PORT_USHORT, PortRequest(4), 2, 0, {0xEF, 0xBE},
       {{WINE_HELPER_IN, 2, USHORT(b + 4), 0xBEEF}}},
      {"double-word write at the block's last four ports", IOCTL_DIO_WRITE_PORT_ULONG,
       PortRequest(n - 4, 0x12345678, 4), 0, 0, {}, {{WINE_HELPER_OUT, 4, last, 0x12345678}}},
      {"double-word read there, 16-byte buffer", IOCTL_DIO_READ_PORT_ULONG, PortRequest(n - 4), 16, 0,
       {0x78, 0x56, 0x34, 0x12}, {{WINE_HELPER_IN, 4, last, 0x12345678}}},
      {"word write across the block's end", IOCTL_DIO_WRITE_PORT_USHORT, PortRequest(n - 1, 0xFFFF, 2), 0,
       ERROR_NOACCESS, {}, {}},
      {"word read with a 1-byte output", IOCTL_DIO_READ_PORT_USHORT, PortRequest(4), 1,
       ERROR_INVALID_PARAMETER, {}, {}},
      {"enable with a 207-byte request", IOCTL_DIO_ENABLE_EVENT, shortEnable, 207, ERROR_INSUFFICIENT_BUFFER,
       {}, {}},
      {"enable naming no event handle of the caller", IOCTL_DIO_ENABLE_EVENT, enable, 208, ERROR_INVALID_HANDLE,
       {}, {}},
      {"disable", IOCTL_DIO_DISABLE_EVENT, {}, 0, 0, {}, {}},
      {"DO configuration with a shutdown output", IOCTL_DIO_DO_SYS_CONFIG, doConfig, 0, 0, {}, {}},
      {"DO configuration, 32-byte input", IOCTL_DIO_DO_SYS_CONFIG, longDoConfig, 0, 0, {}, {}},
  };
}

void Send(HANDLE device, Helper &helper, const Request &r) {
  std::vector<BYTE> in = r.in;
  std::vector<BYTE> out(r.outSize, kUntouched);
  DWORD returned = 0xDEAD;
  SetLastError(0);
  BOOL ok = DeviceIoControl(device, r.code, in.empty() ? NULL : in.data(), DWORD(in.size()),
                            out.empty() ? NULL : out.data(), DWORD(out.size()), &returned, NULL);
  DWORD error = ok ? 0 : GetLastError();
  // The bytes returned, then the rest of the buffer untouched.
  std::vector<BYTE> expected = r.out;
  expected.resize(out.size(), kUntouched);
  if (r.error == 0) {
    Check(ok && returned == r.out.size() && out == expected, "%s: succeeds with %zu bytes (error %lu, %lu bytes)",
          r.what, r.out.size(), error, ok ? returned : 0);
  } else {
    Check(!ok && error == r.error && out == expected, "%s: fails with error %lu, buffer untouched (error %lu)",
          r.what, r.error, error);
  }
  helper.ExpectTrace(r.what, r.accesses);
}

}  // namespace

void CheckDeviceControl(const Board &board, HANDLE device, Helper &helper) {
  for (const Request &r : Requests(board)) Send(device, helper, r);
}

bool WriteRegister(HANDLE device, const Board &board, USHORT port, UCHAR value) {
  std::vector<BYTE> in = PortRequest(ULONG(port - board.base), value, 1);
  DWORD returned;
  return DeviceIoControl(device, IOCTL_DIO_WRITE_PORT_UCHAR, in.data(), DWORD(in.size()), NULL, 0, &returned,
                         NULL) != FALSE;
}

}  // namespace winetest
