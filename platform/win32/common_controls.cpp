// comctl32's window classes and uxtheme's dialog textures. "An application
// must call InitCommonControlsEx before creating a common control": a common
// control's class exists in the process only once it has been registered, and
// a dialog whose template names a class that does not exist is not created
// [MS:controls/cookbook-overview] [MS:commctrl/nf-commctrl-initcommoncontrolsex].
// Wine's user32 loads comctl32 for such a class on demand, so a Wine run does
// not show a missing call [W8]; the stand-in, like Windows, registers nothing
// on its own.
#include <set>
#include <strings.h>

#include <uxtheme.h>

#include "desktop.h"

namespace hostwin {
namespace {

struct CaseInsensitive {
  bool operator()(const std::string &a, const std::string &b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

std::set<std::string, CaseInsensitive> &Registered() {
  static std::set<std::string, CaseInsensitive> classes;
  return classes;
}
bool &Refused() {
  static bool refused = false;
  return refused;
}

}  // namespace

bool CommonControlRegistered(const std::string &className) { return Registered().count(className) != 0; }

void ForgetCommonControls() {
  Registered().clear();
  Refused() = false;
}

void RefuseCommonControls() { Refused() = true; }

DWORD DialogTexture(HWND window) {
  Window *w = Find(window);
  return w ? w->texture : 0;
}

}  // namespace hostwin

using namespace hostwin;

extern "C" {

// Only a record of its own size is read [WINE:dlls/comctl32/commctrl.c
// InitCommonControlsEx]; each ICC_ bit registers its classes.
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *controls) {
  if (!controls || controls->dwSize != sizeof(INITCOMMONCONTROLSEX) || Refused()) return FALSE;
  if (controls->dwICC & ICC_TAB_CLASSES) Registered().insert(WC_TABCONTROLA);
  return TRUE;
}

// The texture is a property of the window; flags beyond ETDT_VALIDBITS are
// refused [MS:uxtheme/nf-uxtheme-enablethemedialogtexture] [WINE:dlls/uxtheme/system.c].
HRESULT WINAPI EnableThemeDialogTexture(HWND window, DWORD flags) {
  Window *w = Find(window);
  if (!w) return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
  if (flags & ~DWORD(ETDT_VALIDBITS)) return E_INVALIDARG;
  w->texture = flags;
  return S_OK;
}

}  // extern "C"
