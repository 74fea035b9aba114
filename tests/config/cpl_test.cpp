// The Control Panel's side: CPlApplet's answers, the applet's description,
// and the order of events when the applet is opened.
#include "applet_fixture.h"

namespace applettest {
namespace {

class AppletCplTest : public AppletTest {};

TEST_F(AppletCplTest, ControlCommandRunsInTheControlPanelsOrder) {
  InstallDriver(24);
  hostwin::WhenDialogOpens([](HWND dialog) { EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL))); });
  auto calls = hostwin::RunControlCommand(APPLET_PATH);
  struct Expected {
    UINT message;
    LONG result;
  };
  // CPL_INIT answers 1 also on this first run; an answer other than 0 to
  // CPL_STARTWPARMSW would keep the dialog from opening.
  const Expected expected[] = {{CPL_INIT, 1},        {CPL_GETCOUNT, 1}, {CPL_INQUIRE, 0}, {CPL_NEWINQUIRE, 0},
                               {CPL_STARTWPARMSW, 0}, {CPL_DBLCLK, 0},   {CPL_STOP, 0},    {CPL_EXIT, 0}};
  ASSERT_EQ(calls.size(), std::size(expected));
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(hostwin::CplMessageName(calls[i].message), hostwin::CplMessageName(expected[i].message)) << i;
    EXPECT_EQ(calls[i].result, expected[i].result) << hostwin::CplMessageName(calls[i].message);
  }
}

TEST_F(AppletCplTest, OnlyNewInquireDescribesTheApplet) {
  Load(0);
  // CPL_INQUIRE leaves the record as it was.
  CPLINFO info;
  memset(&info, 0x5A, sizeof info);
  EXPECT_EQ(panel_.proc(panel_.window, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
  for (size_t i = 0; i < sizeof info; ++i) EXPECT_EQ(reinterpret_cast<uint8_t *>(&info)[i], 0x5A) << i;

  NEWCPLINFOA described;
  memset(&described, 0x5A, sizeof described);
  EXPECT_EQ(panel_.proc(panel_.window, CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&described)), 0);
  // The record is byte-packed: copy its fields out before comparing them.
  DWORD size = described.dwSize, flags = described.dwFlags, help = described.dwHelpContext;
  LONG_PTR data = described.lData;
  HICON iconHandle = described.hIcon;
  EXPECT_EQ(size, sizeof(NEWCPLINFOA));
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(help, 0u);
  EXPECT_EQ(data, 0);
  EXPECT_EQ(described.szHelpFile[0], '\0');
  EXPECT_STREQ(described.szName, "Tessaron ZEPDIO WDM driver");
  EXPECT_STREQ(described.szInfo, "Configure the ZEP DIO hardware");
  hostwin::Picture icon;
  ASSERT_TRUE(hostwin::DescribeIcon(iconHandle, &icon));
  EXPECT_EQ(icon.resourceId, IDI_APPLET);
  EXPECT_EQ(icon.width, 32);
  EXPECT_EQ(icon.height, 32);
  EXPECT_EQ(icon.bitsPerPixel, 8);
}

TEST_F(AppletCplTest, MessagesWithNothingToDoAnswerZero) {
  Load(0);
  const UINT messages[] = {CPL_SELECT, CPL_STOP, CPL_EXIT, CPL_STARTWPARMSA, CPL_STARTWPARMSW, CPL_SETUP, 0, 999};
  for (UINT message : messages) EXPECT_EQ(panel_.proc(panel_.window, message, 0, 0), 0) << message;
  EXPECT_EQ(panel_.proc(panel_.window, CPL_GETCOUNT, 0, 0), 1);
}

// The applet registers the tab control's class itself when it loads; where
// that fails the dialog cannot be made, and the applet says so.
TEST_F(AppletCplTest, ADialogThatCannotBeMadeIsReported) {
  InstallDriver(24);
  hostwin::RefuseCommonControls();
  Load();
  EXPECT_EQ(hostwin::DoubleClick(&panel_, 0), 0);
  const auto &boxes = hostwin::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "The ZEP DIO driver configuration could not be opened (error 1407).");
  EXPECT_EQ(boxes[0].caption, "Tessaron ZEPDIO WDM driver");
  EXPECT_EQ(boxes[0].type, UINT(MB_OK | MB_ICONERROR));
  EXPECT_EQ(boxes[0].owner, panel_.window);
}

// Without the driver's board record a message comes first, then the
// dialog; with it, the dialog alone.
TEST_F(AppletCplTest, WithoutTheDriverTheMessageComesFirstThenTheDialog) {
  for (bool installed : {false, true}) {
    SCOPED_TRACE(installed ? "installed" : "not installed");
    StartOver();
    if (installed) InstallDriver(0);
    Load();
    hostwin::ClearMessages();
    bool opened = false;
    OpenDialog(
        [&](HWND dialog) {
          opened = true;
          EXPECT_EQ(Tabs(dialog).front(), "Function");
          EXPECT_FALSE(IsWindowEnabled(panel_.window)) << "the Control Panel waits for the dialog";
        },
        IDCANCEL);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(IsWindowEnabled(panel_.window));
    const auto &boxes = hostwin::MessageBoxes();
    ASSERT_EQ(boxes.size(), installed ? 0u : 1u);
    if (installed) continue;
    EXPECT_EQ(boxes[0].text, "The ZEP DIO driver does not installed");
    EXPECT_EQ(boxes[0].caption, "Information");
    EXPECT_EQ(boxes[0].type, UINT(MB_OK));
    EXPECT_EQ(boxes[0].owner, panel_.window);
    EXPECT_EQ(boxes[0].atMessage, 0u) << "before any message of the dialog";
  }
}

}  // namespace
}  // namespace applettest
