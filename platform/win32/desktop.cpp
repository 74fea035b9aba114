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
