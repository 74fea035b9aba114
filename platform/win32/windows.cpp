// The window table and the routines every window answers: messages,
// visibility, enabling, position, text and the parent-child tree.
#include <algorithm>

#include "desktop.h"

namespace hostwin {
namespace {

// Handles are never reused, so a handle kept after its window was destroyed
// names nothing instead of a newer window.
std::map<uintptr_t, std::unique_ptr<Window>> &Table() {
  static std::map<uintptr_t, std::unique_ptr<Window>> table;
  return table;
}
uintptr_t &NextHandle() {
  static uintptr_t next = 0x00010010;
  return next;
}

LRESULT Dispatch(Window &window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (window.kind) {
    case Kind::Dialog: return DialogProcOf(window, message, wParam, lParam);
    case Kind::Button: return ButtonProc(window, message, wParam, lParam);
    case Kind::ComboBox: return ComboBoxProc(window, message, wParam, lParam);
    case Kind::Static: return StaticProc(window, message, wParam, lParam);
    case Kind::Tab: return TabProc(window, message, wParam, lParam);
    case Kind::Frame: break;
  }
  return DefaultProc(window, message, wParam, lParam);
}

Window *FindOrFail(HWND handle) {
  Window *window = Find(handle);
  if (!window) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return window;
}

}  // namespace

Window *Find(HWND handle) {
  auto it = Table().find(reinterpret_cast<uintptr_t>(handle));
  if (it == Table().end() || it->second->destroyed) return nullptr;
  return it->second.get();
}

Window *NewWindow(Kind kind, const std::string &className, HWND parent) {
  auto window = std::make_unique<Window>();
  uintptr_t handle = NextHandle();
  NextHandle() += 4;
  window->handle = reinterpret_cast<HWND>(handle);
  window->kind = kind;
  window->className = className;
  window->parent = parent;
  if (Window *p = Find(parent)) p->children.push_back(window->handle);
  Window *raw = window.get();
  Table()[handle] = std::move(window);
  return raw;
}

void DestroyTree(HWND handle) {
  Window *window = Find(handle);
  if (!window) return;
  if (window->style & WS_VISIBLE) ShowWindow(handle, SW_HIDE);
  SendMessageA(handle, WM_DESTROY, 0, 0);
  std::vector<HWND> children = window->children;
  for (HWND child : children) DestroyTree(child);
  SendMessageA(handle, WM_NCDESTROY, 0, 0);
  window = Find(handle);
  if (!window) return;
  window->destroyed = true;
  if (Window *parent = Find(window->parent)) {
    auto &siblings = parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), handle), siblings.end());
  }
}

std::vector<Window *> LiveWindows() {
  std::vector<Window *> out;
  for (auto &entry : Table())
    if (!entry.second->destroyed) out.push_back(entry.second.get());
  return out;
}

void ForgetWindows() { Table().clear(); }

bool Visible(const Window &window) {
  for (const Window *w = &window; w; w = Find(w->parent))
    if (!(w->style & WS_VISIBLE)) return false;
  return true;
}

bool Usable(const Window &window) {
  if (!Visible(window)) return false;
  for (const Window *w = &window; w; w = Find(w->parent))
    if (w->style & WS_DISABLED) return false;
  return true;
}

void MousePress(Window &control, void (*click)(Window &)) {
  HWND handle = control.handle;
  CaptureMouse(handle);
  SetFocus(handle);
  if (Window *pressed = Find(handle)) click(*pressed);
  CaptureMouse(nullptr);
}

// The window's client area in screen coordinates; the stand-in's windows
// have no borders, so it is the window's own rectangle moved by those of its
// ancestors.
static POINT ClientOrigin(HWND handle) {
  POINT origin = {0, 0};
  for (Window *w = Find(handle); w; w = Find(w->parent)) {
    origin.x += w->rect.left;
    origin.y += w->rect.top;
  }
  return origin;
}

void NotifyParent(Window &control, UINT code) {
  HWND self = control.handle;
  SendMessageA(control.parent, WM_COMMAND, MAKEWPARAM(control.id, code), reinterpret_cast<LPARAM>(self));
}

LRESULT DefaultProc(Window &window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT:
      window.text = lParam ? reinterpret_cast<const char *>(lParam) : "";
      return TRUE;
    case WM_GETTEXT: {
      if (!wParam || !lParam) return 0;
      auto *buffer = reinterpret_cast<char *>(lParam);
      size_t count = std::min(window.text.size(), size_t(wParam) - 1);
      memcpy(buffer, window.text.data(), count);
      buffer[count] = '\0';
      return LRESULT(count);
    }
    case WM_GETTEXTLENGTH:
      return LRESULT(window.text.size());
  }
  return 0;
}

std::string Text(HWND handle) {
  Window *window = Find(handle);
  return window ? window->text : std::string();
}

std::string ClassName(HWND handle) {
  Window *window = Find(handle);
  return window ? window->className : std::string();
}

std::vector<HWND> Children(HWND handle) {
  Window *window = Find(handle);
  return window ? window->children : std::vector<HWND>();
}

RECT Placement(HWND handle) {
  Window *window = Find(handle);
  return window ? window->rect : RECT{0, 0, 0, 0};
}

std::vector<std::string> Items(HWND handle) {
  std::vector<std::string> out;
  if (Window *window = Find(handle)) {
    out = window->items;
    for (const TabItem &tab : window->tabs) out.push_back(tab.text);
  }
  return out;
}

int TemplateId(HWND handle) {
  Window *window = Find(handle);
  return window ? window->templateId : 0;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> out;
  for (Window *window : LiveWindows())
    if (!window->parent) out.push_back(window->handle);
  return out;
}

bool HasTaskbarButton(HWND handle) {
  Window *window = Find(handle);
  if (!window || window->parent || !Visible(*window) || (window->exStyle & WS_EX_TOOLWINDOW)) return false;
  return !window->owner || (window->exStyle & WS_EX_APPWINDOW);
}

}  // namespace hostwin

using namespace hostwin;

extern "C" {

LRESULT WINAPI SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  Window *window = FindOrFail(handle);
  if (!window) return 0;
  return Dispatch(*window, message, wParam, lParam);
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  Window *window = FindOrFail(dialog);
  if (!window) return nullptr;
  for (HWND child : window->children)
    if (Window *c = Find(child); c && c->id == id) return child;
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND control = GetDlgItem(dialog, id);
  return control ? SendMessageA(control, message, wParam, lParam) : 0;
}

int WINAPI GetDlgCtrlID(HWND handle) {
  Window *window = FindOrFail(handle);
  return window ? window->id : 0;
}

HWND WINAPI GetParent(HWND handle) {
  Window *window = FindOrFail(handle);
  if (!window) return nullptr;
  return window->parent ? window->parent : window->owner;
}

BOOL WINAPI IsWindow(HWND handle) { return Find(handle) ? TRUE : FALSE; }

BOOL WINAPI DestroyWindow(HWND handle) {
  if (!FindOrFail(handle)) return FALSE;
  DestroyTree(handle);
  return TRUE;
}

// Returns whether the window was visible before, not whether it worked.
BOOL WINAPI ShowWindow(HWND handle, int command) {
  Window *window = FindOrFail(handle);
  if (!window) return FALSE;
  bool was = (window->style & WS_VISIBLE) != 0;
  bool show = command != SW_HIDE;
  if (was != show) {
    window->style = show ? (window->style | WS_VISIBLE) : (window->style & ~DWORD(WS_VISIBLE));
    SendMessageA(handle, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    if (!show) FocusLeaves(handle);
  }
  return was ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND handle) {
  Window *window = Find(handle);
  return window && Visible(*window) ? TRUE : FALSE;
}

// Returns whether the window was disabled before.
BOOL WINAPI EnableWindow(HWND handle, BOOL enable) {
  Window *window = FindOrFail(handle);
  if (!window) return FALSE;
  bool wasDisabled = (window->style & WS_DISABLED) != 0;
  if (wasDisabled == !enable) return wasDisabled ? TRUE : FALSE;
  window->style = enable ? (window->style & ~DWORD(WS_DISABLED)) : (window->style | WS_DISABLED);
  SendMessageA(handle, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND handle) {
  Window *window = Find(handle);
  return window && !(window->style & WS_DISABLED) ? TRUE : FALSE;
}

// Without SWP_NOZORDER the window moves in its siblings' Z order to just
// after `insertAfter` (HWND_TOP: first, HWND_BOTTOM: last).
BOOL WINAPI SetWindowPos(HWND handle, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  Window *window = FindOrFail(handle);
  if (!window) return FALSE;
  Window *parent = Find(window->parent);
  if (!(flags & SWP_NOZORDER) && parent && insertAfter != handle) {
    auto &siblings = parent->children;
    auto after = std::find(siblings.begin(), siblings.end(), insertAfter);
    if (insertAfter == HWND_TOP || insertAfter == HWND_BOTTOM || after != siblings.end()) {
      siblings.erase(std::remove(siblings.begin(), siblings.end(), handle), siblings.end());
      if (insertAfter == HWND_TOP) siblings.insert(siblings.begin(), handle);
      else if (insertAfter == HWND_BOTTOM) siblings.push_back(handle);
      else siblings.insert(std::find(siblings.begin(), siblings.end(), insertAfter) + 1, handle);
    }
  }
  RECT &r = window->rect;
  if (!(flags & SWP_NOMOVE)) {
    LONG width = r.right - r.left, height = r.bottom - r.top;
    r = RECT{x, y, x + width, y + height};
  }
  if (!(flags & SWP_NOSIZE)) {
    r.right = r.left + cx;
    r.bottom = r.top + cy;
  }
  if (flags & SWP_SHOWWINDOW) ShowWindow(handle, SW_SHOW);
  if (flags & SWP_HIDEWINDOW) ShowWindow(handle, SW_HIDE);
  return TRUE;
}

BOOL WINAPI SetWindowTextA(HWND handle, LPCSTR text) {
  if (!FindOrFail(handle)) return FALSE;
  return SendMessageA(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND handle, LPSTR text, int size) {
  if (!FindOrFail(handle) || size <= 0) return 0;
  return int(SendMessageA(handle, WM_GETTEXT, WPARAM(size), reinterpret_cast<LPARAM>(text)));
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND handle, int index) {
  Window *window = FindOrFail(handle);
  if (!window) return 0;
  switch (index) {
    case GWL_STYLE: return LONG_PTR(window->style);
    case GWL_EXSTYLE: return LONG_PTR(window->exStyle);
    case GWLP_ID: return window->id;
    case GWLP_USERDATA: return window->userData;
    case DWLP_MSGRESULT: return window->kind == Kind::Dialog ? window->msgResult : 0;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND handle, int index, LONG_PTR value) {
  Window *window = FindOrFail(handle);
  if (!window) return 0;
  LONG_PTR old = GetWindowLongPtrA(handle, index);
  switch (index) {
    case GWL_STYLE: window->style = DWORD(value); break;
    case GWL_EXSTYLE: window->exStyle = DWORD(value); break;
    case GWLP_ID: window->id = int(value); break;
    case GWLP_USERDATA: window->userData = value; break;
    case DWLP_MSGRESULT:
      if (window->kind == Kind::Dialog) window->msgResult = value;
      break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return 0;
  }
  return old;
}

BOOL WINAPI GetWindowRect(HWND handle, LPRECT rect) {
  Window *window = FindOrFail(handle);
  if (!window || !rect) return FALSE;
  POINT origin = ClientOrigin(window->parent);
  *rect = window->rect;
  rect->left += origin.x, rect->right += origin.x;
  rect->top += origin.y, rect->bottom += origin.y;
  return TRUE;
}

// From one window's client coordinates to another's (HWND_DESKTOP: the
// screen); answers the offset, x in the low word.
int WINAPI MapWindowPoints(HWND from, HWND to, POINT *points, UINT count) {
  if ((from && !FindOrFail(from)) || (to && !FindOrFail(to))) return 0;
  POINT a = ClientOrigin(from), b = ClientOrigin(to);
  LONG dx = a.x - b.x, dy = a.y - b.y;
  for (UINT i = 0; points && i < count; ++i) points[i].x += dx, points[i].y += dy;
  return MAKELONG(WORD(dx), WORD(dy));
}

// number * numerator / denominator, rounded half away from zero; -1 for a
// zero denominator or a result beyond int.
int WINAPI MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  long long product = static_cast<long long>(number) * numerator;
  bool negative = (product < 0) != (denominator < 0);
  long long a = product < 0 ? -product : product, d = denominator < 0 ? -static_cast<long long>(denominator) : denominator;
  long long result = (a + d / 2) / d;
  if (result > 0x7FFFFFFFLL) return -1;
  return int(negative ? -result : result);
}

BOOL WINAPI GetClientRect(HWND handle, LPRECT rect) {
  Window *window = FindOrFail(handle);
  if (!window || !rect) return FALSE;
  *rect = RECT{0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
  return TRUE;
}

}  // extern "C"
