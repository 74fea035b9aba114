// The keyboard focus and the dialog manager's keyboard interface, as user32
// has them:
//
// - SetFocus sends WM_KILLFOCUS to the window losing the focus and
//   WM_SETFOCUS to the one gaining it; hiding a window that holds the focus
//   gives it to the window's parent [MS:winuser/nf-winuser-setfocus]
//   [WINE:dlls/win32u/window.c show_window].
// - Tab and Shift+Tab go through the dialog's controls with WS_TABSTOP in
//   the Z order of the children, which is the order they were created in
//   unless SetWindowPos changed it; a visible, enabled child with
//   WS_EX_CONTROLPARENT (a DS_CONTROL page) is entered instead of being
//   stepped over [MS:dlgbox/dlgbox-programming-considerations]
//   [WINE:dlls/user32/dialog.c GetNextDlgTabItem].
// - The arrow keys move within a group: from the nearest control with
//   WS_GROUP at or before the focus up to the next one; moving onto an
//   automatic radio button checks it [WINE:dlls/user32/dialog.c
//   IsDialogMessageW, GetNextDlgGroupItem].
// - Enter presses the focused push button, or else the default button
//   (DM_GETDEFID, IDOK unless DM_SETDEFID changed it); Esc sends IDCANCEL.
// - A control says which keys it handles itself with WM_GETDLGCODE: the
//   arrows for lists and tab controls [MS:dlgbox/wm-getdlgcode].
// - The loop first hands each key to the thread's WH_MSGFILTER hooks
//   (hooks.cpp); one they take goes no further. Ctrl does not change what
//   the dialog manager does with a key [WINE:dlls/user32/dialog.c
//   IsDialogMessageW].
#include <algorithm>

#include "desktop.h"

namespace hostwin {
namespace {

HWND &FocusWindow() {
  static HWND focus = nullptr;
  return focus;
}
HWND &CaptureWindow() {
  static HWND capture = nullptr;
  return capture;
}
std::vector<HWND> &ModalDialogs() {
  static std::vector<HWND> dialogs;
  return dialogs;
}

DWORD StyleOf(HWND handle) {
  Window *window = Find(handle);
  return window ? window->style : 0;
}

bool VisibleAndEnabled(HWND handle) { return (StyleOf(handle) & (WS_VISIBLE | WS_DISABLED)) == WS_VISIBLE; }

bool EnteredByKeyboard(HWND handle) {
  Window *window = Find(handle);
  return window && (window->exStyle & WS_EX_CONTROLPARENT) && VisibleAndEnabled(handle) &&
         !window->children.empty();
}

// The dialog's controls in keyboard order: its children in Z order, each
// visible, enabled control parent replaced by its own controls.
void KeyboardOrder(HWND parent, std::vector<HWND> *out) {
  for (HWND child : Children(parent)) {
    if (EnteredByKeyboard(child)) KeyboardOrder(child, out);
    else out->push_back(child);
  }
}

long IndexOf(const std::vector<HWND> &order, HWND control) {
  auto at = std::find(order.begin(), order.end(), control);
  return at == order.end() ? -1 : long(at - order.begin());
}

HWND Step(const std::vector<HWND> &order, long from, bool previous, bool (*wanted)(HWND)) {
  long count = long(order.size());
  for (long step = 1; step < count; ++step) {
    long at = ((previous ? from - step : from + step) % count + count) % count;
    if (wanted(order[size_t(at)])) return order[size_t(at)];
  }
  return nullptr;
}

// The dialog's keyboard order and the control's place in it (-1: none).
long Around(HWND dialog, HWND *control, std::vector<HWND> *order) {
  if (*control == dialog) *control = nullptr;
  KeyboardOrder(dialog, order);
  return *control ? IndexOf(*order, *control) : -1;
}

HWND FirstOf(const std::vector<HWND> &order, bool (*wanted)(HWND), HWND none) {
  for (HWND candidate : order)
    if (wanted(candidate)) return candidate;
  return none;
}

bool TabStop(HWND handle) { return VisibleAndEnabled(handle) && (StyleOf(handle) & WS_TABSTOP); }

LRESULT DialogCode(HWND control, UINT key) { return SendMessageA(control, WM_GETDLGCODE, key, 0); }

void Command(HWND dialog, int id, HWND control) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

// What IsDialogMessage does with a key press; false when the key goes to
// the focused control instead.
bool DialogKey(HWND dialog, HWND focus, UINT key, bool shift) {
  LRESULT code = DialogCode(focus, key);
  if (code & DLGC_WANTMESSAGE) return false;
  switch (key) {
    case VK_TAB:
      if (code & DLGC_WANTTAB) return false;
      SendMessageA(dialog, WM_NEXTDLGCTL, shift ? 1 : 0, 0);
      return true;
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN: {
      if (code & DLGC_WANTARROWS) return false;
      HWND next = GetNextDlgGroupItem(dialog, focus, key == VK_LEFT || key == VK_UP);
      if (next && DialogCode(next, key) == (DLGC_BUTTON | DLGC_RADIOBUTTON)) {
        SetFocus(next);
        if ((StyleOf(next) & BS_TYPEMASK) == BS_AUTORADIOBUTTON &&
            SendMessageA(next, BM_GETCHECK, 0, 0) != BST_CHECKED)
          SendMessageA(next, BM_CLICK, 0, 0);
      } else {
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), 1);
      }
      return true;
    }
    case VK_ESCAPE:
      Command(dialog, IDCANCEL, GetDlgItem(dialog, IDCANCEL));
      return true;
    case VK_RETURN: {
      if (focus != dialog && IsChild(dialog, focus) && (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON))) {
        Command(dialog, GetDlgCtrlID(focus), focus);
        return true;
      }
      LRESULT defined = SendMessageA(dialog, DM_GETDEFID, 0, 0);
      int id = HIWORD(defined) == DC_HASDEFID ? LOWORD(defined) : IDOK;
      HWND button = GetDlgItem(dialog, id);
      if (!button || IsWindowEnabled(button)) Command(dialog, id, button);
      return true;
    }
  }
  return false;
}

}  // namespace

HWND Captured() { return CaptureWindow(); }
void CaptureMouse(HWND window) { CaptureWindow() = window; }

void FocusLeaves(HWND hidden) {
  HWND focus = GetFocus();
  if (focus && (focus == hidden || IsChild(hidden, focus))) SetFocus(GetAncestorParent(hidden));
}

void ForgetFocus() {
  FocusWindow() = nullptr;
  CaptureWindow() = nullptr;
  ModalDialogs().clear();
}

void ModalLoopStarts(HWND dialog) { ModalDialogs().push_back(dialog); }
void ModalLoopEnds(HWND dialog) {
  auto &dialogs = ModalDialogs();
  dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), dialog), dialogs.end());
}

HWND GetAncestorParent(HWND window) {
  Window *w = Find(window);
  return w ? w->parent : nullptr;
}

bool PressKey(UINT key, bool shift, bool control) {
  HWND dialog = ModalDialogs().empty() ? nullptr : ModalDialogs().back();
  HWND target = GetFocus();
  if (!target) target = dialog;
  if (!target) return false;
  HoldKeys(shift, control);
  // The modal loop lets the thread's message filters see the key first.
  bool taken = dialog && FilterDialogMessage(target, WM_KEYDOWN, key);
  if (!taken && !(dialog && (target == dialog || IsChild(dialog, target)) && DialogKey(dialog, target, key, shift))) {
    SendMessageA(target, WM_KEYDOWN, key, 0);
    if (Find(target)) SendMessageA(target, WM_KEYUP, key, 0);
  }
  HoldKeys(false, false);
  return true;
}

}  // namespace hostwin

using namespace hostwin;

extern "C" {

HWND WINAPI GetFocus(void) {
  HWND focus = FocusWindow();
  return Find(focus) ? focus : nullptr;
}

// Returns the window that had the focus.
HWND WINAPI SetFocus(HWND window) {
  if (window && !Find(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  HWND old = GetFocus();
  if (old == window) return old;
  if (old) SendMessageA(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
  FocusWindow() = window && Find(window) ? window : nullptr;
  if (FocusWindow()) SendMessageA(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

BOOL WINAPI IsChild(HWND parent, HWND window) {
  for (Window *w = Find(window); w && w->parent; w = Find(w->parent))
    if (w->parent == parent) return TRUE;
  return FALSE;
}

// Without a control (or with the dialog itself) the search starts before the
// first control; "previous" then finds nothing.
HWND WINAPI GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  std::vector<HWND> order;
  long from = Around(dialog, &control, &order);
  if (from < 0) return previous ? nullptr : FirstOf(order, TabStop, control);
  HWND next = Step(order, from, previous != FALSE, TabStop);
  return next ? next : control;
}

HWND WINAPI GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous) {
  std::vector<HWND> order;
  long at = Around(dialog, &control, &order);
  if (at < 0) return previous ? nullptr : FirstOf(order, VisibleAndEnabled, nullptr);
  // The group: from the nearest WS_GROUP control at or before this one
  // (going round the end) up to the next WS_GROUP control.
  long count = long(order.size());
  long start = at;
  for (long step = 0; step < count; ++step) {
    long i = ((at - step) % count + count) % count;
    if (StyleOf(order[size_t(i)]) & WS_GROUP) {
      start = i;
      break;
    }
  }
  std::vector<HWND> group;
  for (long step = 0; step < count; ++step) {
    HWND member = order[size_t((start + step) % count)];
    if (step > 0 && (StyleOf(member) & WS_GROUP)) break;
    group.push_back(member);
  }
  HWND next = Step(group, IndexOf(group, control), previous != FALSE, VisibleAndEnabled);
  return next ? next : control;
}

}  // extern "C"
