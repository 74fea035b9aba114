#include "page_text.h"

#include <algorithm>
#include <cctype>

#include "host_win32.h"
#include "resources/resource.h"

namespace appletsim {
namespace {

// Controls whose tops lie this close (pixels) share a row.
const LONG kRowSlack = 6;

std::string Lower(std::string text) {
  for (char &c : text) c = char(tolower(static_cast<unsigned char>(c)));
  return text;
}

DWORD Style(HWND control) { return DWORD(GetWindowLongPtrA(control, GWL_STYLE)); }

bool HasCheck(DWORD type) {
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE;
}
bool IsRadio(DWORD type) { return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON; }

std::string RenderButton(HWND control) {
  DWORD style = Style(control), type = style & BS_TYPEMASK;
  std::string text = hostwin::Text(control);
  LRESULT check = SendMessageA(control, BM_GETCHECK, 0, 0);
  if (type == BS_GROUPBOX) return "-- " + text + " --";
  if (HasCheck(type)) {
    std::string box = check == BST_CHECKED ? "[x]" : check == BST_INDETERMINATE ? "[-]" : "[ ]";
    return (style & BS_LEFTTEXT) ? text + " " + box : box + " " + text;
  }
  if (IsRadio(type)) return std::string(check == BST_CHECKED ? "(o) " : "( ) ") + text;
  return "<" + text + ">";
}

std::string RenderList(HWND control) {
  std::vector<std::string> items = hostwin::Items(control);
  LRESULT shown = SendMessageA(control, CB_GETCURSEL, 0, 0);
  std::string out = "[" + (shown >= 0 && size_t(shown) < items.size() ? items[size_t(shown)] : "(none)") + " v] {";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "|" : "") + items[i];
  return out + "}";
}

std::string RenderStatic(HWND control) {
  DWORD type = Style(control) & SS_TYPEMASK;
  if (type == SS_BITMAP) {
    auto image = reinterpret_cast<HBITMAP>(SendMessageA(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
    hostwin::Picture picture;
    if (!hostwin::DescribeBitmap(image, &picture)) return "[?]";
    return picture.resourceId == IDB_TICK ? "[+]" : picture.resourceId == IDB_CROSS ? "[-]" : "[?]";
  }
  if (type == SS_ETCHEDHORZ) return "----------------";
  return hostwin::Text(control);
}

std::string Render(HWND control) {
  std::string className = Lower(hostwin::ClassName(control));
  std::string out = className == "button"     ? RenderButton(control)
                    : className == "combobox" ? RenderList(control)
                    : className == "static"   ? RenderStatic(control)
                                              : "<" + className + " \"" + hostwin::Text(control) + "\">";
  if (!out.empty() && !IsWindowEnabled(control)) out += " (disabled)";
  return out;
}

struct Placed {
  RECT at;
  HWND control;
};

// The page's visible controls in rows, each row left to right.
std::vector<std::vector<HWND>> Rows(HWND page) {
  std::vector<Placed> placed;
  for (HWND control : hostwin::Children(page))
    if (IsWindowVisible(control)) placed.push_back(Placed{hostwin::Placement(control), control});
  std::stable_sort(placed.begin(), placed.end(), [](const Placed &a, const Placed &b) { return a.at.top < b.at.top; });
  std::vector<std::vector<Placed>> rows;
  for (const Placed &p : placed) {
    if (rows.empty() || p.at.top > rows.back().front().at.top + kRowSlack) rows.emplace_back();
    rows.back().push_back(p);
  }
  std::vector<std::vector<HWND>> out;
  for (auto &row : rows) {
    std::stable_sort(row.begin(), row.end(), [](const Placed &a, const Placed &b) { return a.at.left < b.at.left; });
    out.emplace_back();
    for (const Placed &p : row) out.back().push_back(p.control);
  }
  return out;
}

void Append(std::string *line, const std::string &part) {
  if (part.empty()) return;
  if (!line->empty()) *line += "  ";
  *line += part;
}

}  // namespace

std::vector<std::string> PageRows(HWND page) {
  std::vector<std::string> lines;
  for (const auto &row : Rows(page)) {
    std::string line;
    for (HWND control : row) Append(&line, Render(control));
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string PageSettings(HWND page, int except) {
  std::string line;
  for (const auto &row : Rows(page)) {
    for (HWND control : row) {
      std::string className = Lower(hostwin::ClassName(control));
      DWORD type = Style(control) & BS_TYPEMASK;
      bool setting = className == "combobox" || (className == "button" && (HasCheck(type) || IsRadio(type)));
      if (setting && GetDlgCtrlID(control) != except) Append(&line, Render(control));
    }
  }
  return line;
}

std::vector<std::string> HiddenControls(HWND page) {
  std::vector<std::string> out;
  for (HWND control : hostwin::Children(page))
    if (!IsWindowVisible(control)) out.push_back("\"" + hostwin::Text(control) + "\"");
  return out;
}

}  // namespace appletsim
