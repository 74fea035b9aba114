// The system folders, module paths, the shell's "runas" with its elevation
// prompt, and message boxes that ask a question: what the applet uses to
// open itself elevated.
#include <shellapi.h>

#include "win32_fixture.h"

namespace win32test {
namespace {

using Win32ShellTest = Win32Test;

// The folder's length when it fits with its terminator; otherwise the size
// it needs, and the buffer untouched. 32-bit Windows has no SysWOW64.
TEST_F(Win32ShellTest, SystemFoldersAreCopiedWholeOrNotAtAll) {
  struct Case {
    bool wow64;
    bool windows32;
    UINT size;
    UINT result;
    const char *buffer;
  };
  const Case cases[] = {
      {false, false, 20, 19, "C:\\Windows\\system32"}, {false, false, 19, 20, "~"},
      {true, false, 64, 19, "C:\\Windows\\SysWOW64"},  {true, false, 0, 20, "~"},
      {true, true, 64, 0, "~"},                         {false, true, 64, 19, "C:\\Windows\\system32"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.wow64 ? "SysWOW64" : "System32") + (c.windows32 ? " on 32-bit Windows" : "") +
                 ", buffer " + std::to_string(c.size));
    if (c.windows32) hostwin::RunOn32BitWindows();
    char buffer[64] = "~";
    SetLastError(0);
    UINT result = c.wow64 ? GetSystemWow64DirectoryA(buffer, c.size) : GetSystemDirectoryA(buffer, c.size);
    EXPECT_EQ(result, c.result);
    EXPECT_STREQ(buffer, c.buffer);
    EXPECT_EQ(GetLastError(), result ? 0u : DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_TRUE(TakeFaults().empty());
  }
}

// A buffer too small gets what fits, terminated; the answer is then its
// size, with ERROR_INSUFFICIENT_BUFFER.
TEST_F(Win32ShellTest, AModulesPathIsCutToTheBufferAndTerminated) {
  struct Case {
    DWORD size;
    DWORD result;
    const char *path;
    DWORD error;
  };
  const Case cases[] = {
      {11, 10, "win32_test", 0}, {10, 10, "win32_tes", ERROR_INSUFFICIENT_BUFFER}, {1, 1, "", ERROR_INSUFFICIENT_BUFFER}};
  for (const Case &c : cases) {
    char buffer[64];
    memset(buffer, '~', sizeof buffer);
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(module_, buffer, c.size), c.result) << c.size;
    EXPECT_STREQ(buffer, c.path) << c.size;
    EXPECT_EQ(GetLastError(), c.error) << c.size;
  }
  char buffer[8];
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(0x7770000), buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

struct RunCase {
  const char *what;
  hostwin::Rights rights;
  const char *file;
  int answer;  // the prompt approved (1), declined (0), or none given (-1)
  BOOL result;
  DWORD error;
  const char *prompt;
};

// Only a process that is not elevated is asked; the user's no is
// ERROR_CANCELLED, and a program that is not there starts no prompt.
TEST_F(Win32ShellTest, RunasAsksWhoeverIsNotElevatedFirst) {
  HWND owner = OpenTestDialog();
  const char *control = "C:\\Windows\\SysWOW64\\control.exe";
  const RunCase cases[] = {
      {"elevated already", hostwin::Rights::ElevatedAdministrator, control, -1, TRUE, 0, ""},
      {"an administrator consents", hostwin::Rights::UnelevatedAdministrator, control, 1, TRUE, 0, "consent"},
      {"a standard user gives up", hostwin::Rights::StandardUser, control, 0, FALSE, ERROR_CANCELLED, "credentials"},
      {"no such program", hostwin::Rights::StandardUser, "C:\\Windows\\control.exe", -1, FALSE,
       ERROR_FILE_NOT_FOUND, ""},
  };
  for (const RunCase &c : cases) {
    SCOPED_TRACE(c.what);
    hostwin::RunAs(c.rights);
    if (c.answer >= 0) hostwin::WhenElevationAsked(c.answer == 1);
    SHELLEXECUTEINFOA run = {};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOASYNC;
    run.hwnd = owner;
    run.lpVerb = "runas";
    run.lpFile = c.file;
    run.lpParameters = "\"C:\\dio\\x.cpl\"";
    run.nShow = SW_SHOWNORMAL;
    SetLastError(0);
    EXPECT_EQ(ShellExecuteExA(&run), c.result);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(uintptr_t(run.hInstApp) > 32, bool(c.result));
    ASSERT_FALSE(hostwin::ShellExecutions().empty());
    const auto &done = hostwin::ShellExecutions().back();
    EXPECT_EQ(done.prompt, c.prompt);
    EXPECT_EQ(done.started, bool(c.result));
    EXPECT_EQ(done.parameters, run.lpParameters);
  }
}

// Uses that Windows calls errors, or that the stand-in does not simulate,
// and questions nobody answers, are faults.
TEST_F(Win32ShellTest, MisusesAreFaults) {
  auto run = [](ULONG mask, const char *verb, HWND owner, DWORD size = sizeof(SHELLEXECUTEINFOA)) {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = size;
    info.fMask = mask;
    info.hwnd = owner;
    info.lpVerb = verb;
    info.lpFile = "C:\\Windows\\system32\\control.exe";
    ShellExecuteExA(&info);
  };
  auto unelevated = [] { hostwin::RunAs(hostwin::Rights::UnelevatedAdministrator); };
  struct Case {
    const char *fault;
    std::function<void()> misuse;
  };
  const Case cases[] = {
      {"ShellExecuteEx without a SHELLEXECUTEINFO of its own size", [&] { run(0, "runas", nullptr, 56); }},
      {"ShellExecuteEx other than \"runas\" without a process handle: not simulated",
       [&] { run(0, "open", nullptr); }},
      {"ShellExecuteEx other than \"runas\" without a process handle: not simulated",
       [&] { run(SEE_MASK_NOCLOSEPROCESS, "runas", nullptr); }},
      {"ShellExecuteEx owned by a window that does not exist: the elevation prompt would not show",
       [&] { run(0, "runas", reinterpret_cast<HWND>(0x4444)); }},
      {"an elevation prompt opened with nobody to answer it", [&] {
         unelevated();
         run(0, "runas", nullptr);
       }},
      {"an answer waits for an elevation prompt that never came", [&] { hostwin::WhenElevationAsked(true); }},
      {"message box \"Go on?\" asks a question nobody was there to answer",
       [&] { MessageBoxA(nullptr, "Go on?", "Q", MB_YESNO); }},
      {"answer 1 is not a button of message box \"Go on?\"", [&] {
         hostwin::WhenMessageBoxAsks(IDOK);
         MessageBoxA(nullptr, "Go on?", "Q", MB_YESNO);
       }},
      {"an answer waits for a message box that never asked", [&] {
         hostwin::WhenMessageBoxAsks(IDNO);
         MessageBoxA(nullptr, "Done.", "Q", MB_OK);
       }},
  };
  for (const Case &c : cases) {
    c.misuse();
    EXPECT_EQ(TakeFaults(), std::vector<std::string>({c.fault}));
  }
  hostwin::WhenMessageBoxAsks(IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Go on?", "Q", MB_YESNO | MB_ICONWARNING), IDNO) << "the answer given";
  EXPECT_EQ(hostwin::MessageBoxes().back().answer, IDNO);
}

}  // namespace
}  // namespace win32test
