// The counter and interrupt settings: how stored texts load and what the
// next OK writes back.
#include "applet_fixture.h"

namespace applettest {
namespace {

class AppletSettingsTest : public AppletTest {
 protected:
  void PressOk() {
    OpenDialog({}, IDOK);
  }
};

std::vector<uint8_t> Wide(const std::string &text, bool terminated = true) {
  std::vector<uint8_t> bytes;
  for (char c : text) bytes.insert(bytes.end(), {uint8_t(c), 0});
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

struct StoredCase {
  const char *what;
  uint32_t model;  // 22: the nine-channel page reads DIn_Control
  const std::string &key;
  const char *value;
  std::vector<uint8_t> stored;  // UTF-16 bytes as kept in the registry
  uint32_t type;
  const char *saved;  // what OK writes back
};

// Every text setting of the "Interrupt" and "Counter" keys is read by
// comparing the whole stored text, case and all, with one word; anything
// else is the other choice. A value that cannot be read (too long for the
// buffer) leaves the setting as it was when the applet loaded.
TEST_F(AppletSettingsTest, StoredTextsCountOnlyAsTheirExactWords) {
  const StoredCase cases[] = {
      {"Enable", 0, kInterruptKey, "DI1_Control", Wide("Enable"), REG_SZ, "Enable"},
      {"Enable without its terminator", 0, kInterruptKey, "DI1_Control", Wide("Enable", false), REG_SZ, "Enable"},
      {"another letter case", 0, kInterruptKey, "DI1_Control", Wide("enable"), REG_SZ, "Disable"},
      {"Enable and more", 0, kInterruptKey, "DI1_Control", Wide("Enabled"), REG_SZ, "Disable"},
      {"an empty text", 0, kInterruptKey, "DI1_Control", {}, REG_SZ, "Disable"},
      {"another type", 0, kInterruptKey, "DI1_Control", Wide("Enable"), REG_BINARY, "Disable"},
      {"too long to read", 0, kInterruptKey, "DI1_Control", Wide(std::string(300, 'E')), REG_SZ, "Disable"},
      {"Rising", 0, kInterruptKey, "DI1_TriggerEdge", Wide("Rising"), REG_SZ, "Rising"},
      {"Rising in capitals", 0, kInterruptKey, "DI1_TriggerEdge", Wide("RISING"), REG_SZ, "Falling"},
      {"Rising and more", 0, kInterruptKey, "DI1_TriggerEdge", Wide("Rising."), REG_SZ, "Falling"},
      {"nine channels: Enable", 22, kInterruptKey, "DI4_Control", Wide("Enable"), REG_SZ, "Enable"},
      {"nine channels: another case", 22, kInterruptKey, "DI4_Control", Wide("ENABLE"), REG_SZ, "Disable"},
      {"nine channels: more", 22, kInterruptKey, "DI4_Control", Wide("Enable "), REG_SZ, "Disable"},
      {"clock: External", 0, kCounterKey, "CounterA_CLKSource", Wide("External"), REG_SZ, "External"},
      {"clock: Internal unterminated", 0, kCounterKey, "CounterB_CLKSource", Wide("Internal", false), REG_SZ,
       "Internal"},
      {"gate: DI", 0, kCounterKey, "CounterB_GateControl", Wide("DI"), REG_SZ, "DI"},
      {"output: another case", 0, kCounterKey, "CounterA_Output", Wide("register"), REG_SZ, "DO"},
      {"output: Register", 0, kCounterKey, "CounterB_Output", Wide("Register"), REG_SZ, "Register"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    InstallDriver(c.model);
    PutText(kCounterKey, "TimeBase", "0");
    for (int n = 0; n < 9; ++n) PutText(kInterruptKey, "DI" + std::to_string(n) + "_Control", "Disable");
    PutRaw(c.key, c.value, c.type, c.stored);
    Load();
    PressOk();
    EXPECT_EQ(Text(c.key, c.value), c.saved);
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

struct RightsCase {
  const char *what;
  hostwin::Rights rights;
  bool configured;  // the keys of an earlier, elevated run exist
};

// On a standard account, and for an administrator whose Control Panel runs
// unelevated, the driver's service key opens for reading only. The load
// stays silent; the user declines to open the applet elevated. Each Apply
// or OK that cannot store says so once, and the DO settings still reach the
// board; the refused OK leaves the dialog open with the edits on screen.
TEST_F(AppletSettingsTest, ARefusedSaveIsReportedAndKeepsTheDialogWithItsEdits) {
  const RightsCase cases[] = {
      {"standard user, configured before", hostwin::Rights::StandardUser, true},
      {"standard user, first run", hostwin::Rights::StandardUser, false},
      {"unelevated administrator", hostwin::Rights::UnelevatedAdministrator, true},
      {"elevated administrator", hostwin::Rights::ElevatedAdministrator, true},
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
    bool refused = c.rights != hostwin::Rights::ElevatedAdministrator;
    if (refused) hostwin::WhenMessageBoxAsks(IDNO);
    HWND shown = nullptr;
    OpenDialog([&](HWND dialog) {
      shown = dialog;
      size_t boxes = hostwin::MessageBoxes().size();
      EXPECT_EQ(boxes, refused ? 1u : 0u) << "the offer to open the applet elevated";
      ASSERT_TRUE(hostwin::ClickTab(Item(dialog, IDC_TAB), 2));
      HWND page = Page(dialog, IDD_DO_PAGE);
      ASSERT_TRUE(hostwin::Click(Item(page, IDC_DO_START_ENABLE)));
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDC_APPLY)));
      EXPECT_EQ(hostwin::MessageBoxes().size(), boxes + refused) << "one message for Apply";
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
      EXPECT_EQ(bool(IsWindowVisible(dialog)), refused) << "a refused OK keeps the dialog";
      if (refused) {
        EXPECT_TRUE(Checked(page, IDC_DO_START_ENABLE)) << "with the edit on screen";
        EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL)));
      }
    });
    const auto &boxes = hostwin::MessageBoxes();
    ASSERT_EQ(boxes.size(), refused ? 3u : 0u);
    for (size_t i = 1; i < boxes.size(); ++i) {
      const auto &box = boxes[i];
      EXPECT_EQ(box.owner, shown);
      EXPECT_EQ(box.caption, "ZEPDIO driver Configuration");
      EXPECT_EQ(box.type, UINT(MB_OK | MB_ICONWARNING));
      for (const char *part : {"not stored", "administrator rights", "The DO settings did reach the board",
                               "Your changes stay in the dialog"})
        EXPECT_NE(box.text.find(part), std::string::npos) << box.text;
    }
    bool stored = !refused;
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
