// Dialog templates as the resource compiler stores them: DLGTEMPLATE or
// DLGTEMPLATEEX, each followed by its item records on 4-byte boundaries.
#include "desktop.h"

namespace hostwin {
namespace {

struct Cursor {
  const std::vector<uint8_t> &d;
  size_t at = 0;
  bool ok = true;
  WORD Word() {
    if (at + 2 > d.size()) return ok = false, 0;
    WORD w = WORD(d[at] | d[at + 1] << 8);
    at += 2;
    return w;
  }
  DWORD Dword() {
    DWORD low = Word();
    return low | DWORD(Word()) << 16;
  }
  std::string Text() {
    std::string out;
    for (WORD c = Word(); ok && c; c = Word()) out.push_back(c < 0x100 ? char(c) : '?');
    return out;
  }
  // A number (0xFFFF then the number), nothing (0), or a text.
  void TextOrOrdinal(std::string *text, int *ordinal) {
    size_t start = at;
    WORD first = Word();
    if (first == 0xFFFF) {
      *ordinal = Word();
    } else if (first != 0) {
      at = start;
      *text = Text();
    }
  }
  void Align() { at = (at + 3) & ~size_t(3); }
};

std::string PredefinedClass(int atom) {
  switch (atom) {
    case 0x80: return "Button";
    case 0x81: return "Edit";
    case 0x82: return "Static";
    case 0x83: return "ListBox";
    case 0x84: return "ScrollBar";
    case 0x85: return "ComboBox";
  }
  return "#" + std::to_string(atom);
}

}  // namespace

bool ParseDialogTemplate(const std::vector<uint8_t> &data, DialogTemplate *out) {
  Cursor c{data};
  bool extended = c.Word() == 1 && c.Word() == 0xFFFF;
  c.at = 0;
  if (extended) {
    c.Dword();  // version and signature
    c.Dword();  // help id
    out->exStyle = c.Dword();
    out->style = c.Dword();
  } else {
    out->style = c.Dword();
    out->exStyle = c.Dword();
  }
  int count = c.Word();
  out->x = short(c.Word());
  out->y = short(c.Word());
  out->cx = short(c.Word());
  out->cy = short(c.Word());
  std::string ignored;
  int ordinal = -1;
  c.TextOrOrdinal(&ignored, &ordinal);  // menu
  c.TextOrOrdinal(&ignored, &ordinal);  // class
  out->title = c.Text();
  if (out->style & DS_SETFONT) {
    out->hasFont = true;
    out->pointSize = c.Word();
    if (extended) {
      c.Word();  // weight
      c.Word();  // italic, character set
    }
    out->fontName = c.Text();
  }
  for (int i = 0; i < count && c.ok; ++i) {
    c.Align();
    DialogItem item;
    if (extended) {
      c.Dword();  // help id
      item.exStyle = c.Dword();
      item.style = c.Dword();
    } else {
      item.style = c.Dword();
      item.exStyle = c.Dword();
    }
    item.x = short(c.Word());
    item.y = short(c.Word());
    item.cx = short(c.Word());
    item.cy = short(c.Word());
    item.id = extended ? int(int32_t(c.Dword())) : int(short(c.Word()));
    int atom = -1;
    c.TextOrOrdinal(&item.className, &atom);
    if (atom >= 0) item.className = PredefinedClass(atom);
    c.TextOrOrdinal(&item.title, &item.titleOrdinal);
    WORD extra = c.Word();
    c.at += extra;
    out->items.push_back(item);
  }
  return c.ok;
}

}  // namespace hostwin
