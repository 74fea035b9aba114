// The Control Panel: loads an applet library and talks to it through
// CPlApplet in the order the Control Panel uses, with a window of its own
// passed on every call. That window is hidden, as the one the Control
// Panel (rundll32) makes to own an applet's windows is.
#include <cstdlib>

#include "desktop.h"

namespace hostwin {
namespace {

LONG Call(ControlPanel *panel, UINT message, LPARAM first, LPARAM second) {
  LONG result = panel->proc(panel->window, message, first, second);
  panel->calls.push_back(CplCall{message, first, second, result});
  return result;
}

void Unload(ControlPanel *panel) {
  if (panel->module) FreeLibrary(panel->module);
  if (panel->window) DestroyWindow(panel->window);
  panel->module = nullptr;
  panel->proc = nullptr;
  panel->window = nullptr;
}

}  // namespace

bool OpenControlPanel(const std::string &path, ControlPanel *panel) {
  *panel = ControlPanel();
  Window *frame = NewWindow(Kind::Frame, "CplFrame", nullptr);
  frame->text = "Control Panel";
  frame->style = WS_OVERLAPPED | WS_CAPTION;
  frame->rect = RECT{0, 0, 640, 480};
  panel->window = frame->handle;
  panel->module = LoadLibraryA(path.c_str());
  if (panel->module)
    panel->proc = reinterpret_cast<APPLET_PROC>(reinterpret_cast<void *>(GetProcAddress(panel->module, "CPlApplet")));
  if (!panel->proc) {
    Unload(panel);
    return false;
  }
  // An applet that fails CPL_INIT gets no further message, not even CPL_EXIT.
  if (!Call(panel, CPL_INIT, 0, 0)) {
    Unload(panel);
    return false;
  }
  panel->count = Call(panel, CPL_GETCOUNT, 0, 0);
  for (LONG i = 0; i < panel->count; ++i) {
    CPLINFO info = {};
    Call(panel, CPL_INQUIRE, i, reinterpret_cast<LPARAM>(&info));
    panel->inquired.push_back(info);
    NEWCPLINFOA described = {};
    // Applets that leave their icon, name or description to be loaded at
    // run time are asked for them.
    if (info.idIcon == CPL_DYNAMIC_RES || info.idName == CPL_DYNAMIC_RES || info.idInfo == CPL_DYNAMIC_RES) {
      described.dwSize = sizeof(NEWCPLINFOA);
      Call(panel, CPL_NEWINQUIRE, i, reinterpret_cast<LPARAM>(&described));
    }
    panel->described.push_back(described);
  }
  return true;
}

LONG DoubleClick(ControlPanel *panel, int index) {
  LPARAM data = size_t(index) < panel->inquired.size() ? panel->inquired[size_t(index)].lData : 0;
  if (size_t(index) < panel->described.size() && panel->described[size_t(index)].dwSize)
    data = panel->described[size_t(index)].lData;
  return Call(panel, CPL_DBLCLK, index, data);
}

void CloseControlPanel(ControlPanel *panel) {
  if (!panel->proc) return;
  for (LONG i = 0; i < panel->count; ++i) Call(panel, CPL_STOP, i, panel->inquired[size_t(i)].lData);
  Call(panel, CPL_EXIT, 0, 0);
  Unload(panel);
}

namespace {

std::string &StartText() {
  static std::string text;
  return text;
}

// Opens the applet, tells applet `index` the text (none for null), opens
// it unless it handled that, and closes.
std::vector<CplCall> Run(const std::string &path, long index, const std::u16string *text) {
  ControlPanel panel;
  if (!OpenControlPanel(path, &panel)) return panel.calls;
  if (panel.count > 0) {
    if (index < 0 || index >= panel.count) index = 0;
    StartText() = text ? Utf8(*text) : std::string();
    // Sent even without arguments; an applet that does not handle it (0)
    // is opened with CPL_DBLCLK.
    LPARAM argument = text ? reinterpret_cast<LPARAM>(text->c_str()) : 0;
    if (!Call(&panel, CPL_STARTWPARMSW, index, argument)) DoubleClick(&panel, int(index));
  }
  CloseControlPanel(&panel);
  return panel.calls;
}

}  // namespace

std::vector<CplCall> RunControlCommandLine(const std::string &commandLine) {
  std::vector<std::string> parts;
  std::string part;
  bool quoted = false, any = false;
  for (size_t i = 0; i <= commandLine.size(); ++i) {
    char c = i < commandLine.size() ? commandLine[i] : '\0';
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && (c == ',' || c == ' ' || c == '\0')) {
      if (any || c == ',') parts.push_back(part);
      part.clear();
      any = false;
    } else {
      part.push_back(c);
      any = true;
    }
  }
  if (parts.empty()) return {};
  long index = -1;
  const std::string *text = nullptr;
  for (size_t i = 1; i < parts.size(); ++i) {
    if (!parts[i].empty() && parts[i][0] == '@') index = strtol(parts[i].c_str() + 1, nullptr, 10);
    else if (!parts[i].empty()) text = &parts[i];
  }
  if (!text) return Run(parts[0], index, nullptr);
  std::u16string wide = Utf16(*text);
  return Run(parts[0], index, &wide);
}

std::string LastStartText() { return StartText(); }

std::string CplMessageName(UINT message) {
  switch (message) {
    case CPL_INIT: return "CPL_INIT";
    case CPL_GETCOUNT: return "CPL_GETCOUNT";
    case CPL_INQUIRE: return "CPL_INQUIRE";
    case CPL_SELECT: return "CPL_SELECT";
    case CPL_DBLCLK: return "CPL_DBLCLK";
    case CPL_STOP: return "CPL_STOP";
    case CPL_EXIT: return "CPL_EXIT";
    case CPL_NEWINQUIRE: return "CPL_NEWINQUIRE";
    case CPL_STARTWPARMSA: return "CPL_STARTWPARMSA";
    case CPL_STARTWPARMSW: return "CPL_STARTWPARMSW";
  }
  return "CPL message " + std::to_string(message);
}

}  // namespace hostwin
