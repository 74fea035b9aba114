// What the keyboard and assistive technology find on each page: a mnemonic
// on every label that names a control and on every button, none used twice
// where they act together (a page and the main dialog's buttons); no two
// controls of one kind on a page with one accessible name (their text; a
// list takes the name of the label before it, as a label and its list
// share it); and each page's controls on one grid.
// Whether each text fits its control is measured in the Wine run, with
// real fonts.
#include <strings.h>

#include <cctype>
#include <map>
#include <set>

#include "applet_fixture.h"

namespace applettest {
namespace {

using AppletLayoutTest = AppletTest;

// Class names compare without regard to case, as Windows compares them (a
// template may name a class by its atom or in any case).
bool OfClass(HWND control, const char *name) { return strcasecmp(hostwin::ClassName(control).c_str(), name) == 0; }

DWORD Style(HWND control) { return DWORD(GetWindowLongPtrA(control, GWL_STYLE)); }
bool IsText(HWND control) { return OfClass(control, "Static") && (Style(control) & SS_TYPEMASK) <= SS_RIGHT; }
bool IsLabel(HWND control) { return IsText(control) && !(Style(control) & SS_NOPREFIX); }
bool IsGroupBox(HWND control) { return OfClass(control, "Button") && (Style(control) & BS_TYPEMASK) == BS_GROUPBOX; }
bool IsButton(HWND control) { return OfClass(control, "Button") && !IsGroupBox(control); }

// The letter after a single "&", or 0.
char Mnemonic(HWND control) {
  std::string text = hostwin::Text(control);
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] != '&') return char(tolower(static_cast<unsigned char>(text[i + 1])));
    ++i;
  }
  return 0;
}

// The page's controls and the main dialog's buttons: every mnemonic there,
// every name.
void ExpectKeysAndNames(HWND dialog, HWND page) {
  SCOPED_TRACE("page " + std::to_string(hostwin::TemplateId(page)));
  std::map<char, std::string> letters;
  std::set<std::string> names;
  std::vector<HWND> controls = hostwin::Children(page);
  for (int id : {IDC_ELEVATE, IDC_APPLY, IDOK, IDCANCEL}) controls.push_back(Item(dialog, id));
  std::string label;
  for (HWND control : controls) {
    int id = GetDlgCtrlID(control);
    bool named = IsButton(control) && id != IDOK && id != IDCANCEL;
    if (IsLabel(control)) named = !hostwin::Text(control).empty();
    std::string name = OfClass(control, "ComboBox") ? label : Label(control);
    if (IsLabel(control)) label = Label(control);
    if (!name.empty()) {
      std::string kind = IsLabel(control) ? "label" : OfClass(control, "ComboBox") ? "list" : "control";
      EXPECT_TRUE(names.insert(kind + ": " + name).second)
          << "two " << kind << "s named \"" << name << "\"";
    }
    if (!named) continue;
    char letter = Mnemonic(control);
    EXPECT_NE(letter, 0) << "no mnemonic: " << hostwin::Text(control);
    if (!letter) continue;
    auto [at, added] = letters.emplace(letter, hostwin::Text(control));
    EXPECT_TRUE(added) << "\"" << hostwin::Text(control) << "\" and \"" << at->second << "\" share '" << letter << "'";
  }
}

RECT At(HWND page, int id) { return hostwin::Placement(Item(page, id)); }

std::vector<HWND> OfKind(HWND page, bool (*kind)(HWND)) {
  std::vector<HWND> out;
  for (HWND control : hostwin::Children(page))
    if (kind(control)) out.push_back(control);
  return out;
}

// The labels of a page start at one x; on the support page each indicator
// sits on its label's row, the rows one step apart.
void ExpectGrid(HWND page) {
  SCOPED_TRACE("page " + std::to_string(hostwin::TemplateId(page)));
  std::set<LONG> lefts;
  for (HWND label : OfKind(page, IsText)) lefts.insert(hostwin::Placement(label).left);
  EXPECT_EQ(lefts.size(), 1u) << "labels at " << lefts.size() << " different x";
  switch (hostwin::TemplateId(page)) {
    case IDD_SUPPORT_PAGE: {
      std::set<LONG> steps;
      for (int row = 0; row < 11; ++row) {
        EXPECT_EQ(At(page, IDC_SUP_DI_MARK + row).top, At(page, IDC_SUP_DI_TEXT + row).top) << row;
        if (row) steps.insert(At(page, IDC_SUP_DI_TEXT + row).top - At(page, IDC_SUP_DI_TEXT + row - 1).top);
        EXPECT_LE(At(page, IDC_SUP_DI_TEXT + row).right, At(page, IDC_SUP_GROUP).right) << "inside the box";
      }
      EXPECT_LE(steps.size(), 2u) << "rows one step apart (a pixel's rounding aside)";
      break;
    }
    case IDD_COUNTER_PAGE: {
      const std::pair<int, int> rows[] = {{IDC_CNT_CLOCK_INTERNAL, IDC_CNT_CLOCK_LINE},
                                          {IDC_CNT_GATE_INTERNAL, IDC_CNT_GATE_LINE},
                                          {IDC_CNT_OUTPUT_REGISTER, IDC_CNT_OUTPUT_LINE}};
      for (const auto &[internal, line] : rows) {
        EXPECT_EQ(At(page, internal).top, At(page, line).top) << line;
        EXPECT_EQ(At(page, internal).left, At(page, IDC_CNT_CLOCK_INTERNAL).left) << internal;
        EXPECT_EQ(At(page, line).left, At(page, IDC_CNT_CLOCK_LINE).left) << line;
      }
      break;
    }
    case IDD_DO_PAGE: {
      std::set<LONG> lists, boxes, buttons;
      for (int id : {IDC_DO_START_CHANNEL, IDC_DO_START_LEVEL, IDC_DO_SHUTDOWN_CHANNEL, IDC_DO_SHUTDOWN_LEVEL})
        lists.insert(At(page, id).left);
      for (HWND box : OfKind(page, IsGroupBox))
        boxes.insert(hostwin::Placement(box).left * 10000 + hostwin::Placement(box).right);
      for (int id : {IDC_DO_START_ENABLE, IDC_DO_SHUTDOWN_ENABLE}) buttons.insert(At(page, id).left);
      EXPECT_EQ(std::vector<size_t>({lists.size(), boxes.size(), buttons.size()}), std::vector<size_t>({1, 1, 1}))
          << "lists, group boxes and check boxes each on one edge";
      EXPECT_EQ(*buttons.begin(), *lefts.begin()) << "the check boxes on the labels' edge";
      break;
    }
  }
}

TEST_F(AppletLayoutTest, EveryPageHasItsOwnMnemonicsNamesAndGrid) {
  for (uint32_t model : {24u, 22u}) {
    StartOver("model " + std::to_string(model));
    Load(model);
    OpenDialog([](HWND dialog) {
      for (HWND page : hostwin::Children(dialog)) {
        if (!hostwin::TemplateId(page)) continue;
        ExpectKeysAndNames(dialog, page);
        ExpectGrid(page);
      }
    }, IDCANCEL);
  }
}

}  // namespace
}  // namespace applettest
