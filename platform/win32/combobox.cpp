// The combo box class as a drop-down list. Setting the selection never
// notifies; picking an item with the mouse does, and so does moving the
// selection with the arrow keys while the list is closed (CBN_SELCHANGE,
// also at either end of the list) [WINE:dlls/user32/combo.c COMBO_Command]
// [WINE:dlls/user32/listbox.c LISTBOX_HandleKeyDown]. The list keeps the
// arrow keys from the dialog manager and tells its parent when it gets and
// loses the focus.
#include <algorithm>
#include <strings.h>

#include "desktop.h"

namespace hostwin {
namespace {

LRESULT Insert(Window &combo, int index, const char *text) {
  if (!text) text = "";
  int count = int(combo.items.size());
  if (combo.style & CBS_SORT) {
    // Sorted lists insert before the first item that sorts after the text,
    // comparing without regard to case.
    index = 0;
    while (index < count && strcasecmp(combo.items[size_t(index)].c_str(), text) <= 0) ++index;
  } else if (index < 0) {
    index = count;
  } else if (index > count) {
    return CB_ERR;
  }
  combo.items.insert(combo.items.begin() + index, text);
  if (combo.selection >= index) ++combo.selection;
  return index;
}

bool InRange(const Window &combo, WPARAM index) { return index < combo.items.size(); }

void KeyDown(Window &combo, WPARAM key) {
  int count = int(combo.items.size()), at = combo.selection;
  switch (key) {
    case VK_UP:
    case VK_LEFT: at = at < 0 ? 0 : std::max(at - 1, 0); break;
    case VK_DOWN:
    case VK_RIGHT: at = at < 0 ? 0 : std::min(at + 1, count - 1); break;
    case VK_HOME: at = 0; break;
    case VK_END: at = count - 1; break;
    default: return;
  }
  if (count == 0) return;
  combo.selection = at;
  NotifyParent(combo, CBN_SELCHANGE);
}

}  // namespace

LRESULT ComboBoxProc(Window &window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case CB_ADDSTRING:
      return Insert(window, -1, reinterpret_cast<const char *>(lParam));
    case CB_INSERTSTRING:
      return Insert(window, int(wParam), reinterpret_cast<const char *>(lParam));
    case CB_DELETESTRING:
      if (!InRange(window, wParam)) return CB_ERR;
      window.items.erase(window.items.begin() + long(wParam));
      if (window.selection == int(wParam)) window.selection = -1;
      else if (window.selection > int(wParam)) --window.selection;
      return LRESULT(window.items.size());
    case CB_RESETCONTENT:
      window.items.clear();
      window.selection = -1;
      return CB_OKAY;
    case CB_GETCOUNT:
      return LRESULT(window.items.size());
    case CB_GETCURSEL:
      return window.selection;
    case CB_SETCURSEL:
      // -1 or an index past the end clears the selection and answers CB_ERR.
      if (!InRange(window, wParam)) {
        window.selection = -1;
        return CB_ERR;
      }
      window.selection = int(wParam);
      return window.selection;
    case CB_GETLBTEXTLEN:
      return InRange(window, wParam) ? LRESULT(window.items[wParam].size()) : CB_ERR;
    case CB_GETLBTEXT:
      if (!InRange(window, wParam) || !lParam) return CB_ERR;
      strcpy(reinterpret_cast<char *>(lParam), window.items[wParam].c_str());
      return LRESULT(window.items[wParam].size());
    case CB_GETDROPPEDSTATE:
      return FALSE;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
      KeyDown(window, wParam);
      return 0;
    case WM_SETFOCUS:
      NotifyParent(window, CBN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      NotifyParent(window, CBN_KILLFOCUS);
      return 0;
    case WM_SETTEXT:
      return CB_ERR;  // a drop-down list has no edit field
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
      window.text = window.selection >= 0 ? window.items[size_t(window.selection)] : "";
      break;
  }
  return DefaultProc(window, message, wParam, lParam);
}

// The click takes the focus, the list drops down, the user clicks an item,
// the list closes up. The selection-change notification comes last, and
// also when the item clicked was already selected.
bool ChooseItem(HWND handle, int index) {
  Window *combo = Find(handle);
  if (!combo || combo->kind != Kind::ComboBox || !Usable(*combo)) return false;
  if (index < 0 || !InRange(*combo, WPARAM(index))) return false;
  SetFocus(handle);
  if (!(combo = Find(handle))) return true;
  NotifyParent(*combo, CBN_DROPDOWN);
  if (!(combo = Find(handle))) return true;
  combo->selection = index;
  NotifyParent(*combo, CBN_SELENDOK);
  if ((combo = Find(handle))) NotifyParent(*combo, CBN_CLOSEUP);
  if ((combo = Find(handle))) NotifyParent(*combo, CBN_SELCHANGE);
  return true;
}

}  // namespace hostwin
