// The edits an unelevated applet hands to the elevated one it starts: every
// setting the pages edit, and the channel and counter shown, as one word of
// the Control Panel's command line ("/edits:" and 56 decimal numbers joined
// by dots; no blank, comma or quote, which the Control Panel would split
// at). The elevated applet loads the registry as always, then takes the
// word in place of what it loaded, but only when the word is whole: every
// number there, each flag 0 or 1. Anything else is ignored, and the dialog
// shows the stored settings.
#include "applet.h"

#include <climits>
#include <cstdio>

namespace {

const char kTag[] = "/edits:";

// The settings in the order of the word, and whether each is a flag. The
// DO record's fields go as the ints the page makes of them.
struct Field {
  int *value;
  DWORD *dword;  // instead of `value`
  bool flag;
};

int ValueOf(const Field &field) { return field.value ? *field.value : int(*field.dword); }

void SetValue(const Field &field, int value) {
  if (field.value) *field.value = value;
  else *field.dword = DWORD(value);
}

int Fields(Field *fields) {
  APPLET_STATE &a = gApplet;
  int n = 0;
  auto add = [&](int *value, bool flag) { fields[n++] = Field{value, nullptr, flag}; };
  auto addDword = [&](DWORD *value, bool flag) { fields[n++] = Field{nullptr, value, flag}; };
  add(&a.counterAClockInternal, true);
  add(&a.counterAGateInternal, true);
  add(&a.counterAOutputRegister, true);
  add(&a.counterBClockInternal, true);
  add(&a.counterBGateInternal, true);
  add(&a.counterBOutputRegister, true);
  add(&a.timeBase, false);
  add(&a.selectedCounter, false);
  for (int &enabled : a.diEnable) add(&enabled, true);
  for (int &rising : a.diRisingEdge) add(&rising, true);
  for (int &enabled : a.di9Enable) add(&enabled, true);
  add(&a.selectedChannel, false);
  addDword(&a.doConfig.TriggerStart, true);
  addDword(&a.doConfig.TriggerShutdown, true);
  addDword(&a.doConfig.ChannelStart, false);
  addDword(&a.doConfig.ChannelShutdown, false);
  addDword(&a.doConfig.LevelStart, true);
  addDword(&a.doConfig.LevelShutdown, true);
  return n;
}

const int kFieldCount = 8 + 2 * DIO_MAX_DI_CHANNELS + DIO_DI9_CHANNELS + 1 + 6;

// One signed decimal number up to the next dot or the end; false when
// there is none or it leaves the range of int.
bool ReadNumber(LPCWSTR *at, int *value) {
  LPCWSTR p = *at;
  bool negative = *p == L'-';
  if (negative) ++p;
  if (*p < L'0' || *p > L'9') return false;
  long long number = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    number = number * 10 + (*p - L'0');
    if (number > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) number = -number;
  if (number < INT_MIN || number > INT_MAX) return false;
  *value = int(number);
  *at = p;
  return true;
}

}  // namespace

BOOL WriteCarriedEdits(WCHAR *text, size_t size) {
  Field fields[kFieldCount];
  int count = Fields(fields);
  size_t length = 0;
  for (const char *tag = kTag; *tag && length < size; ++tag) text[length++] = WCHAR(*tag);
  for (int i = 0; i < count; ++i) {
    char number[16];
    int digits = snprintf(number, sizeof number, i ? ".%d" : "%d", ValueOf(fields[i]));
    for (int d = 0; d < digits && length < size; ++d) text[length++] = WCHAR(number[d]);
  }
  if (length >= size) return FALSE;
  text[length] = 0;
  return TRUE;
}

BOOL TakeCarriedEdits(LPCWSTR text) {
  if (!text) return FALSE;
  for (const char *tag = kTag; *tag; ++tag, ++text)
    if (*text != WCHAR(*tag)) return FALSE;
  Field fields[kFieldCount];
  int values[kFieldCount];
  int count = Fields(fields);
  for (int i = 0; i < count; ++i) {
    if (i && *text++ != L'.') return FALSE;
    if (!ReadNumber(&text, &values[i])) return FALSE;
    if (fields[i].flag && values[i] != 0 && values[i] != 1) return FALSE;
  }
  if (*text) return FALSE;
  for (int i = 0; i < count; ++i) SetValue(fields[i], values[i]);
  gApplet.editsCarried = 1;
  return TRUE;
}
