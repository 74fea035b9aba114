// What a load of the applet finds and writes: the board model, the library's
// description of the board, the first-run and later registry contents, and
// how the stored counter and interrupt texts load (seen in what the next OK
// writes back).
#include "applet_fixture.h"

#include <tuple>

namespace applettest {
namespace {

using AppletInitTest = AppletTest;

// Whether the board's key is there, the type (REG_NONE: no value) and bytes
// of the stored "DeviceType", and whether the load asks as model 24 does
// (DeviceDIOInfo).
TEST_F(AppletInitTest, TheModelIsTheFirstByteOfDeviceTypeTakenAsSigned) {
  const std::tuple<const char *, bool, uint32_t, std::vector<uint8_t>, bool> cases[] = {
      {"only the first byte of a REG_DWORD counts", true, REG_DWORD, {24, 1, 0, 0}, true},
      {"a single byte of another type", true, REG_BINARY, {24}, true},
      {"too long to read", true, REG_BINARY, std::vector<uint8_t>(300, 24), false},
      {"no value", true, REG_NONE, {}, false},
      {"an empty value", true, REG_BINARY, {}, false},
      {"no driver key", false, REG_NONE, {}, false},
  };
  for (const auto &[what, installed, type, bytes, asModel24] : cases) {
    StartOver(what);
    hostreg::Make(kServiceKey);
    if (installed) hostreg::Make(kDevice000Key);
    if (type != REG_NONE) PutRaw(kDevice000Key, "DeviceType", type, bytes);
    Load();
    std::vector<std::string> expected = {"DeviceOpen(0) = 0", "GetDeviceInfor = 0", "DeviceDIOInfo = 0",
                                         "DeviceClose = 0"};
    if (!asModel24) expected.erase(expected.begin() + 2);
    EXPECT_EQ(LibrarySince(0), expected);
  }
}

// A first run writes the counters' internal choices, and every channel
// enabled on the rising edge whatever memory holds, but no DO key; a later
// run writes no counter or interrupt defaults, and all six DO values where
// the DO key is missing.
TEST_F(AppletInitTest, ALoadWritesTheDefaultsOfItsRun) {
  const std::pair<bool, std::vector<std::string>> cases[] = {
      {false,
       {"Counter\\CounterA_CLKSource=Internal", "Counter\\CounterA_GateControl=Internal",
        "Counter\\CounterA_Output=Register", "Counter\\CounterB_CLKSource=Internal",
        "Counter\\CounterB_GateControl=Internal", "Counter\\CounterB_Output=Register", "Counter\\TimeBase=0",
        "Interrupt\\DI0_Control=Enable", "Interrupt\\DI0_TriggerEdge=Rising", "Interrupt\\DI1_Control=Enable",
        "Interrupt\\DI1_TriggerEdge=Rising"}},
      {true,
       {"DO\\DO_Trigger_Start=0", "DO\\DO_Trigger_Shutdown=0", "DO\\DO_Channel_Start=0",
        "DO\\DO_Channel_Shutdown=0", "DO\\DO_Level_Start=1", "DO\\DO_Level_Shutdown=1"}},
  };
  for (const auto &[later, written] : cases) {
    StartOver(later ? "a later run" : "a first run");
    InstallDriver(0);
    if (later) PutText(kCounterKey, "TimeBase", "2");
    Load();
    EXPECT_EQ(WritesSince(0), written);
  }
}

// Every text setting of the "Interrupt" and "Counter" keys is read by
// comparing the whole stored text, case and all, with one word; anything
// else is the other choice. A value that cannot be read (too long for the
// buffer) or is not there leaves the setting as it was when the applet
// loaded. A case: the key and value, the text stored, with its type
// (REG_NONE: no value) and whether it is terminated, and what OK writes back.
TEST_F(AppletInitTest, StoredTextsCountOnlyAsTheirExactWords) {
  const std::tuple<const char *, std::string, const char *, std::string, uint32_t, bool, const char *> cases[] = {
      {"Enable without its terminator", kInterruptKey, "DI1_Control", "Enable", REG_SZ, false, "Enable"},
      {"another letter case", kInterruptKey, "DI1_Control", "enable", REG_SZ, true, "Disable"},
      {"Enable and more", kInterruptKey, "DI1_Control", "Enabled", REG_SZ, true, "Disable"},
      {"an empty text", kInterruptKey, "DI1_Control", "", REG_SZ, false, "Disable"},
      {"another type", kInterruptKey, "DI1_Control", "Enable", REG_BINARY, true, "Disable"},
      {"too long to read", kInterruptKey, "DI1_Control", std::string(300, 'E'), REG_SZ, true, "Disable"},
      {"no value: DI0 as at load", kInterruptKey, "DI0_TriggerEdge", "", REG_NONE, true, "Rising"},
      {"no value: DI1 as at load", kInterruptKey, "DI1_TriggerEdge", "", REG_NONE, true, "Falling"},
      {"gate: Internal and more", kCounterKey, "CounterA_GateControl", "Internals", REG_SZ, true, "DI"},
      {"output: another case", kCounterKey, "CounterA_Output", "register", REG_SZ, true, "DO"},
  };
  for (const auto &[what, key, value, stored, type, terminated, saved] : cases) {
    StartOver(what);
    Configured(0);
    for (int n = 0; n < 2; ++n) PutText(kInterruptKey, "DI" + std::to_string(n) + "_Control", "Disable");
    if (type != REG_NONE) PutText(key, value, stored, terminated, type);
    Load();
    OpenDialog({}, IDOK);
    EXPECT_EQ(Text(key, value), saved);
  }
}

}  // namespace
}  // namespace applettest
