// The two DI interrupt pages: dialog 104 (a channel list per board, enable
// and trigger edge per channel) and model 22's nine-channel dialog 106
// (enable only, the key read once when the page is made): what they show of
// the stored settings, the user's edits and what Apply and OK store.
#include "applet_fixture.h"

#include <tuple>

namespace applettest {
namespace {

class AppletInterruptPagesTest : public AppletTest {
 protected:
  // A configured applet on a board of `model` with DI interrupts; model 24
  // reports `channels` DI interrupt channels.
  void ConfiguredWith(uint32_t model, BYTE channels) {
    diolib::Board board = MakeBoard(16, 0, 0x40);
    board.info = DIO_INFO{16, channels, 0, 0, 0, 0, 1, 0};
    Configured(model, board);
  }
};

bool Nine(HWND page) { return hostwin::TemplateId(page) == IDD_INTERRUPT9_PAGE; }
int ListOf(HWND page) { return Nine(page) ? IDC_INT9_CHANNEL : IDC_INT_CHANNEL; }

// What a page shows of one channel: "DI3 on rising", "DI1 off falling", on
// the nine-channel page "DI4 on".
std::string Shown(HWND page) {
  LRESULT channel = Selection(page, ListOf(page));
  std::string out = channel < 0 ? "none" : hostwin::Items(Item(page, ListOf(page)))[size_t(channel)];
  out += Checked(page, Nine(page) ? IDC_INT9_ENABLE : IDC_INT_ENABLE) ? " on" : " off";
  if (Nine(page)) return out;
  bool rising = Checked(page, IDC_INT_RISING), falling = Checked(page, IDC_INT_FALLING);
  return out + (rising && !falling ? " rising" : falling && !rising ? " falling" : " no edge");
}

void Choose(HWND page, int channel) { ASSERT_TRUE(hostwin::ChooseItem(Item(page, ListOf(page)), channel)); }

// Each channel in turn, chosen with the mouse.
std::vector<std::string> EveryChannel(HWND page) {
  std::vector<std::string> out;
  for (size_t n = 0; n < hostwin::Items(Item(page, ListOf(page))).size(); ++n) {
    Choose(page, int(n));
    out.push_back(Shown(page));
  }
  return out;
}

void ClickOn(HWND page, int button, std::initializer_list<int> channels) {
  for (int channel : channels) {
    Choose(page, channel);
    ASSERT_TRUE(hostwin::Click(Item(page, button)));
  }
}

std::vector<std::string> Names(int count) {
  std::vector<std::string> names;
  for (int n = 0; n < count; ++n) names.push_back("DI" + std::to_string(n));
  return names;
}

// "+" for each of the nine channels stored as enabled, "-" as disabled.
std::string StoredNine() {
  std::string out;
  for (int n = 0; n < 9; ++n) {
    std::string text = Text(kInterruptKey, "DI" + std::to_string(n) + "_Control");
    out += text == "Enable" ? "+" : text == "Disable" ? "-" : "?";
  }
  return out;
}

// Model 24 lists its own channels, as far as the tables reach, the others
// DI0 and DI1; OK stores the channels listed. A case: the model, the
// channels DeviceDIOInfo reports (model 24 only), the list.
TEST_F(AppletInterruptPagesTest, TheChannelListFollowsTheModelAndItsChannelCount) {
  const std::tuple<const char *, uint32_t, BYTE, std::vector<std::string>> cases[] = {
      {"model 24, one channel", 24, 1, Names(1)},
      {"model 24, 40 channels: only the sixteen the tables hold", 24, 40, Names(16)},
      {"model 0: always two", 0, 9, Names(2)},
      {"model 24 without channels, first run", 24, 0, {}},
  };
  for (const auto &[what, model, channels, items] : cases) {
    StartOver(what);
    ConfiguredWith(model, channels);
    if (items.empty()) hostreg::DeleteKey(hostreg::Find(kCounterKey));  // a first run
    Load();
    OnPage(IDD_INTERRUPT_PAGE, [&, &items = items](HWND page) {
      EXPECT_EQ(hostwin::Items(Item(page, IDC_INT_CHANNEL)), items);
      // Channel 0 as at load; without channels, the buttons as the template made them.
      EXPECT_EQ(Shown(page), items.empty() ? "none off no edge" : "DI0 on rising");
      if (items.empty()) return;
      Choose(page, int(items.size()) - 1);
      EXPECT_EQ(Shown(page), items.back() + (items.size() == 1 ? " on rising" : " off falling"));
    });
    EXPECT_TRUE(hostreg::Find(kInterruptKey)) << "the key is made";
    EXPECT_EQ(WritesSince(0, "Interrupt").size(), 2 * items.size()) << "OK stores the channels listed, no more";
  }
}

// The stored settings load and show per channel; the user's edits of every
// channel last across channel changes, and OK stores them in channel order.
// A stored channel beyond the board's is never read or written.
TEST_F(AppletInterruptPagesTest, ChannelsLoadShowKeepEditsAndSaveInChannelOrder) {
  ConfiguredWith(24, 5);
  const char *stored[][2] = {{"Disable", "Rising"}, {"Enable", "Falling"}, {"Enable", "Rising"},
                             {"Disable", "Falling"}, {"Enable", "Rising"},  {"Enable", "Rising"}};
  for (int n = 0; n < 6; ++n) {
    PutText(kInterruptKey, "DI" + std::to_string(n) + "_Control", stored[n][0]);
    PutText(kInterruptKey, "DI" + std::to_string(n) + "_TriggerEdge", stored[n][1]);
  }
  Load();
  size_t mark = hostwin::RegistryWrites().size();
  OnPage(IDD_INTERRUPT_PAGE, [](HWND page) {
    EXPECT_EQ(EveryChannel(page), (std::vector<std::string>{"DI0 off rising", "DI1 on falling", "DI2 on rising",
                                                            "DI3 off falling", "DI4 on rising"}));
    ClickOn(page, IDC_INT_ENABLE, {0, 1});  // DI0 on, DI1 off
    ClickOn(page, IDC_INT_FALLING, {2});    // DI2 falling, still on
    ClickOn(page, IDC_INT_RISING, {3});     // DI3 off: the edge stays usable
    EXPECT_EQ(EveryChannel(page), (std::vector<std::string>{"DI0 on rising", "DI1 off falling", "DI2 on falling",
                                                            "DI3 off rising", "DI4 on rising"}));
  });
  EXPECT_EQ(WritesSince(mark, "Interrupt"), (std::vector<std::string>{
                           "Interrupt\\DI0_Control=Enable",  "Interrupt\\DI0_TriggerEdge=Rising",
                           "Interrupt\\DI1_Control=Disable", "Interrupt\\DI1_TriggerEdge=Falling",
                           "Interrupt\\DI2_Control=Enable",  "Interrupt\\DI2_TriggerEdge=Falling",
                           "Interrupt\\DI3_Control=Disable", "Interrupt\\DI3_TriggerEdge=Rising",
                           "Interrupt\\DI4_Control=Enable",  "Interrupt\\DI4_TriggerEdge=Rising"}));
}

// On a first run the page shows all nine channels enabled, without trigger
// edges, keeps an edit across channel changes, and Apply and OK store the
// edits of every channel. The page reads the key when it is made, not at a
// change of channel; the next dialog of the load reads it again, without
// the edit Cancel dropped, on the channel shown last.
TEST_F(AppletInterruptPagesTest, TheNineChannelPageStoresTheEditsOfEveryChannelAndReadsTheKeyWhenMade) {
  Load(22);
  OpenDialog([](HWND dialog) {
    HWND page = Page(dialog, IDD_INTERRUPT9_PAGE);
    EXPECT_EQ(EveryChannel(page), (std::vector<std::string>{"DI0 on", "DI1 on", "DI2 on", "DI3 on", "DI4 on",
                                                            "DI5 on", "DI6 on", "DI7 on", "DI8 on"}));
    for (int hidden : {IDC_INT9_EDGE_LABEL, IDC_INT9_RISING, IDC_INT9_FALLING})
      EXPECT_FALSE(IsWindowVisible(Item(page, hidden))) << "no trigger edges: " << hidden;
    ClickOn(page, IDC_INT9_ENABLE, {2, 8, 5});
    Choose(page, 2);
    EXPECT_EQ(Shown(page), "DI2 off") << "the edit of DI2 is kept in memory";
    ASSERT_TRUE(hostwin::Click(Item(dialog, IDC_APPLY)));
    EXPECT_EQ(StoredNine(), "++-++-++-");
    ClickOn(page, IDC_INT9_ENABLE, {5, 0});
    ASSERT_TRUE(hostwin::Click(Item(dialog, IDOK)));
  });
  EXPECT_EQ(StoredNine(), "-+-+++++-");
  OnPage(
      IDD_INTERRUPT9_PAGE,
      [](HWND page) {
        PutText(kInterruptKey, "DI4_Control", "Disable");  // another program, while the dialog is open
        Choose(page, 4);
        EXPECT_EQ(Shown(page), "DI4 on");
        ClickOn(page, IDC_INT9_ENABLE, {1});
      },
      IDCANCEL);
  EXPECT_EQ(StoredNine(), "-+-+-+++-");
  OnPage(
      IDD_INTERRUPT9_PAGE,
      [](HWND page) {
        EXPECT_EQ(Shown(page), "DI1 on");
        Choose(page, 4);
        EXPECT_EQ(Shown(page), "DI4 off");
      },
      IDCANCEL);
}

}  // namespace
}  // namespace applettest
