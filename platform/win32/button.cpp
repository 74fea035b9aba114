// The button class: push buttons, check boxes, radio buttons and group
// boxes. Setting a check never notifies; a click does.
#include "desktop.h"

namespace hostwin {
namespace {

DWORD TypeOf(const Window &button) { return button.style & BS_TYPEMASK; }

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
      other->check = BST_UNCHECKED;
  }
}

void ClickButton(Window &button) {
  switch (TypeOf(button)) {
    case BS_AUTOCHECKBOX:
      button.check = button.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
      break;
    case BS_AUTO3STATE:
      button.check = (button.check + 1) % 3;
      break;
    case BS_AUTORADIOBUTTON:
      button.check = BST_CHECKED;
      ClearGroup(button);
      break;
  }
  NotifyParent(button, BN_CLICKED);
}

}  // namespace

LRESULT ButtonProc(Window &window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case BM_GETCHECK:
      return HasCheck(window) ? window.check : BST_UNCHECKED;
    case BM_SETCHECK:
      if (HasCheck(window)) {
        DWORD type = TypeOf(window);
        bool threeState = type == BS_3STATE || type == BS_AUTO3STATE;
        window.check = (wParam == BST_INDETERMINATE && !threeState) ? BST_CHECKED : int(wParam & 3);
      }
      return 0;
    case BM_CLICK:
      if (TypeOf(window) != BS_GROUPBOX) ClickButton(window);
      return 0;
  }
  return DefaultProc(window, message, wParam, lParam);
}

bool Click(HWND handle) {
  Window *button = Find(handle);
  if (!button || button->kind != Kind::Button || !Usable(*button)) return false;
  if (TypeOf(*button) == BS_GROUPBOX) return false;  // a frame, not a control
  ClickButton(*button);
  return true;
}

}  // namespace hostwin
