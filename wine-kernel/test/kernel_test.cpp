// The Wine kernel test program: TesZEPDIO.sys as the driver package ships it,
// installed from the shipped INF as a root-enumerated device in Wine's kernel
// (winedevice) and worked through the Win32 API only.
//
//   kernel_test.exe --model N --hardware-id ID --inf NAME.inf
//                   [--second-model M --second-hardware-id ID2]
//
// Beside the program: the driver package of the board (tools/package.sh), in
// whose INF ID is model N's hardware ID, dioctl.exe and the helper driver
// TesZEPDIOWineHelper.sys. With a second model, a board of that model (ID2 in
// the same INF) is installed too while the first serves, and must not start.
// The exit code is 0 when every check passed; tools/wine-kernel-test.sh runs
// the program and checks the Wine log.
#include <cwchar>

#include "checks.h"

using namespace winetest;

namespace {

// The helper and the driver under test share one winedevice process only
// when their services share a load order group; the driver's service joins
// it before the install.
const wchar_t kLoadOrderGroup[] = L"TesZEPDIO Wine test";

std::wstring ProgramDirectory() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring directory(path, length);
  return directory.substr(0, directory.find_last_of(L'\\'));
}

bool SameDevicePath(const std::wstring &a, const std::wstring &b) {
  // "\\?\..." from SetupDi, "\\.\..." from the device map: the same after
  // the four-character prefix.
  return a.size() == b.size() && a.size() > 4 && _wcsicmp(a.c_str() + 4, b.c_str() + 4) == 0;
}

// The imports of the image the helper replaces, where Wine has stubs or
// refusals.
constexpr ULONG kSubstituted = WINE_HELPER_SUBSTITUTE_CONNECT | WINE_HELPER_SUBSTITUTE_DISCONNECT |
                               WINE_HELPER_SUBSTITUTE_QUEUE_DPC | WINE_HELPER_SUBSTITUTE_FLUSH_DPCS |
                               WINE_HELPER_SUBSTITUTE_SYNCHRONIZE | WINE_HELPER_SUBSTITUTE_POWER_IRP |
                               WINE_HELPER_SUBSTITUTE_HANDLE | WINE_HELPER_SUBSTITUTE_SHUTDOWN |
                               WINE_HELPER_SUBSTITUTE_DELETE |
                               WINE_HELPER_SUBSTITUTE_LOG_ENTRY | WINE_HELPER_SUBSTITUTE_WRITE_LOG;

}  // namespace

namespace winetest {

HANDLE Open(const std::wstring &path) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
}

// Wine delivers the close request after CloseHandle has returned.
void CloseAndCheck(HANDLE handle, const char *what, const Trace &expected, Helper &helper) {
  Check(CloseHandle(handle), "%s: CloseHandle succeeds", what);
  CheckTrace(what, Requests(helper.TraceUntilClose(5000)), expected);
}

}  // namespace winetest

namespace {

void Run(const Board &board, const std::wstring &hardwareId, const std::wstring &infName,
         const SecondBoard &secondBoard) {
  std::wstring directory = ProgramDirectory();
  Helper helper;
  if (!helper.Start(directory, kLoadOrderGroup)) return;
  Check(helper.SetBoard(board), "the board put on its ports");
  WriteDoSettings();
  CreateDeviceKeys();

  // Wine starts a root-enumerated device without resources.
  if (!InstallDevice(directory, infName, hardwareId, kLoadOrderGroup, board.model)) return;
  std::vector<std::wstring> paths;
  WaitFor(10000, [&] { return !(paths = InterfacePaths()).empty(); });
  if (!Check(paths.size() == 1, "one device with the driver's interface (%zu)", paths.size())) return;
  const std::wstring path = paths[0];
  Note("interface path %s", Narrow(path).c_str());
  // The interface is there from AddDevice on; the start follows, in
  // winedevice's own time: its last registry value, then its port accesses.
  Check(WaitFor(10000, [] { return StartValuesWritten(); }), "the start without resources wrote the registry");
  CheckTrace("the start without resources", helper.TraceOf(1, 1000), Trace());
  CheckStartValues(board, 0, 0);
  const std::wstring image = directory + L"\\TesZEPDIO.sys";
  CheckEventLog(helper, image, "the start without resources", {NoPortsEntry(board)});

  // A rebalance whose resources hold a DMA channel: the start is refused,
  // and the System log tells why, with the resources given.
  WINE_HELPER_RESOURCES withDma = board.resources;
  withDma.OtherType = 4;  // CmResourceTypeDma
  WINE_HELPER_REBALANCE_RESULT refused = {};
  bool restarted = helper.Rebalance(withDma, &refused);
  Check(restarted && refused.StartStatus == LONG(0xC0000182),
        "a start whose resources hold a DMA channel is refused (%08lX)", (unsigned long)refused.StartStatus);
  CheckEventLog(helper, image, "the refused start", {RefusedResourcesEntry(board)});

  // A rebalance gives the device the board's ports and interrupt.
  for (const WINE_HELPER_PORTS &ports : PortsBeforeStart(board)) helper.SetPorts(ports);
  WINE_HELPER_REBALANCE_RESULT result;
  if (!Check(helper.Rebalance(board.resources, &result), "device stopped and started again")) return;
  Note("stop request status %08lX", (unsigned long)result.StopStatus);
  Check(result.Substituted == kSubstituted,
        "the helper replaced the image's imports that Wine stubs or refuses, and no other (0x%03lX)",
        (unsigned long)result.Substituted);
  Check(result.StartStatus == 0, "start with the board's resources succeeds (%08lX)",
        (unsigned long)result.StartStatus);
  helper.ExpectTrace("start with the board's resources", Trace(), false);
  CheckBoard(helper, "start with the board's resources", kDoStarted, 0x00);
  CheckStartValues(board, board.base, board.resources.RawLevel);
  std::wstring mapPath = MapEntryPath();
  Check(SameDevicePath(mapPath, path), "the device map names the interface: %s",
        Narrow(mapPath).c_str());

  // Two handles, one opened by each path.
  HANDLE first = Open(path);
  HANDLE second = Open(mapPath);
  if (!Check(first != INVALID_HANDLE_VALUE && second != INVALID_HANDLE_VALUE,
             "device opened by its interface path and by the device map's path")) {
    return;
  }
  CheckDeviceControl(board, first, helper);
  CloseAndCheck(second, "close of the other handle", CloseRequests(false), helper);
  CloseAndCheck(first, "close of the last handle", CloseRequests(false), helper);
  CheckBoard(helper, "close of the last handle", kDoStarted, 0x00);
  if (!secondBoard.hardwareId.empty()) {
    CheckSecondBoard(board, directory, infName, secondBoard, kLoadOrderGroup, path, helper);
    CheckBoard(helper, "after the second board", kDoStarted, 0x00);
  }
  CheckTool(board, directory, path, helper);
  CheckEvents(board, path, helper);
  CheckToolWatch(board, directory, helper);
  CheckPower(board, path, helper);

  // Removal: the driver deletes its Device000 keys and the interface goes.
  if (!RemoveDevice(hardwareId)) return;
  WaitFor(10000, [] {
    return !KeyExists(L"" DIO_KEY_SERVICE_DEVICE000) && InterfacePaths().empty();
  });
  CheckRemovedKeys();
  Check(InterfacePaths().empty(), "no device with the driver's interface after removal");
  HANDLE gone = Open(path);
  Check(gone == INVALID_HANDLE_VALUE, "the interface path no longer opens");
  if (gone != INVALID_HANDLE_VALUE) CloseHandle(gone);
  helper.ExpectTrace("removal", Trace());
  CheckEventLog(helper, image, "the board's life once started with its resources", {});
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  std::wstring model, hardwareId, infName, secondModel;
  SecondBoard second = {};
  for (int i = 1; i + 1 < argc; i += 2) {
    std::wstring option = argv[i];
    if (option == L"--model") model = argv[i + 1];
    else if (option == L"--hardware-id") hardwareId = argv[i + 1];
    else if (option == L"--inf") infName = argv[i + 1];
    else if (option == L"--second-model") secondModel = argv[i + 1];
    else if (option == L"--second-hardware-id") second.hardwareId = argv[i + 1];
    else model.clear();
  }
  if (argc % 2 == 0 || model.empty() || hardwareId.empty() || infName.empty() ||
      secondModel.empty() != second.hardwareId.empty()) {
    fprintf(stderr, "usage: kernel_test.exe --model N --hardware-id ID --inf NAME.inf"
                    " [--second-model M --second-hardware-id ID2]\n");
    return 2;
  }
  second.model = uint32_t(wcstoul(secondModel.c_str(), NULL, 10));
  Board board = BoardFor(uint32_t(wcstoul(model.c_str(), NULL, 10)));
  Note("TesZEPDIO.sys in Wine's kernel, board model %u", board.model);
  Run(board, hardwareId, infName, second);
  Note("%s: %d failed checks", gFailures ? "FAILED" : "passed", gFailures);
  return gFailures ? 1 : 0;
}
