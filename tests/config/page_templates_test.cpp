// A page as it is built from its template: each control's class, text,
// place, size and style, and the font that sets the dialog units. Dialog 106
// has every kind of control the pages use, and hidden ones; the other pages'
// numbers are the templates' own (the keyboard, the pages' tests and the
// Wine run's geometry check use them).
#include "applet_fixture.h"

#include <cctype>

namespace applettest {
namespace {

class AppletPageTemplatesTest : public AppletTest {};

struct Control {
  int id;
  const char *className;
  const char *text;
  short x, y, cx, cy;  // dialog units
  DWORD style;         // without WS_CHILD
};

// The font of the pages, "Microsoft Sans Serif" 8 point, has dialog base
// units of 6 x 13 pixels: a dialog unit is a quarter of the one across and
// an eighth of the other. Each number is rounded on its own, half away from
// zero.
LONG Round(int units, int base, int parts) { return (units * base + parts / 2) / parts; }
RECT Pixels(short x, short y, short cx, short cy) {
  LONG left = Round(x, 6, 4), top = Round(y, 13, 8);
  return RECT{left, top, left + Round(cx, 6, 4), top + Round(cy, 13, 8)};
}

std::string Lower(std::string text) {
  for (char &c : text) c = char(tolower(static_cast<unsigned char>(c)));
  return text;
}

const DWORD kVisible = WS_VISIBLE;
const DWORD kList = kVisible | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
const DWORD kRadio = kVisible | BS_AUTORADIOBUTTON;
const DWORD kGroupText = kVisible | SS_LEFT | WS_GROUP;
const DWORD kSeparator = kVisible | SS_ETCHEDHORZ | SS_SUNKEN;
const DWORD kEnableBox = kVisible | BS_AUTOCHECKBOX | BS_LEFTTEXT | WS_TABSTOP;

const std::vector<Control> kNineChannelPage = {
    {-1, "Static", "Interrupt", 3, 4, 28, 8, kGroupText},
    {1021, "ComboBox", "", 35, 3, 34, 60, kList},
    {-1, "Static", "", 6, 17, 71, 1, kSeparator},
    {1017, "Button", "Enable Control", 13, 21, 64, 10, kEnableBox},
    {1018, "Static", "Trigger Edge:", 14, 33, 45, 8, kGroupText & ~kVisible},
    {1019, "Button", "Rising", 28, 45, 37, 10, kRadio & ~kVisible},
    {1020, "Button", "Falling", 28, 56, 38, 10, kRadio & ~kVisible},
};

void ExpectPage(HWND page, short cx, short cy, const std::vector<Control> &controls) {
  RECT size = Pixels(0, 0, cx, cy);
  RECT at = hostwin::Placement(page);
  EXPECT_EQ(at.right - at.left, size.right) << "width";
  EXPECT_EQ(at.bottom - at.top, size.bottom) << "height";
  DWORD style = DWORD(GetWindowLongPtrA(page, GWL_STYLE));
  EXPECT_EQ(style & (WS_CHILD | DS_CONTROL | WS_CAPTION | WS_BORDER), DWORD(WS_CHILD | DS_CONTROL));
  std::vector<HWND> children = hostwin::Children(page);
  ASSERT_EQ(children.size(), controls.size());
  const DWORD kChecked = WS_VISIBLE | WS_GROUP | WS_TABSTOP | WS_VSCROLL | WS_DISABLED | 0xFFFF;
  for (size_t i = 0; i < controls.size(); ++i) {
    const Control &c = controls[i];
    HWND control = children[i];
    SCOPED_TRACE("control " + std::to_string(i) + " (" + std::to_string(c.id) + ")");
    EXPECT_EQ(GetDlgCtrlID(control), c.id);
    EXPECT_EQ(Lower(hostwin::ClassName(control)), Lower(c.className)) << "class names ignore case";
    if (std::string(c.className) != "ComboBox") {
      EXPECT_EQ(hostwin::Text(control), c.text);
    }
    RECT expected = Pixels(c.x, c.y, c.cx, c.cy), got = hostwin::Placement(control);
    EXPECT_EQ(got.left, expected.left);
    EXPECT_EQ(got.top, expected.top);
    EXPECT_EQ(got.right, expected.right);
    EXPECT_EQ(got.bottom, expected.bottom);
    EXPECT_EQ(DWORD(GetWindowLongPtrA(control, GWL_STYLE)) & kChecked, c.style);
  }
}

TEST_F(AppletPageTemplatesTest, NineChannelPage) {
  Load(22);
  OpenDialog([](HWND dialog) {
    ExpectPage(Page(dialog, IDD_INTERRUPT9_PAGE), 104, 68, kNineChannelPage);
  }, IDCANCEL);
}

}  // namespace
}  // namespace applettest
