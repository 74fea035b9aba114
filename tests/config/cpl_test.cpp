// Opening the applet: CPlApplet's answers and description, what is said
// before the dialog (no driver, a dialog that cannot be made), and the offer
// to open elevated where the settings cannot be stored.
#include <shellapi.h>

#include "applet_fixture.h"

namespace applettest {
namespace {

using AppletCplTest = AppletTest;

// An answer other than 0 to CPL_STARTWPARMSW would keep the dialog from
// opening; CPL_INIT answers 1 also on this first run.
TEST_F(AppletCplTest, ControlCommandRunsInTheControlPanelsOrder) {
  InstallDriver(24);
  hostwin::WhenDialogOpens([](HWND dialog) { EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL))); });
  std::vector<std::string> calls;
  for (const auto &call : hostwin::RunControlCommand(APPLET_PATH))
    calls.push_back(hostwin::CplMessageName(call.message) + "=" + std::to_string(call.result));
  EXPECT_EQ(calls, (std::vector<std::string>{"CPL_INIT=1", "CPL_GETCOUNT=1", "CPL_INQUIRE=0", "CPL_NEWINQUIRE=0",
                                             "CPL_STARTWPARMSW=0", "CPL_DBLCLK=0", "CPL_STOP=0", "CPL_EXIT=0"}));
  Load();
  for (UINT message : {UINT(CPL_SELECT), UINT(CPL_STARTWPARMSA), UINT(CPL_SETUP), 0u, 999u})
    EXPECT_EQ(panel_.proc(panel_.window, message, 0, 0), 0) << message;
}

// CPL_INQUIRE leaves its record alone; CPL_NEWINQUIRE fills the whole record.
TEST_F(AppletCplTest, OnlyNewInquireDescribesTheApplet) {
  Load(0);
  CPLINFO info;
  memset(&info, 0x5A, sizeof info);
  EXPECT_EQ(panel_.proc(panel_.window, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
  EXPECT_EQ(std::vector<uint8_t>(reinterpret_cast<uint8_t *>(&info), reinterpret_cast<uint8_t *>(&info + 1)),
            std::vector<uint8_t>(sizeof info, 0x5A));
  NEWCPLINFOA described;
  memset(&described, 0x5A, sizeof described);
  EXPECT_EQ(panel_.proc(panel_.window, CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&described)), 0);
  // The record is byte-packed: its fields are copied out before comparing.
  EXPECT_EQ((std::vector<int64_t>{described.dwSize, described.dwFlags, described.dwHelpContext, described.lData,
                                  described.szHelpFile[0]}),
            (std::vector<int64_t>{sizeof(NEWCPLINFOA), 0, 0, 0, 0}));
  EXPECT_STREQ(described.szName, "Tessaron ZEPDIO WDM driver");
  EXPECT_STREQ(described.szInfo, "Configure the ZEP DIO hardware");
  hostwin::Picture icon;
  ASSERT_TRUE(hostwin::DescribeIcon(described.hIcon, &icon));
  EXPECT_EQ((std::vector<int>{icon.resourceId, icon.width, icon.height, icon.bitsPerPixel}),
            (std::vector<int>{IDI_APPLET, 32, 32, 8}));
}

// The applet registers the tab control's class itself when it loads; where
// that fails the dialog cannot be made, and the applet says so.
TEST_F(AppletCplTest, ADialogThatCannotBeMadeIsReported) {
  InstallDriver(24);
  hostwin::RefuseCommonControls();
  Load();
  EXPECT_EQ(hostwin::DoubleClick(&panel_, 0), 0);
  ASSERT_EQ(hostwin::MessageBoxes().size(), 1u);
  const auto &box = hostwin::MessageBoxes()[0];
  EXPECT_EQ(box.text, "The ZEP DIO driver configuration could not be opened (error 1407).");
  EXPECT_EQ(box.caption, "Tessaron ZEPDIO WDM driver");
  EXPECT_EQ(box.type, UINT(MB_OK | MB_ICONERROR));
  EXPECT_EQ(box.owner, panel_.window);
}

// Without the driver's board record a message comes first, then the
// dialog, while the Control Panel waits. "does not installed" is the
// system's own text.
TEST_F(AppletCplTest, WithoutTheDriverTheMessageComesFirstThenTheDialog) {
  Load();
  OpenDialog([&](HWND) { EXPECT_FALSE(IsWindowEnabled(panel_.window)) << "the Control Panel waits for the dialog"; },
             IDCANCEL);
  EXPECT_TRUE(IsWindowEnabled(panel_.window));
  ASSERT_EQ(hostwin::MessageBoxes().size(), 1u);
  const auto &box = hostwin::MessageBoxes()[0];
  EXPECT_EQ(box.text, "The ZEP DIO driver does not installed");
  EXPECT_EQ(box.caption, "Information");
  EXPECT_EQ(box.type, UINT(MB_OK));
  EXPECT_EQ(box.owner, panel_.window);
  EXPECT_EQ(box.atMessage, 0u) << "before any message of the dialog";
}

struct OfferCase {
  const char *what;
  hostwin::Rights rights;
  bool installed;
  bool windows32;
  int answer;           // to the offer; 0 where none is made
  int elevation;        // the prompt approved (1), declined (0), or not shown (-1)
  const char *control;  // the Control Panel started elevated, if asked for
};

// One message at once, owned by the Control Panel's window; yes starts the
// Control Panel of the applet's kind with "runas" on the applet's own
// quoted path, and the dialog then opens there instead of here. A service
// key that is not there (no driver) says nothing about the rights.
TEST_F(AppletCplTest, WhereNothingCanBeStoredTheAppletOffersToOpenElevated) {
  const auto elevated = hostwin::Rights::ElevatedAdministrator, admin = hostwin::Rights::UnelevatedAdministrator,
             user = hostwin::Rights::StandardUser;
  const char *wow64 = "C:\\Windows\\SysWOW64\\control.exe";
  const OfferCase cases[] = {
      {"elevated administrator: no offer", elevated, true, false, 0, -1, nullptr},
      {"a standard user without the driver: no offer", user, false, false, 0, -1, nullptr},
      {"unelevated administrator who accepts", admin, true, false, IDYES, 1, wow64},
      {"on 32-bit Windows", admin, true, true, IDYES, 1, "C:\\Windows\\system32\\control.exe"},
      {"a user who declines the offer", admin, true, false, IDNO, -1, nullptr},
      {"a user who declines the elevation prompt", user, true, false, IDYES, 0, wow64},
  };
  for (const OfferCase &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    if (c.windows32) hostwin::RunOn32BitWindows();
    if (c.installed) InstallDriver(24);
    hostwin::RunAs(c.rights);
    Load();
    if (c.answer) hostwin::WhenMessageBoxAsks(c.answer);
    if (c.elevation >= 0) hostwin::WhenElevationAsked(c.elevation == 1);
    size_t writes = hostwin::RegistryWrites().size(), said = hostwin::MessageBoxes().size();
    // The desktop fails a dialog that opens with nobody to answer it, or one
    // that never opens for its user.
    if (c.elevation != 1) {
      OpenDialog({}, IDCANCEL);
    } else {
      EXPECT_EQ(hostwin::DoubleClick(&panel_, 0), 0);
    }
    EXPECT_EQ(hostwin::RegistryWrites().size(), writes) << "nothing written on the way";
    const auto &boxes = hostwin::MessageBoxes();
    ASSERT_EQ(boxes.size(), said + (c.installed ? 0u : 1u) + (c.answer ? 1u : 0u));
    if (c.answer) {
      const auto &offer = boxes.back();
      EXPECT_EQ(offer.owner, panel_.window);
      EXPECT_EQ(offer.caption, "Tessaron ZEPDIO WDM driver");
      EXPECT_EQ(offer.type, UINT(MB_YESNO | MB_ICONWARNING));
      EXPECT_EQ(offer.atMessage, 0u) << "before the dialog";
      for (const char *part : {"cannot be stored", "without administrator rights", "Open the applet as administrator?"})
        EXPECT_NE(offer.text.find(part), std::string::npos) << offer.text;
    }
    const auto &runs = hostwin::ShellExecutions();
    ASSERT_EQ(runs.size(), c.control ? 1u : 0u);
    if (!c.control) continue;
    EXPECT_EQ(runs[0].verb, "runas");
    EXPECT_EQ(runs[0].file, c.control);
    EXPECT_EQ(runs[0].parameters, std::string("\"") + APPLET_PATH + "\"");
    EXPECT_EQ(runs[0].owner, panel_.window);
    EXPECT_EQ(runs[0].show, SW_SHOWNORMAL);
    EXPECT_TRUE(runs[0].mask & SEE_MASK_NOASYNC) << "the Control Panel ends as soon as the applet returns";
    EXPECT_EQ(runs[0].started, c.elevation == 1);
  }
}

}  // namespace
}  // namespace applettest
