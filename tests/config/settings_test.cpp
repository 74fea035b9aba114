// The counter and interrupt settings: how stored texts load and what the
// next OK writes back.
#include "applet_fixture.h"

namespace applettest {
namespace {

using AppletSettingsTest = AppletTest;

struct StoredCase {
  const char *what;
  const std::string &key;
  const char *value;
  std::string stored;
  uint32_t type;  // REG_NONE: no value
  const char *saved;  // what OK writes back
  bool terminated = true;
};

// Every text setting of the "Interrupt" and "Counter" keys is read by
// comparing the whole stored text, case and all, with one word; anything
// else is the other choice. A value that cannot be read (too long for the
// buffer) or is not there leaves the setting as it was when the applet
// loaded.
TEST_F(AppletSettingsTest, StoredTextsCountOnlyAsTheirExactWords) {
  const StoredCase cases[] = {
      {"Enable without its terminator", kInterruptKey, "DI1_Control", "Enable", REG_SZ, "Enable", false},
      {"another letter case", kInterruptKey, "DI1_Control", "enable", REG_SZ, "Disable"},
      {"Enable and more", kInterruptKey, "DI1_Control", "Enabled", REG_SZ, "Disable"},
      {"an empty text", kInterruptKey, "DI1_Control", "", REG_SZ, "Disable", false},
      {"another type", kInterruptKey, "DI1_Control", "Enable", REG_BINARY, "Disable"},
      {"too long to read", kInterruptKey, "DI1_Control", std::string(300, 'E'), REG_SZ, "Disable"},
      {"no value: DI0 as at load", kInterruptKey, "DI0_TriggerEdge", "", REG_NONE, "Rising"},
      {"no value: DI1 as at load", kInterruptKey, "DI1_TriggerEdge", "", REG_NONE, "Falling"},
      {"gate: Internal and more", kCounterKey, "CounterA_GateControl", "Internals", REG_SZ, "DI"},
      {"output: another case", kCounterKey, "CounterA_Output", "register", REG_SZ, "DO"},
  };
  for (const auto &c : cases) {
    StartOver(c.what);
    Configured(0);
    for (int n = 0; n < 2; ++n) PutText(kInterruptKey, "DI" + std::to_string(n) + "_Control", "Disable");
    if (c.type != REG_NONE) PutText(c.key, c.value, c.stored, c.terminated, c.type);
    Load();
    OpenDialog({}, IDOK);
    EXPECT_EQ(Text(c.key, c.value), c.saved);
  }
}

}  // namespace
}  // namespace applettest
