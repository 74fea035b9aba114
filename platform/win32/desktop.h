// Internal to the Win32 stand-in: windows, modules and resources, and the
// routines the files of the stand-in share.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host_win32.h"

namespace hostwin {

// ---------------------------------------------------------------------------
// desktop.cpp: texts between UTF-8 (the host's file names) and UTF-16 (the
// wide calls'), surrogate pairs included; a byte that starts no UTF-8
// character stands for itself
std::u16string Utf16(const std::string &text);
std::string Utf8(const std::u16string &text);

// desktop.cpp: faults, the last error, the message log
void Fault(const std::string &what);
std::vector<std::string> &Faults();
void LogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---------------------------------------------------------------------------
// resources.cpp: modules and their resources
struct Resource {
  WORD typeId = 0;           // 0 when the type is named
  std::u16string typeName;
  WORD nameId = 0;           // 0 when the resource is named
  std::u16string name;
  WORD language = 0;
  std::vector<uint8_t> data;
};
struct Module {
  std::string name;
  std::vector<Resource> resources;
  void *library = nullptr;  // the loaded image, for libraries
  int references = 0;
};
// Parses a .res file; false when it is malformed.
bool ParseResFile(const std::vector<uint8_t> &bytes, std::vector<Resource> *out);
HINSTANCE AddModule(std::unique_ptr<Module> module);
Module *ModuleOf(HINSTANCE instance);
void RemoveModule(HINSTANCE instance);
std::vector<HINSTANCE> Modules();
// Looks a resource up by type number and by a name that is either a number
// (MAKEINTRESOURCE) or a text ("#12" means number 12, as on Windows).
const Resource *FindResourceOf(HINSTANCE instance, WORD type, LPCSTR name);
constexpr WORD kRtIcon = 3, kRtBitmap = 2, kRtDialog = 5, kRtString = 6, kRtGroupIcon = 14;

// ---------------------------------------------------------------------------
// gdi.cpp: bitmaps and icons decoded from resources
HBITMAP LoadBitmapResource(HINSTANCE instance, int id);
void ForgetPictures();
// A bitmap the control loaded itself; the control gives it up to the caller
// of STM_SETIMAGE (true when it was the control's).
void GiveBitmapToControl(HBITMAP bitmap, HWND control);
bool TakeBitmapFromControl(HANDLE bitmap, HWND control);
// One line per bitmap that belongs to nobody's control and was not deleted.
std::vector<std::string> LeftBitmaps();

// ---------------------------------------------------------------------------
// dialog_template.cpp
struct DialogItem {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  std::string className;  // predefined classes by their names
  std::string title;
  int titleOrdinal = -1;  // a resource number in place of a title
};
struct DialogTemplate {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string title;
  bool hasFont = false;
  int pointSize = 0;
  std::string fontName;
  std::vector<DialogItem> items;
};
bool ParseDialogTemplate(const std::vector<uint8_t> &data, DialogTemplate *out);

// ---------------------------------------------------------------------------
// windows.cpp: the window table
enum class Kind { Frame, Dialog, Button, ComboBox, Static, Tab };

struct TabItem {
  std::string text;
  LPARAM param = 0;
};

struct Window {
  HWND handle = nullptr;
  Kind kind = Kind::Frame;
  std::string className;
  DWORD style = 0;
  DWORD exStyle = 0;
  int id = 0;
  HWND parent = nullptr;  // child windows
  HWND owner = nullptr;   // top-level windows
  std::string text;
  RECT rect = {0, 0, 0, 0};  // in the parent's client area (screen for top-level)
  bool destroyed = false;
  std::vector<HWND> children;  // in Z order, the top one first
  LONG_PTR userData = 0;
  int fontHeight = 16;  // of the font the control draws with: the system font unless its dialog set one

  DWORD texture = 0;  // EnableThemeDialogTexture's flags

  // dialogs
  DLGPROC proc = nullptr;
  int baseX = 0, baseY = 0;  // dialog base units in pixels
  HINSTANCE instance = nullptr;
  int templateId = 0;
  LONG_PTR msgResult = 0;
  bool modal = false;
  bool ended = false;
  INT_PTR endResult = 0;
  bool ownerWasEnabled = false;
  int defaultId = IDOK;

  // buttons
  int check = BST_UNCHECKED;
  bool pressed = false;  // by the space bar, until it is released
  bool shield = false;   // BCM_SETSHIELD: the command needs administrator rights
  // combo boxes
  std::vector<std::string> items;
  int selection = -1;
  // static controls
  HANDLE image = nullptr;
  // tab controls
  std::vector<TabItem> tabs;
  int tabSelection = -1;
};

// The live window of a handle, or none for a handle that names no window or
// a destroyed one.
Window *Find(HWND handle);
Window *NewWindow(Kind kind, const std::string &className, HWND parent);
// Destroys the window and its children: WM_DESTROY parent first, then
// WM_NCDESTROY children first, as Windows does.
void DestroyTree(HWND handle);
std::vector<Window *> LiveWindows();
void ForgetWindows();
bool Visible(const Window &window);  // the window and all its ancestors
bool Usable(const Window &window);   // visible and enabled, with its ancestors
// Sends WM_COMMAND(id, code) from a control to its parent.
void NotifyParent(Window &control, UINT code);
// A mouse press on the control: it takes the mouse and the focus, then the
// press ends with `click`.
void MousePress(Window &control, void (*click)(Window &));

// Window procedures of the predefined classes.
LRESULT ButtonProc(Window &window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ComboBoxProc(Window &window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT StaticProc(Window &window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT TabProc(Window &window, UINT message, WPARAM wParam, LPARAM lParam);
// What every window does with the messages its class leaves alone.
LRESULT DefaultProc(Window &window, UINT message, WPARAM wParam, LPARAM lParam);

// focus.cpp: the focus, the mouse capture, the running modal dialogs
HWND Captured();
void CaptureMouse(HWND window);  // null releases it
// Gives the focus to the parent of a window being hidden when the window or
// one of its children holds it.
void FocusLeaves(HWND hidden);
void ForgetFocus();
void ModalLoopStarts(HWND dialog);
void ModalLoopEnds(HWND dialog);
HWND GetAncestorParent(HWND window);

// dialogs.cpp
LRESULT DialogProcOf(Window &dialog, UINT message, WPARAM wParam, LPARAM lParam);
void ForgetOperators();
std::vector<std::string> UnusedOperators();

// common_controls.cpp
bool CommonControlRegistered(const std::string &className);
void ForgetCommonControls();

// desktop.cpp: the screen's dots per inch
int ScreenDpi();

// registry.cpp
std::vector<std::string> OpenKeys();
void ForgetKeys();
Rights CurrentRights();

// loader.cpp
std::vector<std::string> LoadedLibraries();
void ForgetLibraries();

// messagebox.cpp
void ForgetMessageBoxes();
std::vector<std::string> UnusedMessageBoxAnswers();

// paint.cpp: owner-drawn controls, pens, the system colours
std::vector<std::string> LeftPens();
void ForgetPaint();
bool DeletePen(HGDIOBJ object);  // true when the object was a pen

// token.cpp
std::vector<std::string> OpenTokens();
void ForgetTokens();

// hooks.cpp: message hooks, the keys held down, the foreground window
std::vector<std::string> InstalledHooks();
void ForgetHooks();
// The thread's WH_MSGFILTER hooks see a message of a modal dialog's loop;
// true when one of them kept it from the dialog manager.
bool FilterDialogMessage(HWND window, UINT message, WPARAM wParam);
void HoldKeys(bool shift, bool control);

// shell.cpp
void ForgetShell();
std::vector<std::string> UnusedElevationAnswers();

}  // namespace hostwin
