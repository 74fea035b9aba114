// The DO start/shutdown page: its lists, what the user's changes do, and
// what OK stores in the "DO" key and hands to the library.
#include "applet_fixture.h"

namespace applettest {
namespace {

class AppletDoPageTest : public AppletTest {
 protected:
  // A configured applet (a "Counter" key) on a board with four DO channels.
  void Configured(uint32_t deviceType) {
    InstallDriver(deviceType);
    PutText(kCounterKey, "TimeBase", "0");
    diolib::Configure(MakeBoard(16, 4, 0x00));
  }
  void StoreDo(uint32_t triggerStart, uint32_t channelStart, uint32_t levelStart) {
    PutDword(kDoKey, "DO_Trigger_Start", triggerStart);
    PutDword(kDoKey, "DO_Trigger_Shutdown", 0);
    PutDword(kDoKey, "DO_Channel_Start", channelStart);
    PutDword(kDoKey, "DO_Channel_Shutdown", 0);
    PutDword(kDoKey, "DO_Level_Start", levelStart);
    PutDword(kDoKey, "DO_Level_Shutdown", 1);
  }
  // Opens the dialog on the DO tab and hands its page to `user`; OK after.
  void OnDoPage(std::function<void(HWND page)> user) {
    OpenDialog([&](HWND dialog) {
      ASSERT_EQ(Tabs(dialog).back(), "DO");
      ASSERT_TRUE(hostwin::ClickTab(Item(dialog, IDC_TAB), int(Tabs(dialog).size()) - 1));
      user(Page(dialog, IDD_DO_PAGE));
    }, IDOK);
  }
  DIO_DO_CONFIG Applied() {
    for (auto it = diolib::Calls().rbegin(); it != diolib::Calls().rend(); ++it)
      if (it->function == "DOSysConfig") return it->config;
    ADD_FAILURE() << "DOSysConfig was not called";
    return DIO_DO_CONFIG{};
  }
};

TEST_F(AppletDoPageTest, ModelsTwoAndThreeListEightChannelsTheOthersFour) {
  const std::vector<std::string> four = {"DO0", "DO1", "DO2", "DO3"};
  const std::vector<std::string> eight = {"DO0", "DO1", "DO2", "DO3", "DO4", "DO5", "DO6", "DO7"};
  const std::pair<uint32_t, std::vector<std::string>> cases[] = {{2, eight}, {3, eight}, {1, four},
                                                                  {4, four}, {24, four}, {0, four}};
  for (const auto &c : cases) {
    SCOPED_TRACE("model " + std::to_string(c.first));
    StartOver();
    InstallDriver(c.first);
    diolib::Board board = MakeBoard(16, 16, 0x00);  // the list does not follow doCount
    board.info.doCount = 16;
    diolib::Configure(board);
    Load();
    OnDoPage([&](HWND page) {
      EXPECT_EQ(hostwin::Items(Item(page, IDC_DO_START_CHANNEL)), c.second);
      EXPECT_EQ(hostwin::Items(Item(page, IDC_DO_SHUTDOWN_CHANNEL)), c.second);
      EXPECT_EQ(hostwin::Items(Item(page, IDC_DO_START_LEVEL)), (std::vector<std::string>{"High", "Low"}));
      EXPECT_EQ(hostwin::Items(Item(page, IDC_DO_SHUTDOWN_LEVEL)), (std::vector<std::string>{"High", "Low"}));
    });
    EXPECT_EQ(ValueNames(kDoKey), (std::vector<std::string>{"DO_Trigger_Start", "DO_Trigger_Shutdown"}))
        << "a first run ended with OK stores only the triggers";
  }
}

TEST_F(AppletDoPageTest, ATriggerThatIsOffDisablesItsListsUntilItIsChecked) {
  Configured(0);
  StoreDo(0, 1, 0);
  Load();
  OnDoPage([](HWND page) {
    EXPECT_EQ(SendDlgItemMessageA(page, IDC_DO_START_ENABLE, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_FALSE(IsWindowEnabled(Item(page, IDC_DO_START_CHANNEL)));
    EXPECT_FALSE(IsWindowEnabled(Item(page, IDC_DO_START_LEVEL)));
    EXPECT_FALSE(hostwin::ChooseItem(Item(page, IDC_DO_START_CHANNEL), 2)) << "a disabled list takes no clicks";
    // The stored channel and level are shown even while disabled.
    EXPECT_EQ(SendDlgItemMessageA(page, IDC_DO_START_CHANNEL, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(SendDlgItemMessageA(page, IDC_DO_START_LEVEL, CB_GETCURSEL, 0, 0), 1);
    EXPECT_TRUE(IsWindowEnabled(Item(page, IDC_DO_SHUTDOWN_ENABLE)));

    ASSERT_TRUE(hostwin::Click(Item(page, IDC_DO_START_ENABLE)));
    EXPECT_TRUE(IsWindowEnabled(Item(page, IDC_DO_START_CHANNEL)));
    EXPECT_TRUE(IsWindowEnabled(Item(page, IDC_DO_START_LEVEL)));
    EXPECT_FALSE(IsWindowEnabled(Item(page, IDC_DO_SHUTDOWN_CHANNEL)));
    EXPECT_TRUE(hostwin::ChooseItem(Item(page, IDC_DO_START_CHANNEL), 3));
  });
  EXPECT_EQ(Dword(kDoKey, "DO_Trigger_Start"), 1u);
  EXPECT_EQ(Dword(kDoKey, "DO_Channel_Start"), 3u);
  EXPECT_EQ(Dword(kDoKey, "DO_Level_Start"), 0u);
  DIO_DO_CONFIG applied = Applied();
  EXPECT_EQ(applied.TriggerStart, 1u);
  EXPECT_EQ(applied.ChannelStart, 3u);
}

// The start output's stored values load as the driver reads them; OK with
// the trigger off keeps the stored channel and level, while the library
// still gets the values in memory.
TEST_F(AppletDoPageTest, StoredValuesLoadAsTheDriverAndThePageAgree) {
  struct Case {
    const char *what;
    uint32_t trigger, channel, level;
    bool edited;  // Low on DO3 chosen, then the trigger switched off
    bool checked;
    LRESULT channelShown, levelShown;
    uint32_t triggerSaved, channelSaved, levelSaved;
  };
  const Case cases[] = {
      {"a trigger of 2 is off", 2, 1, 1, false, false, 1, 0, 0, 1, 1},
      {"a channel beyond the list is kept", 1, 5, 1, false, true, CB_ERR, 0, 1, 5, 1},
      {"a level of 2 is Low", 1, 0, 2, false, true, 0, 1, 1, 0, 0},
      {"Low", 1, 3, 0, false, true, 3, 1, 1, 3, 0},
      {"edited with the trigger off", 1, 2, 1, true, true, 2, 0, 0, 2, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    Configured(0);
    StoreDo(c.trigger, c.channel, c.level);
    Load();
    OnDoPage([&](HWND page) {
      EXPECT_EQ(SendDlgItemMessageA(page, IDC_DO_START_ENABLE, BM_GETCHECK, 0, 0), c.checked ? 1 : 0);
      EXPECT_EQ(SendDlgItemMessageA(page, IDC_DO_START_CHANNEL, CB_GETCURSEL, 0, 0), c.channelShown);
      EXPECT_EQ(SendDlgItemMessageA(page, IDC_DO_START_LEVEL, CB_GETCURSEL, 0, 0), c.levelShown);
      if (!c.edited) return;
      ASSERT_TRUE(hostwin::ChooseItem(Item(page, IDC_DO_START_CHANNEL), 3));
      ASSERT_TRUE(hostwin::ChooseItem(Item(page, IDC_DO_START_LEVEL), 1));
      ASSERT_TRUE(hostwin::Click(Item(page, IDC_DO_START_ENABLE)));  // off again
    });
    EXPECT_EQ(Dword(kDoKey, "DO_Trigger_Start"), c.triggerSaved);
    EXPECT_EQ(Dword(kDoKey, "DO_Channel_Start"), c.channelSaved);
    EXPECT_EQ(Dword(kDoKey, "DO_Level_Start"), c.levelSaved);
    if (c.edited) {
      const DIO_DO_CONFIG applied = Applied();
      EXPECT_EQ(std::vector<ULONG>({applied.TriggerStart, applied.ChannelStart, applied.LevelStart}),
                std::vector<ULONG>({0, 3, 0}));
      EXPECT_EQ(LibraryCalls().back(), "DeviceClose");
    }
  }
}

TEST_F(AppletDoPageTest, MissingOrMalformedValuesLeaveTheirFieldsAlone) {
  Configured(0);
  // What a first run that ended with OK and both triggers off leaves, plus
  // a channel of the wrong size.
  PutDword(kDoKey, "DO_Trigger_Start", 0);
  PutDword(kDoKey, "DO_Trigger_Shutdown", 1);
  PutRaw(kDoKey, "DO_Channel_Shutdown", REG_BINARY, {3, 0});
  Load();
  OnDoPage([](HWND page) {
    EXPECT_EQ(SendDlgItemMessageA(page, IDC_DO_SHUTDOWN_ENABLE, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendDlgItemMessageA(page, IDC_DO_SHUTDOWN_CHANNEL, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageA(page, IDC_DO_SHUTDOWN_LEVEL, CB_GETCURSEL, 0, 0), 0) << "High, as at load";
  });
  EXPECT_EQ(Dword(kDoKey, "DO_Channel_Shutdown"), 0u);
  EXPECT_EQ(Dword(kDoKey, "DO_Level_Shutdown"), 1u);
}

}  // namespace
}  // namespace applettest
