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
  DWORD diCount, doCount, featureFlags;  // as GetDeviceInfor reports them; only the low bytes count
  DIO_INFO info;  // model 24's description; other models never ask for it
  const char *group, *di, *interrupt, *doText, *pled;
  std::vector<int> ticked;
  bool present = true;  // the library finds the board
};

// One tick bitmap for the page, and the crosses it replaced deleted.
TEST_F(AppletSupportPageTest, TextsAndTicksFollowTheDescription) {
  const std::vector<int> all = {1033, 1034, 1035, 1036, 1037, 1038, 1039, 1040, 1041, 1042, 1043};
  const SupportCase cases[] = {
      {"model 24 with everything", 24, 0, 0, 0x7E, {16, 4, 8, 0, 4, 0, 3, 0},
       "Support Function (FPGA Version:3.00)", "DI Ports:2 (DI_0~DI_15)", "DI Interrupt (DI_0~DI_3)",
       "DO Ports:1 (DO_0~DO_7)", "Program LED (PLED0~PLED3)", all},
      {"counters, LED and buzzer", 24, 0, 0, 0x16, {8, 2, 17, 0, 0, 0, 12, 0}, "Support Function (FPGA Version:12.00)",
       "DI Ports:1 (DI_0~DI_7)", "DI Interrupt", "DO Ports:3 (DO_0~DO_16)", "Program LED",
       {1033, 1035, 1036, 1037, 1038, 1039, 1040, 1041}},
      {"another model: the group title and two interrupt channels", 23, 0x101, 0x203, 0x168, {1, 1, 1, 1, 7, 1, 9, 1},
       "Support Function", "DI Ports:1 (DI_0~DI_0)", "DI Interrupt (DI_0~DI_1)", "DO Ports:1 (DO_0~DO_2)",
       "Program LED (PLED0~PLED-1)", {1033, 1034, 1035, 1042, 1043}},
      {"no board: a board with nothing", 24, 0, 0, 0, {}, "Support Function (FPGA Version:0.00)",
       "DI Ports:1 (DI_0~DI_-1)", "DI Interrupt", "DO Ports:1 (DO_0~DO_-1)", "Program LED", {1033, 1035}, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    diolib::Board board = MakeBoard(c.diCount, c.doCount, c.featureFlags);
    board.info = c.info;
    board.present = c.present;
    Load(c.deviceType, board);
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
      EXPECT_EQ(hostwin::LiveBitmaps(), int(1 + all.size() - ticked.size()));
    }, IDCANCEL);
  }
}

// Each indicator keeps its 7 x 7 dialog units and its bitmap is drawn over
// all of them, whatever the bitmap's own 11 x 12 pixels: at 150 % 16 x 18.
TEST_F(AppletSupportPageTest, IndicatorsFillTheirControlsWhenScaled) {
  hostwin::SetScreenDpi(144);
  Load(24);
  OnPage(IDD_SUPPORT_PAGE, [&](HWND page) {
    for (int id = IDC_SUP_DI_MARK; id <= IDC_SUP_POWER_MARK; ++id) {
      RECT control = hostwin::Placement(Item(page, id)), picture = hostwin::PictureRect(Item(page, id));
      EXPECT_EQ(std::vector<LONG>({control.right - control.left, control.bottom - control.top, picture.left,
                                   picture.top, picture.right, picture.bottom}),
                std::vector<LONG>({16, 18, 0, 0, 16, 18}))
          << "indicator " << id;
    }
  }, IDCANCEL);
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
