// dioctl.exe, as the windows-driver build makes it, run as a program of its
// own against the started device: what it prints, its exit code, and the
// close of its one handle; and its watch, printing the DI events the test
// fires.
#include <cstdio>

#include "checks.h"

namespace winetest {

namespace {

// "dioctl.exe <arguments>" running with its output and errors captured.
class Tool {
 public:
  bool Start(const std::wstring &program, const std::wstring &arguments);
  // Takes in what the program has written so far.
  void Poll();
  // Waits at most `milliseconds` for the output to hold `text`.
  bool Prints(const std::string &text, unsigned long milliseconds);
  // Reads to the end of the output and waits for the exit code.
  void Finish();
  void Terminate();
  ~Tool();

  DWORD exit = 0xFFFFFFFF;
  DWORD startError = 0;
  std::string out;
  std::string err;

 private:
  HANDLE outRead_ = NULL, errRead_ = NULL;
  PROCESS_INFORMATION process_ = {};
};

// The text a pipe holds now, line ends ("\r\n" in a console program's text
// mode) as "\n".
void ReadAvailable(HANDLE pipe, std::string *text) {
  char buffer[512];
  DWORD available = 0, read;
  while (PeekNamedPipe(pipe, NULL, 0, NULL, &available, NULL) && available > 0 &&
         ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &read, NULL) && read > 0) {
    for (DWORD i = 0; i < read; ++i)
      if (buffer[i] != '\r') text->push_back(buffer[i]);
  }
}

bool Tool::Start(const std::wstring &program, const std::wstring &arguments) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE outWrite = NULL, errWrite = NULL;
  bool piped =
      CreatePipe(&outRead_, &outWrite, &inherit, 1 << 16) && CreatePipe(&errRead_, &errWrite, &inherit, 1 << 16);
  if (piped) {
    SetHandleInformation(outRead_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead_, HANDLE_FLAG_INHERIT, 0);
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  bool started = piped && CreateProcessW(program.c_str(), &commandLine[0], NULL, NULL, TRUE, 0, NULL, NULL,
                                        &startup, &process_);
  if (!started) startError = GetLastError();
  if (outWrite != NULL) CloseHandle(outWrite);
  if (errWrite != NULL) CloseHandle(errWrite);
  return started;
}

void Tool::Poll() {
  ReadAvailable(outRead_, &out);
  ReadAvailable(errRead_, &err);
}

bool Tool::Prints(const std::string &text, unsigned long milliseconds) {
  return WaitFor(milliseconds, [&] {
    Poll();
    return out.find(text) != std::string::npos;
  });
}

void Tool::Finish() {
  if (process_.hProcess == NULL) return;
  WaitFor(30000, [&] {
    Poll();
    return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
  });
  Poll();
  if (WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0) GetExitCodeProcess(process_.hProcess, &exit);
}

void Tool::Terminate() {
  if (process_.hProcess == NULL) return;
  TerminateProcess(process_.hProcess, 9);
  Finish();
}

Tool::~Tool() {
  if (process_.hProcess != NULL) {
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  if (outRead_ != NULL) CloseHandle(outRead_);
  if (errRead_ != NULL) CloseHandle(errRead_);
}

void ShowOutput(const Tool &run) { Note("output:\n%s\nerrors:\n%s", run.out.c_str(), run.err.c_str()); }

std::string Format(const char *format, unsigned a, unsigned b = 0) {
  char text[128];
  snprintf(text, sizeof text, format, a, b);
  return text;
}

// One run, which succeeds: the texts its output holds, and whether it opens
// the device: its handle's cleanup and close follow its exit.
struct Case {
  std::wstring arguments;
  std::vector<std::string> says;
  bool opens;
};

}  // namespace

void CheckTool(const Board &board, const std::wstring &directory, const std::wstring &interfacePath,
               Helper &helper) {
  const std::wstring program = directory + L"\\dioctl.exe";
  const USHORT b = board.base;
  std::vector<uint8_t> info = BoardInfo(board);
  std::string layout = board.layout == kLayout24 ? "layout 24" : board.layout == kLayout22 ? "layout 22"
                                                                                          : "general layout";
  std::string model = "model " + std::to_string(board.model) + " (" + layout;
  std::vector<Case> cases = {
      {L"list", {"devices of the TesZEPDIO interface:\n  " + Narrow(interfacePath) + "\n", model,
                    Format("port base 0x%04X, interrupt %u", b, board.resources.RawLevel)}, false},
      {L"info", {Format("  byte 0  DI channels            info +0   %u\n", info[0]),
                    Format("  byte 6  FPGA version           info +31  0x%02X\n", info[6]),
                    Format("  byte 7  (always 1)             driver    %u\n", info[7])}, true},
      {L"write 3 0x5A", {Format("offset 0x3 (port 0x%04X): wrote 0x5A\n", b + 3)}, true},
      {L"read 3", {Format("offset 0x3 (port 0x%04X): 0x5A (90)\n", b + 3)}, true},
      {L"do-config --start 0,1 --shutdown off", {"at the board's start DO channel 0 to 1, at the system's "
                                                 "shutdown nothing\n"}, true},
  };
  for (const Case &c : cases) {
    std::string what = "dioctl " + Narrow(c.arguments);
    Tool run;
    if (!Check(run.Start(program, c.arguments), "%s: the program starts (error %lu)", what.c_str(), run.startError))
      continue;
    run.Finish();
    bool says = true;
    for (const std::string &part : c.says) says = says && run.out.find(part) != std::string::npos;
    Check(run.exit == 0 && says && run.err.empty(), "%s: exit code 0 and its text (exit code %lu)", what.c_str(),
          run.exit);
    if (!says || run.exit != 0) ShowOutput(run);

    // The close request of the program's handle follows its exit.
    CheckTrace(what.c_str(), Requests(helper.TraceUntilClose(c.opens ? 5000 : 200)),
               c.opens ? CloseRequests(false) : Trace());
  }
}

// dioctl watch switches on the sources behind its events; the DI lines fire
// once it says it is watching, and its output names each event.
void CheckToolWatch(const Board &board, const std::wstring &directory, Helper &helper) {
  const std::wstring program = directory + L"\\dioctl.exe";
  const char *ready = "; Ctrl+C ends\n";

  // Ended by TerminateProcess while its events are enabled.
  Tool killed;
  if (!Check(killed.Start(program, L"watch --events 0,3"), "dioctl watch --events 0,3: starts")) return;
  bool watching = killed.Prints(ready, 10000);
  Check(watching, "dioctl watch --events 0,3: says it is watching events 0, 3");
  helper.ExpectTrace("dioctl watch --events 0,3: enable", {Marker(WINE_HELPER_CONNECT, 0)}, false);
  CheckBoard(helper, "dioctl watch --events 0,3: its sources on", kDoStarted, 0x09);
  CheckConnection("dioctl watch --events 0,3", board, helper, helper.Interrupts().Connects);
  helper.Fire({0});
  bool printed = killed.Prints("  event 0\n", 5000);
  helper.Fire({3});
  printed = killed.Prints("  event 3\n", 5000) && printed;
  Check(printed, "dioctl watch --events 0,3: prints event 0, then event 3");
  helper.Settle();
  Trace interrupts = InterruptRequests();
  helper.ExpectTrace("dioctl watch --events 0,3: DI lines 0 and 3", interrupts += InterruptRequests(), false);
  killed.Terminate();
  Check(killed.exit == 9, "dioctl watch --events 0,3: ended by TerminateProcess (exit code %lu)", killed.exit);
  CheckTrace("dioctl watch --events 0,3: the close of the ended process's handle",
             Requests(helper.TraceUntilClose(5000)), CloseRequests(true));
  CheckBoard(helper, "dioctl watch --events 0,3: closed", kDoStarted, 0x00);
  if (!printed || !watching) ShowOutput(killed);
}

}  // namespace winetest
