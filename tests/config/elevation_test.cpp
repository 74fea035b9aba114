// Where the driver's service key cannot be changed: the shield button and
// the elevated restart with the edits made so far, what a refused save says
// and offers, and no offer where elevation cannot help (the applet runs
// elevated already, or was itself started by such a restart).
#include <commctrl.h>
#include <shellapi.h>

#include <filesystem>
#include <tuple>

#include "applet_fixture.h"

namespace applettest {
namespace {

using AppletElevationTest = AppletTest;

const hostwin::Rights kElevated = hostwin::Rights::ElevatedAdministrator;
const hostwin::Rights kAdmin = hostwin::Rights::UnelevatedAdministrator;
const hostwin::Rights kUser = hostwin::Rights::StandardUser;

HWND Shield(HWND dialog) {
  HWND button = Item(dialog, IDC_ELEVATE);
  return IsWindowVisible(button) ? button : nullptr;
}

// Edits on every page of a model-24 board: DI2 enabled on the rising edge,
// Counter B's gate from its DI line, 1K Hz, the start output on DO1 low; on
// model 22 DI5 cleared.
std::vector<Setting> Edits(uint32_t model) {
  if (model == 22) return {{IDD_INTERRUPT9_PAGE, IDC_INT9_CHANNEL, 5}, {IDD_INTERRUPT9_PAGE, IDC_INT9_ENABLE, 0}};
  return {{IDD_INTERRUPT_PAGE, IDC_INT_CHANNEL, 2}, {IDD_INTERRUPT_PAGE, IDC_INT_ENABLE, 1},
          {IDD_INTERRUPT_PAGE, IDC_INT_RISING, 1},  {IDD_COUNTER_PAGE, IDC_CNT_COUNTER, 1},
          {IDD_COUNTER_PAGE, IDC_CNT_GATE_LINE, 1}, {IDD_COUNTER_PAGE, IDC_CNT_FREQUENCY, 2},
          {IDD_DO_PAGE, IDC_DO_START_ENABLE, 1},    {IDD_DO_PAGE, IDC_DO_START_CHANNEL, 1},
          {IDD_DO_PAGE, IDC_DO_START_LEVEL, 1}};
}

// What OK stored of those edits, each value beside what it must be.
std::vector<std::pair<std::string, std::string>> Stored(uint32_t model) {
  auto in = [](const char *name) { return Text(kInterruptKey, name); };
  auto dword = [](const char *name) { return std::to_string(Dword(kDoKey, name)); };
  if (model == 22) return {{in("DI5_Control"), "Disable"}, {in("DI4_Control"), "Enable"}};
  return {{in("DI2_Control"), "Enable"}, {in("DI2_TriggerEdge"), "Rising"},
          {Text(kCounterKey, "CounterB_GateControl"), "DI"}, {Text(kCounterKey, "TimeBase"), "2"},
          {dword("DO_Trigger_Start"), "1"}, {dword("DO_Channel_Start"), "1"}, {dword("DO_Level_Start"), "0"}};
}

// The shield button shows where an elevated applet could store what this
// one cannot (who runs it, whether the driver's key is there), and only
// there; the dialog opens in every case, with a taskbar button of its own
// (the Control Panel's window is hidden), and nothing is asked before it.
TEST_F(AppletElevationTest, TheShieldButtonShowsWhereAnElevatedRestartWouldHelp) {
  const std::tuple<const char *, hostwin::Rights, bool, bool> cases[] = {
      {"an elevated administrator", kElevated, true, false},
      {"an administrator under UAC", kAdmin, true, true},
      {"a standard user", kUser, true, true},
      {"a standard user without the driver's key", kUser, false, false},
  };
  for (const auto &[what, rights, installed, shield] : cases) {
    StartOver(what);
    if (installed) InstallDriver(24);
    hostwin::RunAs(rights);
    Load();
    OpenDialog([&, shield = shield](HWND dialog) {
      EXPECT_EQ(Shield(dialog) != nullptr, shield);
      EXPECT_EQ(hostwin::HasShield(Item(dialog, IDC_ELEVATE)), shield);
      EXPECT_EQ(Label(Item(dialog, IDC_ELEVATE)), "Change settings...");
      EXPECT_TRUE(hostwin::HasTaskbarButton(dialog));
    }, IDCANCEL);
    EXPECT_EQ(hostwin::MessageBoxes().size(), installed ? 0u : 1u) << "no question before the dialog";
    EXPECT_TRUE(hostwin::ShellExecutions().empty());
  }
}

// The elevated restart: the shield button (or yes to a refused OK) starts
// the 32-bit Control Panel with "runas" on the applet's own path, in UTF-16
// whatever the folder's name, and the edits made so far; this dialog
// closes. The elevated applet shows the edits, comes to the foreground, and
// its OK stores them. A case: the model, who runs the applet, the folder it
// is loaded from (under a temporary folder; none: the build's), and whether
// the restart answers a refused OK rather than the shield button.
TEST_F(AppletElevationTest, TheElevatedRestartCarriesTheEditsMadeSoFar) {
  const std::tuple<const char *, uint32_t, hostwin::Rights, const char *, bool> cases[] = {
      {"model 24, the shield button, an administrator under UAC", 24, kAdmin, nullptr, false},
      {"model 22, a standard user", 22, kUser, nullptr, false},
      {"a folder outside the ANSI code page", 24, kAdmin, "Pr\xC3\xBC" "fstand \xCE\xA9", false},
      {"yes to a refused OK", 24, kUser, nullptr, true},
  };
  for (const auto &[what, model, rights, inFolder, byRefusedSave] : cases) {
    StartOver(what);
    path_ = APPLET_PATH;
    std::filesystem::path folder;
    if (inFolder) {
      folder = std::filesystem::temp_directory_path() / ("applet-" + std::to_string(getpid())) / inFolder;
      std::filesystem::create_directories(folder);
      path_ = (folder / "TesZEPDIOConfig.so").string();
      std::filesystem::copy_file(APPLET_PATH, path_, std::filesystem::copy_options::overwrite_existing);
    }
    Configured(model);
    hostwin::RunAs(rights);
    Load();
    hostwin::WhenElevationAsked(true);
    if (byRefusedSave) hostwin::WhenMessageBoxAsks(IDYES);
    HWND first = nullptr;
    OpenDialog([&, model = model, byRefusedSave = byRefusedSave](HWND dialog) {
      first = dialog;
      Set(dialog, Edits(model));
      ASSERT_NE(Shield(dialog), nullptr);
      EXPECT_TRUE(hostwin::Click(byRefusedSave ? Item(dialog, IDOK) : Shield(dialog)));
      EXPECT_FALSE(IsWindowVisible(dialog)) << "the elevated applet took over";
    });
    const auto &runs = hostwin::ShellExecutions();
    ASSERT_EQ(runs.size(), 1u);
    // The prompt comes up over the dialog; the Control Panel ends as soon as the applet returns.
    EXPECT_EQ(std::tie(runs[0].verb, runs[0].file, runs[0].owner, runs[0].started),
              std::make_tuple(std::string("runas"), std::string("C:\\Windows\\SysWOW64\\control.exe"), first, true));
    EXPECT_EQ(runs[0].parameters.substr(0, path_.size() + 13), "\"" + path_ + "\",@0,/edits:");
    EXPECT_TRUE(runs[0].mask & SEE_MASK_NOASYNC);
    Unload();

    // The Control Panel the prompt started, elevated, on the same machine.
    hostwin::RunAs(kElevated);
    hostwin::WhenDialogOpens([model = model](HWND dialog) {
      EXPECT_EQ(Shown(dialog, Edits(model)), Values(Edits(model)));
      EXPECT_EQ(GetForegroundWindow(), dialog);
      EXPECT_EQ(Shield(dialog), nullptr);
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
    });
    EXPECT_EQ(ControlCommand(runs[0].parameters),
              (std::vector<std::string>{"CPL_INIT=1", "CPL_GETCOUNT=1", "CPL_INQUIRE=0", "CPL_NEWINQUIRE=0",
                                        "CPL_STARTWPARMSW=1", "CPL_STOP=0", "CPL_EXIT=0"}));
    for (const auto &[stored, edited] : Stored(model)) EXPECT_EQ(stored, edited);
    if (inFolder) std::filesystem::remove_all(folder.parent_path());
  }
}

// A declined prompt leaves the dialog as it was, edits and all; a text on
// the command line that is not whole (a number missing or beyond its
// range, a flag other than 0 or 1) opens the stored settings instead.
TEST_F(AppletElevationTest, ADeclinedPromptOrABrokenCommandLineChangesNothing) {
  Configured(24);
  hostwin::RunAs(kAdmin);
  Load();
  hostwin::WhenElevationAsked(false);
  OpenDialog([&](HWND dialog) {
    Set(dialog, Edits(24));
    EXPECT_TRUE(hostwin::Click(Shield(dialog)));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(Shown(dialog, Edits(24)), Values(Edits(24)));
  }, IDCANCEL);
  EXPECT_TRUE(hostwin::MessageBoxes().empty()) << "the user's no needs no message";
  std::string whole = hostwin::ShellExecutions().at(0).parameters;
  Unload();
  hostwin::RunAs(kElevated);
  std::string edits = whole.substr(whole.find("/edits:"));
  const std::string broken[] = {
      whole.substr(0, whole.rfind('.')),                       // one number short
      whole + ".0",                                            // one too many
      whole.substr(0, whole.find("/edits:") + 7) + "2" + edits.substr(8),  // a flag of 2
      whole.substr(0, whole.rfind('.') + 1) + "99999999999",  // beyond int
      whole.substr(0, whole.find("/edits:")) + "/edit:" + edits.substr(7),
  };
  for (const auto &line : broken) {
    SCOPED_TRACE(line);
    hostwin::WhenDialogOpens([](HWND dialog) {
      EXPECT_EQ(Shown(dialog, Edits(24)), (std::vector<LRESULT>{0, 1, 1, 0, 0, 0, 0, 0, 0}));
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL)));
    });
    EXPECT_EQ(ControlCommand(line).at(5), "CPL_DBLCLK=0") << "opened as by a double click";
  }
}

// A refused save's text: its first line, why each of the keys Interrupt,
// Counter and DO was not stored (none: it was), whether the board took the
// DO settings, and its last line.
std::string Said(const char *head, const std::vector<std::string> &why, bool took, const char *last) {
  std::string said = head;
  const char *keys[] = {"Interrupt", "Counter", "DO"};
  for (size_t i = 0; i < 3; ++i) {
    std::string key = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\TESZEPDIOS\\" + std::string(keys[i]);
    said += why[i].empty() ? "\nStored: " + key + "." : "\nNot stored: " + key + why[i];
  }
  said += took ? "\nThe board took the DO settings; they hold until it starts again." :
                 "\nThe DO settings did not reach the board.";
  return said + "\n\n" + last;
}

// A refused OK says what happened: which keys were stored, which were
// refused and why, whether the board took the DO settings; where an
// elevated applet could store the rest it asks to open one (here the user
// says no), and nowhere else: not elevated already, not after a restart.
// The dialog stays open with its edits; the next OK asks again. A case: who
// runs the applet, the keys whose writes fail whatever the rights and how,
// the DIO library functions that fail, whether the applet was started by an
// elevated restart that did not help, and the message box's text and type.
TEST_F(AppletElevationTest, ARefusedSaveSaysWhatWasStoredAndWhetherTheBoardTookIt) {
  const std::string denied = " (access denied, error 5).";
  const char *none = "The settings were not stored.", *some = "Only some of the settings were stored.";
  const char *offer = "Open the applet as administrator, with your changes, to store them?";
  const char *kept = "Your changes stay in the dialog.";
  const UINT asks = MB_YESNO | MB_ICONWARNING, tells = MB_OK | MB_ICONERROR;
  const std::tuple<const char *, hostwin::Rights, std::vector<std::pair<std::string, LSTATUS>>,
                   std::vector<std::string>, bool, std::string, UINT>
      cases[] = {
          {"a standard user: nothing stored", kUser, {}, {}, false, Said(none, {denied, denied, denied}, true, offer),
           asks},
          {"elevated, the Counter key locked: no offer", kElevated, {{kCounterKey, ERROR_ACCESS_DENIED}}, {}, false,
           Said(some, {"", denied, ""}, true, kept), tells},
          {"started by a restart that did not help (UAC off): no offer", kUser, {}, {}, true,
           Said(none, {denied, denied, denied}, true, kept), tells},
          {"the Counter key deleted meanwhile, the board refusing", kElevated, {{kCounterKey, ERROR_KEY_DELETED}},
           {"DOSysConfig"}, false, Said(some, {"", " (error 1018).", ""}, false, kept), tells},
      };
  for (const auto &[what, rights, refusing, failing, carried, said, type] : cases) {
    StartOver(what);
    diolib::Board board;
    board.failing = failing;
    Configured(0, board);
    PutDword(kDoKey, "DO_Trigger_Start", 0);
    hostwin::RunAs(rights);
    for (const auto &[key, status] : refusing) hostwin::RefuseWrites(key, status);
    std::string restart;
    if (carried) {
      // An earlier applet's restart, which with UAC off runs as the same
      // user, without a prompt's elevation.
      Load();
      hostwin::WhenElevationAsked(true);
      OpenDialog([](HWND dialog) { EXPECT_TRUE(hostwin::Click(Shield(dialog))); });
      restart = hostwin::ShellExecutions().at(0).parameters;
      Unload();
      hostwin::ResetDesktop();
      hostwin::RunAs(rights);
    }
    size_t answers = type == asks ? 2 : 0;
    for (size_t i = 0; i < answers; ++i) hostwin::WhenMessageBoxAsks(IDNO);
    auto user = [&](HWND dialog) {
      EXPECT_EQ(Shield(dialog) != nullptr, answers > 0) << "the shield shows where the offer is made";
      ASSERT_TRUE(hostwin::Click(Item(ShowPage(dialog, IDD_DO_PAGE), IDC_DO_START_ENABLE)));
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDOK)));
      EXPECT_TRUE(IsWindowVisible(dialog)) << "a refused OK keeps the dialog";
      EXPECT_TRUE(Checked(Page(dialog, IDD_DO_PAGE), IDC_DO_START_ENABLE)) << "with the edit on screen";
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL)));
    };
    if (carried) {
      hostwin::WhenDialogOpens(user);
      hostwin::RunControlCommandLine(restart);
    } else {
      Load();
      OpenDialog(user);
    }
    const auto &boxes = hostwin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto &box : boxes)
      EXPECT_EQ(std::tie(box.text, box.type, box.caption), std::tie(said, type, "ZEPDIO driver Configuration"));
    EXPECT_TRUE(hostwin::ShellExecutions().empty());
  }
}

// Everything stored, but the board did not take the DO settings: the user
// hears that the stored ones reach it at its next start, and OK closes.
TEST_F(AppletElevationTest, ABoardThatMissedTheDoSettingsIsToldAfterAStoredSave) {
  diolib::Board board;
  board.failing = {"DOSysConfig"};
  Configured(0, board);
  Load();
  OpenDialog({}, IDOK);
  ASSERT_EQ(hostwin::MessageBoxes().size(), 1u);
  EXPECT_EQ(hostwin::MessageBoxes()[0].text,
            "The settings were stored, but the DO settings did not reach the board now; it takes the stored ones "
            "when it next starts.");
  EXPECT_EQ(hostwin::MessageBoxes()[0].type, UINT(MB_OK | MB_ICONWARNING));
}

}  // namespace
}  // namespace applettest
