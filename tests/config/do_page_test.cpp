// The DO start/shutdown page: its lists, what the user's changes do, and
// what OK stores in the "DO" key and hands to the library.
#include "applet_fixture.h"

namespace applettest {
namespace {

using AppletDoPageTest = AppletTest;

// The start output's stored values load as the driver reads them, shown in
// lists that are usable only while the trigger is on; OK with the trigger
// off keeps the stored channel and level, while the library still gets the
// values in memory. The board has four DO channels; the DO key holds a
// shutdown output on DO2, off.
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
      {"edited with the trigger off", 1, 2, 1, true, true, 2, 0, 0, 2, 1},
  };
  for (const auto &c : cases) {
    StartOver(c.what);
    Configured(0, MakeBoard(16, 4, 0x00));
    const std::pair<const char *, uint32_t> values[] = {
        {"DO_Trigger_Start", c.trigger}, {"DO_Trigger_Shutdown", 0}, {"DO_Channel_Start", c.channel},
        {"DO_Channel_Shutdown", 2},      {"DO_Level_Start", c.level}, {"DO_Level_Shutdown", 1}};
    for (const auto &[name, value] : values) PutDword(kDoKey, name, value);
    Load();
    OnPage(IDD_DO_PAGE, [&](HWND page) {
      EXPECT_EQ(Checked(page, IDC_DO_START_ENABLE), c.checked);
      EXPECT_EQ(Selection(page, IDC_DO_START_CHANNEL), c.channelShown);
      EXPECT_EQ(Selection(page, IDC_DO_START_LEVEL), c.levelShown);
      EXPECT_EQ(Selection(page, IDC_DO_SHUTDOWN_CHANNEL), 2) << "the shutdown output's channel";
      for (int list : {IDC_DO_START_CHANNEL, IDC_DO_START_LEVEL})
        EXPECT_EQ(bool(IsWindowEnabled(Item(page, list))), c.checked) << list;
      EXPECT_FALSE(IsWindowEnabled(Item(page, IDC_DO_SHUTDOWN_CHANNEL))) << "the shutdown output is off";
      if (!c.edited) return;
      Set(GetParent(page), {{IDD_DO_PAGE, IDC_DO_START_CHANNEL, 3}, {IDD_DO_PAGE, IDC_DO_START_LEVEL, 1},
                            {IDD_DO_PAGE, IDC_DO_START_ENABLE, 0}});  // Low on DO3, then off again
      EXPECT_FALSE(IsWindowEnabled(Item(page, IDC_DO_START_LEVEL)));
    });
    EXPECT_EQ(Dword(kDoKey, "DO_Trigger_Start"), c.triggerSaved);
    EXPECT_EQ(Dword(kDoKey, "DO_Channel_Start"), c.channelSaved);
    EXPECT_EQ(Dword(kDoKey, "DO_Level_Start"), c.levelSaved);
    if (c.edited) {
      EXPECT_EQ(LibrarySince(diolib::Calls().size() - 3),
                (std::vector<std::string>{"DeviceOpen(0) = 0", "DOSysConfig(0 0 3 2 0 1) = 0", "DeviceClose = 0"}));
    }
  }
}

TEST_F(AppletDoPageTest, MissingOrMalformedValuesLeaveTheirFieldsAlone) {
  Configured(0, MakeBoard(16, 4, 0x00));
  // What a first run that ended with OK and both triggers off leaves, plus
  // a channel of the wrong size.
  PutDword(kDoKey, "DO_Trigger_Start", 0);
  PutDword(kDoKey, "DO_Trigger_Shutdown", 1);
  PutRaw(kDoKey, "DO_Channel_Shutdown", REG_BINARY, {3, 0});
  Load();
  OnPage(IDD_DO_PAGE, [](HWND page) {
    EXPECT_TRUE(Checked(page, IDC_DO_SHUTDOWN_ENABLE));
    EXPECT_EQ(Selection(page, IDC_DO_SHUTDOWN_CHANNEL), 0);
    EXPECT_EQ(Selection(page, IDC_DO_SHUTDOWN_LEVEL), 0) << "High, as at load";
  });
  EXPECT_EQ(Dword(kDoKey, "DO_Channel_Shutdown"), 0u);
  EXPECT_EQ(Dword(kDoKey, "DO_Level_Shutdown"), 1u);
}

}  // namespace
}  // namespace applettest
