// The host side of the Win32 stand-in: what tests use to set up the desktop,
// act as the user, look at windows and check that the applet left the desktop
// balanced. The applet never includes this header; it sees only <windows.h>.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <cpl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hostwin {

// ---------------------------------------------------------------------------
// Balance. Everything a test must give back: open registry keys, windows,
// loaded libraries, bitmaps, modal dialogs nobody was there to answer, and breaches of
// the calling rules that Windows would not report through an error code.
// Empty when balanced; otherwise one line per item.
std::vector<std::string> Outstanding();
// Puts the desktop back in its first state. Outstanding items are dropped
// (call Outstanding() first to report them). The registry itself belongs to
// the machine (hostreg::Reset).
void ResetDesktop();

// ---------------------------------------------------------------------------
// The screen: 96 dots per inch (a scale of 100 %) unless a test sets another,
// such as 120, 144 or 192 (125 %, 150 %, 200 %). Dialog units grow with it.
void SetScreenDpi(int dpi);

// ---------------------------------------------------------------------------
// Common controls. InitCommonControlsEx fails from now on, as in a process
// whose common controls cannot be loaded.
void RefuseCommonControls();
// EnableThemeDialogTexture's flags for the window, or 0.
DWORD DialogTexture(HWND window);

// ---------------------------------------------------------------------------
// Modules. A module is a library image with its resources: the compiled
// resource file (.res) that the Windows build links into the image.
HINSTANCE RegisterResourceModule(const std::string &name, const std::vector<uint8_t> &res);
void UnregisterResourceModule(HINSTANCE module);
std::vector<uint8_t> ReadBinaryFile(const std::string &path);

// ---------------------------------------------------------------------------
// Messages delivered to dialog procedures, oldest first, for comparison with
// an expected sequence.
struct Message {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  UINT code;  // WM_NOTIFY: the notification code from the NMHDR
};
const std::vector<Message> &Messages();
void ClearMessages();
std::string Describe(const Message &message);

// ---------------------------------------------------------------------------
// The user. Each action does what a mouse click does on Windows, including
// the notifications, and returns false when a user could not do it: the
// window is hidden or disabled, or is not that kind of control.
bool Click(HWND button);                // push button, check box, radio button
bool ChooseItem(HWND combo, int index);  // opens a drop-down list and picks an item
bool ClickTab(HWND tab, int index);      // a tab of a tab control
// A key pressed and released, as the running modal dialog's message loop
// hands it on: the dialog manager's keys (Tab, Shift+Tab, the arrows, Enter,
// Esc) unless the focused control wants them, the others to the focused
// control (the space bar presses a button, the arrows move a list's
// selection or a tab control's tab). False when no window has the focus.
bool PressKey(UINT key, bool shift = false, bool control = false);
// The user who answers the next modal dialog: called with the dialog once it
// is shown. A dialog still open when the script returns, or one that opens
// with no script waiting, is a fault: on Windows it would wait forever.
void WhenDialogOpens(std::function<void(HWND dialog)> user);

// ---------------------------------------------------------------------------
// Looking at windows.
std::string Text(HWND window);
std::string ClassName(HWND window);  // "Button", "ComboBox", "Static", "SysTabControl32", "#32770"
std::vector<HWND> Children(HWND window);
// The window's rectangle in its parent's client area, in pixels.
RECT Placement(HWND window);
// Where a bitmap static control draws its picture, in its client area: at
// the picture's own size (centred with SS_CENTERIMAGE), or stretched over
// the whole control with SS_REALSIZECONTROL. Empty without a picture.
RECT PictureRect(HWND control);
// Items of a combo box or tab control, in list order.
std::vector<std::string> Items(HWND control);
// The dialog template a dialog was built from, or 0.
int TemplateId(HWND dialog);
// Top-level windows that exist, oldest first.
std::vector<HWND> TopLevelWindows();
// Whether a push button shows the shield of a command that needs
// administrator rights (BCM_SETSHIELD).
bool HasShield(HWND button);
// Whether the taskbar shows a button for the window (and Alt+Tab lists it):
// a visible top-level window that is not a tool window, and either has no
// owner or has WS_EX_APPWINDOW [MS:shell/taskbar "Managing Taskbar Buttons"].
bool HasTaskbarButton(HWND window);

struct Picture {
  int resourceId = 0;  // the bitmap or icon resource it was loaded from
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, top row first
};
bool DescribeBitmap(HBITMAP bitmap, Picture *picture);
// Paints an owner-drawn static control as when it shows: WM_DRAWITEM to its
// parent with a device context over its client area. The picture is what
// was drawn there (pixels nobody painted are 0x123456). False for a control
// that is not owner-drawn.
bool PaintOwnerDrawn(HWND control, Picture *picture);
// The system's colours from now on: high contrast ("High Contrast Black":
// black window, white text) or the standard scheme.
void UseHighContrast(bool on);
bool DescribeIcon(HICON icon, Picture *picture);
int LiveBitmaps();

// ---------------------------------------------------------------------------
// Message boxes. MessageBoxA records its call and returns at once: a box with
// OK alone as a user pressing OK would, one with a choice (MB_YESNO, ...) with
// the answer a test gave for it beforehand. A choice nobody was there to
// make, an answer that is not one of the box's buttons, and an answer no box
// took are faults.
struct MessageBoxCall {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
  size_t atMessage;  // how many dialog messages had been delivered before it
  int answer;
};
const std::vector<MessageBoxCall> &MessageBoxes();
void WhenMessageBoxAsks(int answer);

// ---------------------------------------------------------------------------
// The shell and the machine. ShellExecuteExA starts programs with the
// "runas" verb: a process that is not elevated first shows the elevation
// prompt, which the answer a test gave beforehand approves or declines (a
// prompt nobody answers, and an answer no prompt took, are faults). Every
// call is recorded. The machine is 64-bit Windows (System32 and SysWOW64)
// unless a test runs it as 32-bit Windows.
struct ShellExecution {
  HWND owner;
  std::string verb;
  std::string file;
  std::string parameters;
  std::string directory;
  int show;
  ULONG mask;
  std::string prompt;  // "consent" (an administrator), "credentials" (a standard user), or none
  bool started;
};
const std::vector<ShellExecution> &ShellExecutions();
void WhenElevationAsked(bool approve);
void RunOn32BitWindows();

// ---------------------------------------------------------------------------
// Registry, as the applet's process sees it: every value written through
// RegSetValueExA, in order, and the rights of the process. The machine's keys
// (HKEY_LOCAL_MACHINE, the driver's service key among them) can be written
// by administrators and the system only. The process runs as an elevated
// administrator unless a test says otherwise; for a standard user, and for
// an administrator under UAC, whose Control Panel runs unelevated, every
// machine key opens for reading only: RegOpenKeyExA refuses to open one for
// writing, and setting a value, deleting a key or creating a missing one
// fail with ERROR_ACCESS_DENIED. The two differ in what elevation asks of
// the user (ShellExecutions). The kernel's own registry calls are not
// affected.
struct RegistryWrite {
  std::string key;  // "\REGISTRY\MACHINE\..."
  std::string value;
  DWORD type;
  std::vector<uint8_t> data;  // as passed (ANSI text for REG_SZ)
  LSTATUS result;
};
const std::vector<RegistryWrite> &RegistryWrites();
enum class Rights { ElevatedAdministrator, UnelevatedAdministrator, StandardUser };
void RunAs(Rights rights);
// One key refuses every value written to it with `status`, whatever the
// rights: one whose security lets nobody change it (ERROR_ACCESS_DENIED), or
// one another program deleted while it was open (ERROR_KEY_DELETED).
void RefuseWrites(const std::string &key, LSTATUS status);

// ---------------------------------------------------------------------------
// The Control Panel. It loads an applet library, talks to it through
// CPlApplet in the Control Panel's order and unloads it again. Its own window
// is the one it passes with every call.
struct CplCall {
  UINT message;
  LPARAM lParam1;
  LPARAM lParam2;
  LONG result;
};
struct ControlPanel {
  HMODULE module = nullptr;
  APPLET_PROC proc = nullptr;
  HWND window = nullptr;
  LONG count = 0;
  std::vector<CPLINFO> inquired;     // what CPL_INQUIRE left, per applet
  std::vector<NEWCPLINFOA> described;  // what CPL_NEWINQUIRE filled, per applet
  std::vector<CplCall> calls;
};
// Loads the library and sends CPL_INIT, CPL_GETCOUNT, then CPL_INQUIRE for
// each applet and CPL_NEWINQUIRE for each one that CPL_INQUIRE left
// undescribed. False, with the library unloaded, when loading fails or
// CPL_INIT returns 0.
bool OpenControlPanel(const std::string &path, ControlPanel *panel);
// CPL_DBLCLK for applet `index`, as when the user opens it.
LONG DoubleClick(ControlPanel *panel, int index);
// CPL_STOP for each applet, CPL_EXIT, then the library is unloaded.
void CloseControlPanel(ControlPanel *panel);
// What "control" does with a command line, "file.cpl[,@n][,text]" (the
// path may be quoted): open, tell applet n the text with CPL_STARTWPARMSW,
// CPL_DBLCLK unless that was handled, close; returns the calls made. The
// parts are separated by commas or blanks outside quotes, and the quotes
// removed, as the Control Panel parses them
// [WINE:dlls/shell32/control.c Control_DoLaunch].
std::vector<CplCall> RunControlCommandLine(const std::string &commandLine);
// What the applet was told with the last CPL_STARTWPARMSW, in UTF-8.
std::string LastStartText();
std::string CplMessageName(UINT message);

}  // namespace hostwin
