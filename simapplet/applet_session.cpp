#include "applet_session.h"

#include "host_win32.h"
#include "library_board.h"
#include "output.h"
#include "page_text.h"
#include "registry_text.h"
#include "resources/resource.h"

namespace appletsim {
namespace {

// The lists that choose what the rest of their page shows: the channel of
// an interrupt page, the counter of the counter page.
const int kSelectors[] = {IDC_INT_CHANNEL, IDC_INT9_CHANNEL, IDC_CNT_COUNTER};

void CplCalls(const std::vector<hostwin::CplCall> &calls, size_t from) {
  for (size_t i = from; i < calls.size(); ++i)
    Line(hostwin::CplMessageName(calls[i].message) + " -> " + std::to_string(calls[i].result));
}

void Lines(const std::vector<std::string> &lines, const std::string &none, int indent = 0) {
  if (lines.empty()) Line(none, indent);
  for (const auto &line : lines) Line(line, indent);
}

// Chooses each entry of the page's selector in turn, as a user would, and
// shows the page's settings for it; then chooses the entry shown at first
// again.
void WalkSelector(HWND page) {
  for (int id : kSelectors) {
    HWND list = GetDlgItem(page, id);
    if (!list || !IsWindowVisible(list)) continue;
    std::vector<std::string> items = hostwin::Items(list);
    LRESULT first = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (items.empty()) continue;
    Line("each entry of the list, chosen in turn:", 1);
    for (size_t i = 0; i < items.size(); ++i) {
      hostwin::ChooseItem(list, int(i));
      Line(items[i] + ":  " + PageSettings(page, id), 2);
    }
    if (first >= 0) hostwin::ChooseItem(list, int(first));
  }
}

void ShowTab(HWND tab, int index, const std::string &caption) {
  hostwin::ClickTab(tab, index);
  TCITEMA item = {};
  item.mask = TCIF_PARAM;
  SendMessageA(tab, TCM_GETITEMA, WPARAM(index), reinterpret_cast<LPARAM>(&item));
  HWND page = reinterpret_cast<HWND>(item.lParam);
  Line("");
  Line("-- tab " + std::to_string(index) + " \"" + caption + "\": dialog " + std::to_string(hostwin::TemplateId(page)) +
       (IsWindowVisible(page) ? "" : " (not shown!)"));
  for (const auto &row : PageRows(page)) Line(row, 1);
  std::vector<std::string> hidden = HiddenControls(page);
  if (!hidden.empty()) {
    std::string line = "hidden:";
    for (const auto &text : hidden) line += " " + text;
    Line(line, 1);
  }
  WalkSelector(page);
}

void MessageBoxesFrom(size_t from, const std::string &when) {
  const auto &boxes = hostwin::MessageBoxes();
  for (size_t i = from; i < boxes.size(); ++i) {
    std::string answer = boxes[i].answer == IDYES ? ", answered Yes" : boxes[i].answer == IDNO ? ", answered No" : "";
    Line("message box " + when + ": \"" + boxes[i].text + "\" (caption \"" + boxes[i].caption + "\"" + answer + ")");
  }
}

void Press(HWND dialog, int button, const char *name) {
  size_t writes = WriteCount(), calls = LibraryCallCount(), boxes = hostwin::MessageBoxes().size();
  hostwin::Click(GetDlgItem(dialog, button));
  Line("");
  Line(std::string("-- ") + name + " stores:");
  Lines(WritesFrom(writes), "(nothing)", 1);
  Line(std::string("-- ") + name + ": the DIO library is called:");
  Lines(LibraryCallsFrom(calls), "(not at all)", 1);
  MessageBoxesFrom(boxes, "after " + std::string(name));
}

void UseDialog(HWND dialog, Close close, size_t boxesBefore) {
  MessageBoxesFrom(boxesBefore, "first");
  HWND tab = GetDlgItem(dialog, IDC_TAB);
  std::vector<std::string> tabs = hostwin::Items(tab);
  std::string list;
  for (const auto &caption : tabs) list += (list.empty() ? "" : " | ") + caption;
  Line("dialog \"" + hostwin::Text(dialog) + "\", tabs: " + list);
  HWND shield = GetDlgItem(dialog, IDC_ELEVATE);
  if (IsWindowVisible(shield))
    Line("the shield button \"" + hostwin::Text(shield) + "\" shows: the settings cannot be stored from here");
  for (size_t i = 0; i < tabs.size(); ++i) ShowTab(tab, int(i), tabs[i]);
  switch (close) {
    case Close::Ok: Press(dialog, IDOK, "OK"); break;
    case Close::Cancel: Press(dialog, IDCANCEL, "Cancel"); break;
    case Close::ApplyThenOk:
      Press(dialog, IDC_APPLY, "Apply");
      Press(dialog, IDOK, "OK");
      break;
  }
  // An OK that could not store keeps the dialog, with its edits.
  if (IsWindowVisible(dialog)) {
    Line("");
    Line("the dialog stays open with its edits: not everything was stored");
    Press(dialog, IDCANCEL, "Cancel");
  }
}

}  // namespace

bool RunAppletOnce(const std::string &path, Close close, bool unelevated) {
  Heading("Control Panel: load the applet");
  size_t writes = WriteCount(), calls = LibraryCallCount();
  hostwin::ControlPanel panel;
  if (!hostwin::OpenControlPanel(path, &panel)) {
    Line("the applet did not load: " + path);
    return false;
  }
  CplCalls(panel.calls, 0);
  if (!panel.described.empty() && panel.described[0].dwSize) {
    Line(std::string("name \"") + panel.described[0].szName + "\", description \"" + panel.described[0].szInfo +
         "\"");
  }
  Line("the DIO library is called:");
  Lines(LibraryCallsFrom(calls), "(not at all)", 1);
  Line("the load stores:");
  Lines(WritesFrom(writes), "(nothing: the applet has been configured before)", 1);

  Heading("Control Panel: open the applet (double click)");
  size_t before = panel.calls.size();
  size_t boxes = hostwin::MessageBoxes().size();
  // Without administrator rights each save offers to open the applet
  // elevated; the user stays here.
  int saves = close == Close::Ok ? 1 : close == Close::ApplyThenOk ? 2 : 0;
  for (int i = 0; unelevated && i < saves; ++i) hostwin::WhenMessageBoxAsks(IDNO);
  hostwin::WhenDialogOpens([close, boxes](HWND dialog) { UseDialog(dialog, close, boxes); });
  hostwin::DoubleClick(&panel, 0);
  Line("");
  CplCalls(panel.calls, before);

  before = panel.calls.size();
  hostwin::CloseControlPanel(&panel);
  CplCalls(panel.calls, before);
  return true;
}

}  // namespace appletsim
