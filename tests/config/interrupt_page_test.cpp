// The DI interrupt page (dialog 104): its channel list per board, what it
// shows of the stored settings, the user's edits and what OK stores.
#include "applet_fixture.h"

namespace applettest {
namespace {

class AppletInterruptPageTest : public AppletTest {
 protected:
  // A configured applet on a board of `model` with DI interrupts; model 24
  // reports `channels` DI interrupt channels.
  void ConfiguredWith(uint32_t model, BYTE channels) {
    diolib::Board board = MakeBoard(16, 0, 0x40);
    board.info = DIO_INFO{16, channels, 0, 0, 0, 0, 1, 0};
    Configured(model, board);
  }
  void Store(int channel, const std::string &control, const std::string &edge) {
    PutText(kInterruptKey, "DI" + std::to_string(channel) + "_Control", control);
    PutText(kInterruptKey, "DI" + std::to_string(channel) + "_TriggerEdge", edge);
  }
  void OnInterruptPage(std::function<void(HWND page)> user, int close = IDOK) {
    OnPage("Interrupt", IDD_INTERRUPT_PAGE, std::move(user), close);
  }
};

// What the page shows of one channel: "DI3 on rising", "DI1 off falling".
std::string Shown(HWND page) {
  LRESULT channel = Selection(page, IDC_INT_CHANNEL);
  std::string out = channel < 0 ? "none" : hostwin::Items(Item(page, IDC_INT_CHANNEL))[size_t(channel)];
  out += Checked(page, IDC_INT_ENABLE) ? " on" : " off";
  bool rising = Checked(page, IDC_INT_RISING), falling = Checked(page, IDC_INT_FALLING);
  out += rising && !falling ? " rising" : falling && !rising ? " falling" : " no edge";
  return out;
}

// Each channel in turn, chosen with the mouse.
std::vector<std::string> EveryChannel(HWND page) {
  std::vector<std::string> out;
  HWND list = Item(page, IDC_INT_CHANNEL);
  for (size_t n = 0; n < hostwin::Items(list).size(); ++n) {
    EXPECT_TRUE(hostwin::ChooseItem(list, int(n)));
    out.push_back(Shown(page));
  }
  return out;
}

std::vector<std::string> Names(int first, int count) {
  std::vector<std::string> names;
  for (int n = first; n < first + count; ++n) names.push_back("DI" + std::to_string(n));
  return names;
}

struct ListCase {
  const char *what;
  uint32_t model;
  BYTE channels;  // as DeviceDIOInfo reports them (model 24 only)
  std::vector<std::string> items;
};

TEST_F(AppletInterruptPageTest, TheChannelListFollowsTheModelAndItsChannelCount) {
  const ListCase cases[] = {
      {"model 24, one channel", 24, 1, Names(0, 1)},
      {"model 24, sixteen channels", 24, 16, Names(0, 16)},
      {"model 24, 40 channels: only the sixteen the tables hold", 24, 40, Names(0, 16)},
      {"model 0: always two", 0, 9, Names(0, 2)},
      {"model 24 without channels, first run", 24, 0, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    ConfiguredWith(c.model, c.channels);
    if (c.items.empty()) hostreg::DeleteKey(hostreg::Find(kCounterKey));  // a first run
    Load();
    OnInterruptPage([&](HWND page) {
      EXPECT_EQ(hostwin::Items(Item(page, IDC_INT_CHANNEL)), c.items);
      if (c.items.empty()) {
        EXPECT_EQ(Shown(page), "none off no edge") << "the buttons as the template made them";
        return;
      }
      EXPECT_EQ(Shown(page), "DI0 on rising") << "channel 0 as at load";
      EXPECT_TRUE(hostwin::ChooseItem(Item(page, IDC_INT_CHANNEL), int(c.items.size()) - 1));
      EXPECT_EQ(Shown(page), c.items.back() + (c.items.size() == 1 ? " on rising" : " off falling"));
    });
    if (c.items.empty()) {
      EXPECT_TRUE(ValueNames(kInterruptKey).empty()) << "OK stores nothing";
      EXPECT_TRUE(hostreg::Find(kInterruptKey)) << "the key is still made";
    }
  }
}

// The stored settings load and show per channel; the user's edits of every
// channel last across channel changes, and OK stores them in channel order.
TEST_F(AppletInterruptPageTest, ChannelsLoadShowKeepEditsAndSaveInChannelOrder) {
  ConfiguredWith(24, 5);
  Store(0, "Disable", "Rising");
  Store(1, "Enable", "Falling");
  Store(2, "Enable", "Rising");
  Store(3, "Disable", "Falling");
  Store(4, "Enable", "Rising");
  Store(5, "Enable", "Rising");  // beyond the board's channels: never read or written
  Load();
  size_t mark = hostwin::RegistryWrites().size();
  OnInterruptPage([](HWND page) {
    EXPECT_EQ(EveryChannel(page), (std::vector<std::string>{"DI0 off rising", "DI1 on falling", "DI2 on rising",
                                                            "DI3 off falling", "DI4 on rising"}));
    HWND list = Item(page, IDC_INT_CHANNEL);
    ASSERT_TRUE(hostwin::ChooseItem(list, 0));
    ASSERT_TRUE(hostwin::Click(Item(page, IDC_INT_ENABLE)));  // DI0 on
    ASSERT_TRUE(hostwin::ChooseItem(list, 1));
    ASSERT_TRUE(hostwin::Click(Item(page, IDC_INT_ENABLE)));  // DI1 off
    ASSERT_TRUE(hostwin::ChooseItem(list, 2));
    ASSERT_TRUE(hostwin::Click(Item(page, IDC_INT_FALLING)));  // DI2 falling, still on
    ASSERT_TRUE(hostwin::ChooseItem(list, 3));
    ASSERT_TRUE(hostwin::Click(Item(page, IDC_INT_RISING)));  // DI3 off: the edge stays usable
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

TEST_F(AppletInterruptPageTest, TheChannelShownAndUnsavedEditsLastForTheLoad) {
  ConfiguredWith(24, 5);
  for (int n = 0; n < 5; ++n) Store(n, "Enable", "Rising");
  Load();
  OnInterruptPage(
      [](HWND page) {
        ASSERT_TRUE(hostwin::ChooseItem(Item(page, IDC_INT_CHANNEL), 3));
        ASSERT_TRUE(hostwin::Click(Item(page, IDC_INT_FALLING)));
      },
      IDCANCEL);
  EXPECT_EQ(Text(kInterruptKey, "DI3_TriggerEdge"), "Rising") << "Cancel stores nothing";
  // The next dialog of the same load opens on DI3, with its edit.
  OnInterruptPage([](HWND page) { EXPECT_EQ(Shown(page), "DI3 on falling"); }, IDCANCEL);
  // A new load starts on DI0 with the stored values.
  Unload();
  Load();
  OnInterruptPage(
      [](HWND page) {
        EXPECT_EQ(Shown(page), "DI0 on rising");
        ASSERT_TRUE(hostwin::ChooseItem(Item(page, IDC_INT_CHANNEL), 3));
        EXPECT_EQ(Shown(page), "DI3 on rising");
      },
      IDCANCEL);
}

}  // namespace
}  // namespace applettest
