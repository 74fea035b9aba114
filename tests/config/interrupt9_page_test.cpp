// The nine-channel interrupt page (dialog 106) of board model 22: it reads
// the "Interrupt" key when it is created and keeps the user's edits of every
// channel until OK or Apply stores them.
#include "applet_fixture.h"

namespace applettest {
namespace {

class AppletInterrupt9PageTest : public AppletTest {
 protected:
  // A model-22 board whose applet has been configured before: all nine
  // channels stored enabled.
  void ConfiguredNine() {
    Configured(22);
    for (int n = 0; n < 9; ++n) PutText(kInterruptKey, "DI" + std::to_string(n) + "_Control", "Enable");
  }
  void OnNineChannelPage(std::function<void(HWND page)> user, int close = IDOK) {
    OnPage("Interrupt", IDD_INTERRUPT9_PAGE, std::move(user), close);
  }
};

// "DI4 on", "DI0 off": the channel shown and its check box.
std::string Shown(HWND page) {
  LRESULT channel = Selection(page, IDC_INT9_CHANNEL);
  std::string out = channel < 0 ? "none" : hostwin::Items(Item(page, IDC_INT9_CHANNEL))[size_t(channel)];
  return out + (Checked(page, IDC_INT9_ENABLE) ? " on" : " off");
}

void Choose(HWND page, int channel) { ASSERT_TRUE(hostwin::ChooseItem(Item(page, IDC_INT9_CHANNEL), channel)); }

// Clicks "Enable Control" on each channel named, choosing it first.
void Toggle(HWND page, std::initializer_list<int> channels) {
  for (int channel : channels) {
    Choose(page, channel);
    ASSERT_TRUE(hostwin::Click(Item(page, IDC_INT9_ENABLE)));
  }
}

// "on"/"off" of the nine channels as stored.
std::string StoredNine() {
  std::string out;
  for (int n = 0; n < 9; ++n) {
    std::string text = Text(kInterruptKey, "DI" + std::to_string(n) + "_Control");
    out += text == "Enable" ? "+" : text == "Disable" ? "-" : "?";
  }
  return out;
}

TEST_F(AppletInterrupt9PageTest, ApplyAndOkStoreTheEditsOfEveryChannel) {
  ConfiguredNine();
  Load();
  size_t mark = hostwin::RegistryWrites().size();
  OpenDialog([](HWND dialog) {
    HWND page = Page(dialog, IDD_INTERRUPT9_PAGE);
    EXPECT_EQ(Shown(page), "DI0 on");
    Toggle(page, {2, 8, 5});
    Choose(page, 2);
    EXPECT_EQ(Shown(page), "DI2 off") << "the edit of DI2 is kept in memory";
    ASSERT_TRUE(hostwin::Click(Item(dialog, IDC_APPLY)));
    EXPECT_EQ(StoredNine(), "++-++-++-");
    Toggle(page, {5, 0});
    ASSERT_TRUE(hostwin::Click(Item(dialog, IDOK)));
  });
  EXPECT_EQ(StoredNine(), "-+-+++++-");
  // Nine "_Control" values in channel order, and no edges, each time.
  std::vector<std::string> interrupt, expected;
  for (const auto &line : WritesSince(mark, "Interrupt")) interrupt.push_back(line.substr(0, line.find('=')));
  for (int round = 0; round < 2; ++round)
    for (int n = 0; n < 9; ++n) expected.push_back("Interrupt\\DI" + std::to_string(n) + "_Control");
  EXPECT_EQ(interrupt, expected);
}

TEST_F(AppletInterrupt9PageTest, TheKeyIsReadWhenThePageIsMadeAndNotAgainUntilTheNextDialog) {
  ConfiguredNine();
  Load();
  OnNineChannelPage(
      [](HWND page) {
        // Another program changes the key while the dialog is open.
        PutText(kInterruptKey, "DI4_Control", "Disable");
        Choose(page, 4);
        EXPECT_EQ(Shown(page), "DI4 on");
        Toggle(page, {1});  // an edit left with Cancel
      },
      IDCANCEL);
  EXPECT_EQ(StoredNine(), "++++-++++");
  // The next dialog of the same load reads the key again: the stored DI4,
  // and DI1 without the edit that Cancel dropped.
  OnNineChannelPage(
      [](HWND page) {
        EXPECT_EQ(Shown(page), "DI1 on") << "the channel shown last";
        Choose(page, 4);
        EXPECT_EQ(Shown(page), "DI4 off");
      },
      IDCANCEL);
  // A new load starts on DI0.
  Unload();
  Load();
  OnNineChannelPage([](HWND page) { EXPECT_EQ(Shown(page), "DI0 on"); }, IDCANCEL);
}

TEST_F(AppletInterrupt9PageTest, AFirstRunShowsEveryChannelEnabledAndOkStoresAllNine) {
  Load(22);
  EXPECT_EQ(ValueNames(kInterruptKey),
            (std::vector<std::string>{"DI0_Control", "DI0_TriggerEdge", "DI1_Control", "DI1_TriggerEdge"}));
  OnNineChannelPage([](HWND page) {
    EXPECT_EQ(hostwin::Items(Item(page, IDC_INT9_CHANNEL)),
              (std::vector<std::string>{"DI0", "DI1", "DI2", "DI3", "DI4", "DI5", "DI6", "DI7", "DI8"}));
    for (int n = 0; n < 9; ++n) {
      Choose(page, n);
      EXPECT_TRUE(Checked(page, IDC_INT9_ENABLE)) << n;
      for (int hidden : {IDC_INT9_EDGE_LABEL, IDC_INT9_RISING, IDC_INT9_FALLING}) {
        EXPECT_FALSE(IsWindowVisible(Item(page, hidden))) << "no trigger edges: " << hidden;
        EXPECT_FALSE(hostwin::Click(Item(page, hidden))) << "a hidden control takes no clicks";
      }
    }
    Toggle(page, {6});
  });
  EXPECT_EQ(StoredNine(), "++++++-++");
  EXPECT_EQ(ValueNames(kInterruptKey).size(), 11u) << "the edges of the first run, and no others";
}

}  // namespace
}  // namespace applettest
