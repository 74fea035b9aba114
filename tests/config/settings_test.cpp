// The counter and interrupt settings: how stored texts load and what the
// next OK writes back.
#include "applet_fixture.h"

namespace applettest {
namespace {

class AppletSettingsTest : public AppletTest {
 protected:
  void PressOk() {
    OpenDialog([](HWND dialog) { EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK))); });
  }
};

struct TextCase {
  const char *what;
  std::vector<uint8_t> stored;  // UTF-16 bytes as kept in the registry
  uint32_t type;
  const char *savedControl;  // what OK writes back for DI1_Control
};

std::vector<uint8_t> Wide(const std::string &text, bool terminated) {
  std::vector<uint8_t> bytes;
  for (char c : text) bytes.insert(bytes.end(), {uint8_t(c), 0});
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

TEST_F(AppletSettingsTest, InterruptTextsCountOnlyWhenTheyAreExactlyEnable) {
  std::vector<uint8_t> longText = Wide(std::string(300, 'E'), true);
  const TextCase cases[] = {
      {"Enable", Wide("Enable", true), REG_SZ, "Enable"},
      {"Enable without its terminator", Wide("Enable", false), REG_SZ, "Enable"},
      {"a different letter case", Wide("enable", true), REG_SZ, "Disable"},
      {"Enable and more", Wide("Enabled", true), REG_SZ, "Disable"},
      {"an empty text", {}, REG_SZ, "Disable"},
      {"another type", Wide("Enable", true), REG_BINARY, "Disable"},
      // Too long for the buffer: cannot be read, so channel 1 keeps the
      // value it has when the applet loads (disabled).
      {"too long to read", longText, REG_SZ, "Disable"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    hostwin::ResetDesktop();
    diolib::Reset();
    hostreg::Reset();
    InstallDriver(0);
    PutText(kCounterKey, "TimeBase", "0");
    PutText(kInterruptKey, "DI0_Control", "Disable");
    PutRaw(kInterruptKey, "DI1_Control", c.type, c.stored);
    Load();
    PressOk();
    EXPECT_EQ(Text(kInterruptKey, "DI0_Control"), "Disable");
    EXPECT_EQ(Text(kInterruptKey, "DI1_Control"), c.savedControl);
    Unload();
  }
}

TEST_F(AppletSettingsTest, AMissingValueKeepsTheChannelAsItWas) {
  InstallDriver(0);
  PutText(kCounterKey, "TimeBase", "0");
  PutText(kInterruptKey, "DI0_TriggerEdge", "Falling");  // DI0_Control and DI1_* missing
  Load();
  PressOk();
  EXPECT_EQ(Text(kInterruptKey, "DI0_Control"), "Enable");
  EXPECT_EQ(Text(kInterruptKey, "DI0_TriggerEdge"), "Falling");
  EXPECT_EQ(Text(kInterruptKey, "DI1_Control"), "Disable");
  EXPECT_EQ(Text(kInterruptKey, "DI1_TriggerEdge"), "Falling");
}

TEST_F(AppletSettingsTest, MoreThanSixteenInterruptChannelsAreTreatedAsSixteen) {
  InstallDriver(24);
  diolib::Board board;
  board.info.diInterruptCount = 200;
  diolib::Configure(board);
  Load();  // first run: defaults
  auto names = ValueNames(kInterruptKey);
  ASSERT_EQ(names.size(), 32u);
  EXPECT_EQ(names.back(), "DI15_TriggerEdge");
  for (int n = 0; n < 16; ++n) PutText(kInterruptKey, "DI" + std::to_string(n) + "_Control", "Disable");
  PutText(kInterruptKey, "DI16_Control", "Enable");
  Unload();
  Load();
  PressOk();
  EXPECT_EQ(ValueNames(kInterruptKey).size(), 33u) << "nothing written past channel 15";
  EXPECT_EQ(Text(kInterruptKey, "DI15_Control"), "Disable");
  EXPECT_EQ(Text(kInterruptKey, "DI16_Control"), "Enable");
}

TEST_F(AppletSettingsTest, ABoardWithoutInterruptChannelsWritesNoInterruptValues) {
  InstallDriver(24);
  diolib::Board board;
  board.info.diInterruptCount = 0;
  diolib::Configure(board);
  Load();
  PressOk();
  EXPECT_TRUE(ValueNames(kInterruptKey).empty());
  EXPECT_TRUE(hostreg::Find(kInterruptKey)) << "the key is still made";
}

TEST_F(AppletSettingsTest, TimeBaseIsReadAsANumberAndWrittenBack) {
  // The applet reads a text into 260 bytes: one that fills them all, stored
  // without a terminator, is read as its first 259 characters.
  const std::string wholeBuffer(260, '9');
  const struct {
    std::string stored;
    bool terminated;
    const char *saved;
  } cases[] = {
      {"2", true, "2"},   {" 3", true, "3"},   {"\t-1x", true, "-1"}, {"x7", true, "0"},
      {"", true, "0"},    {"7", true, "7"},    {"+12", true, "12"},   {"99999999999", true, "2147483647"},
      {"-99999999999", true, "-2147483648"}, {"12", false, "12"},
      {wholeBuffer, false, "2147483647"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("TimeBase \"" + c.stored + (c.terminated ? "\"" : "\" without a terminator"));
    StartOver();
    InstallDriver(0);
    PutText(kCounterKey, "TimeBase", c.stored, c.terminated);
    Load();
    PressOk();
    EXPECT_EQ(Text(kCounterKey, "TimeBase"), c.saved);
  }
}

TEST_F(AppletSettingsTest, CounterChoicesLoadOnlyFromTheirExactInternalWords) {
  InstallDriver(0);
  PutText(kCounterKey, "CounterA_CLKSource", "External");
  PutText(kCounterKey, "CounterA_GateControl", "Internal");
  PutText(kCounterKey, "CounterA_Output", "register");
  PutText(kCounterKey, "CounterB_CLKSource", "Internal", false);
  PutText(kCounterKey, "CounterB_GateControl", "DI");
  // CounterB_Output missing: stays the register.
  Load();
  size_t mark = hostwin::RegistryWrites().size();
  PressOk();
  std::vector<std::string> counter;
  for (const auto &line : WritesSince(mark))
    if (line.rfind("Counter\\", 0) == 0) counter.push_back(line);
  EXPECT_EQ(counter, (std::vector<std::string>{
                         "Counter\\CounterA_CLKSource=External", "Counter\\CounterA_GateControl=Internal",
                         "Counter\\CounterA_Output=DO", "Counter\\CounterB_CLKSource=Internal",
                         "Counter\\CounterB_GateControl=DI", "Counter\\CounterB_Output=Register",
                         "Counter\\TimeBase=0"}));
  EXPECT_EQ(Text(kCounterKey, "CounterB_GateControl"), "DI");
}

struct RightsCase {
  const char *what;
  hostwin::Rights rights;
  bool configured;  // the keys of an earlier, elevated run exist
  size_t boxes;     // after Apply and OK
};

// On a standard account, and for an administrator whose Control Panel runs
// unelevated, the driver's service key opens for reading only. The load
// stays silent; each OK or Apply that cannot store says so once, and the DO
// settings still reach the board.
TEST_F(AppletSettingsTest, ARefusedSaveIsReportedOnceAndTheBoardStillGetsTheDoSettings) {
  const RightsCase cases[] = {
      {"standard user, configured before", hostwin::Rights::StandardUser, true, 2},
      {"standard user, first run", hostwin::Rights::StandardUser, false, 2},
      {"elevated administrator", hostwin::Rights::ElevatedAdministrator, true, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    InstallDriver(0);
    diolib::Configure(MakeBoard(16, 4, 0x02));
    if (c.configured) {
      PutText(kCounterKey, "TimeBase", "3");
      PutDword(kDoKey, "DO_Trigger_Start", 0);
    }
    hostwin::RunAs(c.rights);
    Load();
    EXPECT_TRUE(hostwin::MessageBoxes().empty()) << "the load says nothing";
    HWND shown = nullptr;
    OpenDialog([&](HWND dialog) {
      shown = dialog;
      ASSERT_TRUE(hostwin::ClickTab(Item(dialog, IDC_TAB), 2));
      ASSERT_TRUE(hostwin::Click(Item(Page(dialog, IDD_DO_PAGE), IDC_DO_START_ENABLE)));
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDC_APPLY)));
      EXPECT_EQ(hostwin::MessageBoxes().size(), c.boxes / 2) << "one message for Apply";
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
    });
    const auto &boxes = hostwin::MessageBoxes();
    ASSERT_EQ(boxes.size(), c.boxes);
    for (const auto &box : boxes) {
      EXPECT_EQ(box.owner, shown);
      EXPECT_EQ(box.caption, "ZEPDIO driver Configuration");
      EXPECT_EQ(box.type, UINT(MB_OK | MB_ICONWARNING));
      EXPECT_NE(box.text.find("not stored"), std::string::npos) << box.text;
      EXPECT_NE(box.text.find("administrator rights"), std::string::npos) << box.text;
    }
    bool stored = c.rights == hostwin::Rights::ElevatedAdministrator;
    EXPECT_EQ(Has(kDoKey, "DO_Channel_Start"), stored);
    EXPECT_EQ(bool(hostreg::Find(kInterruptKey)), stored) << "no key made without the rights";
    if (c.configured) {
      EXPECT_EQ(Text(kCounterKey, "TimeBase"), "3");
    }
    size_t applied = 0;
    for (const auto &call : diolib::Calls())
      if (call.function == "DOSysConfig" && call.config.TriggerStart == 1) ++applied;
    EXPECT_EQ(applied, 2u) << "Apply and OK each hand the DO settings to the board";
  }
}

}  // namespace
}  // namespace applettest
