// The desktop as a whole: the last error, the log of messages delivered to
// dialog procedures, faults, and the balance sheet a test checks when it ends.
#include <cstdio>

#include "desktop.h"

namespace hostwin {
namespace {

std::vector<Message> &Log() {
  static std::vector<Message> log;
  return log;
}
std::vector<std::string> &FaultList() {
  static std::vector<std::string> faults;
  return faults;
}
int &Dpi() {
  static int dpi = 96;
  return dpi;
}
DWORD &LastError() {
  static thread_local DWORD error = 0;  // per thread, as on Windows
  return error;
}

const char *MessageName(UINT message) {
  switch (message) {
    case WM_DESTROY: return "WM_DESTROY";
    case WM_ENABLE: return "WM_ENABLE";
    case WM_SETTEXT: return "WM_SETTEXT";
    case WM_GETTEXT: return "WM_GETTEXT";
    case WM_CLOSE: return "WM_CLOSE";
    case WM_SHOWWINDOW: return "WM_SHOWWINDOW";
    case WM_SETFONT: return "WM_SETFONT";
    case WM_NOTIFY: return "WM_NOTIFY";
    case WM_NOTIFYFORMAT: return "WM_NOTIFYFORMAT";
    case WM_NCDESTROY: return "WM_NCDESTROY";
    case WM_INITDIALOG: return "WM_INITDIALOG";
    case WM_COMMAND: return "WM_COMMAND";
    case WM_SETFOCUS: return "WM_SETFOCUS";
    case WM_KILLFOCUS: return "WM_KILLFOCUS";
    case WM_NEXTDLGCTL: return "WM_NEXTDLGCTL";
  }
  return nullptr;
}

}  // namespace

void Fault(const std::string &what) { FaultList().push_back(what); }

int ScreenDpi() { return Dpi(); }
void SetScreenDpi(int dpi) { Dpi() = dpi; }
std::vector<std::string> &Faults() { return FaultList(); }

void LogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  UINT code = 0;
  if (message == WM_NOTIFY && lParam) code = reinterpret_cast<const NMHDR *>(lParam)->code;
  Log().push_back(Message{window, message, wParam, lParam, code});
}

const std::vector<Message> &Messages() { return Log(); }
void ClearMessages() { Log().clear(); }

std::string Describe(const Message &m) {
  char text[160];
  const char *name = MessageName(m.message);
  std::string what = name ? name : "message 0x" + std::to_string(m.message);
  int dialog = TemplateId(m.window);
  if (m.message == WM_COMMAND) {
    snprintf(text, sizeof text, "dialog %d: WM_COMMAND id %u code %u", dialog, LOWORD(m.wParam), HIWORD(m.wParam));
  } else if (m.message == WM_NOTIFY) {
    snprintf(text, sizeof text, "dialog %d: WM_NOTIFY id %lu code %d", dialog, (unsigned long)m.wParam, int(m.code));
  } else {
    snprintf(text, sizeof text, "dialog %d: %s wParam %lu", dialog, what.c_str(), (unsigned long)m.wParam);
  }
  return text;
}

std::u16string Utf16(const std::string &text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = text[i];
    int extra = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (c >= 0x80 && c < 0xC0) extra = -1;
    uint32_t code = extra == 3 ? c & 0x07 : extra == 2 ? c & 0x0F : extra == 1 ? c & 0x1F : c;
    bool whole = extra >= 0 && i + size_t(extra) < text.size() + (extra ? 0 : 1);
    for (int k = 1; whole && k <= extra; ++k) {
      unsigned char next = text[i + size_t(k)];
      whole = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3F);
    }
    if (!whole || extra < 0) {
      out.push_back(char16_t(c));
      ++i;
      continue;
    }
    i += size_t(extra) + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(char16_t(0xD800 + (code >> 10)));
      out.push_back(char16_t(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(char16_t(code));
    }
  }
  return out;
}

std::string Utf8(const std::u16string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (code < 0x80) {
      out.push_back(char(code));
    } else if (code < 0x800) {
      out.push_back(char(0xC0 | code >> 6));
      out.push_back(char(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(char(0xE0 | code >> 12));
      out.push_back(char(0x80 | (code >> 6 & 0x3F)));
      out.push_back(char(0x80 | (code & 0x3F)));
    } else {
      out.push_back(char(0xF0 | code >> 18));
      out.push_back(char(0x80 | (code >> 12 & 0x3F)));
      out.push_back(char(0x80 | (code >> 6 & 0x3F)));
      out.push_back(char(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

std::vector<std::string> Outstanding() {
  std::vector<std::string> out = FaultList();
  for (Window *window : LiveWindows()) {
    char text[200];
    snprintf(text, sizeof text, "window %p (%s \"%s\", template %d) still exists", (void *)window->handle,
             window->className.c_str(), window->text.c_str(), window->templateId);
    out.push_back(text);
  }
  for (const auto &line : OpenKeys()) out.push_back(line);
  for (const auto &line : LoadedLibraries()) out.push_back(line);
  for (const auto &line : UnusedOperators()) out.push_back(line);
  for (const auto &line : UnusedMessageBoxAnswers()) out.push_back(line);
  for (const auto &line : UnusedElevationAnswers()) out.push_back(line);
  for (const auto &line : LeftBitmaps()) out.push_back(line);
  for (const auto &line : OpenTokens()) out.push_back(line);
  for (const auto &line : LeftPens()) out.push_back(line);
  for (const auto &line : InstalledHooks()) out.push_back(line);
  return out;
}

void ResetDesktop() {
  ForgetWindows();
  ForgetKeys();
  ForgetLibraries();
  ForgetMessageBoxes();
  ForgetShell();
  ForgetOperators();
  ForgetPictures();
  ForgetFocus();
  ForgetTokens();
  ForgetHooks();
  ForgetPaint();
  ForgetCommonControls();
  Dpi() = 96;
  Log().clear();
  FaultList().clear();
  LastError() = 0;
}

}  // namespace hostwin

extern "C" {
DWORD WINAPI GetLastError(void) { return hostwin::LastError(); }
void WINAPI SetLastError(DWORD error) { hostwin::LastError() = error; }
}
