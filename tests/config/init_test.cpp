// What a load of the applet finds and writes: the board model, the library's
// description of the board, and the first-run and later registry contents.
#include "applet_fixture.h"

namespace applettest {
namespace {

using AppletInitTest = AppletTest;

struct ModelCase {
  const char *what;
  bool installed;
  bool hasValue;
  uint32_t type;
  std::vector<uint8_t> bytes;  // the stored "DeviceType"
  bool asModel24;              // DeviceDIOInfo asked, FPGA version shown
};

TEST_F(AppletInitTest, TheModelIsTheFirstByteOfDeviceTypeTakenAsSigned) {
  const ModelCase cases[] = {
      {"REG_DWORD 24", true, true, REG_DWORD, {24, 0, 0, 0}, true},
      {"only the first byte counts", true, true, REG_DWORD, {24, 1, 0, 0}, true},
      {"a single byte of another type", true, true, REG_BINARY, {24}, true},
      {"too long to read", true, true, REG_BINARY, std::vector<uint8_t>(300, 24), false},
      {"no value", true, false, REG_NONE, {}, false},
      {"an empty value", true, true, REG_BINARY, {}, false},
      {"no driver key", false, false, REG_NONE, {}, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    hostreg::Make(kServiceKey);
    if (c.installed) hostreg::Make(kDevice000Key);
    if (c.installed && c.hasValue) PutRaw(kDevice000Key, "DeviceType", c.type, c.bytes);
    Load();
    std::vector<std::string> expected = {"DeviceOpen", "GetDeviceInfor"};
    if (c.asModel24) expected.push_back("DeviceDIOInfo");
    expected.push_back("DeviceClose");
    EXPECT_EQ(LibraryCalls(), expected);
    EXPECT_EQ(diolib::Calls()[0].deviceNumber, 0);
    EXPECT_EQ(diolib::Calls()[1].handle, diolib::Calls()[0].handle);
    hostwin::WhenDialogOpens([&](HWND dialog) {
      HWND group = Item(Page(dialog, IDD_SUPPORT_PAGE), IDC_SUP_GROUP);
      EXPECT_EQ(hostwin::Text(group), c.asModel24 ? "Support Function (FPGA Version:3.00)" : "Support Function");
      EXPECT_TRUE(hostwin::Click(Item(dialog, IDCANCEL)));
    });
    hostwin::DoubleClick(&panel_, 0);
  }
}

TEST_F(AppletInitTest, AFirstRunWritesCounterAndInterruptDefaultsButNoDoKey) {
  Load(0);
  EXPECT_EQ(ValueNames(kCounterKey),
            (std::vector<std::string>{"CounterA_CLKSource", "CounterA_GateControl", "CounterA_Output",
                                      "CounterB_CLKSource", "CounterB_GateControl", "CounterB_Output", "TimeBase"}));
  EXPECT_EQ(Text(kCounterKey, "CounterB_Output"), "Register");
  EXPECT_EQ(Text(kCounterKey, "TimeBase"), "0");
  // Every channel enabled on the rising edge, whatever memory holds.
  EXPECT_EQ(ValueNames(kInterruptKey),
            (std::vector<std::string>{"DI0_Control", "DI0_TriggerEdge", "DI1_Control", "DI1_TriggerEdge"}));
  EXPECT_EQ(Text(kInterruptKey, "DI1_Control"), "Enable");
  EXPECT_EQ(Text(kInterruptKey, "DI1_TriggerEdge"), "Rising");
  EXPECT_FALSE(hostreg::Find(kDoKey));
}

TEST_F(AppletInitTest, ALaterRunWithoutADoKeyWritesAllSixDoValues) {
  InstallDriver(0);
  PutText(kCounterKey, "TimeBase", "2");
  Load();
  EXPECT_EQ(ValueNames(kDoKey),
            (std::vector<std::string>{"DO_Trigger_Start", "DO_Trigger_Shutdown", "DO_Channel_Start",
                                      "DO_Channel_Shutdown", "DO_Level_Start", "DO_Level_Shutdown"}));
  EXPECT_EQ(Dword(kDoKey, "DO_Trigger_Start"), 0u);
  EXPECT_EQ(Dword(kDoKey, "DO_Channel_Shutdown"), 0u);
  EXPECT_EQ(Dword(kDoKey, "DO_Level_Start"), 1u);
  EXPECT_EQ(Dword(kDoKey, "DO_Level_Shutdown"), 1u);
  EXPECT_FALSE(hostreg::Find(kInterruptKey)) << "not a first run: no defaults";
}

}  // namespace
}  // namespace applettest
