// Opening the applet: CPlApplet's answers and description, and what is said
// before the dialog (no driver, a dialog that cannot be made).
#include "applet_fixture.h"

#include <tuple>

namespace applettest {
namespace {

using AppletCplTest = AppletTest;

// The Control Panel's command line: the path, quoted or not, then "@n" and
// a text, split at commas and blanks outside quotes, the quotes removed; the
// applet is told the text, and a text it does not know opens it as a
// double click does (an answer other than 0 to CPL_STARTWPARMSW would keep
// the dialog from opening). CPL_INIT answers 1 also on the first run.
TEST_F(AppletCplTest, TheControlPanelsCommandLineRunsInItsOrderAndTellsTheAppletItsText) {
  InstallDriver(24);
  const std::pair<std::string, std::string> cases[] = {
      {"\"" + path_ + "\"", ""},
      {path_ + ",@0,hello", "hello"},
      {"\"" + path_ + "\" @0 hello", "hello"},
      {path_ + ",,\"a b,c\"", "a b,c"},
  };
  for (const auto &[line, text] : cases) {
    SCOPED_TRACE(line);
    hostwin::WhenDialogOpens([](HWND dialog) { EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL))); });
    EXPECT_EQ(ControlCommand(line), (std::vector<std::string>{"CPL_INIT=1", "CPL_GETCOUNT=1", "CPL_INQUIRE=0",
                                                              "CPL_NEWINQUIRE=0", "CPL_STARTWPARMSW=0",
                                                              "CPL_DBLCLK=0", "CPL_STOP=0", "CPL_EXIT=0"}));
    EXPECT_EQ(hostwin::LastStartText(), text);
  }
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
  EXPECT_EQ(std::tie(box.text, box.caption, box.type, box.owner),
            std::make_tuple(std::string("The ZEP DIO driver configuration could not be opened (error 1407)."),
                            std::string("Tessaron ZEPDIO WDM driver"), UINT(MB_OK | MB_ICONERROR), panel_.window));
}

// Without the driver's board record (the driver is loaded, but has started
// no board) a message comes first, then the dialog, while the Control Panel
// waits. "does not installed" is the system's own text.
TEST_F(AppletCplTest, WithoutTheDriverTheMessageComesFirstThenTheDialog) {
  hostreg::Make(kServiceKey);
  Load();
  OpenDialog([&](HWND) { EXPECT_FALSE(IsWindowEnabled(panel_.window)) << "the Control Panel waits for the dialog"; },
             IDCANCEL);
  EXPECT_TRUE(IsWindowEnabled(panel_.window));
  ASSERT_EQ(hostwin::MessageBoxes().size(), 1u);
  const auto &box = hostwin::MessageBoxes()[0];
  EXPECT_EQ(std::tie(box.text, box.caption, box.type, box.owner, box.atMessage),
            std::make_tuple(std::string("The ZEP DIO driver does not installed"), std::string("Information"),
                            UINT(MB_OK), panel_.window, size_t(0)))
      << "before any message of the dialog";
}

}  // namespace
}  // namespace applettest
