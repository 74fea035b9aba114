// The counter page (dialog 105): for Counter A and Counter B the clock
// source, gate and output destination, each internal or a board line, and
// the internal clock frequency both counters share. The page edits gApplet
// only; OK and Apply save.
#include "applet.h"

namespace {

LRESULT Send(HWND page, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendDlgItemMessageA(page, id, message, wParam, lParam);
}

void AddItem(HWND page, int id, const char *text) { Send(page, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); }

// The three choices of one counter in gApplet.
struct CounterFields {
  int *clockInternal;
  int *gateInternal;
  int *outputRegister;
};

// Counter 0 is A, 1 is B; any other number names no counter.
bool FieldsOf(int counter, CounterFields *fields) {
  switch (counter) {
    case 0:
      *fields = {&gApplet.counterAClockInternal, &gApplet.counterAGateInternal, &gApplet.counterAOutputRegister};
      return true;
    case 1:
      *fields = {&gApplet.counterBClockInternal, &gApplet.counterBGateInternal, &gApplet.counterBOutputRegister};
      return true;
  }
  return false;
}

// The board lines that the external choices of a counter use, each with
// its mnemonic (the clock's I, the gate's D, the output's O).
struct LineNames {
  const char *clock;
  const char *gate;
  const char *output;
};
const LineNames kModel1And2Lines[] = {{"D&I6", "&DI4", "D&O6"}, {"D&I7", "&DI5", "D&O7"}};
const LineNames kOtherModelLines[] = {{"D&I1", "&DI0", "D&O2"}, {"D&I3", "&DI2", "D&O3"}};

int SelectedListCounter(HWND page) { return int(Send(page, IDC_CNT_COUNTER, CB_GETCURSEL)); }

// A button sets its choice for the selected counter; its state is not read
// back.
void SetChoice(int id) {
  CounterFields fields;
  if (!FieldsOf(gApplet.selectedCounter, &fields)) return;
  switch (id) {
    case IDC_CNT_CLOCK_INTERNAL: *fields.clockInternal = 1; break;
    case IDC_CNT_CLOCK_LINE: *fields.clockInternal = 0; break;
    case IDC_CNT_GATE_INTERNAL: *fields.gateInternal = 1; break;
    case IDC_CNT_GATE_LINE: *fields.gateInternal = 0; break;
    case IDC_CNT_OUTPUT_REGISTER: *fields.outputRegister = 1; break;
    case IDC_CNT_OUTPUT_LINE: *fields.outputRegister = 0; break;
  }
}

void page_on_command(HWND page, int id, int code) {
  switch (id) {
    case IDC_CNT_COUNTER:
      if (code != CBN_SELCHANGE || SelectedListCounter(page) < 0) return;
      gApplet.selectedCounter = SelectedListCounter(page);
      RelabelCounterSources(page);
      RefreshCounterControls(page);
      break;
    case IDC_CNT_FREQUENCY:
      if (code == CBN_SELCHANGE && Send(page, IDC_CNT_FREQUENCY, CB_GETCURSEL) >= 0)
        gApplet.timeBase = int(Send(page, IDC_CNT_FREQUENCY, CB_GETCURSEL));
      break;
    default:
      SetChoice(id);
      break;
  }
}

}  // namespace

void InitCounterPage(HWND page) {
  AddItem(page, IDC_CNT_COUNTER, "Counter A");
  AddItem(page, IDC_CNT_COUNTER, "Counter B");
  Send(page, IDC_CNT_COUNTER, CB_SETCURSEL, WPARAM(gApplet.selectedCounter));
  // In the order of TimeBase: 0 is 100 kHz, 3 is 100 Hz.
  AddItem(page, IDC_CNT_FREQUENCY, "100K Hz");
  AddItem(page, IDC_CNT_FREQUENCY, "10K Hz");
  AddItem(page, IDC_CNT_FREQUENCY, "1K Hz");
  AddItem(page, IDC_CNT_FREQUENCY, "100 Hz");
  RefreshCounterControls(page);
}

// Names the external choices after the board lines of the counter shown;
// 0 when the list shows no counter.
int RelabelCounterSources(HWND page) {
  int counter = SelectedListCounter(page);
  if (counter < 0 || counter > 1) return 0;
  bool models1And2 = gApplet.deviceType == DIO_MODEL_ISA_1 || gApplet.deviceType == DIO_MODEL_ISA_2;
  const LineNames &lines = (models1And2 ? kModel1And2Lines : kOtherModelLines)[counter];
  Send(page, IDC_CNT_CLOCK_LINE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lines.clock));
  Send(page, IDC_CNT_GATE_LINE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lines.gate));
  Send(page, IDC_CNT_OUTPUT_LINE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lines.output));
  return 1;
}

// Shows the choices of the counter in the list and the shared frequency; a
// TimeBase outside the list leaves the frequency unselected. 0 when the
// list shows no counter.
int RefreshCounterControls(HWND page) {
  CounterFields fields;
  if (!FieldsOf(SelectedListCounter(page), &fields)) return 0;
  SetButton(page, IDC_CNT_CLOCK_INTERNAL, *fields.clockInternal);
  SetButton(page, IDC_CNT_CLOCK_LINE, !*fields.clockInternal);
  SetButton(page, IDC_CNT_GATE_INTERNAL, *fields.gateInternal);
  SetButton(page, IDC_CNT_GATE_LINE, !*fields.gateInternal);
  SetButton(page, IDC_CNT_OUTPUT_REGISTER, *fields.outputRegister);
  SetButton(page, IDC_CNT_OUTPUT_LINE, !*fields.outputRegister);
  Send(page, IDC_CNT_FREQUENCY, CB_SETCURSEL, WPARAM(gApplet.timeBase));
  return 1;
}

INT_PTR CALLBACK CounterPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (message) {
    case WM_INITDIALOG:
      InitCounterPage(page);
      RelabelCounterSources(page);
      RefreshCounterControls(page);
      return TRUE;
    case WM_COMMAND:
      page_on_command(page, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
  }
  return FALSE;
}
