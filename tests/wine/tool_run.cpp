// dioctl.exe, as the windows-driver build makes it, run as a program of its
// own against the started device: what it prints, its exit code, and the
// port accesses each run makes, up to the close of its one handle. No watch:
// an enable that succeeds would connect the interrupt, which Wine's kernel
// cannot (docs/wine-kernel.md).
#include <cstdio>

#include "checks.h"

namespace winetest {

namespace {

struct ToolRun {
  DWORD exit = 0xFFFFFFFF;
  DWORD startError = 0;
  std::string out;
  std::string err;
};

// The text the program wrote, its line ends ("\r\n" in a console
// program's text mode) as "\n".
std::string ReadAll(HANDLE pipe) {
  std::string text;
  char buffer[512];
  DWORD read;
  while (ReadFile(pipe, buffer, sizeof buffer, &read, NULL) && read > 0) {
    for (DWORD i = 0; i < read; ++i)
      if (buffer[i] != '\r') text.push_back(buffer[i]);
  }
  return text;
}

// Runs "dioctl.exe <arguments>" with its output and errors captured.
bool RunTool(const std::wstring &program, const std::wstring &arguments, ToolRun *run) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 1 << 16)) return false;
  if (!CreatePipe(&errRead, &errWrite, &inherit, 1 << 16)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return false;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  PROCESS_INFORMATION process;
  BOOL started = CreateProcessW(program.c_str(), &commandLine[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup,
                                &process);
  if (!started) run->startError = GetLastError();
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (started) {
    run->out = ReadAll(outRead);
    run->err = ReadAll(errRead);
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &run->exit);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(outRead);
  CloseHandle(errRead);
  return started != FALSE;
}

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

std::string Format(const char *format, unsigned a, unsigned b = 0) {
  char text[128];
  snprintf(text, sizeof text, format, a, b);
  return text;
}

// One run: its exit code, a text its output (or, failing, its error line)
// holds, and its port accesses up to the close of its handle. A run that
// never opens the device touches nothing.
struct Case {
  std::wstring arguments;
  DWORD exit;
  std::vector<std::string> says;
  Trace accesses;  // before the cleanup and close
  bool opens;
};

}  // namespace

void CheckTool(const Board &board, const std::wstring &directory, const std::wstring &interfacePath,
               Helper &helper) {
  const std::wstring program = directory + L"\\dioctl.exe";
  const USHORT b = board.base;
  const unsigned n = board.portCount;
  std::vector<uint8_t> info = BoardInfo(board);
  std::string layout = board.layout == kLayout24 ? "layout 24" : board.layout == kLayout22 ? "layout 22"
                                                                                          : "general layout";
  std::string model = "model " + std::to_string(board.model) + " (" + layout;
  Trace none;
  std::vector<Case> cases = {
      {L"list", 0, {"devices of the TesZEPDIO interface:\n  " + Narrow(interfacePath) + "\n", model,
                    Format("port base 0x%04X, interrupt %u", b, board.resources.RawLevel)}, none, false},
      {L"info", 0, {Format("  byte 0  DI channels            info +0   %u\n", info[0]),
                    Format("  byte 6  FPGA version           info +31  0x%02X\n", info[6]),
                    Format("  byte 7  (always 1)             driver    %u\n", info[7])}, none, true},
      {L"write 3 0x5A", 0, {Format("offset 0x3 (port 0x%04X): wrote 0x5A\n", b + 3)},
       {{WINE_HELPER_OUT, 1, USHORT(b + 3), 0x5A}}, true},
      {L"read 3", 0, {Format("offset 0x3 (port 0x%04X): 0x5A (90)\n", b + 3)},
       {{WINE_HELPER_IN, 1, USHORT(b + 3), 0x5A}}, true},
      {L"write 0x10 0x12345678 --width 4", 0, {"wrote 0x12345678\n"},
       {{WINE_HELPER_OUT, 4, USHORT(b + 16), 0x12345678}}, true},
      {L"read 0x10 --width 4", 0, {"0x12345678 (305419896)\n"}, {{WINE_HELPER_IN, 4, USHORT(b + 16), 0x12345678}},
       true},
      {L"do-config --start 0,1 --shutdown off", 0, {"at the board's start DO channel 0 to 1, at the system's "
                                                    "shutdown nothing\n"}, none, true},
      {L"read " + std::to_wstring(n), 1, {Format("dioctl: read at offset 0x%X (port 0x%04X) refused: "
                                                 "STATUS_ACCESS_VIOLATION (0xC0000005)", n, b + n)}, none, true},
      {L"write 3 0x100", 2, {"dioctl: VALUE 0x100 does not fit in 1 byte (at most 0xFF)"}, none, false},
  };
  for (const Case &c : cases) {
    std::string what = "dioctl " + Narrow(c.arguments);
    ToolRun run;
    bool started = RunTool(program, c.arguments, &run);
    if (!Check(started, "%s: the program starts (error %lu)", what.c_str(), run.startError)) {
      continue;
    }
    const std::string &shown = c.exit == 0 ? run.out : run.err;
    bool says = true;
    for (const std::string &part : c.says) says = says && Contains(shown, part);
    Check(run.exit == c.exit && says && (c.exit == 0 ? run.err.empty() : run.out.empty()),
          "%s: exit code %lu and its text (exit code %lu)", what.c_str(), c.exit, run.exit);
    if (!says || run.exit != c.exit) Note("output:\n%s\nerrors:\n%s", run.out.c_str(), run.err.c_str());

    // The close request of the program's handle follows its exit.
    Trace expected = c.accesses;
    if (c.opens) {
      Trace close = CloseAccesses(board, true);
      expected.insert(expected.end(), close.begin(), close.end());
    }
    Trace trace, more;
    WaitFor(c.opens ? 5000 : 200, [&] {
      helper.TakeTrace(&more);
      trace.insert(trace.end(), more.begin(), more.end());
      return c.opens && !trace.empty() && trace.back().kind == WINE_HELPER_CLOSE;
    });
    CheckTrace(what.c_str(), trace, expected);
  }
}

}  // namespace winetest
