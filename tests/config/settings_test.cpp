// The counter and interrupt settings: how stored texts load and what the
// next OK writes back.
#include "applet_fixture.h"

namespace applettest {
namespace {

class AppletSettingsTest : public AppletTest {
 protected:
  void PressOk() { OpenDialog({}, IDOK); }
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
// buffer) or is not there leaves the setting as it was when the applet
// loaded.
TEST_F(AppletSettingsTest, StoredTextsCountOnlyAsTheirExactWords) {
  const StoredCase cases[] = {
      {"Enable", 0, kInterruptKey, "DI1_Control", Wide("Enable"), REG_SZ, "Enable"},
      {"Enable without its terminator", 0, kInterruptKey, "DI1_Control", Wide("Enable", false), REG_SZ, "Enable"},
      {"another letter case", 0, kInterruptKey, "DI1_Control", Wide("enable"), REG_SZ, "Disable"},
      {"Enable and more", 0, kInterruptKey, "DI1_Control", Wide("Enabled"), REG_SZ, "Disable"},
      {"an empty text", 0, kInterruptKey, "DI1_Control", {}, REG_SZ, "Disable"},
      {"another type", 0, kInterruptKey, "DI1_Control", Wide("Enable"), REG_BINARY, "Disable"},
      {"too long to read", 0, kInterruptKey, "DI1_Control", Wide(std::string(300, 'E')), REG_SZ, "Disable"},
      {"no value: DI0 as at load", 0, kInterruptKey, "DI0_TriggerEdge", {}, REG_NONE, "Rising"},
      {"no value: DI1 as at load", 0, kInterruptKey, "DI1_TriggerEdge", {}, REG_NONE, "Falling"},
      {"Rising in capitals", 0, kInterruptKey, "DI1_TriggerEdge", Wide("RISING"), REG_SZ, "Falling"},
      {"nine channels: another case", 22, kInterruptKey, "DI4_Control", Wide("ENABLE"), REG_SZ, "Disable"},
      {"clock: Internal unterminated", 0, kCounterKey, "CounterB_CLKSource", Wide("Internal", false), REG_SZ,
       "Internal"},
      {"gate: Internal and more", 0, kCounterKey, "CounterA_GateControl", Wide("Internals"), REG_SZ, "DI"},
      {"output: another case", 0, kCounterKey, "CounterA_Output", Wide("register"), REG_SZ, "DO"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    InstallDriver(c.model);
    PutText(kCounterKey, "TimeBase", "0");
    for (int n = 0; n < 9; ++n) PutText(kInterruptKey, "DI" + std::to_string(n) + "_Control", "Disable");
    if (c.type != REG_NONE) PutRaw(c.key, c.value, c.type, c.stored);
    Load();
    PressOk();
    EXPECT_EQ(Text(c.key, c.value), c.saved);
  }
}

// The DO settings as a user enables the start output on the DO page.
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
  EXPECT_TRUE(hostwin::MessageBoxes().empty()) << "the load says nothing";
  hostwin::WhenMessageBoxAsks(IDNO);
  HWND shown = nullptr;
  OpenDialog([&](HWND dialog) {
    shown = dialog;
    EXPECT_EQ(hostwin::MessageBoxes().size(), 1u) << "the offer to open the applet elevated";
    EnableStartOutput(dialog);
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDC_APPLY)));
    EXPECT_EQ(hostwin::MessageBoxes().size(), 2u) << "one message for Apply";
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
    EXPECT_TRUE(IsWindowVisible(dialog)) << "a refused OK keeps the dialog";
    EXPECT_TRUE(Checked(Page(dialog, IDD_DO_PAGE), IDC_DO_START_ENABLE)) << "with the edit on screen";
    EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL)));
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
  EXPECT_FALSE(Has(kDoKey, "DO_Channel_Start"));
  EXPECT_FALSE(hostreg::Find(kInterruptKey)) << "no key made without the rights";
  EXPECT_EQ(Text(kCounterKey, "TimeBase"), "3");
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
      EXPECT_TRUE(IsWindowVisible(dialog)) << "a refused OK keeps the dialog";
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL)));
    });
    ASSERT_EQ(hostwin::MessageBoxes().size(), 1u);
    EXPECT_NE(hostwin::MessageBoxes()[0].text.find(c.named), std::string::npos) << hostwin::MessageBoxes()[0].text;
    EXPECT_TRUE(Has(kInterruptKey, "DI1_Control"));
    EXPECT_FALSE(Has(kCounterKey, "CounterA_CLKSource"));
    EXPECT_EQ(Dword(kDoKey, "DO_Trigger_Start"), c.doStored ? 1u : 0u);
    EXPECT_EQ(StartOutputsApplied(), 1u);
  }
}

}  // namespace
}  // namespace applettest
