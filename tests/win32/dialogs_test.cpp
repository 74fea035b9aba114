// Dialogs, strings and the balance check: how dialogs are made, shown and
// ended, and that what a test leaves behind is reported.
#include <uxtheme.h>

#include "win32_fixture.h"

namespace win32test {
namespace {

class Win32DialogsTest : public Win32Test {};

INT_PTR CALLBACK EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) EndDialog(dialog, lParam);
  return message == WM_INITDIALOG;
}

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

// A process in which nothing has registered the common controls yet.
class Win32CommonControlsTest : public Win32Test {
 public:
  Win32CommonControlsTest() { registerControls_ = false; }
};

// A dialog with a tab control is made only once InitCommonControlsEx has
// registered the tab control's class; until then DialogBoxParamA fails with
// -1. The record must be of its own size, and only the classes asked for are
// registered.
TEST_F(Win32CommonControlsTest, ADialogWithATabControlWaitsForItsClass) {
  struct Step {
    const char *what;
    DWORD size, classes;
    BOOL registered;
    INT_PTR dialog;
  };
  const Step steps[] = {
      {"nothing registered", 0, 0, FALSE, -1},
      {"a record of another size", 4, ICC_TAB_CLASSES, FALSE, -1},
      {"other classes", sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES, TRUE, -1},
      {"the tab control's among others", sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES, TRUE, 77},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.what);
    INITCOMMONCONTROLSEX controls = {step.size, step.classes};
    if (step.size) {
      EXPECT_EQ(InitCommonControlsEx(&controls), step.registered);
    }
    SetLastError(0);
    EXPECT_EQ(DialogBoxParamA(module_, MAKEINTRESOURCEA(200), nullptr, EndAtOnce, 77), step.dialog);
    EXPECT_EQ(GetLastError(), step.dialog == -1 ? DWORD(ERROR_CANNOT_FIND_WND_CLASS) : 0u);
  }
  EXPECT_FALSE(InitCommonControlsEx(nullptr));
  hostwin::ResetDesktop();
  hostwin::RefuseCommonControls();
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES};
  EXPECT_FALSE(InitCommonControlsEx(&controls)) << "where the common controls cannot be loaded";
  module_ = hostwin::RegisterResourceModule("win32_test", hostwin::ReadBinaryFile(TEST_RES));
  EXPECT_EQ(DialogBoxParamA(module_, MAKEINTRESOURCEA(200), nullptr, EndAtOnce, 77), -1);
}

// MapDialogRect turns a dialog's units into its pixels as its controls were
// placed, at the screen's scale; only a dialog has dialog units.
TEST_F(Win32DialogsTest, DialogUnitsGrowWithTheScreensDotsPerInch) {
  struct Case {
    int dpi;
    RECT pixels;  // of the rectangle (7, 18) to (145, 120)
  };
  const Case cases[] = {{96, {11, 29, 218, 195}}, {120, {14, 36, 290, 240}}, {144, {16, 45, 326, 300}},
                        {192, {21, 59, 435, 390}}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.dpi);
    hostwin::SetScreenDpi(c.dpi);
    HWND dialog = CreateDialogParamA(module_, MAKEINTRESOURCEA(201), nullptr, TestDialogProc, 0);
    RECT rect = {7, 18, 145, 120};
    ASSERT_TRUE(MapDialogRect(dialog, &rect));
    EXPECT_EQ(std::vector<LONG>({rect.left, rect.top, rect.right, rect.bottom}),
              std::vector<LONG>({c.pixels.left, c.pixels.top, c.pixels.right, c.pixels.bottom}));
    RECT button = hostwin::Placement(GetDlgItem(dialog, 401)), units = {5, 20, 40, 12};
    MapDialogRect(dialog, &units);
    EXPECT_EQ(std::vector<LONG>({button.left, button.top, button.right - button.left, button.bottom - button.top}),
              std::vector<LONG>({units.left, units.top, units.right, units.bottom}))
        << "the template's control, at (5, 20) and 40 x 12 units";
    SetLastError(0);
    EXPECT_FALSE(MapDialogRect(GetDlgItem(dialog, 401), &rect)) << "a control";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    DestroyWindow(dialog);
    EXPECT_FALSE(MapDialogRect(dialog, &rect)) << "a window that is gone";
  }
}

// Each misuse is recorded as a fault, which fails the test that makes it.
TEST_F(Win32DialogsTest, MapDialogRectWithoutARectangleIsAFault) {
  HWND dialog = OpenTestDialog();
  EXPECT_FALSE(MapDialogRect(dialog, nullptr));
  auto left = hostwin::Outstanding();
  EXPECT_NE(std::find(left.begin(), left.end(), "MapDialogRect without a rectangle"), left.end());
  DestroyWindow(dialog);
  hostwin::ResetDesktop();
  module_ = hostwin::RegisterResourceModule("win32_test", hostwin::ReadBinaryFile(TEST_RES));
}

TEST_F(Win32DialogsTest, AThemeTextureIsSetOnAWindowWithValidFlags) {
  HWND dialog = OpenTestDialog();
  struct Case {
    HWND window;
    DWORD flags;
    HRESULT result;
    DWORD texture;  // afterwards
  };
  const Case cases[] = {
      {dialog, ETDT_ENABLETAB, S_OK, ETDT_ENABLETAB},
      {dialog, 0x10, E_INVALIDARG, ETDT_ENABLETAB},
      {dialog, ETDT_DISABLE, S_OK, ETDT_DISABLE},
      {reinterpret_cast<HWND>(0x4444), ETDT_ENABLE, HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE), 0},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(EnableThemeDialogTexture(c.window, c.flags), c.result) << c.flags;
    EXPECT_EQ(hostwin::DialogTexture(c.window), c.texture) << c.flags;
  }
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
