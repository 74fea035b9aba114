// The Win32 stand-in's own tests: a module with the test resources and a
// dialog procedure that records nothing itself (the stand-in logs every
// message a dialog procedure receives) and can veto a tab change.
#pragma once

#include <gtest/gtest.h>

#include "host_win32.h"

namespace win32test {

// The notifications (WM_COMMAND, WM_NOTIFY) dialog procedures received
// since the last clear.
std::vector<hostwin::Message> Notifications();

class Win32Test : public testing::Test {
 protected:
  // Registers the tab control's class, as a program that uses it does
  // first, unless a test clears registerControls_ in its constructor.
  void SetUp() override;
  void TearDown() override;
  // A modeless top-level dialog made from template 200.
  HWND OpenTestDialog();
  // What the test left or did wrong so far, the dialog of OpenTestDialog
  // closed first; the desktop then starts over as SetUp leaves it.
  std::vector<std::string> TakeFaults();

  HINSTANCE module_ = nullptr;
  HWND dialog_ = nullptr;
  bool registerControls_ = true;
};

LRESULT InsertTab(HWND tab, int index, const char *text);

// Answers TCN_SELCHANGING with TRUE (keep the tab) while set.
extern bool gVetoTabChange;
INT_PTR CALLBACK TestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace win32test
