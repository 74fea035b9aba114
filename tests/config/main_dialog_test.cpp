// The main dialog: which tabs and pages a board gets, switching between
// them, and what OK, Apply and Cancel do.
#include "applet_fixture.h"

#include <uxtheme.h>

#include <algorithm>

namespace applettest {
namespace {

class AppletMainDialogTest : public AppletTest {};

// The tab control's display area in the dialog's client coordinates.
RECT DisplayArea(HWND dialog) {
  HWND tab = Item(dialog, IDC_TAB);
  RECT area = hostwin::Placement(tab);
  SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  return area;
}

void ExpectInside(HWND page, const RECT &area) {
  SCOPED_TRACE("page " + std::to_string(hostwin::TemplateId(page)));
  RECT at = hostwin::Placement(page);
  EXPECT_GE(at.left, area.left);
  EXPECT_GE(at.top, area.top);
  EXPECT_LE(at.right, area.right);
  EXPECT_LE(at.bottom, area.bottom);
}

struct TabCase {
  const char *what;
  uint32_t deviceType;
  DWORD featureFlags;
  DWORD doCount;
  std::vector<std::string> tabs;
  std::vector<int> pages;  // template of the page behind each tab
};

TEST_F(AppletMainDialogTest, TabsFollowTheBoardModelAndFeatureFlags) {
  const TabCase cases[] = {
      {"no functions, no DO channels", 0, 0x00, 0, {"Function"}, {108}},
      {"counters and three DO channels", 0, 0x02, 3, {"Function", "Counter", "DO"}, {108, 105, 107}},
      {"interrupts only", 1, 0x40, 0, {"Function", "Interrupt"}, {108, 104}},
      {"everything", 2, 0xFF, 8, {"Function", "Interrupt", "Counter", "DO"}, {108, 104, 105, 107}},
      {"DO only, unused bits", 3, 0x81, 1, {"Function", "DO"}, {108, 107}},
      {"model 22: one nine-channel page", 22, 0xFF, 8, {"Interrupt"}, {106}},
      {"first byte above 127 is the default model", 0x96, 0x02, 3, {"Function", "Counter", "DO"}, {108, 105, 107}},
      {"model 24", 24, 0xFF, 8, {"Function", "Interrupt", "Counter", "DO"}, {108, 104, 105, 107}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    Load(c.deviceType, MakeBoard(16, c.doCount, c.featureFlags));
    OpenDialog([&](HWND dialog) {
      EXPECT_EQ(hostwin::Text(dialog), "ZEPDIO driver Configuration");
      EXPECT_EQ(Tabs(dialog), c.tabs);
      HWND tab = Item(dialog, IDC_TAB);
      EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), 0);
      std::vector<HWND> pages;
      for (int id : c.pages) {
        pages.push_back(Page(dialog, id));
        ASSERT_NE(pages.back(), nullptr) << "page " << id;
      }
      // No other page was made.
      size_t made = 0;
      for (HWND child : hostwin::Children(dialog)) made += hostwin::TemplateId(child) != 0;
      EXPECT_EQ(made, c.pages.size());
      // The pages follow the tab control in the Z order, in tab order.
      std::vector<HWND> order = hostwin::Children(dialog);
      auto first = std::find(order.begin(), order.end(), tab);
      ASSERT_NE(first, order.end());
      EXPECT_EQ(std::vector<HWND>(first + 1, first + 1 + long(pages.size())), pages);
      // Dialog 101's tab control, 151 x 138 dialog units at (0, 1), shows its
      // pages in (4, 24) to (223, 222).
      RECT area = DisplayArea(dialog);
      EXPECT_EQ(std::vector<LONG>({area.left, area.top, area.right, area.bottom}), std::vector<LONG>({4, 24, 223, 222}));
      for (size_t i = 0; i < pages.size(); ++i) {
        TCITEMA item = {};
        item.mask = TCIF_PARAM;
        SendMessageA(tab, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(reinterpret_cast<HWND>(item.lParam), pages[i]) << "tab " << i;
        ExpectInside(pages[i], area);
        EXPECT_EQ(IsWindowVisible(pages[i]), i == 0) << "page " << c.pages[i];
      }
      // Clicking each tab in turn shows its page alone.
      for (size_t i = 1; i < pages.size(); ++i) {
        EXPECT_TRUE(hostwin::ClickTab(tab, int(i)));
        for (size_t j = 0; j < pages.size(); ++j)
          EXPECT_EQ(IsWindowVisible(pages[j]), j == i) << "after tab " << i << ", page " << c.pages[j];
      }
    }, IDCANCEL);
  }
}

// Pages sit at (7, 18) dialog units where they fit the tab control's display
// area, otherwise as close to it as fits: pages 107 and 108 are too wide
// for x = 7, and 108 too high for y = 18. In dialog units the offset grows
// with the dialog; each page is drawn with the tab control's background.
TEST_F(AppletMainDialogTest, PagesArePlacedInDialogUnitsAtEveryScale) {
  struct Case {
    int dpi;
    RECT area;                           // the display area
    std::vector<std::pair<int, POINT>> pages;  // where each page lies
  };
  const Case cases[] = {
      {96, {4, 24, 223, 222}, {{108, {5, 27}}, {104, {11, 29}}, {105, {11, 29}}, {107, {5, 29}}}},
      {144, {4, 32, 336, 344}, {{108, {10, 44}}, {104, {16, 45}}, {105, {16, 45}}, {107, {10, 45}}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.dpi) + " dots per inch");
    StartOver();
    hostwin::SetScreenDpi(c.dpi);
    Load(24);
    OpenDialog([&](HWND dialog) {
      RECT area = DisplayArea(dialog);
      EXPECT_EQ(std::vector<LONG>({area.left, area.top, area.right, area.bottom}),
                std::vector<LONG>({c.area.left, c.area.top, c.area.right, c.area.bottom}));
      for (const auto &[id, at] : c.pages) {
        HWND page = Page(dialog, id);
        ExpectInside(page, area);
        RECT placed = hostwin::Placement(page);
        EXPECT_EQ(std::make_pair(placed.left, placed.top), std::make_pair(at.x, at.y)) << "page " << id;
        EXPECT_EQ(hostwin::DialogTexture(page), DWORD(ETDT_ENABLETAB)) << "page " << id;
      }
    }, IDCANCEL);
  }
}

TEST_F(AppletMainDialogTest, SwitchingTabsHidesTheOldPageBeforeShowingTheNew) {
  Load(0, MakeBoard(16, 3, 0x02));
  OpenDialog([&](HWND dialog) {
    HWND support = Page(dialog, IDD_SUPPORT_PAGE), counter = Page(dialog, IDD_COUNTER_PAGE);
    hostwin::ClearMessages();
    ASSERT_TRUE(hostwin::ClickTab(Item(dialog, IDC_TAB), 1));
    ASSERT_TRUE(hostwin::ClickTab(Item(dialog, IDC_TAB), 1));  // the current tab: nothing
    struct Expected {
      HWND window;
      UINT message;
      WPARAM wParam;
      UINT code;
    };
    const Expected expected[] = {
        {dialog, WM_NOTIFY, IDC_TAB, TCN_SELCHANGING},
        {support, WM_SHOWWINDOW, FALSE, 0},
        {dialog, WM_NOTIFY, IDC_TAB, TCN_SELCHANGE},
        {counter, WM_SHOWWINDOW, TRUE, 0},
    };
    const auto &got = hostwin::Messages();
    ASSERT_EQ(got.size(), std::size(expected));
    for (size_t i = 0; i < got.size(); ++i) {
      SCOPED_TRACE(hostwin::Describe(got[i]));
      EXPECT_EQ(got[i].window, expected[i].window);
      EXPECT_EQ(got[i].message, expected[i].message);
      EXPECT_EQ(got[i].wParam, expected[i].wParam);
      EXPECT_EQ(got[i].code, expected[i].code);
    }
  }, IDOK);
}

// Apply and OK save every key the board has, even without its page, and
// hand the DO settings to the board; model 22 has nine channels without
// edges, and no counters.
TEST_F(AppletMainDialogTest, OkSavesEveryKeyAndAppliesDoEvenWithoutThosePages) {
  const std::vector<std::string> kDo = {"DO\\DO_Trigger_Start=0", "DO\\DO_Trigger_Shutdown=0"};
  const std::vector<std::string> kApplied = {"DeviceOpen(0) = 0", "DOSysConfig(0 0 0 0 1 1) = 0", "DeviceClose = 0"};
  std::vector<std::string> nine;
  for (int n = 0; n < 9; ++n) nine.push_back("Interrupt\\DI" + std::to_string(n) + "_Control=Enable");
  nine.insert(nine.end(), kDo.begin(), kDo.end());
  struct Case {
    uint32_t model;
    diolib::Board board;
    int saves;  // Apply, then OK, or OK alone
    std::vector<std::string> written;  // at each save
  };
  const Case cases[] = {
      {0, MakeBoard(16, 0, 0x00), 1,
       {"Interrupt\\DI0_Control=Enable", "Interrupt\\DI0_TriggerEdge=Rising", "Interrupt\\DI1_Control=Disable",
        "Interrupt\\DI1_TriggerEdge=Falling", "Counter\\CounterA_CLKSource=Internal",
        "Counter\\CounterA_GateControl=Internal", "Counter\\CounterA_Output=Register",
        "Counter\\CounterB_CLKSource=Internal", "Counter\\CounterB_GateControl=Internal",
        "Counter\\CounterB_Output=Register", "Counter\\TimeBase=0", kDo[0], kDo[1]}},
      {22, diolib::Board(), 2, nine},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("model " + std::to_string(c.model));
    StartOver();
    Load(c.model, c.board);
    size_t mark = hostwin::RegistryWrites().size(), calls = diolib::Calls().size();
    OpenDialog([&](HWND dialog) {
      if (c.saves == 2) {
        EXPECT_TRUE(hostwin::Click(Item(dialog, IDC_APPLY)));
      }
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
      EXPECT_FALSE(IsWindowVisible(dialog));
    });
    std::vector<std::string> written, applied, library;
    for (int n = 0; n < c.saves; ++n) {
      written.insert(written.end(), c.written.begin(), c.written.end());
      applied.insert(applied.end(), kApplied.begin(), kApplied.end());
    }
    EXPECT_EQ(WritesSince(mark), written);
    for (size_t i = calls; i < diolib::Calls().size(); ++i) library.push_back(diolib::Describe(diolib::Calls()[i]));
    EXPECT_EQ(library, applied);
  }
}

TEST_F(AppletMainDialogTest, ApplyThenCancelKeepsWhatApplyWrote) {
  Load(0, MakeBoard(16, 4, 0x00));
  OpenDialog([](HWND dialog) {
    HWND page = Page(dialog, IDD_DO_PAGE);
    ASSERT_TRUE(hostwin::ClickTab(Item(dialog, IDC_TAB), 1));
    ASSERT_TRUE(hostwin::Click(Item(page, IDC_DO_START_ENABLE)));
    ASSERT_TRUE(hostwin::ChooseItem(Item(page, IDC_DO_START_CHANNEL), 2));
    const size_t calls = diolib::Calls().size();
    ASSERT_TRUE(hostwin::Click(Item(dialog, IDC_APPLY)));
    EXPECT_TRUE(IsWindowVisible(dialog)) << "Apply leaves the dialog open";
    std::vector<std::string> library;
    for (size_t i = calls; i < diolib::Calls().size(); ++i)
      library.push_back(diolib::Describe(diolib::Calls()[i]));
    EXPECT_EQ(library, (std::vector<std::string>{"DeviceOpen(0) = 0", "DOSysConfig(1 0 2 0 1 1) = 0",
                                                 "DeviceClose = 0"}))
        << "Apply hands the DO settings to the board at once";
    ASSERT_TRUE(hostwin::ChooseItem(Item(page, IDC_DO_START_CHANNEL), 3));
    ASSERT_TRUE(hostwin::Click(Item(dialog, IDCANCEL)));
  });
  EXPECT_EQ(Dword(kDoKey, "DO_Trigger_Start"), 1u);
  EXPECT_EQ(Dword(kDoKey, "DO_Channel_Start"), 2u);
  EXPECT_EQ(Dword(kDoKey, "DO_Level_Start"), 1u);

  // Cancel undid nothing in memory: the dialog opened again in the same load
  // shows channel 3, and the next load shows what Apply stored.
  OpenDialog([](HWND dialog) {
    HWND list = Item(Page(dialog, IDD_DO_PAGE), IDC_DO_START_CHANNEL);
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 3);
  }, IDCANCEL);
  Unload();
  Load();
  OpenDialog([](HWND dialog) {
    HWND list = Item(Page(dialog, IDD_DO_PAGE), IDC_DO_START_CHANNEL);
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 2);
  }, IDCANCEL);
}

void Press(UINT key, int times = 1, bool shift = false) {
  for (int i = 0; i < times; ++i) ASSERT_TRUE(hostwin::PressKey(key, shift));
}

// The keyboard alone: the tab strip has the focus when the dialog opens, the
// arrows change the tab, Tab goes from the strip into the page shown, and
// Enter is OK.
TEST_F(AppletMainDialogTest, TheKeyboardAloneReachesEveryPageAndOk) {
  Load(24);
  OpenDialog([](HWND dialog) {
    HWND tab = Item(dialog, IDC_TAB);
    HWND interrupt = Page(dialog, IDD_INTERRUPT_PAGE), counter = Page(dialog, IDD_COUNTER_PAGE);
    HWND doPage = Page(dialog, IDD_DO_PAGE);
    EXPECT_EQ(GetFocus(), tab);
    Press(VK_RIGHT);
    EXPECT_TRUE(IsWindowVisible(interrupt));
    Press(VK_TAB);
    ASSERT_EQ(GetFocus(), Item(interrupt, IDC_INT_CHANNEL)) << "the page comes before the buttons";
    Press(VK_DOWN, 2);  // DI2: disabled, falling edge
    Press(VK_TAB);
    EXPECT_EQ(GetFocus(), Item(interrupt, IDC_INT_ENABLE));
    Press(VK_SPACE);
    Press(VK_TAB);
    EXPECT_EQ(GetFocus(), Item(interrupt, IDC_INT_FALLING)) << "the checked radio button is the tab stop";
    Press(VK_UP);
    EXPECT_TRUE(Checked(interrupt, IDC_INT_RISING));
    Press(VK_TAB, 3, true);
    ASSERT_EQ(GetFocus(), tab);

    Press(VK_RIGHT);
    EXPECT_TRUE(IsWindowVisible(counter));
    Press(VK_TAB);
    Press(VK_DOWN);  // Counter B
    Press(VK_TAB, 2);
    EXPECT_EQ(GetFocus(), Item(counter, IDC_CNT_GATE_INTERNAL));
    Press(VK_DOWN);  // the gate's DI line
    EXPECT_TRUE(Checked(counter, IDC_CNT_GATE_LINE));
    EXPECT_FALSE(Checked(counter, IDC_CNT_GATE_INTERNAL));
    Press(VK_TAB, 2);
    EXPECT_EQ(GetFocus(), Item(counter, IDC_CNT_FREQUENCY));
    Press(VK_DOWN, 2);  // 1K Hz
    Press(VK_TAB, 5, true);
    ASSERT_EQ(GetFocus(), tab);

    Press(VK_RIGHT);
    EXPECT_TRUE(IsWindowVisible(doPage));
    Press(VK_TAB);
    Press(VK_SPACE);  // start output on
    Press(VK_TAB);
    EXPECT_EQ(GetFocus(), Item(doPage, IDC_DO_START_CHANNEL));
    Press(VK_DOWN);  // DO1
    Press(VK_RETURN);
    EXPECT_FALSE(IsWindowVisible(dialog)) << "Enter is OK";
  });
  EXPECT_EQ(Text(kInterruptKey, "DI2_Control"), "Enable");
  EXPECT_EQ(Text(kInterruptKey, "DI2_TriggerEdge"), "Rising");
  EXPECT_EQ(Text(kCounterKey, "CounterB_GateControl"), "DI");
  EXPECT_EQ(Text(kCounterKey, "CounterA_GateControl"), "Internal");
  EXPECT_EQ(Text(kCounterKey, "TimeBase"), "2");
  EXPECT_EQ(Dword(kDoKey, "DO_Trigger_Start"), 1u);
  EXPECT_EQ(Dword(kDoKey, "DO_Channel_Start"), 1u);
  EXPECT_EQ(diolib::Describe(diolib::Calls()[diolib::Calls().size() - 2]), "DOSysConfig(1 0 1 0 1 1) = 0");
}

struct ListCase {
  int tab;
  int page;
  int list;
  bool emptyChoiceIgnored;  // a change notification without a selection changes nothing either
};

// Every list of every page: setting its selection sends nothing, and the
// notifications other than CBN_SELCHANGE are not looked at; on the counter
// page not even CBN_SELCHANGE while the list shows nothing. The interrupt
// page's buttons act only on the channel the list shows as chosen. OK then
// stores what it stored before.
TEST_F(AppletMainDialogTest, OnlyAUsersChoiceInAListChangesASetting) {
  InstallDriver(24);
  PutText(kCounterKey, "TimeBase", "2");
  for (const char *value : {"DO_Trigger_Start", "DO_Trigger_Shutdown"}) PutDword(kDoKey, value, 1);
  Load();
  size_t mark = hostwin::RegistryWrites().size();
  OpenDialog({}, IDOK);
  std::vector<std::string> before = WritesSince(mark);
  const ListCase cases[] = {
      {1, IDD_INTERRUPT_PAGE, IDC_INT_CHANNEL, false}, {2, IDD_COUNTER_PAGE, IDC_CNT_COUNTER, true},
      {2, IDD_COUNTER_PAGE, IDC_CNT_FREQUENCY, true},  {3, IDD_DO_PAGE, IDC_DO_START_CHANNEL, false},
      {3, IDD_DO_PAGE, IDC_DO_START_LEVEL, false},     {3, IDD_DO_PAGE, IDC_DO_SHUTDOWN_CHANNEL, false},
      {3, IDD_DO_PAGE, IDC_DO_SHUTDOWN_LEVEL, false},
  };
  mark = hostwin::RegistryWrites().size();
  OpenDialog([&](HWND dialog) {
    for (const auto &c : cases) {
      SCOPED_TRACE("list " + std::to_string(c.list));
      ASSERT_TRUE(hostwin::ClickTab(Item(dialog, IDC_TAB), c.tab));
      HWND page = Page(dialog, c.page), list = Item(page, c.list);
      auto notify = [&](UINT code) {
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(c.list, code), reinterpret_cast<LPARAM>(list));
      };
      SendMessageA(list, CB_SETCURSEL, 1, 0);
      for (UINT code : {CBN_DROPDOWN, CBN_SELENDOK, CBN_CLOSEUP, CBN_SETFOCUS, CBN_KILLFOCUS}) notify(code);
      if (c.list == IDC_INT_CHANNEL) {
        ASSERT_TRUE(hostwin::Click(Item(page, IDC_INT_ENABLE)));
      }
      if (c.emptyChoiceIgnored) {
        SendMessageA(list, CB_SETCURSEL, WPARAM(-1), 0);
        notify(CBN_SELCHANGE);
      }
    }
  }, IDOK);
  EXPECT_EQ(WritesSince(mark), before);
  OpenDialog([](HWND dialog) {
    EXPECT_EQ(Selection(Page(dialog, IDD_COUNTER_PAGE), IDC_CNT_COUNTER), 0) << "still Counter A";
    EXPECT_EQ(Selection(Page(dialog, IDD_INTERRUPT_PAGE), IDC_INT_CHANNEL), 0) << "still DI0";
  }, IDCANCEL);
}

}  // namespace
}  // namespace applettest
