// The support function page: texts and indicators for what the board has.
#include "applet_fixture.h"

#include <algorithm>
#include <tuple>

namespace applettest {
namespace {

using AppletSupportPageTest = AppletTest;

struct SupportCase {
  const char *what;
  uint32_t deviceType;
  // Whether the library finds the board; the DI and DO counts and features
  // as GetDeviceInfor reports them (only the low bytes count); model 24's
  // description (other models never ask for it).
  diolib::Board board;
  const char *group, *di, *interrupt, *doText, *pled;
  std::vector<int> ticked;
};

// The texts, and which indicators show a tick.
TEST_F(AppletSupportPageTest, TextsAndTicksFollowTheDescription) {
  const std::vector<int> all = {1033, 1034, 1035, 1036, 1037, 1038, 1039, 1040, 1041, 1042, 1043};
  const SupportCase cases[] = {
      {"model 24 with everything", 24, {true, 0, 0, 0x7E, {16, 4, 8, 0, 4, 0, 3, 0}, {}},
       "Support Function (FPGA Version:3.00)", "DI Ports:2 (DI_0~DI_15)", "DI Interrupt (DI_0~DI_3)",
       "DO Ports:1 (DO_0~DO_7)", "Program LED (PLED0~PLED3)", all},
      {"counters, LED and buzzer", 24, {true, 0, 0, 0x16, {8, 2, 17, 0, 0, 0, 12, 0}, {}},
       "Support Function (FPGA Version:12.00)", "DI Ports:1 (DI_0~DI_7)", "DI Interrupt", "DO Ports:3 (DO_0~DO_16)",
       "Program LED", {1033, 1035, 1036, 1037, 1038, 1039, 1040, 1041}},
      {"another model: the group title and two interrupt channels", 23,
       {true, 0x101, 0x203, 0x168, {1, 1, 1, 1, 7, 1, 9, 1}, {}}, "Support Function", "DI Ports:1 (DI_0~DI_0)",
       "DI Interrupt (DI_0~DI_1)", "DO Ports:1 (DO_0~DO_2)", "Program LED (PLED0~PLED-1)",
       {1033, 1034, 1035, 1042, 1043}},
      {"no board: a board with nothing", 24, {false, 0, 0, 0, {}, {}}, "Support Function (FPGA Version:0.00)",
       "DI Ports:1 (DI_0~DI_-1)", "DI Interrupt", "DO Ports:1 (DO_0~DO_-1)", "Program LED", {1033, 1035}},
  };
  for (const auto &c : cases) {
    StartOver(c.what);
    Load(c.deviceType, c.board);
    OnPage(IDD_SUPPORT_PAGE, [&](HWND page) {
      std::vector<std::string> texts;
      for (int id : {IDC_SUP_GROUP, IDC_SUP_DI_TEXT, IDC_SUP_INTERRUPT_TEXT, IDC_SUP_DO_TEXT, IDC_SUP_PLED_TEXT,
                     IDC_SUP_COUNTER_TEXT})
        texts.push_back(hostwin::Text(Item(page, id)));
      EXPECT_EQ(texts, (std::vector<std::string>{c.group, c.di, c.interrupt, c.doText, c.pled, "Counter"}));
      std::vector<int> ticked;
      for (int id : all)
        if (Ticked(page, id)) ticked.push_back(id);
      EXPECT_EQ(ticked, c.ticked);
    }, IDCANCEL);
  }
}

// Each indicator is drawn at its control's size at every scale, every pixel
// of it painted: a mark in the middle square that grows with the scale
// (not a small bitmap stretched). Under high contrast the page draws in the
// system's window and text colours alone, and the tick and the cross still
// differ.
TEST_F(AppletSupportPageTest, IndicatorsAreDrawnAtTheirOwnSizeAndInHighContrast) {
  std::vector<std::pair<int, int>> drawn;  // the control's width and its mark's, at each scale
  for (int dpi : {96, 120, 144, 192}) {
    StartOver(std::to_string(dpi) + " dpi");
    hostwin::SetScreenDpi(dpi);
    Load(0, MakeBoard(16, 4, 0x02));
    OnPage(IDD_SUPPORT_PAGE, [&](HWND page) {
      hostwin::Picture tick, cross;
      ASSERT_TRUE(hostwin::PaintOwnerDrawn(Item(page, IDC_SUP_COUNTER_MARK), &tick));
      ASSERT_TRUE(hostwin::PaintOwnerDrawn(Item(page, IDC_SUP_LED_MARK), &cross));
      RECT control = hostwin::Placement(Item(page, IDC_SUP_COUNTER_MARK));
      EXPECT_EQ(std::vector<int>({tick.width, tick.height}),
                std::vector<int>({int(control.right - control.left), int(control.bottom - control.top)}));
      EXPECT_EQ(std::count(tick.pixels.begin(), tick.pixels.end(), 0x123456u), 0) << "every pixel painted";
      int left = tick.width, right = -1;
      for (int i = 0; i < int(tick.pixels.size()); ++i)
        if (tick.pixels[size_t(i)] == 0x008000u) left = std::min(left, i % tick.width), right = std::max(right, i % tick.width);
      drawn.push_back({tick.width, right - left + 1});
      EXPECT_GT(std::count(cross.pixels.begin(), cross.pixels.end(), 0xFF0000u), 0);
      hostwin::UseHighContrast(true);
      hostwin::Picture high[2];
      ASSERT_TRUE(hostwin::PaintOwnerDrawn(Item(page, IDC_SUP_COUNTER_MARK), &high[0]));
      ASSERT_TRUE(hostwin::PaintOwnerDrawn(Item(page, IDC_SUP_LED_MARK), &high[1]));
      for (const auto &picture : high) {
        size_t system = std::count(picture.pixels.begin(), picture.pixels.end(), 0x000000u) +
                        std::count(picture.pixels.begin(), picture.pixels.end(), 0xFFFFFFu);
        EXPECT_EQ(system, picture.pixels.size()) << "the window and text colours alone";
        EXPECT_GT(std::count(picture.pixels.begin(), picture.pixels.end(), 0xFFFFFFu), 0);
      }
      EXPECT_NE(high[0].pixels, high[1].pixels) << "a tick and a cross";
    }, IDCANCEL);
  }
  ASSERT_EQ(drawn.size(), 4u);
  EXPECT_GE(drawn[3].second * 10, drawn[0].second * 17) << "the mark at 200 % about twice as wide as at 100 %";
  EXPECT_GT(drawn[3].first, drawn[0].first);
}

// The two bitmaps as drawn: a green tick and a red cross on white, 11 x 12.
TEST_F(AppletSupportPageTest, TheIndicatorBitmapsAreATickAndACross) {
  Load(0);
  for (const auto &[id, bitsPerPixel, ink] : {std::tuple{IDB_TICK, 24, 0x008000u}, std::tuple{IDB_CROSS, 4, 0xFF0000u}}) {
    HBITMAP bitmap = LoadBitmapA(panel_.module, MAKEINTRESOURCEA(id));
    hostwin::Picture picture;
    ASSERT_TRUE(hostwin::DescribeBitmap(bitmap, &picture)) << id;
    EXPECT_EQ(std::vector<int>({picture.width, picture.height, picture.bitsPerPixel}),
              std::vector<int>({11, 12, bitsPerPixel}));
    size_t inked = std::count(picture.pixels.begin(), picture.pixels.end(), ink);
    size_t white = std::count(picture.pixels.begin(), picture.pixels.end(), 0xFFFFFFu);
    EXPECT_EQ(inked + white, picture.pixels.size()) << id;
    EXPECT_GT(inked, 10u) << id;
    EXPECT_GT(white, 60u) << id;
    DeleteObject(bitmap);
  }
}

}  // namespace
}  // namespace applettest
