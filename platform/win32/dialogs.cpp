// Dialogs built from templates: modal (DialogBoxParamA, answered by the
// test's user script), modeless child pages (CreateDialogParamA), EndDialog,
// and the default dialog procedure around the application's own.
#include <deque>
#include <strings.h>

#include "desktop.h"

namespace hostwin {
namespace {

std::deque<std::function<void(HWND)>> &Users() {
  static std::deque<std::function<void(HWND)>> users;
  return users;
}

// Dialog base units of the template's font, in pixels: a dialog unit is a
// quarter of the width and an eighth of the height. At 96 dots per inch the
// 8-point sans serif fonts give 6 x 13 and the system font 8 x 16; on a
// screen of more dots per inch the font grows, and its base units with it
// (here in proportion; a real font's metrics round their own way).
void BaseUnits(const DialogTemplate &t, int *x, int *y) {
  bool sansSerif8 = t.hasFont && t.pointSize == 8 &&
                    (t.fontName == "MS Sans Serif" || t.fontName == "Microsoft Sans Serif" ||
                     t.fontName == "MS Shell Dlg");
  *x = MulDiv(sansSerif8 ? 6 : 8, ScreenDpi(), 96);
  *y = MulDiv(sansSerif8 ? 13 : 16, ScreenDpi(), 96);
}

// Each of the four numbers is converted on its own, rounded as MulDiv does
// [WINE:dlls/user32/dialog.c DIALOG_CreateControls32].
RECT Pixels(short x, short y, short cx, short cy, int bx, int by) {
  LONG left = MulDiv(x, bx, 4), top = MulDiv(y, by, 8);
  return RECT{left, top, left + MulDiv(cx, bx, 4), top + MulDiv(cy, by, 8)};
}

Kind KindOf(const std::string &className, bool *known) {
  *known = true;
  if (strcasecmp(className.c_str(), "Button") == 0) return Kind::Button;
  if (strcasecmp(className.c_str(), "ComboBox") == 0) return Kind::ComboBox;
  if (strcasecmp(className.c_str(), "Static") == 0) return Kind::Static;
  // A common control's class exists once it has been registered.
  if (strcasecmp(className.c_str(), WC_TABCONTROLA) == 0) {
    *known = CommonControlRegistered(className);
    return Kind::Tab;
  }
  *known = false;
  return Kind::Frame;
}

void CreateControl(Window &dialog, const DialogItem &item, int bx, int by) {
  bool known;
  Kind kind = KindOf(item.className, &known);
  Window *control = NewWindow(kind, kind == Kind::Tab ? WC_TABCONTROLA : item.className, dialog.handle);
  control->style = item.style | WS_CHILD;
  control->exStyle = item.exStyle | WS_EX_NOPARENTNOTIFY;
  control->id = item.id;
  control->text = item.title;
  control->rect = Pixels(item.x, item.y, item.cx, item.cy, bx, by);
  // The dialog's font is the controls' font; the base unit's height is the
  // font's character height.
  control->fontHeight = by;
  HWND handle = control->handle;
  if (kind == Kind::Static && (item.style & SS_TYPEMASK) == SS_BITMAP && item.titleOrdinal >= 0) {
    // A bitmap static loads its picture from the dialog's module and, unless
    // told otherwise, takes the picture's size.
    if (HBITMAP bitmap = LoadBitmapResource(dialog.instance, item.titleOrdinal)) {
      control->image = bitmap;
      GiveBitmapToControl(bitmap, handle);
      Picture picture;
      if (!(item.style & (SS_CENTERIMAGE | SS_REALSIZECONTROL)) && DescribeBitmap(bitmap, &picture)) {
        control->rect.right = control->rect.left + picture.width;
        control->rect.bottom = control->rect.top + picture.height;
      }
    }
  }
  // Common controls ask their parent which character set it wants.
  if (kind == Kind::Tab) SendMessageA(dialog.handle, WM_NOTIFYFORMAT, reinterpret_cast<WPARAM>(handle), NF_QUERY);
}

// Builds the dialog and runs its WM_INITDIALOG. Null, with the last error
// set, when the template or a window class is missing or the parent is bad.
HWND BuildDialog(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM init, bool modal) {
  const Resource *resource = FindResourceOf(instance, kRtDialog, name);
  if (!resource) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  if (parent && !Find(parent)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  DialogTemplate t;
  if (!ParseDialogTemplate(resource->data, &t)) {
    Fault("dialog template " + std::to_string(resource->nameId) + " is malformed");
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  for (const DialogItem &item : t.items) {
    bool known;
    KindOf(item.className, &known);
    if (!known) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
  }
  bool child = (t.style & WS_CHILD) != 0;
  Window *dialog = NewWindow(Kind::Dialog, "#32770", child ? parent : nullptr);
  dialog->owner = child ? nullptr : parent;
  dialog->style = t.style & ~DWORD(WS_VISIBLE);
  dialog->exStyle = t.exStyle;
  // The keyboard enters a page from its parent dialog.
  if ((t.style & DS_CONTROL) || !child) dialog->exStyle |= WS_EX_CONTROLPARENT;
  dialog->text = t.title;
  dialog->instance = instance;
  dialog->templateId = resource->nameId;
  dialog->modal = modal;
  int bx, by;
  BaseUnits(t, &bx, &by);
  dialog->baseX = bx;
  dialog->baseY = by;
  dialog->rect = Pixels(t.x, t.y, t.cx, t.cy, bx, by);
  HWND handle = dialog->handle;
  dialog->proc = proc;
  if (t.hasFont) SendMessageA(handle, WM_SETFONT, 0, FALSE);
  for (const DialogItem &item : t.items) {
    Window *d = Find(handle);
    if (!d) return nullptr;
    CreateControl(*d, item, bx, by);
  }
  // WM_INITDIALOG names the first control Tab reaches; a TRUE answer asks
  // for the focus to go there (looked up again: the procedure may have
  // changed the order), except on a page that is created hidden
  // [WINE:dlls/user32/dialog.c DIALOG_CreateIndirect] [MS:dlgbox/wm-initdialog].
  auto first = [handle] {
    HWND focus = GetNextDlgTabItem(handle, nullptr, FALSE);
    return focus ? focus : GetNextDlgGroupItem(handle, nullptr, FALSE);
  };
  bool wantsFocus = SendMessageA(handle, WM_INITDIALOG, reinterpret_cast<WPARAM>(first()), init) != 0;
  if (wantsFocus && Find(handle) && (!(t.style & DS_CONTROL) || (t.style & WS_VISIBLE))) {
    if (HWND focus = first()) SetFocus(focus);
    else if (!child) SetFocus(handle);
  }
  Window *d = Find(handle);
  if (d && !modal && !d->ended && (t.style & WS_VISIBLE)) ShowWindow(handle, SW_SHOW);
  return d ? handle : nullptr;
}

}  // namespace

// The default dialog procedure: the application's procedure first; what it
// leaves (FALSE) gets the default handling. For most messages a handled one
// answers with DWLP_MSGRESULT, which is cleared before each call.
LRESULT DialogProcOf(Window &dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND handle = dialog.handle;
  LogMessage(handle, message, wParam, lParam);
  INT_PTR handled = FALSE;
  if (dialog.proc) {
    dialog.msgResult = 0;
    handled = dialog.proc(handle, message, wParam, lParam);
  }
  Window *self = Find(handle);
  if (!handled) {
    if (!self) return 0;
    switch (message) {
      case WM_CLOSE:
        SendMessageA(handle, WM_COMMAND, IDCANCEL, 0);
        return 0;
      case WM_NEXTDLGCTL: {
        // lParam 0: the next (wParam 0) or previous control Tab reaches;
        // otherwise wParam is the control.
        HWND next = lParam ? reinterpret_cast<HWND>(wParam) : GetNextDlgTabItem(handle, GetFocus(), wParam != 0);
        if (next) SetFocus(next);
        return 0;
      }
      case DM_GETDEFID:
        return self->ended ? 0 : MAKELONG(self->defaultId, DC_HASDEFID);
      case DM_SETDEFID:
        if (!self->ended) self->defaultId = int(wParam);
        return TRUE;
      case WM_SETFOCUS:
        // A dialog passes the focus on to its first control.
        if (!self->ended) {
          HWND first = GetNextDlgTabItem(handle, nullptr, FALSE);
          if (!first) first = GetNextDlgGroupItem(handle, nullptr, FALSE);
          if (first && first != handle) SetFocus(first);
        }
        return 0;
    }
    return DefaultProc(*self, message, wParam, lParam);
  }
  if (message == WM_INITDIALOG) return handled;
  return self ? self->msgResult : 0;
}

void WhenDialogOpens(std::function<void(HWND dialog)> user) { Users().push_back(std::move(user)); }

void ForgetOperators() { Users().clear(); }

std::vector<std::string> UnusedOperators() {
  std::vector<std::string> out;
  for (size_t i = 0; i < Users().size(); ++i) out.push_back("a user waits for a dialog that never opened");
  return out;
}

}  // namespace hostwin

using namespace hostwin;

extern "C" {

HWND WINAPI CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM init) {
  return BuildDialog(instance, name, parent, proc, init, false);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM init) {
  HWND handle = BuildDialog(instance, name, parent, proc, init, true);
  if (!handle) return GetLastError() == ERROR_INVALID_WINDOW_HANDLE ? 0 : -1;
  Window *dialog = Find(handle);
  std::string what = "dialog " + std::to_string(dialog->templateId);
  if (!dialog->ended) {
    // The owner cannot be used while the dialog is up.
    if (Window *owner = Find(dialog->owner); owner && !(owner->style & WS_DISABLED)) {
      dialog->ownerWasEnabled = true;
      EnableWindow(dialog->owner, FALSE);
    }
    dialog->style &= ~DWORD(WS_VISIBLE);
    ShowWindow(handle, SW_SHOW);
    ModalLoopStarts(handle);
    if (Users().empty()) {
      Fault(what + " opened with nobody to answer it");
    } else {
      auto user = std::move(Users().front());
      Users().pop_front();
      user(handle);
    }
    dialog = Find(handle);
    if (dialog && !dialog->ended) {
      Fault(what + " is still open after its user finished");
      EndDialog(handle, 0);
    }
    ModalLoopEnds(handle);
  }
  dialog = Find(handle);
  INT_PTR result = dialog ? dialog->endResult : 0;
  DestroyWindow(handle);
  return result;
}

// Dialog units of a dialog to its pixels, each number on its own as the
// dialog's controls were placed; only a dialog has dialog units
// [MS:winuser/nf-winuser-mapdialogrect] [WINE:dlls/user32/dialog.c MapDialogRect].
BOOL WINAPI MapDialogRect(HWND handle, LPRECT rect) {
  Window *dialog = Find(handle);
  if (!dialog || dialog->kind != Kind::Dialog) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!rect) {
    Fault("MapDialogRect without a rectangle");
    return FALSE;
  }
  rect->left = MulDiv(rect->left, dialog->baseX, 4);
  rect->right = MulDiv(rect->right, dialog->baseX, 4);
  rect->top = MulDiv(rect->top, dialog->baseY, 8);
  rect->bottom = MulDiv(rect->bottom, dialog->baseY, 8);
  return TRUE;
}

// Hides the dialog at once; the modal loop ends when control returns to it.
BOOL WINAPI EndDialog(HWND handle, INT_PTR result) {
  Window *dialog = Find(handle);
  if (!dialog || dialog->kind != Kind::Dialog) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  dialog->ended = true;
  dialog->endResult = result;
  HWND owner = dialog->owner;
  bool reenable = dialog->ownerWasEnabled;
  dialog->ownerWasEnabled = false;
  if (reenable) EnableWindow(owner, TRUE);
  // The dialog takes the focus from its controls, then loses it with its
  // visibility [WINE:dlls/user32/dialog.c EndDialog].
  if (IsChild(handle, GetFocus())) SetFocus(handle);
  ShowWindow(handle, SW_HIDE);
  return TRUE;
}

}  // extern "C"
