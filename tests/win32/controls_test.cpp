// The controls: what the set messages do (never notify) and what a user's
// click does (notify), compared with the recorded message sequence.
#include "win32_fixture.h"

namespace win32test {
namespace {

class Win32ControlsTest : public Win32Test {};

TEST_F(Win32ControlsTest, ComboBoxListsSortAndOnlyTheUserNotifies) {
  HWND dialog = OpenTestDialog();
  HWND sorted = GetDlgItem(dialog, 307), plain = GetDlgItem(dialog, 308);
  struct Add {
    HWND combo;
    const char *text;
    LRESULT index;
  };
  const Add adds[] = {{sorted, "pear", 0}, {sorted, "apple", 0}, {sorted, "zoo", 2}, {sorted, "Banana", 1},
                      {plain, "pear", 0},  {plain, "apple", 1}};
  for (const auto &a : adds)
    EXPECT_EQ(SendMessageA(a.combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(a.text)), a.index) << a.text;
  EXPECT_EQ(hostwin::Items(sorted), (std::vector<std::string>{"apple", "Banana", "pear", "zoo"}));
  EXPECT_EQ(SendMessageA(plain, CB_INSERTSTRING, 5, reinterpret_cast<LPARAM>("x")), CB_ERR);

  struct Select {
    WPARAM index;
    LRESULT result;
    LRESULT selected;
  };
  const Select selects[] = {{2, 2, 2}, {4, CB_ERR, CB_ERR}, {1, 1, 1}, {WPARAM(-1), CB_ERR, CB_ERR}, {3, 3, 3}};
  for (const auto &s : selects) {
    EXPECT_EQ(SendMessageA(sorted, CB_SETCURSEL, s.index, 0), s.result) << s.index;
    EXPECT_EQ(SendMessageA(sorted, CB_GETCURSEL, 0, 0), s.selected) << s.index;
  }
  EXPECT_TRUE(Notifications().empty()) << "CB_SETCURSEL notified";

  // The user picks the item that is already selected: still a change
  // notification, after the list has closed. The first click gives the list
  // the focus.
  ASSERT_TRUE(hostwin::ChooseItem(sorted, 3));
  ASSERT_TRUE(hostwin::ChooseItem(sorted, 0));
  const UINT codes[] = {CBN_SETFOCUS, CBN_DROPDOWN, CBN_SELENDOK, CBN_CLOSEUP, CBN_SELCHANGE,
                        CBN_DROPDOWN, CBN_SELENDOK, CBN_CLOSEUP, CBN_SELCHANGE};
  auto got = Notifications();
  ASSERT_EQ(got.size(), std::size(codes));
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].window, dialog);
    EXPECT_EQ(got[i].message, UINT(WM_COMMAND));
    EXPECT_EQ(got[i].wParam, MAKEWPARAM(307, codes[i])) << i;
  }
  EXPECT_EQ(SendMessageA(sorted, CB_GETCURSEL, 0, 0), 0);

  EnableWindow(sorted, FALSE);
  hostwin::ClearMessages();
  EXPECT_FALSE(hostwin::ChooseItem(sorted, 1));
  EXPECT_FALSE(hostwin::ChooseItem(plain, 7)) << "no such item";
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(Win32ControlsTest, ButtonsChangeTheirGroupOnlyWhenClicked) {
  HWND dialog = OpenTestDialog();
  auto check = [&](int id) { return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0); };
  SendDlgItemMessageA(dialog, 301, BM_SETCHECK, BST_CHECKED, 0);
  SendDlgItemMessageA(dialog, 302, BM_SETCHECK, BST_CHECKED, 0);  // does not clear 301
  SendDlgItemMessageA(dialog, 303, BM_SETCHECK, BST_CHECKED, 0);
  SendDlgItemMessageA(dialog, 305, BM_SETCHECK, BST_INDETERMINATE, 0);
  EXPECT_EQ(check(301), BST_CHECKED);
  EXPECT_EQ(check(302), BST_CHECKED);
  EXPECT_EQ(check(305), BST_CHECKED) << "a two-state box stores indeterminate as checked";
  EXPECT_TRUE(Notifications().empty()) << "BM_SETCHECK notified";

  struct Step {
    int click;
    std::vector<LRESULT> states;  // 301, 302, 303, 304, 305 after the click
  };
  const Step steps[] = {
      {302, {0, 1, 1, 0, 1}},  // clears its own group only
      {302, {0, 1, 1, 0, 1}},  // already checked: unchanged, still notifies
      {304, {0, 1, 0, 1, 1}},
      {305, {0, 1, 0, 1, 0}},
      {305, {0, 1, 0, 1, 1}},
      {306, {0, 1, 0, 1, 1}},
  };
  for (const auto &step : steps) {
    ASSERT_TRUE(hostwin::Click(GetDlgItem(dialog, step.click)));
    std::vector<LRESULT> states;
    for (int id = 301; id <= 305; ++id) states.push_back(check(id));
    EXPECT_EQ(states, step.states) << "after clicking " << step.click;
  }
  auto got = Notifications();
  ASSERT_EQ(got.size(), std::size(steps));
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].wParam, MAKEWPARAM(steps[i].click, BN_CLICKED));
    EXPECT_EQ(got[i].window, dialog);
  }
  EXPECT_FALSE(hostwin::Click(GetDlgItem(dialog, 312))) << "a hidden button";
  EnableWindow(GetDlgItem(dialog, 306), FALSE);
  EXPECT_FALSE(hostwin::Click(GetDlgItem(dialog, 306))) << "a disabled button";
  EXPECT_FALSE(hostwin::Click(GetDlgItem(dialog, 309))) << "not a button";
}

TEST_F(Win32ControlsTest, TabsNotifyOnlyWhenClickedAndCanBeKept) {
  HWND dialog = OpenTestDialog();
  HWND tab = GetDlgItem(dialog, 311);
  EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), -1);
  TCITEMA item = {};
  item.mask = TCIF_TEXT;
  struct Insert {
    int index;
    const char *text;
    LRESULT result;
    LRESULT selected;
  };
  const Insert inserts[] = {{0, "first", 0, 0}, {5, "second", 1, 0}, {-1, "bad", -1, 0},
                            {0, "zero", 0, 1},  {9, "third", 3, 1}};
  for (const auto &i : inserts) {
    item.pszText = const_cast<char *>(i.text);
    EXPECT_EQ(SendMessageA(tab, TCM_INSERTITEMA, WPARAM(i.index), reinterpret_cast<LPARAM>(&item)), i.result);
    EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), i.selected) << i.text;
  }
  EXPECT_EQ(hostwin::Items(tab), (std::vector<std::string>{"zero", "first", "second", "third"}));
  EXPECT_EQ(SendMessageA(tab, TCM_SETCURSEL, 2, 0), 1);
  EXPECT_EQ(SendMessageA(tab, TCM_SETCURSEL, 4, 0), -1);
  EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), 2);
  EXPECT_TRUE(Notifications().empty()) << "TCM_SETCURSEL notified";

  ASSERT_TRUE(hostwin::ClickTab(tab, 2));  // the current tab: nothing
  ASSERT_TRUE(hostwin::ClickTab(tab, 0));
  gVetoTabChange = true;
  ASSERT_TRUE(hostwin::ClickTab(tab, 3));
  EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), 0) << "the change was refused";
  const UINT codes[] = {TCN_SELCHANGING, TCN_SELCHANGE, TCN_SELCHANGING};
  auto got = Notifications();
  ASSERT_EQ(got.size(), std::size(codes));
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].message, UINT(WM_NOTIFY));
    EXPECT_EQ(got[i].code, codes[i]) << i;
    EXPECT_EQ(got[i].wParam, 311u);
  }
}

TEST_F(Win32ControlsTest, OnlyABitmapStaticTakesAnImage) {
  HWND dialog = OpenTestDialog();
  HWND picture = GetDlgItem(dialog, 310), text = GetDlgItem(dialog, 309);
  // The template's bitmap is loaded, and the control takes its size.
  auto fromTemplate = reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
  hostwin::Picture info;
  ASSERT_TRUE(hostwin::DescribeBitmap(fromTemplate, &info));
  EXPECT_EQ(info.resourceId, 116);
  RECT at = hostwin::Placement(picture);
  EXPECT_EQ(at.right - at.left, 11);
  EXPECT_EQ(at.bottom - at.top, 12);

  HBITMAP other = LoadBitmapA(module_, MAKEINTRESOURCEA(116));
  EXPECT_EQ(SendMessageA(text, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(other)), 0);
  EXPECT_EQ(SendMessageA(text, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  EXPECT_EQ(SendMessageA(picture, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(other)), 0);
  EXPECT_EQ(SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(other)),
            reinterpret_cast<LRESULT>(fromTemplate));
  EXPECT_EQ(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0), reinterpret_cast<LRESULT>(other));
  EXPECT_TRUE(DeleteObject(fromTemplate));
  EXPECT_FALSE(DeleteObject(fromTemplate));
  DestroyWindow(dialog);
  EXPECT_TRUE(DeleteObject(other)) << "the control does not delete the caller's bitmap";
}

// A bitmap static draws its picture at the picture's size (and takes that
// size itself) unless it stretches the picture over itself or centres it.
TEST_F(Win32ControlsTest, APictureIsDrawnAtItsOwnSizeUnlessTheControlStretchesIt) {
  struct Case {
    int id;
    RECT control;  // 7 x 7 or 20 x 20 dialog units at 6 x 13 pixels each
    RECT picture;  // in the control, the bitmap being 11 x 12
  };
  const Case cases[] = {
      {501, {8, 8, 19, 20}, {0, 0, 11, 12}},
      {502, {30, 8, 41, 19}, {0, 0, 11, 11}},
      {503, {53, 8, 83, 41}, {9, 10, 20, 22}},
  };
  HWND page = CreateDialogParamA(module_, MAKEINTRESOURCEA(204), OpenTestDialog(), TestDialogProc, 0);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.id);
    RECT control = hostwin::Placement(GetDlgItem(page, c.id)), picture = hostwin::PictureRect(GetDlgItem(page, c.id));
    EXPECT_EQ(std::vector<LONG>({control.left, control.top, control.right, control.bottom}),
              std::vector<LONG>({c.control.left, c.control.top, c.control.right, c.control.bottom}));
    EXPECT_EQ(std::vector<LONG>({picture.left, picture.top, picture.right, picture.bottom}),
              std::vector<LONG>({c.picture.left, c.picture.top, c.picture.right, c.picture.bottom}));
  }
}

bool Reports(const std::string &part) {
  for (const auto &line : hostwin::Outstanding())
    if (line.find(part) != std::string::npos) return true;
  return false;
}

// Bitmaps are the loader's to delete, like windows and keys; the one a
// static control loaded from its template goes with the control, unless
// STM_SETIMAGE handed it back.
TEST_F(Win32ControlsTest, ABitmapLeftBehindIsReported) {
  HBITMAP loaded = LoadBitmapA(module_, MAKEINTRESOURCEA(116));
  EXPECT_TRUE(Reports("bitmap 116")) << "a loaded bitmap";
  EXPECT_TRUE(DeleteObject(loaded));
  EXPECT_EQ(hostwin::Outstanding(), std::vector<std::string>());

  HWND dialog = OpenTestDialog();
  HWND picture = GetDlgItem(dialog, 310);
  EXPECT_EQ(hostwin::LiveBitmaps(), 1);
  EXPECT_FALSE(Reports("bitmap")) << "the template's bitmap is the control's";
  DestroyWindow(dialog);
  EXPECT_EQ(hostwin::LiveBitmaps(), 0) << "and goes with it";

  dialog = OpenTestDialog();
  picture = GetDlgItem(dialog, 310);
  auto handedBack = reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, 0));
  DestroyWindow(dialog);
  EXPECT_TRUE(Reports("bitmap 116")) << "handed back, it is the caller's to delete";
  EXPECT_TRUE(DeleteObject(handedBack));
}

}  // namespace
}  // namespace win32test
