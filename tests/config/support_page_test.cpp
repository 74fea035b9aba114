// The support function page: texts and indicators for what the board has.
#include "applet_fixture.h"

#include <set>

namespace applettest {
namespace {

class AppletSupportPageTest : public AppletTest {};

struct SupportCase {
  const char *what;
  uint32_t deviceType;
  DWORD diCount, doCount, featureFlags;  // as GetDeviceInfor reports them; only the low bytes count
  DIO_INFO info;  // model 24's description; other models never ask for it
  const char *group, *di, *interrupt, *doText, *pled;
  std::vector<int> ticked;
};

TEST_F(AppletSupportPageTest, TextsAndTicksFollowTheDescription) {
  const std::vector<int> all = {1033, 1034, 1035, 1036, 1037, 1038, 1039, 1040, 1041, 1042, 1043};
  const SupportCase cases[] = {
      {"model 24 with everything", 24, 0, 0, 0x7E, {16, 4, 8, 0, 4, 0, 3, 0},
       "Support Function (FPGA Version:3.00)", "DI Ports:2 (DI_0~DI_15)", "DI Interrupt (DI_0~DI_3)",
       "DO Ports:1 (DO_0~DO_7)", "Program LED (PLED0~PLED3)", all},
      {"nine DI channels, no DO, no functions", 24, 0, 0, 0x00, {9, 0, 0, 0, 0, 0, 0, 0},
       "Support Function (FPGA Version:0.00)", "DI Ports:2 (DI_0~DI_8)", "DI Interrupt", "DO Ports:1 (DO_0~DO_-1)",
       "Program LED", {1033, 1035}},
      {"counters only", 24, 0, 0, 0x02, {8, 2, 16, 0, 0, 0, 12, 0}, "Support Function (FPGA Version:12.00)",
       "DI Ports:1 (DI_0~DI_7)", "DI Interrupt", "DO Ports:2 (DO_0~DO_15)", "Program LED",
       {1033, 1035, 1036, 1037, 1038, 1039}},
      {"LED, buzzer and power state", 24, 0, 0, 0x34, {1, 0, 17, 0, 0, 0, 1, 0}, "Support Function (FPGA Version:1.00)",
       "DI Ports:1 (DI_0~DI_0)", "DI Interrupt", "DO Ports:3 (DO_0~DO_16)", "Program LED",
       {1033, 1035, 1040, 1041, 1043}},
      {"another model: the group title and two interrupt channels", 23, 0x109, 0x203, 0x148, {1, 1, 1, 1, 7, 1, 9, 1},
       "Support Function", "DI Ports:2 (DI_0~DI_8)", "DI Interrupt (DI_0~DI_1)", "DO Ports:1 (DO_0~DO_2)",
       "Program LED (PLED0~PLED-1)", {1033, 1034, 1035, 1042}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    InstallDriver(c.deviceType);
    diolib::Board board = MakeBoard(c.diCount, c.doCount, c.featureFlags);
    board.info = c.info;
    diolib::Configure(board);
    Load();
    OpenDialog([&](HWND dialog) {
      HWND page = Page(dialog, IDD_SUPPORT_PAGE);
      EXPECT_EQ(hostwin::Text(Item(page, IDC_SUP_GROUP)), c.group);
      EXPECT_EQ(hostwin::Text(Item(page, IDC_SUP_DI_TEXT)), c.di);
      EXPECT_EQ(hostwin::Text(Item(page, IDC_SUP_INTERRUPT_TEXT)), c.interrupt);
      EXPECT_EQ(hostwin::Text(Item(page, IDC_SUP_DO_TEXT)), c.doText);
      EXPECT_EQ(hostwin::Text(Item(page, IDC_SUP_PLED_TEXT)), c.pled);
      EXPECT_EQ(hostwin::Text(Item(page, IDC_SUP_COUNTER_TEXT)), "Counter") << "never changed";
      std::vector<int> ticked;
      std::set<LRESULT> ticks;
      for (int id : all) {
        if (!Ticked(page, id)) continue;
        ticked.push_back(id);
        ticks.insert(SendDlgItemMessageA(page, id, STM_GETIMAGE, IMAGE_BITMAP, 0));
      }
      EXPECT_EQ(ticked, c.ticked);
      // One tick for the page; the crosses it replaced are deleted.
      EXPECT_EQ(ticks.size(), 1u);
      EXPECT_EQ(hostwin::LiveBitmaps(), int(1 + all.size() - ticked.size()));
    }, IDCANCEL);
  }
}

// Each indicator keeps its 7 x 7 dialog units and its bitmap is drawn over
// all of them, at every scale: 11 x 11 pixels at 96 dots per inch, 16 x 18
// at 144, whatever the bitmap's own 11 x 12.
TEST_F(AppletSupportPageTest, IndicatorsFillTheirControlsAtEveryScale) {
  const std::pair<int, std::pair<LONG, LONG>> cases[] = {{96, {11, 11}}, {144, {16, 18}}};
  for (const auto &[dpi, size] : cases) {
    SCOPED_TRACE(std::to_string(dpi) + " dots per inch");
    StartOver();
    hostwin::SetScreenDpi(dpi);
    Load(24);
    OpenDialog([&, size = size](HWND dialog) {
      HWND page = Page(dialog, IDD_SUPPORT_PAGE);
      for (int id = IDC_SUP_DI_MARK; id <= IDC_SUP_POWER_MARK; ++id) {
        HWND indicator = Item(page, id);
        RECT control = hostwin::Placement(indicator), picture = hostwin::PictureRect(indicator);
        EXPECT_EQ(std::make_pair(control.right - control.left, control.bottom - control.top),
                  size)
            << "indicator " << id;
        EXPECT_EQ(std::vector<LONG>({picture.left, picture.top, picture.right, picture.bottom}),
                  std::vector<LONG>({0, 0, size.first, size.second}))
            << "indicator " << id;
      }
    }, IDCANCEL);
  }
}

// The two bitmaps as drawn: a green tick and a red cross on white, 11 x 12.
TEST_F(AppletSupportPageTest, TheIndicatorBitmapsAreATickAndACross) {
  Load(0);
  struct Expected {
    int id;
    int bitsPerPixel;
    uint32_t ink;
  };
  for (const Expected &e : {Expected{IDB_TICK, 24, 0x008000}, Expected{IDB_CROSS, 4, 0xFF0000}}) {
    HBITMAP bitmap = LoadBitmapA(panel_.module, MAKEINTRESOURCEA(e.id));
    hostwin::Picture picture;
    ASSERT_TRUE(hostwin::DescribeBitmap(bitmap, &picture)) << e.id;
    EXPECT_EQ(picture.width, 11);
    EXPECT_EQ(picture.height, 12);
    EXPECT_EQ(picture.bitsPerPixel, e.bitsPerPixel);
    size_t ink = 0;
    for (uint32_t pixel : picture.pixels) {
      EXPECT_TRUE(pixel == 0xFFFFFF || pixel == e.ink) << std::hex << pixel;
      ink += pixel == e.ink;
    }
    EXPECT_GT(ink, 10u) << e.id;
    EXPECT_GT(picture.pixels.size() - ink, 60u) << e.id;
    DeleteObject(bitmap);
  }
}

}  // namespace
}  // namespace applettest
