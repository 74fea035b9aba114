// The main dialog: which tabs and pages a board gets, where the pages lie
// and their controls, switching between them, and what OK, Apply and Cancel
// do. On each page the keyboard and assistive technology find a mnemonic
// on every label that names a control and on every button, none used twice
// where they act together (a page and the main dialog's buttons); no two
// controls of one kind on a page with one accessible name (their text; a
// list takes the name of the label before it, as a label and its list
// share it); and each page's controls on one grid. Whether each text fits
// its control is measured in the Wine run, with real fonts.
#include <strings.h>
#include <uxtheme.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <tuple>

#include "applet_fixture.h"

namespace applettest {
namespace {

using AppletMainDialogTest = AppletTest;

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

// The labels of a page start at one x; on the support page each indicator
// sits on its label's row, the rows one step apart.
void ExpectGrid(HWND page) {
  std::set<LONG> lefts;
  for (HWND label : hostwin::Children(page))
    if (IsText(label)) lefts.insert(hostwin::Placement(label).left);
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
      for (const auto &[internal, line] : kCounterChoices) {
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
      for (HWND box : hostwin::Children(page))
        if (IsGroupBox(box)) boxes.insert(hostwin::Placement(box).left * 10000 + hostwin::Placement(box).right);
      for (int id : {IDC_DO_START_ENABLE, IDC_DO_SHUTDOWN_ENABLE}) buttons.insert(At(page, id).left);
      EXPECT_EQ(std::vector<size_t>({lists.size(), boxes.size(), buttons.size()}), std::vector<size_t>({1, 1, 1}))
          << "lists, group boxes and check boxes each on one edge";
      EXPECT_EQ(*buttons.begin(), *lefts.begin()) << "the check boxes on the labels' edge";
      break;
    }
  }
}

// A page lies inside the tab control's display area, at (7, 18) dialog
// units along each axis where it fits there and against the area's far
// edge where it does not (pages 107 and 108 are too wide for x = 7, 108 too
// high for y = 18), and is drawn with the tab control's background.
void ExpectPlaced(HWND dialog, HWND page, const RECT &area) {
  RECT at = hostwin::Placement(page), origin = {7, 18, 7, 18};
  MapDialogRect(dialog, &origin);
  EXPECT_TRUE(at.left >= area.left && at.top >= area.top && at.right <= area.right && at.bottom <= area.bottom);
  EXPECT_TRUE(at.left == origin.left || at.right == area.right) << at.left;
  EXPECT_TRUE(at.top == origin.top || at.bottom == area.bottom) << at.top;
  EXPECT_EQ(hostwin::DialogTexture(page), DWORD(ETDT_ENABLETAB));
}

// The pages, and no others, follow the tab strip in the Z order in the
// order of their tabs, each laid out as above; the first is shown, and a
// click on a tab shows its page alone. The DO page's channel lists do not
// follow the board's DO count: models 2 and 3 list eight channels, the
// others four. A case: the board (model, features, DO count), the screen's
// dots per inch, the tabs, the template of the page behind each, and the
// DO channels listed.
TEST_F(AppletMainDialogTest, TabsAndPagesFollowTheBoard) {
  const std::tuple<const char *, uint32_t, DWORD, DWORD, int, std::vector<std::string>, std::vector<int>, int>
      cases[] = {
          {"counters and three DO channels", 2, 0x02, 3, 96, {"Function", "Counter", "DO"}, {108, 105, 107}, 8},
          {"interrupts only", 1, 0x40, 0, 96, {"Function", "Interrupt"}, {108, 104}, 0},
          {"DO only, unused bits", 3, 0x81, 1, 96, {"Function", "DO"}, {108, 107}, 8},
          {"model 22: one nine-channel page", 22, 0xFF, 8, 96, {"Interrupt"}, {106}, 0},
          {"model 24 at 150 %", 24, 0xFF, 8, 144, {"Function", "Interrupt", "Counter", "DO"}, {108, 104, 105, 107}, 4},
      };
  for (const auto &[what, deviceType, featureFlags, doCount, dpi, tabs, templates, doChannels] : cases) {
    StartOver(what);
    hostwin::SetScreenDpi(dpi);
    Load(deviceType, MakeBoard(16, doCount, featureFlags));
    OpenDialog([&, &tabs = tabs, &templates = templates, doChannels = doChannels](HWND dialog) {
      HWND tab = Item(dialog, IDC_TAB);
      EXPECT_EQ(hostwin::Items(tab), tabs);
      std::vector<HWND> order = hostwin::Children(dialog), pages;
      std::vector<int> made;
      for (HWND child : order)
        if (int id = hostwin::TemplateId(child)) pages.push_back(child), made.push_back(id);
      ASSERT_EQ(made, templates);
      auto first = std::find(order.begin(), order.end(), tab);
      ASSERT_NE(first, order.end());
      EXPECT_EQ(std::vector<HWND>(first + 1, first + 1 + long(pages.size())), pages);
      RECT area = hostwin::Placement(tab);
      SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
      for (size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE("page " + std::to_string(templates[i]));
        ExpectPlaced(dialog, pages[i], area);
        ExpectKeysAndNames(dialog, pages[i]);
        ExpectGrid(pages[i]);
        EXPECT_TRUE(i == 0 || hostwin::ClickTab(tab, int(i)));
        for (size_t j = 0; j < pages.size(); ++j)
          EXPECT_EQ(bool(IsWindowVisible(pages[j])), j == i) << "tab " << i << ", page " << templates[j];
      }
      if (HWND page = Page(dialog, IDD_DO_PAGE)) {
        std::vector<std::string> channels;
        for (int n = 0; n < doChannels; ++n) channels.push_back("DO" + std::to_string(n));
        for (int list : {IDC_DO_START_CHANNEL, IDC_DO_SHUTDOWN_CHANNEL})
          EXPECT_EQ(hostwin::Items(Item(page, list)), channels);
        for (int list : {IDC_DO_START_LEVEL, IDC_DO_SHUTDOWN_LEVEL})
          EXPECT_EQ(hostwin::Items(Item(page, list)), (std::vector<std::string>{"High", "Low"}));
      }
    }, IDCANCEL);
  }
}

// Apply and OK save every key the board has, even without its page, and
// hand the DO settings to the board; model 22 has nine channels without
// edges, and no counters.
TEST_F(AppletMainDialogTest, OkSavesEveryKeyAndAppliesDoEvenWithoutThosePages) {
  std::vector<std::string> nine;
  for (int n = 0; n < 9; ++n) nine.push_back("Interrupt\\DI" + std::to_string(n) + "_Control=Enable");
  const std::vector<std::string> model0 = {
      "Interrupt\\DI0_Control=Enable", "Interrupt\\DI0_TriggerEdge=Rising", "Interrupt\\DI1_Control=Disable",
      "Interrupt\\DI1_TriggerEdge=Falling", "Counter\\CounterA_CLKSource=Internal",
      "Counter\\CounterA_GateControl=Internal", "Counter\\CounterA_Output=Register",
      "Counter\\CounterB_CLKSource=Internal", "Counter\\CounterB_GateControl=Internal",
      "Counter\\CounterB_Output=Register", "Counter\\TimeBase=0"};
  for (const auto &[model, saves, written] : {std::tuple{0u, 1, model0}, std::tuple{22u, 2, nine}}) {
    StartOver("model " + std::to_string(model));
    Load(model, MakeBoard(16, 0, 0x00));
    size_t mark = hostwin::RegistryWrites().size(), calls = diolib::Calls().size();
    OpenDialog([&, saves = saves](HWND dialog) {
      EXPECT_TRUE(saves == 1 || hostwin::Click(Item(dialog, IDC_APPLY)));
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
    });
    std::vector<std::string> stored, applied;
    for (int n = 0; n < saves; ++n) {
      stored.insert(stored.end(), written.begin(), written.end());
      stored.insert(stored.end(), {"DO\\DO_Trigger_Start=0", "DO\\DO_Trigger_Shutdown=0"});
      applied.insert(applied.end(), {"DeviceOpen(0) = 0", "DOSysConfig(0 0 0 0 1 1) = 0", "DeviceClose = 0"});
    }
    EXPECT_EQ(WritesSince(mark), stored);
    EXPECT_EQ(LibrarySince(calls), applied);
  }
}

// Cancel undoes nothing in memory: the channel and the counter shown, and
// the edits Cancel left, last for the load, and the next dialog shows them
// again; a new load starts from DI0, Counter A and the stored values.
TEST_F(AppletMainDialogTest, TheChannelAndCounterShownAndTheirEditsLastForTheLoad) {
  Configured(24);
  Load();
  // The channel shown and its edge, the counter shown, its clock, the
  // frequency, and the DO start output.
  const std::vector<Setting> edits = {
      {IDD_INTERRUPT_PAGE, IDC_INT_CHANNEL, 3},   {IDD_INTERRUPT_PAGE, IDC_INT_RISING, 1},
      {IDD_COUNTER_PAGE, IDC_CNT_COUNTER, 1},     {IDD_COUNTER_PAGE, IDC_CNT_CLOCK_LINE, 1},
      {IDD_COUNTER_PAGE, IDC_CNT_FREQUENCY, 3},   {IDD_DO_PAGE, IDC_DO_START_ENABLE, 1},
      {IDD_DO_PAGE, IDC_DO_START_CHANNEL, 2}};
  OpenDialog([&](HWND dialog) { Set(dialog, edits); }, IDCANCEL);
  OpenDialog([&](HWND dialog) { EXPECT_EQ(Shown(dialog, edits), Values(edits)); }, IDCANCEL);
  Unload();
  Load();
  OpenDialog([&](HWND dialog) {
    EXPECT_EQ(Shown(dialog, edits), (std::vector<LRESULT>{0, 1, 0, 0, 0, 0, 0}));
    Set(dialog, {edits[0], edits[2]});
    EXPECT_EQ(Shown(dialog, edits), (std::vector<LRESULT>{3, 0, 1, 0, 0, 0, 0}));
  }, IDCANCEL);
}

// The keyboard alone, as in a property sheet: the tab strip has the focus
// when the dialog opens; Ctrl+Tab and Ctrl+PgDn go to the next tab,
// Ctrl+Shift+Tab and Ctrl+PgUp to the one before, round the ends, and so do
// the arrows on the strip; Tab goes from the strip into the page shown
// before the buttons; from inside a page the Ctrl keys take the focus to
// the first control of the page shown, and do not reach the controls;
// Enter is OK. On model 22's single tab they do nothing. (The Wine run goes
// through every page so.)
TEST_F(AppletMainDialogTest, TheKeyboardAloneSwitchesTabsAsInAPropertySheetAndReachesOk) {
  // A key, with Shift and Ctrl or not, and the tab shown after it.
  const std::tuple<UINT, bool, bool, int> steps[] = {
      {VK_TAB, false, true, 1},   {VK_TAB, true, true, 0},  {VK_PRIOR, false, true, 3}, {VK_NEXT, false, true, 0},
      {VK_NEXT, false, true, 1},  {VK_TAB, false, true, 2}, {VK_RIGHT, false, false, 3}, {VK_LEFT, false, false, 2},
  };
  const int pages[] = {IDD_SUPPORT_PAGE, IDD_INTERRUPT_PAGE, IDD_COUNTER_PAGE, IDD_DO_PAGE};
  Load(24);
  OpenDialog([&](HWND dialog) {
    HWND tab = Item(dialog, IDC_TAB);
    EXPECT_EQ(GetFocus(), tab);
    for (const auto &[key, shift, control, shown] : steps) {
      ASSERT_TRUE(hostwin::PressKey(key, shift, control));
      EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), shown) << key;
      EXPECT_EQ(GetFocus(), tab);
      for (int i = 0; i < 4; ++i) EXPECT_EQ(bool(IsWindowVisible(Page(dialog, pages[i]))), i == shown) << i;
    }
    ASSERT_TRUE(hostwin::PressKey(VK_TAB));
    EXPECT_EQ(GetFocus(), Item(Page(dialog, IDD_COUNTER_PAGE), IDC_CNT_COUNTER)) << "the page before the buttons";
    ASSERT_TRUE(hostwin::PressKey(VK_NEXT, false, true));
    EXPECT_EQ(GetFocus(), Item(Page(dialog, IDD_DO_PAGE), IDC_DO_START_ENABLE));
    EXPECT_EQ(Selection(Page(dialog, IDD_COUNTER_PAGE), IDC_CNT_COUNTER), 0) << "the list did not take Ctrl+PgDn";
    // The start output on, then DO1 in its channel list, then OK.
    for (UINT key : {VK_SPACE, VK_TAB, VK_DOWN, VK_RETURN}) ASSERT_TRUE(hostwin::PressKey(key)) << key;
  });
  EXPECT_EQ(diolib::Describe(diolib::Calls()[diolib::Calls().size() - 2]), "DOSysConfig(1 0 1 0 1 1) = 0");
  Unload();
  Load(22);
  OpenDialog([](HWND dialog) {
    ASSERT_TRUE(hostwin::PressKey(VK_TAB, false, true));
    EXPECT_EQ(SendMessageA(Item(dialog, IDC_TAB), TCM_GETCURSEL, 0, 0), 0);
  }, IDCANCEL);
}

// Every list of every page: setting its selection sends nothing, and the
// notifications other than CBN_SELCHANGE are not looked at; on the counter
// page not even CBN_SELCHANGE while the list shows nothing. The interrupt
// page's buttons act only on the channel the list shows as chosen. OK then
// stores what it stored before.
TEST_F(AppletMainDialogTest, OnlyAUsersChoiceInAListChangesASetting) {
  InstallDriver(24);
  PutText(kCounterKey, "TimeBase", "2");
  PutText(kInterruptKey, "DI1_Control", "Enable");
  for (const char *value : {"DO_Trigger_Start", "DO_Trigger_Shutdown"}) PutDword(kDoKey, value, 1);
  Load();
  size_t mark = hostwin::RegistryWrites().size();
  OpenDialog({}, IDOK);
  std::vector<std::string> before = WritesSince(mark);
  // A page, a list, and whether a change notification without a selection
  // changes nothing either.
  const std::tuple<int, int, bool> cases[] = {
      {IDD_INTERRUPT_PAGE, IDC_INT_CHANNEL, false}, {IDD_COUNTER_PAGE, IDC_CNT_COUNTER, true},
      {IDD_COUNTER_PAGE, IDC_CNT_FREQUENCY, true},  {IDD_DO_PAGE, IDC_DO_START_CHANNEL, false},
      {IDD_DO_PAGE, IDC_DO_START_LEVEL, false},     {IDD_DO_PAGE, IDC_DO_SHUTDOWN_CHANNEL, false},
      {IDD_DO_PAGE, IDC_DO_SHUTDOWN_LEVEL, false},
  };
  mark = hostwin::RegistryWrites().size();
  OpenDialog([&](HWND dialog) {
    for (const auto &[pageId, id, emptyChoiceIgnored] : cases) {
      SCOPED_TRACE("list " + std::to_string(id));
      HWND page = ShowPage(dialog, pageId), list = Item(page, id);
      auto notify = [&, id = id](UINT code) {
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(list));
      };
      SendMessageA(list, CB_SETCURSEL, 1, 0);
      for (UINT code : {CBN_DROPDOWN, CBN_SELENDOK, CBN_CLOSEUP, CBN_SETFOCUS, CBN_KILLFOCUS}) notify(code);
      if (id == IDC_INT_CHANNEL) {
        ASSERT_TRUE(hostwin::Click(Item(page, IDC_INT_ENABLE)));  // DI1 shown, DI0 chosen
      }
      if (emptyChoiceIgnored) {
        SendMessageA(list, CB_SETCURSEL, WPARAM(-1), 0);
        notify(CBN_SELCHANGE);
      }
    }
  }, IDOK);
  EXPECT_EQ(WritesSince(mark), before);
  OpenDialog([](HWND dialog) {
    EXPECT_EQ(Selection(Page(dialog, IDD_COUNTER_PAGE), IDC_CNT_COUNTER), 0) << "still Counter A";
  }, IDCANCEL);
}

}  // namespace
}  // namespace applettest
