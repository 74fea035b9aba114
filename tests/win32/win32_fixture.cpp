#include "win32_fixture.h"

namespace win32test {

bool gVetoTabChange = false;

INT_PTR CALLBACK TestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  if (message == WM_NOTIFY && gVetoTabChange && reinterpret_cast<NMHDR *>(lParam)->code == TCN_SELCHANGING) {
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
    return TRUE;
  }
  return message == WM_INITDIALOG;
}

std::vector<hostwin::Message> Notifications() {
  std::vector<hostwin::Message> out;
  for (const auto &m : hostwin::Messages())
    if (m.message == WM_COMMAND || m.message == WM_NOTIFY) out.push_back(m);
  return out;
}

LRESULT InsertTab(HWND tab, int index, const char *text) {
  TCITEMA item = {};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<char *>(text);
  return SendMessageA(tab, TCM_INSERTITEMA, WPARAM(index), reinterpret_cast<LPARAM>(&item));
}

void Win32Test::SetUp() {
  gVetoTabChange = false;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES};
  if (registerControls_) {
    ASSERT_TRUE(InitCommonControlsEx(&controls));
  }
  module_ = hostwin::RegisterResourceModule("win32_test", hostwin::ReadBinaryFile(TEST_RES));
}

void Win32Test::TearDown() {
  if (dialog_ && IsWindow(dialog_)) DestroyWindow(dialog_);
  hostwin::UnregisterResourceModule(module_);
}

HWND Win32Test::OpenTestDialog() {
  dialog_ = CreateDialogParamA(module_, MAKEINTRESOURCEA(200), nullptr, TestDialogProc, 0);
  EXPECT_NE(dialog_, nullptr);
  ShowWindow(dialog_, SW_SHOW);
  hostwin::ClearMessages();
  return dialog_;
}

std::vector<std::string> Win32Test::TakeFaults() {
  TearDown();
  std::vector<std::string> faults = hostwin::Outstanding();
  hostwin::ResetDesktop();
  dialog_ = nullptr;
  SetUp();
  return faults;
}

}  // namespace win32test
