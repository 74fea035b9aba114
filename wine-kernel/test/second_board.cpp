// A second board, of another model, installed while the first is in service:
// the driver refuses its start, with an entry in the System event log, the
// first's record, board and I/O stay as they were, and the second's removal
// leaves them too.
#include "checks.h"

namespace winetest {

void CheckSecondBoard(const Board &board, const std::wstring &directory, const std::wstring &infName,
                      const SecondBoard &second, const std::wstring &group, const std::wstring &path,
                      Helper &helper) {
  Note("a second board, model %u, while the first serves", second.model);
  if (!InstallDevice(directory, infName, second.hardwareId, group, second.model)) return;
  // Its interface, switched on when the driver added the device, goes off
  // when the driver refuses the start.
  std::wstring other;
  bool refused = WaitFor(10000, [&] {
    for (const std::wstring &registered : RegisteredInterfacePaths())
      if (_wcsicmp(registered.c_str(), path.c_str()) != 0) other = registered;
    return !other.empty() && InterfaceLinked(other) == 0;
  });
  Check(refused, "the second board's start is refused: its interface %s was switched off", Narrow(other).c_str());
  std::vector<std::wstring> present = InterfacePaths();
  Check(present.size() == 1 && _wcsicmp(present[0].c_str(), path.c_str()) == 0,
        "the first board's interface is the only one present (%zu)", present.size());
  helper.ExpectTrace("the second board's refused start", Trace());
  CheckEventLog(helper, directory + L"\\TesZEPDIO.sys", "the second board's refused start",
                {SecondBoardEntry(board, second.model)});
  CheckStartValues(board, board.base, board.resources.RawLevel);

  HANDLE device = Open(path);
  if (Check(device != INVALID_HANDLE_VALUE, "the first board opens (error %lu)", GetLastError())) {
    ULONG offset = board.doPort - board.base;
    UCHAR value = 0;
    DWORD returned = 0;
    bool read = DeviceIoControl(device, IOCTL_DIO_READ_PORT_UCHAR, &offset, sizeof offset, &value, 1, &returned, NULL);
    Check(read && returned == 1 && value == kDoStarted, "the first board's DO register reads 0x%02X (0x%02X)",
          kDoStarted, value);
    CloseAndCheck(device, "close of the first board's handle", CloseRequests(false), helper);
  }

  if (!RemoveDevice(second.hardwareId)) return;
  WaitFor(10000, [&] { return RegisteredInterfacePaths().size() == 1; });
  Check(RegisteredInterfacePaths().size() == 1, "the second board's interface is gone with it");
  CheckStartValues(board, board.base, board.resources.RawLevel);
  helper.ExpectTrace("the second board's removal", Trace());
}

}  // namespace winetest
