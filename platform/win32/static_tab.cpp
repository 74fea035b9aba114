// The static class (text, frames and bitmaps) and the tab control class.
// Setting a tab selection never notifies; clicking a tab does.
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
  }
  return DefaultProc(window, message, wParam, lParam);
}

namespace {

bool ValidTab(const Window &tab, WPARAM index) { return index < tab.tabs.size(); }

LRESULT NotifyTab(Window &tab, UINT code) {
  NMHDR header = {tab.handle, UINT_PTR(tab.id), code};
  return SendMessageA(tab.parent, WM_NOTIFY, WPARAM(tab.id), reinterpret_cast<LPARAM>(&header));
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
    case TCM_SETCURSEL: {
      if (!ValidTab(window, wParam)) return -1;
      int previous = window.tabSelection;
      window.tabSelection = int(wParam);
      return previous;
    }
  }
  return DefaultProc(window, message, wParam, lParam);
}

// TCN_SELCHANGING while the old tab is still current (a non-zero answer
// keeps it), then the change and TCN_SELCHANGE. The current tab sends nothing.
bool ClickTab(HWND handle, int index) {
  Window *tab = Find(handle);
  if (!tab || tab->kind != Kind::Tab || !Usable(*tab)) return false;
  if (index < 0 || !ValidTab(*tab, WPARAM(index))) return false;
  if (index == tab->tabSelection) return true;
  if (NotifyTab(*tab, TCN_SELCHANGING)) return true;
  if (!(tab = Find(handle))) return true;
  tab->tabSelection = index;
  NotifyTab(*tab, TCN_SELCHANGE);
  return true;
}

}  // namespace hostwin
