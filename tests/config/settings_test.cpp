// The counter and interrupt settings: how stored texts load and what the
// next OK writes back.
#include "applet_fixture.h"

namespace applettest {
namespace {

using AppletSettingsTest = AppletTest;

struct StoredCase {
  const char *what;
  const std::string &key;
  const char *value;
  std::string stored;
  uint32_t type;  // REG_NONE: no value
  const char *saved;  // what OK writes back
  bool terminated = true;
};

// Every text setting of the "Interrupt" and "Counter" keys is read by
// comparing the whole stored text, case and all, with one word; anything
// else is the other choice. A value that cannot be read (too long for the
// buffer) or is not there leaves the setting as it was when the applet
// loaded.
TEST_F(AppletSettingsTest, StoredTextsCountOnlyAsTheirExactWords) {
  const StoredCase cases[] = {
      {"Enable without its terminator", kInterruptKey, "DI1_Control", "Enable", REG_SZ, "Enable", false},
      {"another letter case", kInterruptKey, "DI1_Control", "enable", REG_SZ, "Disable"},
      {"Enable and more", kInterruptKey, "DI1_Control", "Enabled", REG_SZ, "Disable"},
      {"an empty text", kInterruptKey, "DI1_Control", "", REG_SZ, "Disable", false},
      {"another type", kInterruptKey, "DI1_Control", "Enable", REG_BINARY, "Disable"},
      {"too long to read", kInterruptKey, "DI1_Control", std::string(300, 'E'), REG_SZ, "Disable"},
      {"no value: DI0 as at load", kInterruptKey, "DI0_TriggerEdge", "", REG_NONE, "Rising"},
      {"no value: DI1 as at load", kInterruptKey, "DI1_TriggerEdge", "", REG_NONE, "Falling"},
      {"gate: Internal and more", kCounterKey, "CounterA_GateControl", "Internals", REG_SZ, "DI"},
      {"output: another case", kCounterKey, "CounterA_Output", "register", REG_SZ, "DO"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    Configured(0);
    for (int n = 0; n < 2; ++n) PutText(kInterruptKey, "DI" + std::to_string(n) + "_Control", "Disable");
    if (c.type != REG_NONE) PutText(c.key, c.value, c.stored, c.terminated, c.type);
    Load();
    OpenDialog({}, IDOK);
    EXPECT_EQ(Text(c.key, c.value), c.saved);
  }
}

void EnableStartOutput(HWND dialog) {
  ASSERT_TRUE(hostwin::Click(Item(ShowPage(dialog, IDD_DO_PAGE), IDC_DO_START_ENABLE)));
}

size_t StartOutputsApplied() {
  size_t applied = 0;
  for (const auto &call : diolib::Calls()) applied += call.function == "DOSysConfig" && call.config.TriggerStart == 1;
  return applied;
}

// A standard user, and an administrator whose Control Panel runs
// unelevated, may read the driver's service key but not change it. The load
// stays silent; the user declines to open the applet elevated. Each Apply
// or OK that cannot store says so once, and the DO settings still reach the
// board; the refused OK leaves the dialog open with the edits on screen.
TEST_F(AppletSettingsTest, ARefusedSaveIsReportedAndKeepsTheDialogWithItsEdits) {
  InstallDriver(0);
  diolib::Configure(MakeBoard(16, 4, 0x02));
  PutText(kCounterKey, "TimeBase", "3");
  PutDword(kDoKey, "DO_Trigger_Start", 0);
  hostwin::RunAs(hostwin::Rights::StandardUser);
  Load();
  hostwin::WhenMessageBoxAsks(IDNO);
  HWND shown = nullptr;
  OpenDialog([&](HWND dialog) {
    shown = dialog;
    EnableStartOutput(dialog);
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDC_APPLY)));
    EXPECT_EQ(hostwin::MessageBoxes().size(), 2u) << "one message for Apply";
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
    EXPECT_TRUE(Checked(Page(dialog, IDD_DO_PAGE), IDC_DO_START_ENABLE)) << "with the edit on screen";
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL))) << "a refused OK keeps the dialog";
  });
  const auto &boxes = hostwin::MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  for (size_t i = 1; i < boxes.size(); ++i) {
    EXPECT_EQ(boxes[i].owner, shown);
    EXPECT_EQ(boxes[i].caption, "ZEPDIO driver Configuration");
    EXPECT_EQ(boxes[i].type, UINT(MB_OK | MB_ICONWARNING));
    for (const char *part : {"not stored", "administrator rights", "The DO settings did reach the board",
                             "Your changes stay in the dialog"})
      EXPECT_NE(boxes[i].text.find(part), std::string::npos) << boxes[i].text;
  }
  EXPECT_EQ(StartOutputsApplied(), 2u) << "Apply and OK each hand the DO settings to the board";
}

struct PartCase {
  const char *what;
  std::vector<std::pair<std::string, LSTATUS>> refusing;  // keys whose writes fail, and how
  const char *named;                                      // the message's words for the first refusal
  bool doStored;
};

// A save refused for some keys only: the other keys are still stored, the
// DO settings still reach the board, and the one message names the first
// refusal, in the order Interrupt, Counter, DO.
TEST_F(AppletSettingsTest, ASaveRefusedForSomeKeysOnlyNamesTheFirstRefusal) {
  const PartCase cases[] = {
      {"the Counter key", {{kCounterKey, ERROR_ACCESS_DENIED}}, "needs administrator rights", true},
      {"the Counter key deleted meanwhile, then the DO key",
       {{kCounterKey, ERROR_KEY_DELETED}, {kDoKey, ERROR_ACCESS_DENIED}}, "(error 1018)", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    Configured(0, MakeBoard(16, 4, 0x02));
    Load();
    for (const auto &[key, status] : c.refusing) hostwin::RefuseWrites(key, status);
    OpenDialog([&](HWND dialog) {
      EnableStartOutput(dialog);
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL))) << "a refused OK keeps the dialog";
    });
    ASSERT_EQ(hostwin::MessageBoxes().size(), 1u);
    EXPECT_NE(hostwin::MessageBoxes()[0].text.find(c.named), std::string::npos) << hostwin::MessageBoxes()[0].text;
    EXPECT_FALSE(Has(kCounterKey, "CounterA_CLKSource"));
    EXPECT_EQ(Dword(kDoKey, "DO_Trigger_Start"), c.doStored ? 1u : 0u);
    EXPECT_EQ(StartOutputsApplied(), 1u);
  }
}

}  // namespace
}  // namespace applettest
