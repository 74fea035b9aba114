// Loads the applet into the Control Panel stand-in, as the user would open
// it, and gives tests the registry and windows to look at.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dio_registry.h"
#include "diolib.h"
#include "host_win32.h"
#include "registry_store.h"
#include "resources/resource.h"

namespace applettest {

inline const std::string kServiceKey = DIO_KEY_MACHINE DIO_KEY_SERVICE;  // "\REGISTRY\MACHINE\...\TESZEPDIOS"
inline const std::string kDevice000Key = DIO_KEY_MACHINE DIO_KEY_SERVICE_DEVICE000;
inline const std::string kCounterKey = DIO_KEY_MACHINE DIO_KEY_COUNTER;
inline const std::string kInterruptKey = DIO_KEY_MACHINE DIO_KEY_INTERRUPT;
inline const std::string kDoKey = DIO_KEY_MACHINE DIO_KEY_DO;

// The registry as the driver and earlier runs of the applet leave it.
inline void InstallDriver(uint32_t deviceType) { hostreg::PutDword(kDevice000Key, DIO_VALUE_DEVICE_TYPE, deviceType); }
// The driver's record of a board of `deviceType`, which the library
// describes as `board`, and a "Counter" key: the applet ran before, so its
// load writes no first-run values.
void Configured(uint32_t deviceType, const diolib::Board &board = diolib::Board());
using hostreg::PutDword;
// A text in UTF-16, as REG_SZ or as another type.
void PutText(const std::string &key, const std::string &name, const std::string &text, bool terminated = true,
             uint32_t type = REG_SZ);
void PutRaw(const std::string &key, const std::string &name, uint32_t type, const std::vector<uint8_t> &bytes);
uint32_t Dword(const std::string &key, const std::string &name);
std::string Text(const std::string &key, const std::string &name);  // a REG_SZ without its terminator

// A board as the DIO library reports it. For models other than 24 the
// applet takes the counts from GetDeviceInfor.
inline diolib::Board MakeBoard(DWORD diCount, DWORD doCount, DWORD featureFlags) {
  return {true, diCount, doCount, featureFlags, diolib::Board().info, {}};
}

// What "control" does with the command line: each message the applet got
// and its answer, "CPL_INIT=1".
std::vector<std::string> ControlCommand(const std::string &commandLine);
// The library's calls since the mark, described.
std::vector<std::string> LibrarySince(size_t mark);
// The registry writes since the mark, as "Key\Value=data", those of one
// key ("Counter", "DO", ...) or all.
std::vector<std::string> WritesSince(size_t mark, const std::string &key = "");

inline HWND Item(HWND window, int id) { return GetDlgItem(window, id); }
// A control's text as it shows, without the mark of its mnemonic ("&").
std::string Label(HWND control);
HWND Page(HWND dialog, int templateId);  // the page made from that template, or none
// Clicks the tab of the page made from `templateId` (the tabs are in the
// order of the pages) and returns the page shown, or none.
HWND ShowPage(HWND dialog, int templateId);
// Draws a tick (green) rather than a cross (red), and says so in its text.
bool Ticked(HWND page, int indicator);
bool Checked(HWND page, int button);    // ticked check box or selected radio button
// CB_GETCURSEL: the index shown, or CB_ERR.
inline LRESULT Selection(HWND page, int list) { return SendDlgItemMessageA(page, list, CB_GETCURSEL, 0, 0); }
// The counter page's pairs of radio buttons: the clock, the gate, the output.
inline const std::pair<int, int> kCounterChoices[] = {{IDC_CNT_CLOCK_INTERNAL, IDC_CNT_CLOCK_LINE},
                                                      {IDC_CNT_GATE_INTERNAL, IDC_CNT_GATE_LINE},
                                                      {IDC_CNT_OUTPUT_REGISTER, IDC_CNT_OUTPUT_LINE}};

// A setting as a control of a page shows it: a list's selection, or
// whether a button is checked.
struct Setting {
  int page, control;
  LRESULT value;
};
// Makes each setting as a user does, the page shown first: chooses the
// list's item, or clicks the button, which must change it.
void Set(HWND dialog, const std::vector<Setting> &settings);
// What each setting's control shows now, and what the settings say.
std::vector<LRESULT> Shown(HWND dialog, const std::vector<Setting> &settings);
std::vector<LRESULT> Values(const std::vector<Setting> &settings);

class AppletTest : public testing::Test {
 protected:
  // Loads the applet: CPL_INIT, CPL_GETCOUNT, CPL_INQUIRE, CPL_NEWINQUIRE.
  void Load();
  // The same, for the driver's record of a board of `deviceType` that the
  // library describes as `board`.
  void Load(uint32_t deviceType, const diolib::Board &board = diolib::Board());
  // Opens the main dialog (CPL_DBLCLK); `user` acts while it is shown, then
  // `close` (OK, Cancel) is clicked unless it is 0.
  void OpenDialog(std::function<void(HWND dialog)> user, int close = 0);
  // Opens the main dialog, shows the page made from `templateId`, hands it
  // to `user`, then clicks `close` (OK, Cancel).
  void OnPage(int templateId, std::function<void(HWND page)> user, int close = IDOK);
  // CPL_STOP, CPL_EXIT and unload.
  void Unload();
  // Unloads and starts again from an empty registry and desktop and the
  // library's default board: for the next case of a table, which `what`
  // names in the messages of the checks that follow.
  void StartOver(const std::string &what);
  void TearDown() override;

  hostwin::ControlPanel panel_;
  bool loaded_ = false;
  std::string path_ = APPLET_PATH;  // where the Control Panel loads the applet from
  std::unique_ptr<testing::ScopedTrace> case_;
};

}  // namespace applettest
