// Message hooks, the keys held down, and the foreground window.
//
// - A WH_MSGFILTER hook of the calling thread sees each message that a
//   modal dialog's loop takes, with code MSGF_DIALOGBOX, before the dialog
//   manager does (the loop calls CallMsgFilter first); a non-zero answer
//   keeps the message from the dialog manager and from the control. The
//   hook must be of this thread (the desktop has one); a hook procedure
//   passes codes below 0 on to CallNextHookEx
//   [MS:winuser/nf-winuser-setwindowshookexa] [MS:winmsg/messageproc]
//   [MS:winuser/nf-winuser-callmsgfiltera]. A hook still installed when the
//   test ends is reported: its procedure would outlive the module.
// - GetKeyState: the high bit is set while the key is down
//   [MS:winuser/nf-winuser-getkeystate].
// - GetWindow(GW_OWNER) answers a top-level window's owner.
#include <algorithm>

#include "desktop.h"

namespace hostwin {
namespace {

// The desktop's one thread.
constexpr DWORD kThread = 1;

struct Hook {
  uintptr_t handle;
  HOOKPROC proc;
};
std::vector<Hook> &Hooks() {
  static std::vector<Hook> hooks;
  return hooks;
}
uintptr_t &NextHook() {
  static uintptr_t next = 0x4800;
  return next;
}
bool &ShiftDown() {
  static bool down = false;
  return down;
}
bool &ControlDown() {
  static bool down = false;
  return down;
}
HWND &Foreground() {
  static HWND foreground = nullptr;
  return foreground;
}

}  // namespace

std::vector<std::string> InstalledHooks() {
  return std::vector<std::string>(Hooks().size(), "a message hook is still installed");
}

void ForgetHooks() {
  Hooks().clear();
  ShiftDown() = ControlDown() = false;
  Foreground() = nullptr;
}

void HoldKeys(bool shift, bool control) {
  ShiftDown() = shift;
  ControlDown() = control;
}

bool FilterDialogMessage(HWND window, UINT message, WPARAM wParam) {
  if (Hooks().empty()) return false;
  MSG msg = {window, message, wParam, 0, 0, {0, 0}};
  // The hook installed last is called first.
  return Hooks().back().proc(MSGF_DIALOGBOX, 0, reinterpret_cast<LPARAM>(&msg)) != 0;
}

}  // namespace hostwin

using namespace hostwin;

extern "C" {

DWORD WINAPI GetCurrentThreadId(void) { return kThread; }

HHOOK WINAPI SetWindowsHookExA(int type, HOOKPROC proc, HINSTANCE module, DWORD threadId) {
  (void)module;
  if (type != WH_MSGFILTER) {
    Fault("SetWindowsHookEx of a type other than WH_MSGFILTER: not simulated");
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!proc || threadId != kThread) {
    // A global WH_MSGFILTER hook needs a module and runs in every process;
    // the applet's is for its own thread.
    Fault("SetWindowsHookEx(WH_MSGFILTER) without a procedure or for another thread");
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Hooks().push_back(Hook{NextHook(), proc});
  NextHook() += 4;
  return reinterpret_cast<HHOOK>(Hooks().back().handle);
}

BOOL WINAPI UnhookWindowsHookEx(HHOOK hook) {
  auto &hooks = Hooks();
  auto at = std::find_if(hooks.begin(), hooks.end(),
                         [hook](const Hook &h) { return h.handle == reinterpret_cast<uintptr_t>(hook); });
  if (at == hooks.end()) {
    SetLastError(1404);  // ERROR_INVALID_HOOK_HANDLE
    return FALSE;
  }
  hooks.erase(at);
  return TRUE;
}

// The next hook of the chain, or 0 past its end.
LRESULT WINAPI CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
  auto &hooks = Hooks();
  for (size_t i = hooks.size(); i-- > 1;)
    if (hooks[i].handle == reinterpret_cast<uintptr_t>(hook)) return hooks[i - 1].proc(code, wParam, lParam);
  return 0;
}

SHORT WINAPI GetKeyState(int key) {
  bool down = (key == VK_SHIFT && ShiftDown()) || (key == VK_CONTROL && ControlDown());
  return down ? SHORT(0x8000) : 0;
}

HWND WINAPI GetWindow(HWND handle, UINT relation) {
  Window *window = Find(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (relation != GW_OWNER) {
    Fault("GetWindow with a relation other than GW_OWNER: not simulated");
    return nullptr;
  }
  return window->parent ? nullptr : window->owner;
}

// A top-level window of this process comes to the foreground; a child
// window does not.
BOOL WINAPI SetForegroundWindow(HWND handle) {
  Window *window = Find(handle);
  if (!window || window->parent) return FALSE;
  Foreground() = handle;
  return TRUE;
}

HWND WINAPI GetForegroundWindow(void) { return Find(Foreground()) ? Foreground() : nullptr; }

BOOL WINAPI AllowSetForegroundWindow(DWORD processId) {
  (void)processId;
  return TRUE;
}

}  // extern "C"
