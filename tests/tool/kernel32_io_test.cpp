// The Win32 stand-in's kernel32 files, device control, events, waits and
// console control, and SetupDi's device interfaces, as a program sees them
// with the driver on a started board behind them.
#include <windows.h>
#include <winioctl.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "driver_fixture.h"
#include "host_win32.h"
#include "host_win32_io.h"
#include "user_mode.h"

namespace {

// The error of a call that fails, or 0 for one that succeeds.
DWORD Failed(BOOL ok) { return ok ? 0 : GetLastError(); }

class Kernel32IoTest : public diotest::DriverTest {
 protected:
  void SetUp() override {
    StartedDevice(24);
    program_ = std::make_unique<diotest::Program>("program.exe");
  }
  void TearDown() override {
    program_.reset();
    DriverTest::TearDown();
  }
  // The map's "\\.\" path, or its "\\?\" form.
  std::string Path(char form = '.') {
    std::string path = hostk::Utf8(diotest::DevicePath());
    path[2] = form;
    return path;
  }
  HANDLE Open(DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return CreateFileA(Path().c_str(), access, 0, NULL, OPEN_EXISTING, 0, NULL);
  }

  std::unique_ptr<diotest::Program> program_;
};

TEST_F(Kernel32IoTest, CreateFileOpensADeviceByEitherFormOfItsPath) {
  std::string unknown = Path();
  unknown.back() = 'X';
  // A path, and the error of its open (0: it opens).
  const std::pair<std::string, DWORD> cases[] = {{Path('.'), 0}, {Path('?'), 0}, {unknown, ERROR_FILE_NOT_FOUND},
                                                 {"C:\\dio.txt", ERROR_FILE_NOT_FOUND},
                                                 {"\\\\.\\", ERROR_FILE_NOT_FOUND}};
  for (const auto &[path, error] : cases) {
    SetLastError(0);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(std::make_tuple(file == INVALID_HANDLE_VALUE, GetLastError()), std::make_tuple(error != 0, error)) << path;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  EXPECT_EQ(hostwin::ProcessHandleCount(), 0u);
}

// What DeviceIoControl returns for each way the I/O manager or the driver
// finishes a request: a failure's status as its Win32 error, with nothing
// returned and the output buffer untouched.
TEST_F(Kernel32IoTest, DeviceIoControlReportsEachStatusAsItsWin32Error) {
  HANDLE device = Open();
  HANDLE reader = Open(GENERIC_READ);
  HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
  auto enable = [](HANDLE named) {
    DIO_EVENT_REQUEST request = {};
    request.HandleCount = 1;
    request.Handles[0] = ULONG64(reinterpret_cast<ULONG_PTR>(named));
    return request;
  };
  DIO_EVENT_REQUEST naming[] = {enable(device), enable(reinterpret_cast<HANDLE>(0x7FFC)), enable(event)};
  ULONG offset = 3;
  // The handle, code, input and its size, the output's size, then the error
  // and the size returned.
  const std::tuple<const char *, HANDLE, DWORD, const void *, DWORD, DWORD, DWORD, DWORD> cases[] = {
      {"byte read", device, IOCTL_DIO_READ_PORT_UCHAR, &offset, 4, 1, 0, 1},
      {"enable of an event", device, IOCTL_DIO_ENABLE_EVENT, &naming[2], 208, 208, 0, 208},
      {"read with an 8-byte input (STATUS_INVALID_PARAMETER)", device, IOCTL_DIO_READ_PORT_UCHAR, naming, 8, 1,
       ERROR_INVALID_PARAMETER, 0},
      {"7-byte board information (STATUS_BUFFER_TOO_SMALL)", device, IOCTL_DIO_GET_BOARD_INFO, NULL, 0, 7,
       ERROR_INSUFFICIENT_BUFFER, 0},
      {"unknown code (STATUS_NOT_IMPLEMENTED)", device, DWORD(CTL_CODE(0x9C40u, 0x950, METHOD_BUFFERED, FILE_ANY_ACCESS)),
       NULL, 0, 8, ERROR_INVALID_FUNCTION, 0},
      {"write on a read-only handle (STATUS_ACCESS_DENIED)", reader, IOCTL_DIO_WRITE_PORT_UCHAR, naming, 5, 0,
       ERROR_ACCESS_DENIED, 0},
      {"enable naming a file (STATUS_OBJECT_TYPE_MISMATCH)", device, IOCTL_DIO_ENABLE_EVENT, &naming[0], 208, 208,
       ERROR_INVALID_HANDLE, 0},
      {"enable naming no handle (STATUS_INVALID_HANDLE)", device, IOCTL_DIO_ENABLE_EVENT, &naming[1], 208, 208,
       ERROR_INVALID_HANDLE, 0},
      {"a request on an event handle", event, IOCTL_DIO_READ_PORT_UCHAR, &offset, 4, 1, ERROR_INVALID_HANDLE, 0},
      {"an input buffer that is not there", device, IOCTL_DIO_READ_PORT_UCHAR, NULL, 4, 1, ERROR_NOACCESS, 0},
  };
  for (const auto &[what, handle, code, input, inputSize, outputSize, error, size] : cases) {
    std::vector<BYTE> output(outputSize, 0xCC);
    DWORD returned = 0xDEAD;
    SetLastError(0);
    BOOL ok = DeviceIoControl(handle, code, const_cast<void *>(input), inputSize, output.empty() ? NULL : output.data(),
                              outputSize, &returned, NULL);
    EXPECT_EQ(std::make_tuple(ok != FALSE, GetLastError(), returned), std::make_tuple(error == 0, error, size)) << what;
    if (error) {
      EXPECT_EQ(std::count(output.begin(), output.end(), 0xCC), long(output.size())) << what;
    }
  }
  for (HANDLE h : {device, reader, event}) EXPECT_TRUE(CloseHandle(h));
}

// A wait for any of several events takes the lowest signalled one and resets
// it when it resets by itself; a manual-reset event stays signalled.
TEST_F(Kernel32IoTest, WaitForMultipleObjectsTakesTheFirstSignalledEvent) {
  HANDLE manual = CreateEventA(NULL, TRUE, FALSE, NULL);
  HANDLE automatic = CreateEventA(NULL, FALSE, TRUE, NULL);
  HANDLE both[] = {manual, automatic};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), DWORD(WAIT_TIMEOUT));
  SetEvent(automatic);
  SetEvent(manual);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
  ResetEvent(manual);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);

  for (DWORD count : {0u, 65u}) {
    EXPECT_EQ(WaitForMultipleObjects(count, both, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  }
  CloseHandle(manual);
  CloseHandle(automatic);
}

// Ctrl+C runs the handlers on a new thread of the process, the most recent
// first, until one handles it.
TEST_F(Kernel32IoTest, CtrlCRunsTheHandlersMostRecentFirst) {
  static std::vector<int> calls;
  static HANDLE event;
  static std::thread::id caller;
  calls.clear();
  event = CreateEventA(NULL, TRUE, FALSE, NULL);
  PHANDLER_ROUTINE declines = [](DWORD type) -> BOOL {
    calls.push_back(int(type) * 10 + 1);
    return FALSE;
  };
  PHANDLER_ROUTINE handles = [](DWORD type) -> BOOL {
    calls.push_back(int(type) * 10 + 2);
    caller = std::this_thread::get_id();
    return SetEvent(event);  // a handle of the process: the thread runs in it
  };
  EXPECT_TRUE(SetConsoleCtrlHandler(handles, TRUE));
  EXPECT_TRUE(SetConsoleCtrlHandler(declines, TRUE));
  EXPECT_TRUE(hostwin::PressCtrlC());
  EXPECT_EQ(std::make_tuple(calls, caller != std::this_thread::get_id(), WaitForSingleObject(event, 0)),
            std::make_tuple(std::vector<int>({1, 2}), true, DWORD(WAIT_OBJECT_0)));  // CTRL_C_EVENT is 0

  EXPECT_EQ(hostwin::IoOutstanding().size(), 2u);
  EXPECT_TRUE(SetConsoleCtrlHandler(handles, FALSE));
  EXPECT_EQ(Failed(SetConsoleCtrlHandler(handles, FALSE)), DWORD(ERROR_INVALID_PARAMETER));
  calls.clear();
  EXPECT_FALSE(hostwin::PressCtrlC());  // only a handler that declines: the process would end
  EXPECT_EQ(calls, std::vector<int>({1}));
  EXPECT_TRUE(SetConsoleCtrlHandler(declines, FALSE));
  CloseHandle(event);
}

// The usual two calls for an interface's path; the set is a snapshot of the
// interfaces of the class, present ones only with DIGCF_PRESENT.
TEST_F(Kernel32IoTest, SetupDiListsTheInterfacesOfAClass) {
  const GUID dio = DIO_INTERFACE_GUID_VALUE;
  GUID other = dio;
  other.Data1 ^= 1;
  HDEVINFO set = SetupDiGetClassDevsA(&dio, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data - 1;
  EXPECT_EQ(Failed(SetupDiEnumDeviceInterfaces(set, NULL, &dio, 0, &data)), DWORD(ERROR_INVALID_USER_BUFFER));
  data.cbSize = sizeof data;
  EXPECT_EQ(Failed(SetupDiEnumDeviceInterfaces(set, NULL, &other, 0, &data)), DWORD(ERROR_NO_MORE_ITEMS));
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, NULL, &dio, 0, &data));
  EXPECT_EQ(data.Flags, DWORD(SPINT_ACTIVE));
  EXPECT_EQ(Failed(SetupDiEnumDeviceInterfaces(set, NULL, &dio, 1, &data)), DWORD(ERROR_NO_MORE_ITEMS));

  DWORD size = 0;
  EXPECT_EQ(Failed(SetupDiGetDeviceInterfaceDetailA(set, &data, NULL, 0, &size, NULL)),
            DWORD(ERROR_INSUFFICIENT_BUFFER));
  std::string path = Path('?');
  ASSERT_EQ(size, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
  std::vector<char> buffer(size);
  auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
  detail->cbSize = 5;
  EXPECT_EQ(Failed(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, NULL, NULL)),
            DWORD(ERROR_INVALID_USER_BUFFER));
  detail->cbSize = sizeof *detail;
  EXPECT_EQ(Failed(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size - 1, NULL, NULL)),
            DWORD(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, NULL, NULL));
  EXPECT_EQ(std::string(buffer.data() + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath)), path);

  EXPECT_EQ(hostwin::IoOutstanding(), std::vector<std::string>({"device information set not destroyed"}));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(Failed(SetupDiDestroyDeviceInfoList(set)), DWORD(ERROR_INVALID_HANDLE));

  // Removed: its interface is switched off, listed only without DIGCF_PRESENT.
  Pnp(IRP_MN_REMOVE_DEVICE);
  set = SetupDiGetClassDevsA(&dio, NULL, NULL, DIGCF_DEVICEINTERFACE);
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, NULL, &dio, 0, &data));
  EXPECT_EQ(data.Flags, 0u);
  SetupDiDestroyDeviceInfoList(set);
}

// Uses that Windows calls errors, or that the stand-in does not simulate,
// are recorded as faults and fail the test that made them.
TEST_F(Kernel32IoTest, MisusesAreFaults) {
  HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
  HANDLE device = Open();
  const std::pair<const char *, std::function<void()>> cases[] = {  // the fault each misuse records
      {"CreateFile of a device with a disposition other than OPEN_EXISTING",
       [&] { CloseHandle(CreateFileA(Path().c_str(), GENERIC_READ, 0, NULL, CREATE_ALWAYS, 0, NULL)); }},
      {"CreateFile with FILE_FLAG_OVERLAPPED: not simulated",
       [&] { CloseHandle(CreateFileA(Path().c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL)); }},
      {"DeviceIoControl without lpBytesReturned on a synchronous handle",
       [&] { DeviceIoControl(device, IOCTL_DIO_DISABLE_EVENT, NULL, 0, NULL, 0, NULL, NULL); }},
      {"CloseHandle of a handle that is not open", [&] { CloseHandle(reinterpret_cast<HANDLE>(0x7FFC)); }},
      {"WaitForMultipleObjects for all objects: not simulated",
       [&] {
         SetEvent(event);
         WaitForMultipleObjects(1, &event, TRUE, 0);
       }},
      {"a wait on a handle that is not an event of the process", [&] { WaitForSingleObject(device, 0); }},
      {"CreateEvent with a name: named objects are not simulated",
       [&] { CloseHandle(CreateEventA(NULL, FALSE, FALSE, "Global\\dio")); }},
      {"SetupDiGetClassDevs of device setup classes: not simulated",
       [&] { SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_ALLCLASSES); }},
      {"CreateFile called outside a user process",
       [&] {
         std::thread outside([&] { CreateFileA(Path().c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL); });
         outside.join();
       }},
  };
  for (const auto &[fault, misuse] : cases) {
    misuse();
    EXPECT_EQ(hostwin::Outstanding(), std::vector<std::string>({fault}));
    hostwin::ResetDesktop();
  }
  CloseHandle(device);
  CloseHandle(event);
}

using Kernel32IoDeathTest = Kernel32IoTest;

TEST_F(Kernel32IoDeathTest, AnInfiniteWaitNobodyEndsStopsTheRun) {
  HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
  EXPECT_DEATH(
      {
        hostk::SetWaitLimit(100);
        WaitForSingleObject(event, INFINITE);
      },
      "STOP 0x000000C4: a wait of the host kernel: no wake-up within 100 ms");
  CloseHandle(event);
}

}  // namespace
