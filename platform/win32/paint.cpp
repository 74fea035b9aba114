// Owner-drawn controls and the GDI calls they draw with. Painting an
// SS_OWNERDRAW static sends WM_DRAWITEM to its parent with a device context
// over the control's client area, clipped to it [MS:controls/static-control-styles]
// [MS:winuser/ns-winuser-drawitemstruct]; what the parent draws there is kept as
// a picture for the tests. The rules Windows sets for a drawing routine
// are checked: the DC goes back with the pen it came with ("an application
// should always replace a new object with the original, default object
// after it has finished drawing" [MS:wingdi/nf-wingdi-selectobject]); a pen
// is not deleted while it is selected into a DC [MS:wingdi/nf-wingdi-deleteobject];
// every pen made is deleted (one left is reported). System colour brushes
// belong to the system [MS:winuser/nf-winuser-getsyscolorbrush]. The system
// colours are the standard scheme's, or under high contrast those of "High
// Contrast Black" [MS:winauto/high-contrast-parameter].
#include <cmath>
#include <set>

#include "desktop.h"

namespace hostwin {
namespace {

struct Pen {
  int width;
  COLORREF color;
};

struct Canvas {
  HDC dc = nullptr;
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB
  HGDIOBJ pen = nullptr;         // selected
};

const HDC kPaintDc = reinterpret_cast<HDC>(uintptr_t(0x0DC0));
const HGDIOBJ kStockPen = reinterpret_cast<HGDIOBJ>(uintptr_t(0x0D0000F0));
constexpr uint32_t kUnpainted = 0x123456;

std::map<uintptr_t, Pen> &Pens() {
  static std::map<uintptr_t, Pen> pens;
  return pens;
}
uintptr_t &NextPen() {
  static uintptr_t next = 0x0E000000;
  return next;
}
bool &HighContrast() {
  static bool on = false;
  return on;
}
Canvas *&Open() {
  static Canvas *canvas = nullptr;
  return canvas;
}

uint32_t Rgb(COLORREF c) { return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF); }

Canvas *CanvasOf(HDC dc, const char *call) {
  if (Open() && dc == Open()->dc) return Open();
  Fault(std::string(call) + " on a device context that is not open");
  return nullptr;
}

void Dot(Canvas &canvas, int x, int y, uint32_t colour) {
  if (x >= 0 && y >= 0 && x < canvas.width && y < canvas.height) canvas.pixels[size_t(y) * size_t(canvas.width) + size_t(x)] = colour;
}

// The pixels whose centres lie within half the pen's width of the segment.
void Segment(Canvas &canvas, POINT a, POINT b, const Pen &pen) {
  double half = pen.width < 1 ? 0.5 : pen.width / 2.0;
  double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
  for (int y = 0; y < canvas.height; ++y) {
    for (int x = 0; x < canvas.width; ++x) {
      double px = x + 0.5 - a.x, py = y + 0.5 - a.y;
      double t = length2 > 0 ? std::fmax(0.0, std::fmin(1.0, (px * dx + py * dy) / length2)) : 0;
      double ex = px - t * dx, ey = py - t * dy;
      if (ex * ex + ey * ey <= half * half) Dot(canvas, x, y, Rgb(pen.color));
    }
  }
}

}  // namespace

std::vector<std::string> LeftPens() {
  return std::vector<std::string>(Pens().size(), "a pen was never deleted");
}
void ForgetPaint() {
  Pens().clear();
  HighContrast() = false;
  Open() = nullptr;
}
bool DeletePen(HGDIOBJ object) {
  auto at = Pens().find(reinterpret_cast<uintptr_t>(object));
  if (at == Pens().end()) return false;
  if (Open() && Open()->pen == object) {
    Fault("a pen was deleted while it was selected into a device context");
    return true;
  }
  Pens().erase(at);
  return true;
}

void UseHighContrast(bool on) { HighContrast() = on; }

bool PaintOwnerDrawn(HWND handle, Picture *picture) {
  Window *control = Find(handle);
  if (!control || control->kind != Kind::Static || (control->style & SS_TYPEMASK) != SS_OWNERDRAW) return false;
  Canvas canvas;
  canvas.dc = kPaintDc;
  canvas.width = int(control->rect.right - control->rect.left);
  canvas.height = int(control->rect.bottom - control->rect.top);
  canvas.pixels.assign(size_t(canvas.width) * size_t(canvas.height), kUnpainted);
  canvas.pen = kStockPen;
  DRAWITEMSTRUCT item = {ODT_STATIC, UINT(control->id), 0, ODA_DRAWENTIRE, 0, handle, kPaintDc,
                         RECT{0, 0, canvas.width, canvas.height}, 0};
  Open() = &canvas;
  SendMessageA(control->parent, WM_DRAWITEM, WPARAM(control->id), reinterpret_cast<LPARAM>(&item));
  Open() = nullptr;
  if (canvas.pen != kStockPen) Fault("WM_DRAWITEM left its own pen selected in the control's device context");
  *picture = Picture();
  picture->width = canvas.width;
  picture->height = canvas.height;
  picture->bitsPerPixel = 24;
  picture->pixels = canvas.pixels;
  return true;
}

}  // namespace hostwin

using namespace hostwin;

extern "C" {

HPEN WINAPI CreatePen(int style, int width, COLORREF color) {
  if (style != PS_SOLID) {
    Fault("CreatePen with a style other than PS_SOLID: not simulated");
    return nullptr;
  }
  uintptr_t handle = NextPen();
  NextPen() += 4;
  Pens()[handle] = Pen{width, color};
  return reinterpret_cast<HPEN>(handle);
}

// The object it replaces, or null for one that is no pen.
HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
  Canvas *canvas = CanvasOf(dc, "SelectObject");
  if (!canvas) return nullptr;
  if (object != kStockPen && !Pens().count(reinterpret_cast<uintptr_t>(object))) {
    Fault("SelectObject of an object that is no pen: not simulated");
    return nullptr;
  }
  HGDIOBJ old = canvas->pen;
  canvas->pen = object;
  return old;
}

DWORD WINAPI GetSysColor(int index) {
  bool high = HighContrast();
  switch (index) {
    case COLOR_WINDOW: return high ? RGB(0, 0, 0) : RGB(255, 255, 255);
    case COLOR_WINDOWTEXT: return high ? RGB(255, 255, 255) : RGB(0, 0, 0);
    case COLOR_BTNFACE: return high ? RGB(0, 0, 0) : RGB(240, 240, 240);
  }
  Fault("GetSysColor of colour " + std::to_string(index) + ": not simulated");
  return 0;
}

// A system colour brush stands for its colour, whatever the scheme is now.
HBRUSH WINAPI GetSysColorBrush(int index) {
  GetSysColor(index);
  return reinterpret_cast<HBRUSH>(uintptr_t(0x0D100000 + index));
}

int WINAPI FillRect(HDC dc, const RECT *rect, HBRUSH brush) {
  Canvas *canvas = CanvasOf(dc, "FillRect");
  uintptr_t value = reinterpret_cast<uintptr_t>(brush);
  if (!canvas || !rect) return 0;
  if (value < 0x0D100000 || value > 0x0D100000 + 30) {
    Fault("FillRect with a brush that is no system colour brush: not simulated");
    return 0;
  }
  uint32_t colour = Rgb(GetSysColor(int(value - 0x0D100000)));
  for (LONG y = rect->top; y < rect->bottom; ++y)
    for (LONG x = rect->left; x < rect->right; ++x) Dot(*canvas, int(x), int(y), colour);
  return 1;
}

BOOL WINAPI Polyline(HDC dc, const POINT *points, int count) {
  Canvas *canvas = CanvasOf(dc, "Polyline");
  if (!canvas || !points || count < 2) return FALSE;
  auto at = Pens().find(reinterpret_cast<uintptr_t>(canvas->pen));
  Pen pen = at == Pens().end() ? Pen{1, RGB(0, 0, 0)} : at->second;
  for (int i = 1; i < count; ++i) Segment(*canvas, points[i - 1], points[i], pen);
  return TRUE;
}

// SPI_GETHIGHCONTRAST fills a HIGHCONTRASTA whose size is given twice, in
// uiParam and cbSize [MS:winuser/nf-winuser-systemparametersinfoa].
BOOL WINAPI SystemParametersInfoA(UINT action, UINT param, PVOID data, UINT winIni) {
  (void)winIni;
  if (action != SPI_GETHIGHCONTRAST) {
    Fault("SystemParametersInfo action " + std::to_string(action) + ": not simulated");
    return FALSE;
  }
  auto *contrast = static_cast<HIGHCONTRASTA *>(data);
  if (!contrast || param != sizeof(HIGHCONTRASTA) || contrast->cbSize != sizeof(HIGHCONTRASTA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  contrast->dwFlags = HighContrast() ? HCF_HIGHCONTRASTON : 0;
  contrast->lpszDefaultScheme = nullptr;
  return TRUE;
}

// Painting happens when a test asks for it (PaintOwnerDrawn).
BOOL WINAPI InvalidateRect(HWND window, const RECT *rect, BOOL erase) {
  (void)rect;
  (void)erase;
  return Find(window) ? TRUE : FALSE;
}

}  // extern "C"
