// Dialogs, strings and the balance check: how dialogs are made, shown and
// ended, and that what a test leaves behind is reported.
#include "win32_fixture.h"

namespace win32test {
namespace {

class Win32DialogsTest : public Win32Test {};

TEST_F(Win32DialogsTest, AChildPageRunsItsInitialisationHiddenInsideCreate) {
  HWND dialog = OpenTestDialog();
  HWND page = CreateDialogParamA(module_, MAKEINTRESOURCEA(201), dialog, TestDialogProc, 1234);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(GetParent(page), dialog);
  EXPECT_FALSE(IsWindowVisible(page));
  const auto &log = hostwin::Messages();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].message, UINT(WM_SETFONT));
  EXPECT_EQ(log[1].message, UINT(WM_INITDIALOG));
  EXPECT_EQ(log[1].lParam, 1234);
  ShowWindow(dialog, SW_HIDE);
  EXPECT_EQ(ShowWindow(page, SW_SHOW), FALSE) << "the previous state";
  EXPECT_FALSE(IsWindowVisible(page)) << "its parent is hidden";
  EXPECT_EQ(ShowWindow(page, SW_SHOW), TRUE);
  EXPECT_EQ(CreateDialogParamA(module_, MAKEINTRESOURCEA(999), dialog, TestDialogProc, 0), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
}

INT_PTR CALLBACK EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) EndDialog(dialog, lParam);
  return message == WM_INITDIALOG;
}

TEST_F(Win32DialogsTest, ModalDialogsReturnWhatEndDialogWasGiven) {
  struct Case {
    const char *what;
    int templateId;
    HWND parent;
    DLGPROC proc;
    INT_PTR result;
    DWORD error;
  };
  const Case cases[] = {
      {"ended in WM_INITDIALOG, never shown", 200, nullptr, EndAtOnce, 77, 0},
      {"missing template", 999, nullptr, EndAtOnce, -1, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"bad parent", 200, reinterpret_cast<HWND>(0x4444), EndAtOnce, 0, ERROR_INVALID_WINDOW_HANDLE},
      {"unknown control class", 202, nullptr, EndAtOnce, -1, ERROR_CANNOT_FIND_WND_CLASS},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    hostwin::ClearMessages();
    EXPECT_EQ(DialogBoxParamA(module_, MAKEINTRESOURCEA(c.templateId), c.parent, c.proc, 77), c.result);
    EXPECT_EQ(GetLastError(), c.error);
    for (const auto &m : hostwin::Messages()) EXPECT_NE(m.message, UINT(WM_SHOWWINDOW));
  }

  // A user who presses a button that ends the dialog; EndDialog hides it at
  // once and the dialog is gone when DialogBox returns.
  HWND seen = nullptr;
  hostwin::WhenDialogOpens([&](HWND dialog) {
    seen = dialog;
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_TRUE(EndDialog(dialog, 5));
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_TRUE(IsWindow(dialog));
  });
  EXPECT_EQ(DialogBoxParamA(module_, MAKEINTRESOURCEA(200), nullptr, TestDialogProc, 0), 5);
  EXPECT_FALSE(IsWindow(seen));
}

TEST_F(Win32DialogsTest, WhatATestLeavesBehindIsReported) {
  HWND dialog = CreateDialogParamA(module_, MAKEINTRESOURCEA(200), nullptr, TestDialogProc, 0);
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Left", &key), ERROR_SUCCESS);
  DialogBoxParamA(module_, MAKEINTRESOURCEA(200), nullptr, TestDialogProc, 0);  // nobody answers
  hostwin::WhenDialogOpens([](HWND) {});                                       // never used
  auto left = hostwin::Outstanding();
  auto has = [&](const std::string &part) {
    for (const auto &line : left)
      if (line.find(part) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(has("dialog 200 opened with nobody to answer it"));
  EXPECT_TRUE(has("Test dialog"));
  EXPECT_TRUE(has("registry key \\REGISTRY\\MACHINE\\SOFTWARE\\Left still open"));
  EXPECT_TRUE(has("a user waits for a dialog that never opened"));
  // Given back, everything balances again.
  DestroyWindow(dialog);
  RegCloseKey(key);
  hostwin::ResetDesktop();
  EXPECT_TRUE(hostwin::Outstanding().empty());
  module_ = hostwin::RegisterResourceModule("win32_test", hostwin::ReadBinaryFile(TEST_RES));
}

TEST_F(Win32DialogsTest, StringsAreCutToTheBufferAndAlwaysTerminated) {
  struct Case {
    UINT id;
    int size;
    int result;
    const char *text;
  };
  const Case cases[] = {{5, 32, 5, "Hello"}, {5, 6, 5, "Hello"}, {5, 4, 3, "Hel"},
                        {17, 32, 9, "Seventeen"}, {16, 32, 0, ""}, {6, 32, 0, ""}};
  for (const auto &c : cases) {
    char buffer[32];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(LoadStringA(module_, c.id, buffer, c.size), c.result) << c.id << "/" << c.size;
    EXPECT_STREQ(buffer, c.text) << c.id << "/" << c.size;
  }
}

}  // namespace
}  // namespace win32test
