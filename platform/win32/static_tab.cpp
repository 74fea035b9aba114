// The static class (text, frames and bitmaps) and the tab control class.
// Setting a tab selection never notifies; clicking a tab does, and so do the
// left and right arrow keys while the tab control has the focus.
#include "desktop.h"

namespace hostwin {

// STM_SETIMAGE works only on an SS_BITMAP control and answers the picture it
// replaces; the caller keeps ownership of both, and of the template's
// picture once it is handed back. The template's picture still shown when
// the control goes is freed with it.
LRESULT StaticProc(Window &window, UINT message, WPARAM wParam, LPARAM lParam) {
  bool bitmapStatic = (window.style & SS_TYPEMASK) == SS_BITMAP;
  switch (message) {
    case WM_NCDESTROY:
      if (TakeBitmapFromControl(window.image, window.handle)) DeleteObject(window.image);
      break;
    case STM_SETIMAGE: {
      if (!bitmapStatic || wParam != IMAGE_BITMAP) return 0;
      HANDLE old = window.image;
      TakeBitmapFromControl(old, window.handle);
      window.image = reinterpret_cast<HANDLE>(lParam);
      Picture picture;
      if (!(window.style & (SS_CENTERIMAGE | SS_REALSIZECONTROL)) &&
          DescribeBitmap(static_cast<HBITMAP>(window.image), &picture)) {
        window.rect.right = window.rect.left + picture.width;
        window.rect.bottom = window.rect.top + picture.height;
      }
      return reinterpret_cast<LRESULT>(old);
    }
    case STM_GETIMAGE:
      return bitmapStatic && wParam == IMAGE_BITMAP ? reinterpret_cast<LRESULT>(window.image) : 0;
    case WM_GETDLGCODE:
      return DLGC_STATIC;
  }
  return DefaultProc(window, message, wParam, lParam);
}

RECT PictureRect(HWND handle) {
  Window *control = Find(handle);
  Picture picture;
  if (!control || control->kind != Kind::Static || (control->style & SS_TYPEMASK) != SS_BITMAP ||
      !DescribeBitmap(static_cast<HBITMAP>(control->image), &picture))
    return RECT{0, 0, 0, 0};
  LONG width = control->rect.right - control->rect.left, height = control->rect.bottom - control->rect.top;
  if (control->style & SS_CENTERIMAGE) {
    LONG x = (width - picture.width) / 2, y = (height - picture.height) / 2;
    return RECT{x, y, x + picture.width, y + picture.height};
  }
  if (control->style & SS_REALSIZECONTROL) return RECT{0, 0, width, height};
  return RECT{0, 0, picture.width, picture.height};
}

namespace {

bool ValidTab(const Window &tab, WPARAM index) { return index < tab.tabs.size(); }

LRESULT NotifyTab(Window &tab, UINT code) {
  NMHDR header = {tab.handle, UINT_PTR(tab.id), code};
  return SendMessageA(tab.parent, WM_NOTIFY, WPARAM(tab.id), reinterpret_cast<LPARAM>(&header));
}

// TCN_SELCHANGING while the old tab is still current (a non-zero answer
// keeps it), then the change and TCN_SELCHANGE.
void ChangeTab(HWND handle, int index) {
  Window *tab = Find(handle);
  if (!tab || index == tab->tabSelection || NotifyTab(*tab, TCN_SELCHANGING)) return;
  if (!(tab = Find(handle))) return;
  tab->tabSelection = index;
  NotifyTab(*tab, TCN_SELCHANGE);
}

// Every key is announced with TCN_KEYDOWN; the left and right arrows then
// move to the neighbouring tab [WINE:dlls/comctl32/tab.c TAB_KeyDown].
void TabKeyDown(Window &tab, WPARAM key) {
  HWND handle = tab.handle;
  NMTCKEYDOWN note = {{handle, UINT_PTR(tab.id), TCN_KEYDOWN}, WORD(key), 0};
  SendMessageA(tab.parent, WM_NOTIFY, WPARAM(tab.id), reinterpret_cast<LPARAM>(&note));
  Window *self = Find(handle);
  if (!self || (key != VK_LEFT && key != VK_RIGHT)) return;
  int next = self->tabSelection + (key == VK_RIGHT ? 1 : -1);
  if (ValidTab(*self, WPARAM(next))) ChangeTab(handle, next);
}

// The display area of a tab control with its tabs along the top: inside a
// border of 2 pixels and a padding of 2 on every side, and below the row of
// tabs, each as high as the font's characters plus 2, plus a vertical
// padding of 3 [WINE:dlls/comctl32/tab.c TAB_AdjustRect, TAB_SetItemBounds]
// [MS:controls/tcm-adjustrect]. TRUE goes the other way, from a display
// area to the window's rectangle.
LRESULT AdjustRect(const Window &tab, BOOL larger, RECT *rect) {
  if (!rect) return -1;
  const int edge = 2 + 2;
  int row = tab.tabs.empty() ? 0 : tab.fontHeight + 2 + 3;
  if (larger) {
    rect->top -= row;
    rect->left -= edge, rect->top -= edge, rect->right += edge, rect->bottom += edge;
  } else {
    rect->left += edge, rect->top += edge, rect->right -= edge, rect->bottom -= edge;
    rect->top += row;
  }
  return 0;
}

}  // namespace

LRESULT TabProc(Window &window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case TCM_INSERTITEMA: {
      auto *item = reinterpret_cast<const TCITEMA *>(lParam);
      int index = int(wParam);
      if (!item || index < 0) return -1;
      if (index > int(window.tabs.size())) index = int(window.tabs.size());
      TabItem tab;
      if ((item->mask & TCIF_TEXT) && item->pszText) tab.text = item->pszText;
      if (item->mask & TCIF_PARAM) tab.param = item->lParam;
      window.tabs.insert(window.tabs.begin() + index, tab);
      // The first item becomes the selected one; later ones keep the
      // selection on the same item.
      if (window.tabs.size() == 1) window.tabSelection = 0;
      else if (window.tabSelection >= index) ++window.tabSelection;
      return index;
    }
    case TCM_GETITEMCOUNT:
      return LRESULT(window.tabs.size());
    case TCM_GETITEMA: {
      auto *item = reinterpret_cast<TCITEMA *>(lParam);
      if (!item || !ValidTab(window, wParam)) return FALSE;
      const TabItem &tab = window.tabs[wParam];
      if ((item->mask & TCIF_TEXT) && item->pszText && item->cchTextMax > 0) {
        size_t count = std::min(tab.text.size(), size_t(item->cchTextMax - 1));
        memcpy(item->pszText, tab.text.data(), count);
        item->pszText[count] = '\0';
      }
      if (item->mask & TCIF_PARAM) item->lParam = tab.param;
      return TRUE;
    }
    case TCM_DELETEALLITEMS:
      window.tabs.clear();
      window.tabSelection = -1;
      return TRUE;
    case TCM_GETCURSEL:
      return window.tabSelection;
    case TCM_ADJUSTRECT:
      return AdjustRect(window, BOOL(wParam), reinterpret_cast<RECT *>(lParam));
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
      TabKeyDown(window, wParam);
      return 0;
    case TCM_SETCURSEL: {
      if (!ValidTab(window, wParam)) return -1;
      int previous = window.tabSelection;
      window.tabSelection = int(wParam);
      return previous;
    }
  }
  return DefaultProc(window, message, wParam, lParam);
}

// The click takes the focus, then changes the tab; the current tab sends
// nothing.
bool ClickTab(HWND handle, int index) {
  Window *tab = Find(handle);
  if (!tab || tab->kind != Kind::Tab || !Usable(*tab)) return false;
  if (index < 0 || !ValidTab(*tab, WPARAM(index))) return false;
  SetFocus(handle);
  ChangeTab(handle, index);
  return true;
}

}  // namespace hostwin
