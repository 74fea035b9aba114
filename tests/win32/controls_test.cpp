// The controls: what the set messages do (never notify) and what a user's
// click does (notify), compared with the recorded message sequence.
#include <tuple>

#include "win32_fixture.h"

namespace win32test {
namespace {

using Win32ControlsTest = Win32Test;

TEST_F(Win32ControlsTest, ComboBoxListsSortAndOnlyTheUserNotifies) {
  HWND dialog = OpenTestDialog();
  HWND sorted = GetDlgItem(dialog, 307), plain = GetDlgItem(dialog, 308);
  const std::tuple<HWND, const char *, LRESULT> adds[] = {{sorted, "pear", 0},  {sorted, "apple", 0},
                                                          {sorted, "zoo", 2},   {sorted, "Banana", 1},
                                                          {plain, "pear", 0},   {plain, "apple", 1}};
  for (const auto &[combo, text, index] : adds)
    EXPECT_EQ(SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)), index) << text;
  EXPECT_EQ(hostwin::Items(sorted), (std::vector<std::string>{"apple", "Banana", "pear", "zoo"}));
  EXPECT_EQ(SendMessageA(plain, CB_INSERTSTRING, 5, reinterpret_cast<LPARAM>("x")), CB_ERR);

  // Each index set, and what CB_SETCURSEL answers: the index, or CB_ERR and no selection.
  for (WPARAM index : {WPARAM(2), WPARAM(4), WPARAM(1), WPARAM(-1), WPARAM(3)}) {
    LRESULT selected = index < 4 ? LRESULT(index) : CB_ERR;
    EXPECT_EQ(SendMessageA(sorted, CB_SETCURSEL, index, 0), selected) << index;
    EXPECT_EQ(SendMessageA(sorted, CB_GETCURSEL, 0, 0), selected) << index;
  }
  EXPECT_TRUE(Notifications().empty()) << "CB_SETCURSEL notified";

  // The user picks the item that is already selected: still a change
  // notification, after the list has closed. The first click gives the list
  // the focus.
  ASSERT_TRUE(hostwin::ChooseItem(sorted, 3));
  ASSERT_TRUE(hostwin::ChooseItem(sorted, 0));
  std::vector<WPARAM> got, codes;
  for (const auto &n : Notifications()) got.push_back(n.window == dialog && n.message == WM_COMMAND ? n.wParam : 0);
  for (UINT code : {CBN_SETFOCUS, CBN_DROPDOWN, CBN_SELENDOK, CBN_CLOSEUP, CBN_SELCHANGE, CBN_DROPDOWN, CBN_SELENDOK,
                    CBN_CLOSEUP, CBN_SELCHANGE})
    codes.push_back(MAKEWPARAM(307, code));
  EXPECT_EQ(got, codes);
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

  // A click, and the states of 301 to 305 after it.
  const std::pair<int, std::vector<LRESULT>> steps[] = {
      {302, {0, 1, 1, 0, 1}},  // clears its own group only
      {302, {0, 1, 1, 0, 1}},  // already checked: unchanged, still notifies
      {304, {0, 1, 0, 1, 1}},
      {305, {0, 1, 0, 1, 0}},
      {305, {0, 1, 0, 1, 1}},
      {306, {0, 1, 0, 1, 1}},
  };
  std::vector<WPARAM> got, clicks;
  for (const auto &[click, expected] : steps) {
    ASSERT_TRUE(hostwin::Click(GetDlgItem(dialog, click)));
    std::vector<LRESULT> states;
    for (int id = 301; id <= 305; ++id) states.push_back(check(id));
    EXPECT_EQ(states, expected) << "after clicking " << click;
    clicks.push_back(MAKEWPARAM(click, BN_CLICKED));
  }
  for (const auto &n : Notifications()) got.push_back(n.window == dialog ? n.wParam : 0);
  EXPECT_EQ(got, clicks);
  EXPECT_FALSE(hostwin::Click(GetDlgItem(dialog, 312))) << "a hidden button";
  EnableWindow(GetDlgItem(dialog, 306), FALSE);
  EXPECT_FALSE(hostwin::Click(GetDlgItem(dialog, 306))) << "a disabled button";
  EXPECT_FALSE(hostwin::Click(GetDlgItem(dialog, 309))) << "not a button";
  HWND page = CreateDialogParamA(module_, MAKEINTRESOURCEA(201), dialog, TestDialogProc, 0);
  ShowWindow(page, SW_SHOW);
  EnableWindow(page, FALSE);
  EXPECT_FALSE(hostwin::Click(GetDlgItem(page, 401))) << "a button of a disabled page";
}

TEST_F(Win32ControlsTest, TabsNotifyOnlyWhenClickedAndCanBeKept) {
  HWND dialog = OpenTestDialog();
  HWND tab = GetDlgItem(dialog, 311);
  EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), -1);
  // Where each tab goes, and which one is selected then.
  const std::tuple<int, const char *, LRESULT, LRESULT> inserts[] = {
      {0, "first", 0, 0}, {5, "second", 1, 0}, {-1, "bad", -1, 0}, {0, "zero", 0, 1}, {9, "third", 3, 1}};
  for (const auto &[index, text, result, selected] : inserts) {
    EXPECT_EQ(InsertTab(tab, index, text), result);
    EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), selected) << text;
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
  std::vector<UINT> got;
  for (const auto &n : Notifications()) got.push_back(n.message == WM_NOTIFY && n.wParam == 311 ? n.code : 0);
  EXPECT_EQ(got, (std::vector<UINT>{TCN_SELCHANGING, TCN_SELCHANGE, TCN_SELCHANGING}));
}

// STM_SETIMAGE works only on a bitmap static and answers the picture it
// replaces. A bitmap is its loader's to delete; the one a static loaded from
// its template goes with the control unless STM_SETIMAGE handed it back,
// and the control never deletes the caller's.
TEST_F(Win32ControlsTest, ABitmapStaticKeepsOnlyItsTemplatesBitmap) {
  HWND dialog = OpenTestDialog();
  HWND picture = GetDlgItem(dialog, 310), text = GetDlgItem(dialog, 309);
  auto reports = [](const std::string &part) {
    for (const auto &line : hostwin::Outstanding())
      if (line.find(part) != std::string::npos) return true;
    return false;
  };
  auto fromTemplate = reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
  hostwin::Picture info;
  ASSERT_TRUE(hostwin::DescribeBitmap(fromTemplate, &info));
  EXPECT_EQ(info.resourceId, 116);
  EXPECT_FALSE(reports("bitmap")) << "the template's bitmap is the control's";
  HBITMAP other = LoadBitmapA(module_, MAKEINTRESOURCEA(116));
  EXPECT_TRUE(reports("bitmap 116")) << "a loaded bitmap";
  EXPECT_EQ(SendMessageA(text, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(other)), 0);
  EXPECT_EQ(SendMessageA(text, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  EXPECT_EQ(SendMessageA(picture, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(other)), 0);
  EXPECT_EQ(SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(other)),
            reinterpret_cast<LRESULT>(fromTemplate));
  EXPECT_EQ(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0), reinterpret_cast<LRESULT>(other));
  DestroyWindow(dialog);
  EXPECT_TRUE(DeleteObject(other)) << "the control does not delete the caller's bitmap";
  EXPECT_TRUE(reports("bitmap 116")) << "handed back, the template's bitmap is the caller's to delete";
  EXPECT_TRUE(DeleteObject(fromTemplate));
  EXPECT_FALSE(DeleteObject(fromTemplate));
  OpenTestDialog();
  EXPECT_EQ(hostwin::LiveBitmaps(), 1);
  DestroyWindow(dialog_);
  EXPECT_EQ(hostwin::LiveBitmaps(), 0) << "the template's bitmap goes with its control";
}

// A bitmap static draws its picture (11 x 12) at the picture's size and
// takes that size itself, unless it stretches the picture over itself
// (SS_REALSIZECONTROL) or centres it (SS_CENTERIMAGE).
TEST_F(Win32ControlsTest, APictureIsDrawnAtItsOwnSizeUnlessTheControlStretchesIt) {
  const std::pair<int, std::vector<LONG>> cases[] = {
      {501, {8, 8, 19, 20, 0, 0, 11, 12}}, {502, {30, 8, 41, 19, 0, 0, 11, 11}}, {503, {53, 8, 83, 41, 9, 10, 20, 22}}};
  HWND page = CreateDialogParamA(module_, MAKEINTRESOURCEA(204), OpenTestDialog(), TestDialogProc, 0);
  for (const auto &[id, expected] : cases) {
    RECT control = hostwin::Placement(GetDlgItem(page, id)), picture = hostwin::PictureRect(GetDlgItem(page, id));
    EXPECT_EQ(std::vector<LONG>({control.left, control.top, control.right, control.bottom, picture.left, picture.top,
                                 picture.right, picture.bottom}),
              expected)
        << id;
  }
}

// An owner-drawn static is drawn by its parent on WM_DRAWITEM, over its
// client area and clipped to it, in the system's colours of the moment. The
// drawing routine gives the device context back with the pen it came with
// and deletes its pens, but not while one is selected; each slip is a fault.
enum class Slip { None, PenLeftSelected, PenDeletedWhileSelected, PenNotDeleted };
Slip gSlip;

INT_PTR CALLBACK DrawingProc(HWND, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_DRAWITEM) return message == WM_INITDIALOG;
  const auto *item = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
  FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_WINDOW));
  HPEN pen = CreatePen(PS_SOLID, 2, GetSysColor(COLOR_WINDOWTEXT));
  HGDIOBJ old = SelectObject(item->hDC, pen);
  POINT line[] = {{-5, 4}, {100, 4}};  // past both edges
  Polyline(item->hDC, line, 2);
  if (gSlip == Slip::PenDeletedWhileSelected) DeleteObject(pen);
  if (gSlip != Slip::PenLeftSelected) SelectObject(item->hDC, old);
  if (gSlip == Slip::None) DeleteObject(pen);
  return TRUE;
}

TEST_F(Win32ControlsTest, AnOwnerDrawnStaticIsDrawnByItsParentWhoCleansUp) {
  // Each round ends with the faults it left, and the next starts afresh.
  auto open = [this] { return CreateDialogParamA(module_, MAKEINTRESOURCEA(205), OpenTestDialog(), DrawingProc, 0); };
  for (bool high : {false, true}) {
    hostwin::UseHighContrast(high);
    gSlip = Slip::None;
    HWND page = open();
    hostwin::Picture picture;
    EXPECT_FALSE(hostwin::PaintOwnerDrawn(GetDlgItem(page, 602), &picture)) << "a text static draws itself";
    ASSERT_TRUE(hostwin::PaintOwnerDrawn(GetDlgItem(page, 601), &picture));
    EXPECT_EQ(std::vector<int>({picture.width, picture.height}), std::vector<int>({30, 26}));
    auto row = [&](int y) {
      return std::vector<uint32_t>(picture.pixels.begin() + y * picture.width,
                                   picture.pixels.begin() + (y + 1) * picture.width);
    };
    uint32_t window = high ? 0x000000 : 0xFFFFFF, text = high ? 0xFFFFFF : 0x000000;
    EXPECT_EQ(row(4), std::vector<uint32_t>(size_t(picture.width), text)) << "the line over the whole width";
    EXPECT_EQ(row(10), std::vector<uint32_t>(size_t(picture.width), window));
    EXPECT_EQ(TakeFaults(), std::vector<std::string>());
  }
  const std::pair<Slip, std::vector<std::string>> slips[] = {
      {Slip::PenLeftSelected,
       {"WM_DRAWITEM left its own pen selected in the control's device context", "a pen was never deleted"}},
      {Slip::PenDeletedWhileSelected,
       {"a pen was deleted while it was selected into a device context", "a pen was never deleted"}},
      {Slip::PenNotDeleted, {"a pen was never deleted"}},
  };
  for (const auto &[slip, faults] : slips) {
    gSlip = slip;
    HWND page = open();
    hostwin::Picture picture;
    hostwin::PaintOwnerDrawn(GetDlgItem(page, 601), &picture);
    EXPECT_EQ(TakeFaults(), faults);
  }
}

}  // namespace
}  // namespace win32test
