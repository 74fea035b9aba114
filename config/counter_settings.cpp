// The settings of the board's two counters in the applet's "Counter" key.
// The key's existence marks an applet that has been configured before.
#include "applet.h"

#include <cstdio>
#include <cstring>

namespace {

// The two words of a choice, as stored: the internal choice by its name,
// the external one by a generic word.
struct Choice {
  const char *internal;
  const char *external;
};
const Choice kClock = {DIO_DATA_INTERNAL, DIO_DATA_EXTERNAL};
const Choice kGate = {DIO_DATA_INTERNAL, DIO_DATA_GATE_DI};
const Choice kOutput = {DIO_DATA_REGISTER, DIO_DATA_OUTPUT_DO};

// Each counter's three choices: the value, its words, the field (1: the
// internal choice).
struct Setting {
  const char *name;
  const Choice &choice;
  int *field;
};
const Setting kSettings[] = {
    {DIO_VALUE_COUNTER_A_CLOCK, kClock, &gApplet.counterAClockInternal},
    {DIO_VALUE_COUNTER_A_GATE, kGate, &gApplet.counterAGateInternal},
    {DIO_VALUE_COUNTER_A_OUTPUT, kOutput, &gApplet.counterAOutputRegister},
    {DIO_VALUE_COUNTER_B_CLOCK, kClock, &gApplet.counterBClockInternal},
    {DIO_VALUE_COUNTER_B_GATE, kGate, &gApplet.counterBGateInternal},
    {DIO_VALUE_COUNTER_B_OUTPUT, kOutput, &gApplet.counterBOutputRegister},
};

}  // namespace

// 1 when the key was read, 0 when it does not exist.
int LoadCounterSettings(void) {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, DIO_KEY_COUNTER, &key) != ERROR_SUCCESS) return 0;
  char text[DIO_TEXT_BUFFER];
  for (const Setting &s : kSettings)
    if (ReadRegistryText(key, s.name, text, sizeof text)) *s.field = strcmp(text, s.choice.internal) == 0 ? 1 : 0;
  if (ReadRegistryText(key, DIO_VALUE_TIME_BASE, text, sizeof text)) gApplet.timeBase = TextToInt(text);
  RegCloseKey(key);
  return 1;
}

// The first-run values (0) are the internal choices for both counters;
// TimeBase always comes from memory.
LSTATUS SaveCounterSettings(int fromDialog) {
  HKEY key;
  LSTATUS status = RegCreateKeyA(HKEY_LOCAL_MACHINE, DIO_KEY_COUNTER, &key);
  if (status != ERROR_SUCCESS) return status;
  for (const Setting &s : kSettings) {
    const char *word = fromDialog && !*s.field ? s.choice.external : s.choice.internal;
    status = FirstFailure(status, WriteRegistryText(key, s.name, word));
  }
  char text[16];
  snprintf(text, sizeof text, "%d", gApplet.timeBase);
  status = FirstFailure(status, WriteRegistryText(key, DIO_VALUE_TIME_BASE, text));
  RegCloseKey(key);
  return status;
}
