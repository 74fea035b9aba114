// The button class: push buttons, check boxes, radio buttons and group
// boxes. Setting a check never notifies; a click does, by the mouse or by
// the space bar. A radio button that gets the focus other than from the
// mouse while it is unchecked notifies BN_CLICKED, and an automatic one
// checks itself first [WINE:dlls/user32/button.c WM_SETFOCUS]
// [MS:controls/bm-setdontclick]. A radio button is a tab stop while it is
// checked: BM_SETCHECK sets or clears its WS_TABSTOP [WINE:dlls/user32/button.c
// BM_SETCHECK].
#include <commctrl.h>

#include "desktop.h"

namespace hostwin {
namespace {

DWORD TypeOf(const Window &button) { return button.style & BS_TYPEMASK; }

bool IsRadio(const Window &button) { return TypeOf(button) == BS_RADIOBUTTON || TypeOf(button) == BS_AUTORADIOBUTTON; }

// A radio button's tab stop follows its check.
void SetCheck(Window &button, int state) {
  button.check = state;
  if (IsRadio(button)) button.style = state ? (button.style | WS_TABSTOP) : (button.style & ~DWORD(WS_TABSTOP));
}

bool HasCheck(const Window &button) {
  switch (TypeOf(button)) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_AUTORADIOBUTTON:
      return true;
  }
  return false;
}

// An automatic radio button clears the other automatic radio buttons of its
// group: the siblings from the control that starts the group (WS_GROUP) up
// to the next one that starts another.
void ClearGroup(Window &button) {
  Window *parent = Find(button.parent);
  if (!parent) return;
  const auto &siblings = parent->children;
  size_t self = 0;
  while (self < siblings.size() && siblings[self] != button.handle) ++self;
  size_t first = self;
  while (first > 0 && !(Find(siblings[first])->style & WS_GROUP)) --first;
  for (size_t i = first; i < siblings.size(); ++i) {
    Window *other = Find(siblings[i]);
    if (i > first && (other->style & WS_GROUP)) break;
    if (other != &button && other->kind == Kind::Button && TypeOf(*other) == BS_AUTORADIOBUTTON)
      SetCheck(*other, BST_UNCHECKED);
  }
}

void ClickButton(Window &button) {
  switch (TypeOf(button)) {
    case BS_AUTOCHECKBOX:
      SetCheck(button, button.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
      break;
    case BS_AUTO3STATE:
      SetCheck(button, (button.check + 1) % 3);
      break;
    case BS_AUTORADIOBUTTON:
      SetCheck(button, BST_CHECKED);
      ClearGroup(button);
      break;
  }
  NotifyParent(button, BN_CLICKED);
}

LRESULT DialogCode(const Window &button) {
  switch (TypeOf(button)) {
    case BS_PUSHBUTTON: return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
    case BS_DEFPUSHBUTTON: return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: return DLGC_BUTTON | DLGC_RADIOBUTTON;
    case BS_GROUPBOX: return DLGC_STATIC;
  }
  return DLGC_BUTTON;
}

}  // namespace

LRESULT ButtonProc(Window &window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETDLGCODE:
      return DialogCode(window);
    case BM_GETCHECK:
      return HasCheck(window) ? window.check : BST_UNCHECKED;
    case BM_SETCHECK:
      if (HasCheck(window)) {
        DWORD type = TypeOf(window);
        bool threeState = type == BS_3STATE || type == BS_AUTO3STATE;
        SetCheck(window, (wParam == BST_INDETERMINATE && !threeState) ? BST_CHECKED : int(wParam & 3));
      }
      return 0;
    case BM_CLICK:
      if (TypeOf(window) != BS_GROUPBOX) MousePress(window, ClickButton);
      return 0;
    case BCM_SETSHIELD:
      // Version 6 of the common controls draws the shield on push buttons
      // and command links; it answers 1 [MS:controls/bcm-setshield].
      if (TypeOf(window) != BS_PUSHBUTTON && TypeOf(window) != BS_DEFPUSHBUTTON) {
        Fault("BCM_SETSHIELD on a button that is no push button");
        return 0;
      }
      window.shield = lParam != 0;
      return 1;
    case WM_SETFOCUS:
      if (IsRadio(window) && window.check == BST_UNCHECKED && Captured() != window.handle) {
        if (TypeOf(window) == BS_AUTORADIOBUTTON) {
          SetCheck(window, BST_CHECKED);
          ClearGroup(window);
        }
        NotifyParent(window, BN_CLICKED);
      }
      return 0;
    case WM_KILLFOCUS:
      window.pressed = false;
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_SPACE && TypeOf(window) != BS_GROUPBOX) window.pressed = true;
      return 0;
    case WM_KEYUP:
      if (wParam == VK_SPACE && window.pressed) {
        window.pressed = false;
        ClickButton(window);
      }
      return 0;
  }
  return DefaultProc(window, message, wParam, lParam);
}

bool HasShield(HWND handle) {
  Window *button = Find(handle);
  return button && button->kind == Kind::Button && button->shield;
}

bool Click(HWND handle) {
  Window *button = Find(handle);
  if (!button || button->kind != Kind::Button || !Usable(*button)) return false;
  if (TypeOf(*button) == BS_GROUPBOX) return false;  // a frame, not a control
  MousePress(*button, ClickButton);
  return true;
}

}  // namespace hostwin
