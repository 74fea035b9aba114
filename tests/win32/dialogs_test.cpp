// Dialogs and the balance check: how dialogs are made, shown and
// ended, and that what a test leaves behind is reported.
#include <uxtheme.h>

#include <tuple>

#include "win32_fixture.h"

namespace win32test {
namespace {

using Win32DialogsTest = Win32Test;

INT_PTR CALLBACK EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) EndDialog(dialog, lParam);
  return message == WM_INITDIALOG;
}

TEST_F(Win32DialogsTest, ModalDialogsReturnWhatEndDialogWasGiven) {
  // The template, the parent, what DialogBoxParam answers and its error.
  const std::tuple<const char *, int, HWND, INT_PTR, DWORD> cases[] = {
      {"ended in WM_INITDIALOG, never shown", 200, nullptr, 77, 0},
      {"missing template", 999, nullptr, -1, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"bad parent", 200, reinterpret_cast<HWND>(0x4444), 0, ERROR_INVALID_WINDOW_HANDLE},
      {"unknown control class", 202, nullptr, -1, ERROR_CANNOT_FIND_WND_CLASS},
  };
  for (const auto &[what, templateId, parent, result, error] : cases) {
    SCOPED_TRACE(what);
    SetLastError(0);
    hostwin::ClearMessages();
    EXPECT_EQ(DialogBoxParamA(module_, MAKEINTRESOURCEA(templateId), parent, EndAtOnce, 77), result);
    EXPECT_EQ(GetLastError(), error);
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
  CreateDialogParamA(module_, MAKEINTRESOURCEA(200), nullptr, TestDialogProc, 0);
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Left", &key), ERROR_SUCCESS);
  DialogBoxParamA(module_, MAKEINTRESOURCEA(200), nullptr, TestDialogProc, 0);  // nobody answers
  hostwin::WhenDialogOpens([](HWND) {});                                       // never used
  std::string left;
  for (const auto &line : hostwin::Outstanding()) left += line + "\n";
  for (const char *part : {"dialog 200 opened with nobody to answer it", "Test dialog",
                           "registry key \\REGISTRY\\MACHINE\\SOFTWARE\\Left still open",
                           "a user waits for a dialog that never opened"})
    EXPECT_NE(left.find(part), std::string::npos) << part;
  TakeFaults();
}

class Win32CommonControlsTest : public Win32Test {
 public:
  Win32CommonControlsTest() { registerControls_ = false; }
};

// A dialog with a tab control is made only once InitCommonControlsEx has
// registered the tab control's class; until then DialogBoxParamA fails with
// -1. The record must be of its own size, and only the classes asked for are
// registered.
TEST_F(Win32CommonControlsTest, ADialogWithATabControlWaitsForItsClass) {
  // The record's size and classes, InitCommonControlsEx's answer, then
  // DialogBoxParam's.
  const std::tuple<const char *, DWORD, DWORD, BOOL, INT_PTR> steps[] = {
      {"nothing registered", 0, 0, FALSE, -1},
      {"a record of another size", 4, ICC_TAB_CLASSES, FALSE, -1},
      {"other classes", sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES, TRUE, -1},
      {"the tab control's among others", sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES, TRUE, 77},
  };
  for (const auto &[what, size, classes, registered, dialog] : steps) {
    SCOPED_TRACE(what);
    INITCOMMONCONTROLSEX controls = {size, classes};
    if (size) {
      EXPECT_EQ(InitCommonControlsEx(&controls), registered);
    }
    SetLastError(0);
    EXPECT_EQ(DialogBoxParamA(module_, MAKEINTRESOURCEA(200), nullptr, EndAtOnce, 77), dialog);
    EXPECT_EQ(GetLastError(), dialog == -1 ? DWORD(ERROR_CANNOT_FIND_WND_CLASS) : 0u);
  }
  EXPECT_FALSE(InitCommonControlsEx(nullptr));
  TakeFaults();
  hostwin::RefuseCommonControls();
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES};
  EXPECT_FALSE(InitCommonControlsEx(&controls)) << "where the common controls cannot be loaded";
  EXPECT_EQ(DialogBoxParamA(module_, MAKEINTRESOURCEA(200), nullptr, EndAtOnce, 77), -1);
}

// MapDialogRect turns a dialog's units into its pixels as its controls were
// placed, at the screen's scale; only a dialog has dialog units, and a call
// without a rectangle is a fault.
TEST_F(Win32DialogsTest, DialogUnitsGrowWithTheScreensDotsPerInch) {
  const std::pair<int, std::vector<LONG>> cases[] = {{96, {11, 29, 218, 195}}, {144, {16, 45, 326, 300}}};
  for (const auto &[dpi, pixels] : cases) {
    SCOPED_TRACE(dpi);
    hostwin::SetScreenDpi(dpi);
    HWND dialog = CreateDialogParamA(module_, MAKEINTRESOURCEA(201), nullptr, TestDialogProc, 0);
    RECT rect = {7, 18, 145, 120}, units = {5, 20, 40, 12};
    ASSERT_TRUE(MapDialogRect(dialog, &rect));
    EXPECT_EQ(std::vector<LONG>({rect.left, rect.top, rect.right, rect.bottom}), pixels);
    RECT button = hostwin::Placement(GetDlgItem(dialog, 401));
    MapDialogRect(dialog, &units);
    EXPECT_EQ(std::vector<LONG>({button.left, button.top, button.right - button.left, button.bottom - button.top}),
              std::vector<LONG>({units.left, units.top, units.right, units.bottom}))
        << "the template's control, at (5, 20) and 40 x 12 units";
    SetLastError(0);
    EXPECT_FALSE(MapDialogRect(GetDlgItem(dialog, 401), &rect)) << "a control";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(MapDialogRect(dialog, nullptr));
    DestroyWindow(dialog);
    EXPECT_FALSE(MapDialogRect(dialog, &rect)) << "a window that is gone";
    EXPECT_EQ(TakeFaults(), std::vector<std::string>{"MapDialogRect without a rectangle"});
  }
}

// The window, the flags, the answer, and the window's texture afterwards.
TEST_F(Win32DialogsTest, AThemeTextureIsSetOnAWindowWithValidFlags) {
  HWND dialog = OpenTestDialog();
  const std::tuple<HWND, DWORD, HRESULT, DWORD> cases[] = {
      {dialog, ETDT_ENABLETAB, S_OK, ETDT_ENABLETAB},
      {dialog, 0x10, E_INVALIDARG, ETDT_ENABLETAB},
      {dialog, ETDT_DISABLE, S_OK, ETDT_DISABLE},
      {reinterpret_cast<HWND>(0x4444), ETDT_ENABLE, HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE), 0},
  };
  for (const auto &[window, flags, result, texture] : cases) {
    EXPECT_EQ(EnableThemeDialogTexture(window, flags), result) << flags;
    EXPECT_EQ(hostwin::DialogTexture(window), texture) << flags;
  }
}

}  // namespace
}  // namespace win32test
