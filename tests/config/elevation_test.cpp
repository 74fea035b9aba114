// Opening the applet where its settings cannot be stored: one message at
// once, offering to open the applet elevated; yes starts the 32-bit Control
// Panel with the "runas" verb on the applet's own path, and the dialog then
// opens there instead of here.
#include "applet_fixture.h"

#include <shellapi.h>

namespace applettest {
namespace {

class AppletElevationTest : public AppletTest {};

struct OfferCase {
  const char *what;
  hostwin::Rights rights;
  bool windows32;
  int answer;             // to the offer; 0 where none is made
  int elevation;          // the prompt approved (1), declined (0), or not shown (-1)
  const char *control;    // the Control Panel started elevated, if asked for
  const char *prompt;     // what the elevation prompt asks of the user
  bool dialog;            // the dialog opens in this Control Panel
};

TEST_F(AppletElevationTest, WhereNothingCanBeStoredTheAppletOffersToOpenElevated) {
  const auto elevated = hostwin::Rights::ElevatedAdministrator, admin = hostwin::Rights::UnelevatedAdministrator,
             user = hostwin::Rights::StandardUser;
  const char *wow64 = "C:\\Windows\\SysWOW64\\control.exe";
  const OfferCase cases[] = {
      {"elevated administrator: no offer", elevated, false, 0, -1, nullptr, "", true},
      {"unelevated administrator who accepts", admin, false, IDYES, 1, wow64, "consent", false},
      {"standard user who accepts", user, false, IDYES, 1, wow64, "credentials", false},
      {"on 32-bit Windows", admin, true, IDYES, 1, "C:\\Windows\\system32\\control.exe", "consent", false},
      {"a user who declines the offer", admin, false, IDNO, -1, nullptr, "", true},
      {"a user who declines the elevation prompt", user, false, IDYES, 0, wow64, "credentials", true},
  };
  for (const OfferCase &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    if (c.windows32) hostwin::RunOn32BitWindows();
    InstallDriver(24);
    hostwin::RunAs(c.rights);
    Load();
    if (c.answer) hostwin::WhenMessageBoxAsks(c.answer);
    if (c.elevation >= 0) hostwin::WhenElevationAsked(c.elevation == 1);
    size_t writes = hostwin::RegistryWrites().size();
    bool opened = false;
    if (c.dialog) {
      OpenDialog([&](HWND) { opened = true; }, IDCANCEL);
    } else {
      EXPECT_EQ(hostwin::DoubleClick(&panel_, 0), 0);
    }
    EXPECT_EQ(opened, c.dialog);
    EXPECT_EQ(hostwin::RegistryWrites().size(), writes) << "nothing written on the way";

    const auto &boxes = hostwin::MessageBoxes();
    ASSERT_EQ(boxes.size(), c.answer ? 1u : 0u);
    if (c.answer) {
      EXPECT_EQ(boxes[0].owner, panel_.window);
      EXPECT_EQ(boxes[0].caption, "Tessaron ZEPDIO WDM driver");
      EXPECT_EQ(boxes[0].type, UINT(MB_YESNO | MB_ICONWARNING));
      EXPECT_EQ(boxes[0].atMessage, 0u) << "before the dialog";
      for (const char *part : {"cannot be stored", "without administrator rights", "Open the applet as administrator?"})
        EXPECT_NE(boxes[0].text.find(part), std::string::npos) << boxes[0].text;
    }
    const auto &runs = hostwin::ShellExecutions();
    ASSERT_EQ(runs.size(), c.control ? 1u : 0u);
    if (c.control) {
      EXPECT_EQ(runs[0].verb, "runas");
      EXPECT_EQ(runs[0].file, c.control);
      EXPECT_EQ(runs[0].parameters, std::string("\"") + APPLET_PATH + "\"");
      EXPECT_EQ(runs[0].owner, panel_.window);
      EXPECT_EQ(runs[0].show, SW_SHOWNORMAL);
      EXPECT_TRUE(runs[0].mask & SEE_MASK_NOASYNC) << "the Control Panel ends as soon as the applet returns";
      EXPECT_EQ(runs[0].prompt, c.prompt);
      EXPECT_EQ(runs[0].started, c.elevation == 1);
    }
  }
}

}  // namespace
}  // namespace applettest
