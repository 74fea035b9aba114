// MessageBoxA: recorded and answered at once, OK alone as a user pressing it
// would, a choice with the answer a test gave beforehand. While it is up its
// owner is disabled, as on Windows.
#include <algorithm>
#include <deque>

#include "desktop.h"

namespace hostwin {
namespace {

std::vector<MessageBoxCall> &Calls() {
  static std::vector<MessageBoxCall> calls;
  return calls;
}
std::deque<int> &Answers() {
  static std::deque<int> answers;
  return answers;
}

// The buttons of a box, by its type [MS:winuser/nf-winuser-messageboxa].
std::vector<int> Buttons(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK: return {IDOK};
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
  }
  Fault("a message box of type " + std::to_string(type & MB_TYPEMASK) + ": not simulated");
  return {IDOK};
}

int Answer(const std::string &text, UINT type) {
  std::vector<int> buttons = Buttons(type);
  if (buttons.size() == 1) return buttons[0];
  if (Answers().empty()) {
    Fault("message box \"" + text + "\" asks a question nobody was there to answer");
    return buttons[0];
  }
  int answer = Answers().front();
  Answers().pop_front();
  if (std::find(buttons.begin(), buttons.end(), answer) == buttons.end())
    Fault("answer " + std::to_string(answer) + " is not a button of message box \"" + text + "\"");
  return answer;
}

}  // namespace

const std::vector<MessageBoxCall> &MessageBoxes() { return Calls(); }
void WhenMessageBoxAsks(int answer) { Answers().push_back(answer); }

void ForgetMessageBoxes() {
  Calls().clear();
  Answers().clear();
}

std::vector<std::string> UnusedMessageBoxAnswers() {
  return std::vector<std::string>(Answers().size(), "an answer waits for a message box that never asked");
}

}  // namespace hostwin

using namespace hostwin;

extern "C" int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (owner && !Find(owner)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  std::string said = text ? text : "";
  int answer = Answer(said, type);
  Calls().push_back(MessageBoxCall{owner, said, caption ? caption : "Error", type, Messages().size(), answer});
  bool disabled = owner && IsWindowEnabled(owner);
  if (disabled) EnableWindow(owner, FALSE);
  if (disabled) EnableWindow(owner, TRUE);
  return answer;
}
