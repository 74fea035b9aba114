// The counter page (dialog 105): the board lines its buttons name, what it
// shows of the stored settings, the user's edits and what OK stores.
#include "applet_fixture.h"

#include <tuple>

namespace applettest {
namespace {

using AppletCounterPageTest = AppletTest;

void ChooseCounter(HWND page, int counter) {
  ASSERT_TRUE(hostwin::ChooseItem(Item(page, IDC_CNT_COUNTER), counter));
}

// The three choices as the page shows them, "internal|DI4|register": the
// text of the selected button of each pair, or "?" unless exactly one is.
std::string Choices(HWND page) {
  std::string out;
  for (const auto &pair : kCounterChoices) {
    bool first = Checked(page, pair.first), second = Checked(page, pair.second);
    if (!out.empty()) out += "|";
    out += first == second ? "?" : Label(Item(page, first ? pair.first : pair.second));
  }
  return out;
}

std::string Lines(HWND page) {
  return Label(Item(page, IDC_CNT_CLOCK_LINE)) + " " + Label(Item(page, IDC_CNT_GATE_LINE)) + " " +
         Label(Item(page, IDC_CNT_OUTPUT_LINE));
}

// A model and the lines of its counters A and B. On a first run both
// counters show the internal choices.
TEST_F(AppletCounterPageTest, TheExternalButtonsNameTheBoardsLines) {
  const std::tuple<uint32_t, std::string, std::string> cases[] = {
      {1, "DI6 DI4 DO6", "DI7 DI5 DO7"}, {2, "DI6 DI4 DO6", "DI7 DI5 DO7"}, {3, "DI1 DI0 DO2", "DI3 DI2 DO3"}};
  for (const auto &[model, a, b] : cases) {
    StartOver("model " + std::to_string(model));
    Load(model, MakeBoard(16, 0, 0x02));
    OnPage(IDD_COUNTER_PAGE, [&, a = a, b = b](HWND page) {
      EXPECT_EQ(hostwin::Items(Item(page, IDC_CNT_COUNTER)), (std::vector<std::string>{"Counter A", "Counter B"}));
      EXPECT_EQ(Lines(page) + " " + Choices(page), a + " Internal clock|Internal gate|Register");
      ChooseCounter(page, 1);
      EXPECT_EQ(Lines(page) + " " + Choices(page), b + " Internal clock|Internal gate|Register");
    });
  }
}

// The stored choices show per counter; each button sets its choice for the
// counter shown only, one frequency serves both, and OK stores them in order.
TEST_F(AppletCounterPageTest, EachButtonSetsItsChoiceForTheCounterShownOnly) {
  Configured(2, MakeBoard(16, 0, 0x02));
  const char *stored[][2] = {{"CounterA_CLKSource", "External"}, {"CounterA_GateControl", "Internal"},
                             {"CounterA_Output", "Register"},    {"CounterB_CLKSource", "Internal"},
                             {"CounterB_GateControl", "DI"},     {"CounterB_Output", "Register"}};
  for (const auto &value : stored) PutText(kCounterKey, value[0], value[1]);
  Load();
  size_t mark = hostwin::RegistryWrites().size();
  OnPage(IDD_COUNTER_PAGE, [](HWND page) {
    EXPECT_EQ(Choices(page), "DI6|Internal gate|Register");
    ChooseCounter(page, 1);
    EXPECT_EQ(Choices(page), "Internal clock|DI5|Register");
    for (int button : {IDC_CNT_GATE_INTERNAL, IDC_CNT_OUTPUT_LINE}) ASSERT_TRUE(hostwin::Click(Item(page, button)));
    EXPECT_EQ(Choices(page), "Internal clock|Internal gate|DO7") << "a pair's buttons clear only each other";
    ChooseCounter(page, 0);
    for (int button : {IDC_CNT_CLOCK_INTERNAL, IDC_CNT_GATE_LINE}) ASSERT_TRUE(hostwin::Click(Item(page, button)));
    EXPECT_EQ(Choices(page), "Internal clock|DI4|Register");
    ChooseCounter(page, 1);
    EXPECT_EQ(Choices(page), "Internal clock|Internal gate|DO7") << "Counter B's edits are kept";
    ASSERT_TRUE(hostwin::ChooseItem(Item(page, IDC_CNT_FREQUENCY), 1));  // 10K Hz
    ChooseCounter(page, 0);
    EXPECT_EQ(Selection(page, IDC_CNT_FREQUENCY), 1) << "one frequency serves both counters";
  });
  EXPECT_EQ(WritesSince(mark, "Counter"),
            (std::vector<std::string>{"Counter\\CounterA_CLKSource=Internal", "Counter\\CounterA_GateControl=DI",
                                      "Counter\\CounterA_Output=Register", "Counter\\CounterB_CLKSource=Internal",
                                      "Counter\\CounterB_GateControl=Internal", "Counter\\CounterB_Output=DO",
                                      "Counter\\TimeBase=1"}));
}

// TimeBase is read as atoi reads a number, numbers beyond int stopping at
// its ends; one outside the list leaves it without a selection and is
// written back unchanged. The text is read into 260 bytes: one that fills
// them all, stored without a terminator, is read as its first 259
// characters. A case: the text stored, whether with its terminator, the
// frequency shown (its index, or CB_ERR) and the text OK writes back.
TEST_F(AppletCounterPageTest, TimeBaseTextsSelectTheirFrequency) {
  const std::tuple<std::string, bool, LRESULT, const char *> cases[] = {
      {"2", true, 2, "2"},          {" 3", true, 3, "3"},     {"x", true, 0, "0"},
      {"7", true, CB_ERR, "7"},     {"-1", true, CB_ERR, "-1"}, {"1Hz", true, 1, "1"},
      {"99999999999", true, CB_ERR, "2147483647"}, {"-99999999999", true, CB_ERR, "-2147483648"},
      {std::string(260, '9'), false, CB_ERR, "2147483647"},
  };
  for (const auto &[stored, terminated, shown, saved] : cases) {
    StartOver("TimeBase \"" + stored + (terminated ? "\"" : "\" without a terminator"));
    Configured(0, MakeBoard(16, 0, 0x02));
    PutText(kCounterKey, "TimeBase", stored, terminated);
    Load();
    OnPage(IDD_COUNTER_PAGE, [&, shown = shown](HWND page) {
      EXPECT_EQ(hostwin::Items(Item(page, IDC_CNT_FREQUENCY)),
                (std::vector<std::string>{"100K Hz", "10K Hz", "1K Hz", "100 Hz"}));
      EXPECT_EQ(Selection(page, IDC_CNT_FREQUENCY), shown);
      ChooseCounter(page, 1);
      EXPECT_EQ(Selection(page, IDC_CNT_FREQUENCY), shown) << "the same for Counter B";
    });
    EXPECT_EQ(Text(kCounterKey, "TimeBase"), saved);
  }
}

}  // namespace
}  // namespace applettest
