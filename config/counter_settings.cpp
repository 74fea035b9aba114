// The settings of the board's two counters in the applet's "Counter" key.
// The key's existence marks an applet that has been configured before.
#include "applet.h"

#include <cstdio>
#include <cstring>

namespace {

// The three choices of a counter, as stored: the internal choice by its
// name, the external one by a generic word.
struct Choice {
  const char *name;
  const char *internal;
  const char *external;
};
const Choice kClock = {"CLKSource", "Internal", "External"};
const Choice kGate = {"GateControl", "Internal", "DI"};
const Choice kOutput = {"Output", "Register", "DO"};

void LoadChoice(HKEY key, const char *counter, const Choice &choice, int *field) {
  char name[32], text[DIO_TEXT_BUFFER];
  snprintf(name, sizeof name, "%s_%s", counter, choice.name);
  if (ReadRegistryText(key, name, text, sizeof text)) *field = strcmp(text, choice.internal) == 0 ? 1 : 0;
}

LSTATUS SaveChoice(HKEY key, const char *counter, const Choice &choice, int fromDialog, int field) {
  char name[32];
  snprintf(name, sizeof name, "%s_%s", counter, choice.name);
  return WriteRegistryText(key, name, fromDialog && !field ? choice.external : choice.internal);
}

}  // namespace

// 1 when the key was read, 0 when it does not exist.
int LoadCounterSettings(void) {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, DIO_COUNTER_KEY, &key) != ERROR_SUCCESS) return 0;
  LoadChoice(key, "CounterA", kClock, &gApplet.counterAClockInternal);
  LoadChoice(key, "CounterA", kGate, &gApplet.counterAGateInternal);
  LoadChoice(key, "CounterA", kOutput, &gApplet.counterAOutputRegister);
  LoadChoice(key, "CounterB", kClock, &gApplet.counterBClockInternal);
  LoadChoice(key, "CounterB", kGate, &gApplet.counterBGateInternal);
  LoadChoice(key, "CounterB", kOutput, &gApplet.counterBOutputRegister);
  char text[DIO_TEXT_BUFFER];
  if (ReadRegistryText(key, "TimeBase", text, sizeof text)) gApplet.timeBase = TextToInt(text);
  RegCloseKey(key);
  return 1;
}

// The first-run values (0) are the internal choices for both counters;
// TimeBase always comes from memory.
LSTATUS SaveCounterSettings(int fromDialog) {
  HKEY key;
  LSTATUS status = RegCreateKeyA(HKEY_LOCAL_MACHINE, DIO_COUNTER_KEY, &key);
  if (status != ERROR_SUCCESS) return status;
  const struct {
    const char *counter;
    const Choice &choice;
    int field;
  } choices[] = {
      {"CounterA", kClock, gApplet.counterAClockInternal}, {"CounterA", kGate, gApplet.counterAGateInternal},
      {"CounterA", kOutput, gApplet.counterAOutputRegister}, {"CounterB", kClock, gApplet.counterBClockInternal},
      {"CounterB", kGate, gApplet.counterBGateInternal},     {"CounterB", kOutput, gApplet.counterBOutputRegister},
  };
  for (const auto &c : choices) status = FirstFailure(status, SaveChoice(key, c.counter, c.choice, fromDialog, c.field));
  char text[16];
  snprintf(text, sizeof text, "%d", gApplet.timeBase);
  status = FirstFailure(status, WriteRegistryText(key, "TimeBase", text));
  RegCloseKey(key);
  return status;
}
