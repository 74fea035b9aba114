// MessageBoxA: recorded and answered at once, as a user pressing OK would.
// While it is up its owner is disabled, as on Windows.
#include "desktop.h"

namespace hostwin {
namespace {

std::vector<MessageBoxCall> &Calls() {
  static std::vector<MessageBoxCall> calls;
  return calls;
}

}  // namespace

const std::vector<MessageBoxCall> &MessageBoxes() { return Calls(); }
void ForgetMessageBoxes() { Calls().clear(); }

}  // namespace hostwin

using namespace hostwin;

extern "C" int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (owner && !Find(owner)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  Calls().push_back(MessageBoxCall{owner, text ? text : "", caption ? caption : "Error", type, Messages().size()});
  bool disabled = owner && IsWindowEnabled(owner);
  if (disabled) EnableWindow(owner, FALSE);
  if (disabled) EnableWindow(owner, TRUE);
  return IDOK;
}
