// The focus and the dialog manager's keyboard: WM_SETFOCUS and WM_KILLFOCUS,
// the focus a dialog starts with, Tab and Shift+Tab in the Z order (into a
// page, not into a hidden one), the arrows within a group, Enter and Esc,
// radio buttons that take the focus, and the keys the controls keep.
#include <tuple>

#include "win32_fixture.h"

namespace win32test {
namespace {

class Win32KeyboardTest : public Win32Test {
 protected:
  // Runs dialog 203 modally with a page (201) inside, hidden, created after
  // the other controls; `user` acts while it is shown.
  void RunKeysDialog(std::function<void(HWND dialog, HWND page)> user) {
    hostwin::WhenDialogOpens([&](HWND dialog) {
      HWND page = CreateDialogParamA(module_, MAKEINTRESOURCEA(201), dialog, TestDialogProc, 0);
      hostwin::ClearMessages();
      user(dialog, page);
      if (IsWindow(dialog) && IsWindowVisible(dialog)) EndDialog(dialog, IDCANCEL);
    });
    DialogBoxParamA(module_, MAKEINTRESOURCEA(203), nullptr, KeysProc, 0);
  }
  static INT_PTR CALLBACK KeysProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
      EndDialog(dialog, LOWORD(wParam));
      return TRUE;
    }
    return message == WM_INITDIALOG;
  }
};

void Press(UINT key, int times = 1, bool shift = false) {
  for (int i = 0; i < times; ++i) ASSERT_TRUE(hostwin::PressKey(key, shift));
}

std::vector<std::string> Commands() {
  std::vector<std::string> out;
  for (const auto &m : Notifications())
    if (m.message == WM_COMMAND)
      out.push_back(std::to_string(LOWORD(m.wParam)) + ":" + std::to_string(HIWORD(m.wParam)));
  return out;
}

TEST_F(Win32KeyboardTest, SetFocusTellsBothWindowsAndHidingGivesTheFocusToTheParent) {
  HWND dialog = OpenTestDialog();
  HWND sorted = GetDlgItem(dialog, 307), plain = GetDlgItem(dialog, 308);
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, 305)) << "a TRUE answer to WM_INITDIALOG: the first tab stop";
  SetFocus(sorted);
  hostwin::ClearMessages();
  EXPECT_EQ(SetFocus(plain), sorted);
  EXPECT_EQ(SetFocus(plain), plain) << "no change, no messages";
  EXPECT_EQ(Commands(), (std::vector<std::string>{"307:4", "308:3"})) << "CBN_KILLFOCUS, then CBN_SETFOCUS";
  ShowWindow(plain, SW_HIDE);
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, 305)) << "the dialog took it and passed it to its first control";
}

TEST_F(Win32KeyboardTest, TabFollowsTheZOrderIntoAVisiblePageOnly) {
  RunKeysDialog([](HWND dialog, HWND page) {
    HWND tab = GetDlgItem(dialog, 311), check = GetDlgItem(dialog, 305), list = GetDlgItem(dialog, 307);
    HWND ok = GetDlgItem(dialog, IDOK), cancel = GetDlgItem(dialog, IDCANCEL), inside = GetDlgItem(page, 401);
    EXPECT_EQ(GetFocus(), tab);
    // Tab (or Shift+Tab) and the focus after it. No radio button is
    // checked: none is a tab stop. The hidden page is stepped over.
    for (const auto &[shift, focus] : {std::pair{false, check}, {false, list}, {false, ok}, {false, cancel},
                                       {false, tab}, {true, cancel}}) {
      Press(VK_TAB, 1, shift);
      EXPECT_EQ(GetFocus(), focus);
    }
    // Shown, the page is entered where it stands in the Z order: last, and
    // after SetWindowPos right after the tab control.
    auto tabFrom = [](HWND from) {
      SetFocus(from);
      Press(VK_TAB);
      return GetFocus();
    };
    ShowWindow(page, SW_SHOW);
    EXPECT_EQ(tabFrom(cancel), inside);
    SetWindowPos(page, tab, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(tabFrom(tab), inside);
    EXPECT_EQ(tabFrom(inside), check);
    EnableWindow(page, FALSE);
    EXPECT_EQ(tabFrom(tab), check) << "nor is a disabled page";
  });
}

TEST_F(Win32KeyboardTest, ArrowsMoveWithinTheGroupAndCheckAutomaticRadioButtons) {
  RunKeysDialog([](HWND dialog, HWND) {
    HWND a1 = GetDlgItem(dialog, 301), a2 = GetDlgItem(dialog, 302), manual = GetDlgItem(dialog, 303);
    auto checks = [&] {
      std::string states;
      for (HWND button : {a1, a2, manual}) states += std::to_string(SendMessageA(button, BM_GETCHECK, 0, 0));
      return states;
    };
    SendMessageA(a1, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_TRUE(GetWindowLongPtrA(a1, GWL_STYLE) & WS_TABSTOP) << "BM_SETCHECK makes a radio button a tab stop";
    SetFocus(a1);
    hostwin::ClearMessages();
    Press(VK_DOWN);  // onto A2: checked, A1 cleared, one click
    EXPECT_EQ(GetFocus(), a2);
    EXPECT_EQ(checks(), "010");
    EXPECT_FALSE(GetWindowLongPtrA(a1, GWL_STYLE) & WS_TABSTOP);
    Press(VK_DOWN);  // onto the manual one: it says it was clicked but checks nothing
    EXPECT_EQ(checks(), "010");
    Press(VK_DOWN);  // the group ends at the check box: round to A1
    EXPECT_EQ(GetFocus(), a1);
    EXPECT_EQ(checks(), "100");
    Press(VK_UP);
    EXPECT_EQ(GetFocus(), manual);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"302:0", "303:0", "301:0", "303:0"}));

    // A mouse press focuses an unchecked radio button without the focus
    // click: one BN_CLICKED.
    hostwin::ClearMessages();
    ASSERT_TRUE(hostwin::Click(a2));
    EXPECT_EQ(Commands(), (std::vector<std::string>{"302:0"}));
  });
}

TEST_F(Win32KeyboardTest, ControlsKeepTheKeysTheyWant) {
  RunKeysDialog([](HWND dialog, HWND) {
    HWND tab = GetDlgItem(dialog, 311), list = GetDlgItem(dialog, 307), check = GetDlgItem(dialog, 305);
    for (const char *text : {"one", "two"}) InsertTab(tab, 9, text);
    for (const char *text : {"a", "b", "c"}) SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    hostwin::ClearMessages();
    Press(VK_RIGHT, 2);  // the tab control: to "two", then nothing further
    Press(VK_LEFT);
    std::vector<int> codes;
    for (const auto &m : Notifications()) codes.push_back(int(m.code));
    EXPECT_EQ(codes, (std::vector<int>{int(TCN_KEYDOWN), int(TCN_SELCHANGING), int(TCN_SELCHANGE), int(TCN_KEYDOWN),
                                       int(TCN_KEYDOWN), int(TCN_SELCHANGING), int(TCN_SELCHANGE)}));
    EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), 0);

    SetFocus(list);
    hostwin::ClearMessages();
    Press(VK_DOWN, 4);  // the list: a, b, c, and c again, each a change notification
    Press(VK_UP);
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(Commands(), std::vector<std::string>(5, "307:1"));

    SetFocus(check);
    hostwin::ClearMessages();
    Press(VK_SPACE);
    EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"305:0"}));
  });
}

// The key, the control with the focus, and how the dialog ends: Enter on
// a list presses the default button, on a push button that button.
TEST_F(Win32KeyboardTest, EnterPressesTheFocusedOrDefaultButtonAndEscCancels) {
  const std::tuple<UINT, int, INT_PTR> cases[] = {
      {VK_RETURN, 307, IDOK}, {VK_RETURN, IDCANCEL, IDCANCEL}, {VK_ESCAPE, 307, IDCANCEL}};
  for (const auto &[key, focus, result] : cases) {
    SCOPED_TRACE(focus);
    hostwin::WhenDialogOpens([&, key = key, focus = focus](HWND dialog) {
      SetFocus(GetDlgItem(dialog, focus));
      Press(key);
      EXPECT_FALSE(IsWindowVisible(dialog));
      EXPECT_EQ(GetFocus(), nullptr) << "the dialog took the focus and lost it with its visibility";
    });
    EXPECT_EQ(DialogBoxParamA(module_, MAKEINTRESOURCEA(203), nullptr, KeysProc, 0), result);
  }
  EXPECT_FALSE(hostwin::PressKey(VK_RETURN)) << "no window to take it";
}

// The display area below one row of tabs: 2 pixels of border and 2 of
// padding, and a row as high as the font's characters (13 for 8 point MS
// Sans Serif) plus 5; TRUE goes back to the window's rectangle.
TEST_F(Win32KeyboardTest, TheTabControlsDisplayAreaComesFromItsBorders) {
  HWND tab = GetDlgItem(OpenTestDialog(), 311);
  auto adjust = [tab](BOOL larger, RECT rect) {
    SendMessageA(tab, TCM_ADJUSTRECT, larger, reinterpret_cast<LPARAM>(&rect));
    return std::vector<LONG>({rect.left, rect.top, rect.right, rect.bottom});
  };
  EXPECT_EQ(adjust(FALSE, {100, 50, 300, 150}), std::vector<LONG>({104, 54, 296, 146})) << "no tabs, no row";
  InsertTab(tab, 0, "one");
  EXPECT_EQ(adjust(FALSE, {100, 50, 300, 150}), std::vector<LONG>({104, 72, 296, 146}));
  EXPECT_EQ(adjust(TRUE, {104, 72, 296, 146}), std::vector<LONG>({100, 50, 300, 150}));
  EXPECT_EQ(SendMessageA(tab, TCM_ADJUSTRECT, FALSE, 0), -1);
}

// The thread's message filter sees each key of the modal loop first, with
// Ctrl and Shift as GetKeyState tells them; a key it takes goes no further
// (not to the dialog manager, not to the control), the others go on as
// before. The hook installed last is called first and hands on with
// CallNextHookEx; one left installed, or one for another thread, is a fault.
HHOOK gFirst, gSecond;
std::vector<std::string> gSeen;

LRESULT CALLBACK First(int code, WPARAM wParam, LPARAM lParam) {
  const MSG *msg = reinterpret_cast<const MSG *>(lParam);
  gSeen.push_back("first " + std::to_string(msg->wParam));
  return CallNextHookEx(gFirst, code, wParam, lParam);
}

LRESULT CALLBACK Second(int code, WPARAM wParam, LPARAM lParam) {
  const MSG *msg = reinterpret_cast<const MSG *>(lParam);
  bool control = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
  gSeen.push_back(std::string(code == MSGF_DIALOGBOX ? "dialog " : "other ") + std::to_string(msg->wParam) +
                  (control ? " ctrl" : "") + (shift ? " shift" : ""));
  if (control && msg->message == WM_KEYDOWN && msg->wParam == VK_TAB) return 1;
  return CallNextHookEx(gSecond, code, wParam, lParam);
}

TEST_F(Win32KeyboardTest, AMessageFilterSeesTheKeysOfTheModalLoopFirst) {
  RunKeysDialog([&](HWND dialog, HWND) {
    gFirst = SetWindowsHookExA(WH_MSGFILTER, First, nullptr, GetCurrentThreadId());
    gSecond = SetWindowsHookExA(WH_MSGFILTER, Second, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(gFirst && gSecond);
    HWND tab = GetDlgItem(dialog, 311);
    EXPECT_EQ(GetFocus(), tab);
    ASSERT_TRUE(hostwin::PressKey(VK_TAB, false, true));
    EXPECT_EQ(GetFocus(), tab) << "Ctrl+Tab was taken";
    ASSERT_TRUE(hostwin::PressKey(VK_TAB, true, false));
    EXPECT_NE(GetFocus(), tab) << "Shift+Tab went on to the dialog manager";
    EXPECT_FALSE(GetKeyState(VK_CONTROL) < 0) << "no key is held once it is released";
    EXPECT_TRUE(UnhookWindowsHookEx(gSecond));
    EXPECT_TRUE(UnhookWindowsHookEx(gFirst));
    EXPECT_FALSE(UnhookWindowsHookEx(gFirst));
  });
  EXPECT_EQ(gSeen, (std::vector<std::string>{"dialog 9 ctrl", "dialog 9 shift", "first 9"}));
  SetWindowsHookExA(WH_MSGFILTER, First, nullptr, GetCurrentThreadId());
  EXPECT_EQ(TakeFaults(), std::vector<std::string>({"a message hook is still installed"}));
  SetWindowsHookExA(WH_MSGFILTER, First, nullptr, GetCurrentThreadId() + 1);
  EXPECT_EQ(TakeFaults(),
            std::vector<std::string>({"SetWindowsHookEx(WH_MSGFILTER) without a procedure or for another thread"}));
}

}  // namespace
}  // namespace win32test
