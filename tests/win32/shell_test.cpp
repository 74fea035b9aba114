// Strings, module paths and system folders cut to a buffer, the shell's
// "runas" with its elevation prompt, and message boxes that ask a question:
// what the applet uses to open itself elevated.
#include <commctrl.h>
#include <shellapi.h>

#include <tuple>

#include "win32_fixture.h"

namespace win32test {
namespace {

using Win32ShellTest = Win32Test;

// What each call leaves in a buffer of the size given ('~' where it wrote
// nothing), what it answers and its error. A string is cut to fit and
// terminated; so is a module's path, whose answer is then the buffer's size
// with ERROR_INSUFFICIENT_BUFFER; a system folder is copied whole or not at
// all (the answer is then the size it needs). 32-bit Windows has no SysWOW64.
TEST_F(Win32ShellTest, TextsAreCutToTheBufferAsEachCallPromises) {
  auto string = [this](UINT id) {
    return [this, id](char *buffer, UINT size) { return UINT(LoadStringA(module_, id, buffer, int(size))); };
  };
  auto path = [this](char *buffer, UINT size) { return UINT(GetModuleFileNameA(module_, buffer, size)); };
  auto on32 = [](UINT (*folder)(LPSTR, UINT)) {
    return [folder](char *buffer, UINT size) {
      hostwin::RunOn32BitWindows();
      return folder(buffer, size);
    };
  };
  const DWORD cut = ERROR_INSUFFICIENT_BUFFER, notFound = ERROR_RESOURCE_NAME_NOT_FOUND;
  // The call, the buffer's size, the answer, the buffer and the error.
  const std::tuple<const char *, std::function<UINT(char *, UINT)>, UINT, UINT, const char *, DWORD> cases[] = {
      {"a string that fits", string(5), 6, 5, "Hello", 0},
      {"a string cut", string(5), 4, 3, "Hel", 0},
      {"a string of the second table", string(17), 32, 9, "Seventeen", 0},
      {"an empty slot", string(16), 32, 0, "", notFound},
      {"a path that fits", path, 11, 10, "win32_test", 0},
      {"a path cut", path, 10, 10, "win32_tes", cut},
      {"a path cut to nothing", path, 1, 1, "", cut},
      {"System32", GetSystemDirectoryA, 20, 19, "C:\\Windows\\system32", 0},
      {"System32 too long", GetSystemDirectoryA, 19, 20, "~", 0},
      {"SysWOW64", GetSystemWow64DirectoryA, 64, 19, "C:\\Windows\\SysWOW64", 0},
      {"SysWOW64 into no buffer", GetSystemWow64DirectoryA, 0, 20, "~", 0},
      {"SysWOW64 on 32-bit Windows", on32(GetSystemWow64DirectoryA), 64, 0, "~", ERROR_CALL_NOT_IMPLEMENTED},
      {"System32 on 32-bit Windows", on32(GetSystemDirectoryA), 64, 19, "C:\\Windows\\system32", 0},
  };
  for (const auto &[what, call, size, result, left, error] : cases) {
    SCOPED_TRACE(what);
    char buffer[64];
    memset(buffer, '~', sizeof buffer);
    buffer[1] = buffer[sizeof buffer - 1] = '\0';
    SetLastError(0);
    EXPECT_EQ(call(buffer, size), result);
    EXPECT_STREQ(buffer, left);
    EXPECT_EQ(GetLastError(), error);
  }
  char buffer[8];
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(0x7770000), buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

// Only a process that is not elevated is asked; the user's no is
// ERROR_CANCELLED, and a program that is not there starts no prompt.
TEST_F(Win32ShellTest, RunasAsksWhoeverIsNotElevatedFirst) {
  HWND owner = OpenTestDialog();
  const char *control = "C:\\Windows\\SysWOW64\\control.exe";
  // Who runs, the program, the prompt approved (1), declined (0) or not
  // answered (-1), ShellExecuteEx's answer and error, and the prompt shown.
  const std::tuple<const char *, hostwin::Rights, const char *, int, BOOL, DWORD, const char *> cases[] = {
      {"elevated already", hostwin::Rights::ElevatedAdministrator, control, -1, TRUE, 0, ""},
      {"an administrator consents", hostwin::Rights::UnelevatedAdministrator, control, 1, TRUE, 0, "consent"},
      {"a standard user gives up", hostwin::Rights::StandardUser, control, 0, FALSE, ERROR_CANCELLED, "credentials"},
      {"no such program", hostwin::Rights::StandardUser, "C:\\Windows\\control.exe", -1, FALSE,
       ERROR_FILE_NOT_FOUND, ""},
  };
  for (const auto &[what, rights, file, answer, result, error, prompt] : cases) {
    SCOPED_TRACE(what);
    hostwin::RunAs(rights);
    if (answer >= 0) hostwin::WhenElevationAsked(answer == 1);
    SHELLEXECUTEINFOA run = {};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOASYNC;
    run.hwnd = owner;
    run.lpVerb = "runas";
    run.lpFile = file;
    run.lpParameters = "\"C:\\dio\\x.cpl\"";
    run.nShow = SW_SHOWNORMAL;
    SetLastError(0);
    EXPECT_EQ(ShellExecuteExA(&run), result);
    EXPECT_EQ(std::make_tuple(GetLastError(), uintptr_t(run.hInstApp) > 32), std::make_tuple(error, bool(result)));
    ASSERT_FALSE(hostwin::ShellExecutions().empty());
    const auto &done = hostwin::ShellExecutions().back();
    EXPECT_EQ(std::tie(done.prompt, done.started, done.parameters),
              std::make_tuple(std::string(prompt), bool(result), std::string(run.lpParameters)));
  }
}

// A path is whole only in UTF-16: the ANSI call puts "?" for a character
// the code page (1252) has no place for, so that its answer names no file;
// both cut the path to the buffer alike.
TEST_F(Win32ShellTest, AModulesPathIsWholeOnlyInUtf16) {
  HINSTANCE module = hostwin::RegisterResourceModule("C:\\Pr\xC3\xBC" "fstand \xCE\xA9\\a.cpl", {});
  const std::u16string wide = u"C:\\Pr\u00FCfstand \u03A9\\a.cpl";
  WCHAR w[64];
  EXPECT_EQ(GetModuleFileNameW(module, w, 64), DWORD(wide.size()));
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t *>(w)), wide);
  char a[64];
  EXPECT_EQ(GetModuleFileNameA(module, a, 64), DWORD(wide.size()));
  EXPECT_STREQ(a, "C:\\Pr\xFC" "fstand ?\\a.cpl");
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(module, w, 5), 5u);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t *>(w)), u"C:\\P");
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  hostwin::UnregisterResourceModule(module);
}

// The token of the process says whether it is elevated: an administrator's
// programs under UAC are not, until started elevated. A buffer too small
// gets nothing and the size needed.
TEST_F(Win32ShellTest, TheTokenSaysWhetherTheProcessRunsElevated) {
  const std::pair<hostwin::Rights, DWORD> cases[] = {{hostwin::Rights::ElevatedAdministrator, 1},
                                                     {hostwin::Rights::UnelevatedAdministrator, 0},
                                                     {hostwin::Rights::StandardUser, 0}};
  for (const auto &[rights, elevated] : cases) {
    hostwin::RunAs(rights);
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    TOKEN_ELEVATION answer = {7};
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token, TokenElevation, &answer, 2, &size);
    EXPECT_EQ(std::make_tuple(ok, GetLastError(), answer.TokenIsElevated, size),
              std::make_tuple(FALSE, DWORD(ERROR_INSUFFICIENT_BUFFER), 7ul, DWORD(sizeof answer)));
    EXPECT_TRUE(GetTokenInformation(token, TokenElevation, &answer, sizeof answer, &size));
    EXPECT_EQ(answer.TokenIsElevated, elevated);
    EXPECT_TRUE(CloseHandle(token));
  }
  HANDLE other = nullptr;
  EXPECT_FALSE(OpenProcessToken(reinterpret_cast<HANDLE>(0x1234), TOKEN_QUERY, &other));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
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
  const std::pair<const char *, std::function<void()>> cases[] = {
      {"BCM_SETSHIELD on a button that is no push button", [&] {
         HWND dialog = OpenTestDialog();
         EXPECT_EQ(SendDlgItemMessageA(dialog, 306, BCM_SETSHIELD, 0, TRUE), 1);
         EXPECT_TRUE(hostwin::HasShield(GetDlgItem(dialog, 306)));
         SendDlgItemMessageA(dialog, 305, BCM_SETSHIELD, 0, TRUE);
         EXPECT_FALSE(hostwin::HasShield(GetDlgItem(dialog, 305)));
       }},
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
      {"an access token is still open", [&] {
         HANDLE token;
         OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
       }},
      {"CloseHandle of a handle that is not open", [&] {
         HANDLE token;
         OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
         CloseHandle(token);
         CloseHandle(token);
       }},
      {"GetTokenInformation on a handle that is no open token", [&] {
         TOKEN_ELEVATION answer;
         DWORD size;
         GetTokenInformation(reinterpret_cast<HANDLE>(0x5678), TokenElevation, &answer, sizeof answer, &size);
       }},
  };
  for (const auto &[fault, misuse] : cases) {
    misuse();
    EXPECT_EQ(TakeFaults(), std::vector<std::string>({fault}));
  }
}

}  // namespace
}  // namespace win32test
