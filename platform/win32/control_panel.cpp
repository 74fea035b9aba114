// The Control Panel: loads an applet library and talks to it through
// CPlApplet in the order the Control Panel uses, with a window of its own
// passed on every call.
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
  frame->style = WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE;
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

std::vector<CplCall> RunControlCommand(const std::string &path) {
  ControlPanel panel;
  if (!OpenControlPanel(path, &panel)) return panel.calls;
  if (panel.count > 0) {
    // Sent even without arguments; an applet that does not handle it (0)
    // is opened with CPL_DBLCLK.
    if (!Call(&panel, CPL_STARTWPARMSW, 0, 0)) DoubleClick(&panel, 0);
  }
  CloseControlPanel(&panel);
  return panel.calls;
}

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
