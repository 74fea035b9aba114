// Bitmaps and icons loaded from a module's resources, decoded so that tests
// can look at their size, colour depth and pixels. Bitmaps are GDI objects:
// whoever loads one deletes it, and one a test leaves behind is reported.
// The exception is a bitmap a static control loaded from its dialog
// template: it is the control's while the control shows it (and goes with
// the control), and the caller's once STM_SETIMAGE has handed it back
// [MS:controls/stm-setimage] [WINE:dlls/user32/static.c].
#include <cstdio>

#include "desktop.h"

namespace hostwin {
namespace {

std::map<uintptr_t, Picture> &Bitmaps() {
  static std::map<uintptr_t, Picture> bitmaps;
  return bitmaps;
}
std::map<uintptr_t, Picture> &Icons() {
  static std::map<uintptr_t, Picture> icons;
  return icons;
}
uintptr_t &NextHandle() {
  static uintptr_t next = 0x0B000000;
  return next;
}
// Bitmaps that belong to the static control that loaded them.
std::map<uintptr_t, HWND> &ControlBitmaps() {
  static std::map<uintptr_t, HWND> owners;
  return owners;
}

uint32_t Get32(const std::vector<uint8_t> &d, size_t at) {
  if (at + 4 > d.size()) return 0;
  return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 | uint32_t(d[at + 3]) << 24;
}
uint16_t Get16(const std::vector<uint8_t> &d, size_t at) {
  if (at + 2 > d.size()) return 0;
  return uint16_t(d[at] | d[at + 1] << 8);
}

// Decodes a device-independent bitmap: a BITMAPINFOHEADER, the colour table
// and the rows, bottom row first. `rows` is the height of the colour image
// (an icon's header gives twice it, for the mask that follows).
bool DecodeDib(const std::vector<uint8_t> &d, int rows, Picture *out) {
  uint32_t headerSize = Get32(d, 0);
  int width = int32_t(Get32(d, 4));
  int bpp = Get16(d, 14);
  uint32_t compression = Get32(d, 16);
  uint32_t used = Get32(d, 32);
  if (headerSize < 40 || width <= 0 || rows <= 0 || compression != 0) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  size_t colours = bpp <= 8 ? (used ? used : 1u << bpp) : 0;
  size_t table = headerSize;
  size_t bits = table + colours * 4;
  size_t stride = ((size_t(width) * size_t(bpp) + 31) / 32) * 4;
  if (bits + stride * size_t(rows) > d.size()) return false;
  out->width = width;
  out->height = rows;
  out->bitsPerPixel = bpp;
  out->pixels.assign(size_t(width) * size_t(rows), 0);
  for (int y = 0; y < rows; ++y) {
    size_t row = bits + stride * size_t(rows - 1 - y);
    for (int x = 0; x < width; ++x) {
      uint32_t rgb;
      if (bpp <= 8) {
        size_t bit = size_t(x) * size_t(bpp);
        unsigned index = (d[row + bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        if (index >= colours) return false;
        size_t entry = table + index * 4;
        rgb = uint32_t(d[entry + 2]) << 16 | uint32_t(d[entry + 1]) << 8 | d[entry];
      } else {
        size_t at = row + size_t(x) * size_t(bpp / 8);
        rgb = uint32_t(d[at + 2]) << 16 | uint32_t(d[at + 1]) << 8 | d[at];
      }
      out->pixels[size_t(y) * size_t(width) + size_t(x)] = rgb;
    }
  }
  return true;
}

HBITMAP NewBitmap(const Picture &picture) {
  uintptr_t handle = NextHandle();
  NextHandle() += 4;
  Bitmaps()[handle] = picture;
  return reinterpret_cast<HBITMAP>(handle);
}

}  // namespace

HBITMAP LoadBitmapResource(HINSTANCE instance, int id) {
  const Resource *resource = FindResourceOf(instance, kRtBitmap, MAKEINTRESOURCEA(id));
  if (!resource) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  Picture picture;
  picture.resourceId = id;
  int rows = int32_t(Get32(resource->data, 8));
  if (!DecodeDib(resource->data, rows < 0 ? -rows : rows, &picture)) {
    Fault("bitmap " + std::to_string(id) + " cannot be decoded");
    return nullptr;
  }
  return NewBitmap(picture);
}

void ForgetPictures() {
  Bitmaps().clear();
  Icons().clear();
  ControlBitmaps().clear();
}

void GiveBitmapToControl(HBITMAP bitmap, HWND control) {
  ControlBitmaps()[reinterpret_cast<uintptr_t>(bitmap)] = control;
}

bool TakeBitmapFromControl(HANDLE bitmap, HWND control) {
  auto it = ControlBitmaps().find(reinterpret_cast<uintptr_t>(bitmap));
  if (it == ControlBitmaps().end() || it->second != control) return false;
  ControlBitmaps().erase(it);
  return true;
}

std::vector<std::string> LeftBitmaps() {
  std::vector<std::string> out;
  for (const auto &entry : Bitmaps()) {
    if (ControlBitmaps().count(entry.first)) continue;
    char line[80];
    snprintf(line, sizeof line, "bitmap %d (handle %#lx) was never deleted", entry.second.resourceId,
             (unsigned long)entry.first);
    out.push_back(line);
  }
  return out;
}

bool DescribeBitmap(HBITMAP bitmap, Picture *picture) {
  auto it = Bitmaps().find(reinterpret_cast<uintptr_t>(bitmap));
  if (it == Bitmaps().end()) return false;
  *picture = it->second;
  return true;
}

bool DescribeIcon(HICON icon, Picture *picture) {
  auto it = Icons().find(reinterpret_cast<uintptr_t>(icon));
  if (it == Icons().end()) return false;
  *picture = it->second;
  return true;
}

int LiveBitmaps() { return int(Bitmaps().size()); }

}  // namespace hostwin

using namespace hostwin;

extern "C" {

HBITMAP WINAPI LoadBitmapA(HINSTANCE instance, LPCSTR name) {
  if (!IS_INTRESOURCE(name)) {
    const Resource *resource = FindResourceOf(instance, kRtBitmap, name);
    return resource ? LoadBitmapResource(instance, resource->nameId) : nullptr;
  }
  return LoadBitmapResource(instance, int(uintptr_t(name)));
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  if (DeletePen(object)) return TRUE;
  ControlBitmaps().erase(reinterpret_cast<uintptr_t>(object));
  return Bitmaps().erase(reinterpret_cast<uintptr_t>(object)) ? TRUE : FALSE;
}

// LoadIcon loads the group's 32 x 32 image (the system icon size) and shares
// it: the same handle for every load of the same resource.
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
  const Resource *group = FindResourceOf(instance, kRtGroupIcon, name);
  if (!group) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const auto &d = group->data;
  int count = Get16(d, 4);
  int chosen = -1;
  for (int i = 0; i < count; ++i) {
    size_t entry = 6 + size_t(i) * 14;
    if (entry + 14 > d.size()) break;
    int width = d[entry] ? d[entry] : 256;
    int height = d[entry + 1] ? d[entry + 1] : 256;
    if (chosen < 0 || (width == 32 && height == 32)) chosen = Get16(d, entry + 12);
  }
  const Resource *image = chosen < 0 ? nullptr : FindResourceOf(instance, kRtIcon, MAKEINTRESOURCEA(chosen));
  Picture picture;
  picture.resourceId = group->nameId;
  if (!image || !DecodeDib(image->data, int32_t(Get32(image->data, 8)) / 2, &picture)) {
    Fault("icon group " + std::to_string(group->nameId) + " has no usable image");
    return nullptr;
  }
  uintptr_t shared = 0x0C000000 + reinterpret_cast<uintptr_t>(instance) / 0x1000 + group->nameId * 4u;
  Icons()[shared] = picture;
  return reinterpret_cast<HICON>(shared);
}

// Shared icons are never destroyed.
BOOL WINAPI DestroyIcon(HICON icon) { return Icons().count(reinterpret_cast<uintptr_t>(icon)) ? TRUE : FALSE; }

}  // extern "C"
