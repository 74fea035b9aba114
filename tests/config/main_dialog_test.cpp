// The main dialog: which tabs and pages a board gets, switching between
// them, and what OK, Apply and Cancel do.
#include "applet_fixture.h"

namespace applettest {
namespace {

class AppletMainDialogTest : public AppletTest {};

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
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    hostwin::ResetDesktop();
    diolib::Reset();
    hostreg::Reset();
    InstallDriver(c.deviceType);
    diolib::Configure(MakeBoard(16, c.doCount, c.featureFlags));
    Load();
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
      for (size_t i = 0; i < pages.size(); ++i) {
        TCITEMA item = {};
        item.mask = TCIF_PARAM;
        SendMessageA(tab, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(reinterpret_cast<HWND>(item.lParam), pages[i]) << "tab " << i;
        RECT at = hostwin::Placement(pages[i]);
        EXPECT_EQ(at.left, 10);
        EXPECT_EQ(at.top, 30);
        EXPECT_EQ(IsWindowVisible(pages[i]), i == 0) << "page " << c.pages[i];
      }
      // Clicking each tab in turn shows its page alone.
      for (size_t i = 1; i < pages.size(); ++i) {
        EXPECT_TRUE(hostwin::ClickTab(tab, int(i)));
        for (size_t j = 0; j < pages.size(); ++j)
          EXPECT_EQ(IsWindowVisible(pages[j]), j == i) << "after tab " << i << ", page " << c.pages[j];
      }
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL)));
    });
    Unload();
    EXPECT_EQ(hostwin::Outstanding(), std::vector<std::string>());
  }
}

TEST_F(AppletMainDialogTest, SwitchingTabsHidesTheOldPageBeforeShowingTheNew) {
  InstallDriver(0);
  diolib::Configure(MakeBoard(16, 3, 0x02));
  Load();
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
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
  });
}

TEST_F(AppletMainDialogTest, OkSavesEveryKeyAndAppliesDoEvenWithoutThosePages) {
  InstallDriver(0);
  diolib::Configure(MakeBoard(16, 0, 0x00));
  Load();
  size_t mark = hostwin::RegistryWrites().size();
  size_t calls = diolib::Calls().size();
  OpenDialog([](HWND dialog) {
    EXPECT_EQ(Tabs(dialog), std::vector<std::string>{"Function"});
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
    EXPECT_FALSE(IsWindowVisible(dialog));
  });
  const std::vector<std::string> expected = {
      "Interrupt\\DI0_Control=Enable",        "Interrupt\\DI0_TriggerEdge=Rising",
      "Interrupt\\DI1_Control=Disable",       "Interrupt\\DI1_TriggerEdge=Falling",
      "Counter\\CounterA_CLKSource=Internal", "Counter\\CounterA_GateControl=Internal",
      "Counter\\CounterA_Output=Register",    "Counter\\CounterB_CLKSource=Internal",
      "Counter\\CounterB_GateControl=Internal", "Counter\\CounterB_Output=Register",
      "Counter\\TimeBase=0",                  "DO\\DO_Trigger_Start=0",
      "DO\\DO_Trigger_Shutdown=0",
  };
  EXPECT_EQ(WritesSince(mark), expected);
  std::vector<std::string> library;
  for (size_t i = calls; i < diolib::Calls().size(); ++i) library.push_back(diolib::Describe(diolib::Calls()[i]));
  EXPECT_EQ(library, (std::vector<std::string>{"DeviceOpen(0) = 0", "DOSysConfig(0 0 0 0 1 1) = 0",
                                               "DeviceClose = 0"}));
}

TEST_F(AppletMainDialogTest, Model22SavesTheNineChannelsAndNoCounters) {
  InstallDriver(22);
  Load();
  size_t mark = hostwin::RegistryWrites().size();
  OpenDialog([](HWND dialog) {
    EXPECT_EQ(Tabs(dialog), std::vector<std::string>{"Interrupt"});
    EXPECT_TRUE(IsWindowVisible(Page(dialog, IDD_INTERRUPT9_PAGE)));
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDC_APPLY)));
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
  });
  std::vector<std::string> expected;
  for (int round = 0; round < 2; ++round) {
    for (int n = 0; n < 9; ++n) expected.push_back("Interrupt\\DI" + std::to_string(n) + "_Control=Enable");
    expected.push_back("DO\\DO_Trigger_Start=0");
    expected.push_back("DO\\DO_Trigger_Shutdown=0");
  }
  EXPECT_EQ(WritesSince(mark), expected);
}

TEST_F(AppletMainDialogTest, ApplyThenCancelKeepsWhatApplyWrote) {
  InstallDriver(0);
  diolib::Configure(MakeBoard(16, 4, 0x00));
  Load();
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
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL)));
  });
  Unload();
  Load();
  OpenDialog([](HWND dialog) {
    HWND list = Item(Page(dialog, IDD_DO_PAGE), IDC_DO_START_CHANNEL);
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 2);
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL)));
  });
}

}  // namespace
}  // namespace applettest
