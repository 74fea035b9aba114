// The two deliverables meeting in one registry, as on Windows: the driver
// records the board it starts, the applet finds it there and stores the DO
// settings, and the driver's next start drives the configured DO bit.
#include "applet_fixture.h"
#include "driver_side.h"

namespace applettest {
namespace {

class DriverMeetsAppletTest : public AppletTest {};

TEST_F(DriverMeetsAppletTest, TheAppletsDoSettingsReachTheBoardAtItsNextStart) {
  meeting::DriverSide driver(24);
  ASSERT_TRUE(driver.StartBoard());
  EXPECT_EQ(driver.DoRegister(), 0xFF) << "no start output configured yet";

  Load();
  OpenDialog([](HWND dialog) {
    // Model 24, as the driver recorded it: the FPGA version is shown.
    HWND support = Page(dialog, IDD_SUPPORT_PAGE);
    EXPECT_EQ(hostwin::Text(Item(support, IDC_SUP_GROUP)), "Support Function (FPGA Version:3.00)");
    Set(dialog, {{IDD_DO_PAGE, IDC_DO_START_ENABLE, 1}, {IDD_DO_PAGE, IDC_DO_START_CHANNEL, 3},
                 {IDD_DO_PAGE, IDC_DO_START_LEVEL, 1}});  // DO3 low
    ASSERT_TRUE(hostwin::Click(Item(dialog, IDOK)));
  });
  Unload();

  driver.RemoveBoard();
  EXPECT_FALSE(hostreg::Find(kDevice000Key)) << "removal deletes the board's key";
  ASSERT_TRUE(driver.StartBoard());
  EXPECT_EQ(driver.DoRegister(), 0xF7) << "DO3 driven low at start";
}

}  // namespace
}  // namespace applettest
