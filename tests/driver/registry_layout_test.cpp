// The registry layout: DeviceNNN subkeys, the device map and the DO settings.
#include <cstring>

#include "driver_fixture.h"

namespace diotest {
namespace {

class RegistryLayoutTest : public DriverTest {
 protected:
  void SetUp() override {
    Load(24);
    memset(&extension_, 0, sizeof extension_);
    extension_.OnSystem = 1;
    extension_.Range2Start.QuadPart = 0x1'0000'E000ll;  // only the low 32 bits are published
    extension_.InterruptLevel = 11;
  }

  // A link name as the kernel hands it out: not terminated, other data behind.
  UNICODE_STRING Link(const std::u16string &text) {
    linkBuffer_.assign(text.begin(), text.end());
    linkBuffer_.insert(linkBuffer_.end(), {u'J', u'U', u'N', u'K'});
    UNICODE_STRING link;
    link.Buffer = reinterpret_cast<PWSTR>(linkBuffer_.data());
    link.Length = USHORT(text.size() * sizeof(WCHAR));
    link.MaximumLength = link.Length;
    return link;
  }

  DEVICE_EXTENSION extension_;
  std::vector<char16_t> linkBuffer_;
};

// A name is one zero-filled block of room for "Device1000" and its terminator.
TEST_F(RegistryLayoutTest, DeviceKeyNamesHaveAtLeastThreeDigitsUpTo1000) {
  const std::pair<ULONG, const char16_t *> cases[] = {
      {0, u"Device000"}, {7, u"Device007"}, {42, u"Device042"}, {999, u"Device999"}, {1000, u"Device1000"}};
  for (const auto &c : cases) {
    PUNICODE_STRING name = MakeDeviceKeyName(c.first);
    ASSERT_NE(name, nullptr) << c.first;
    EXPECT_EQ(hostk::Text(name), c.second);
    EXPECT_EQ(reinterpret_cast<char *>(name->Buffer), reinterpret_cast<char *>(name + 1));
    EXPECT_EQ(name->MaximumLength, 11 * sizeof(WCHAR));
    for (size_t i = name->Length / sizeof(WCHAR); i < 11; ++i) EXPECT_EQ(name->Buffer[i], 0) << i;
    FreeCountedString(name);
  }
  EXPECT_EQ(MakeDeviceKeyName(1001), nullptr);
  EXPECT_EQ(MakeDeviceKeyName(0xFFFFFFFF), nullptr);
  hostk::FailAllocationAt(1);
  EXPECT_EQ(MakeDeviceKeyName(0), nullptr);
}

TEST_F(RegistryLayoutTest, ValuesAreReadOnlyWhenTheyFitInFourBytes) {
  HANDLE key;
  UNICODE_STRING path;
  RtlInitUnicodeString(&path, L"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\TESZEPDIOS");
  ASSERT_EQ(OpenRegistryKey(&path, &key), STATUS_SUCCESS);
  hostreg::KeyRef service = hostreg::Find(kServiceKey);
  const struct Case {
    const char *what;
    std::vector<uint8_t> data;
    NTSTATUS status;
    uint32_t expected;  // destination started as 0xAAAAAAAA
  } cases[] = {
      {"3 bytes overwrite only their own", {1, 2, 3}, STATUS_SUCCESS, 0xAA030201},
      {"no bytes", {}, STATUS_SUCCESS, 0xAAAAAAAA},
      {"8 bytes fit the buffer but are ignored", std::vector<uint8_t>(8, 1), STATUS_SUCCESS, 0xAAAAAAAA},
      {"40 bytes do not fit the buffer", std::vector<uint8_t>(40, 1), STATUS_BUFFER_OVERFLOW, 0xAAAAAAAA},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    hostreg::SetValue(service, u"DO_Trigger_Shutdown", REG_BINARY, c.data.data(), c.data.size());
    uint32_t destination = 0xAAAAAAAA;
    EXPECT_EQ(ReadRegistryValue(key, L"DO_Trigger_Shutdown", sizeof(L"DO_Trigger_Shutdown"), &destination), c.status);
    EXPECT_EQ(destination, c.expected);
  }
  uint32_t destination = 5;
  EXPECT_EQ(ReadRegistryValue(key, L"Missing", sizeof(L"Missing"), &destination), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(destination, 5u);
  hostk::FailAllocationAt(1);
  EXPECT_EQ(ReadRegistryValue(key, L"Missing", sizeof(L"Missing"), &destination), STATUS_INSUFFICIENT_RESOURCES);
  ZwClose(key);
}

// Without a key name (past device 1000) or pool nothing is written; written,
// both subkeys describe the board.
TEST_F(RegistryLayoutTest, DeviceKeysDescribeTheBoardInBothSubkeys) {
  EXPECT_EQ(WriteDeviceKeys(1001, &extension_), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(hostreg::Find(kDeviceMapKey), nullptr);
  for (uint64_t n = 1; n <= 3; ++n) {  // each allocation in turn
    hostk::FailAllocationAt(n);
    EXPECT_EQ(WriteDeviceKeys(0, &extension_), STATUS_INSUFFICIENT_RESOURCES) << n;
    EXPECT_EQ(hostreg::Find(kService0), nullptr) << n;
    EXPECT_EQ(hostreg::Find(kMap0), nullptr) << n;
  }
  ASSERT_EQ(WriteDeviceKeys(0, &extension_), STATUS_SUCCESS);

  // The same key name, upper case in the map and mixed case in the service.
  EXPECT_EQ(hostreg::Dump(kMap0), "Device000\n"
                                  "  \"DriverName\" REG_SZ \"TesZEPDIO.dll\" (28 bytes)\n"
                                  "  \"KernelKey\" REG_SZ \"TESZEPDIOS\" (22 bytes)\n");
  EXPECT_EQ(hostreg::Dump(kService0), "Device000\n"
                                      "  \"OnSystem\" REG_DWORD 1 (0x1)\n"
                                      "  \"DriverName\" REG_SZ \"TesZEPDIO.dll\" (28 bytes)\n"
                                      "  \"KernelKey\" REG_SZ \"TesZEPDIOS\" (22 bytes)\n"
                                      "  \"BaseAddress\" REG_DWORD 57344 (0xE000)\n"
                                      "  \"Interrupt\" REG_DWORD 11 (0xB)\n"
                                      "  \"AllowConflicts\" REG_DWORD 1 (0x1)\n"
                                      "  \"DeviceType\" REG_DWORD 24 (0x18)\n"
                                      "  \"BusNumber\" REG_DWORD 0 (0x0)\n"
                                      "  \"SlotNumber\" REG_DWORD 0 (0x0)\n");
  // Texts are REG_SZ, which the listing does not tell from REG_EXPAND_SZ.
  for (const std::string &key : {kMap0, kService0}) EXPECT_EQ(Stored(key, "DriverName").type, uint32_t(REG_SZ));
}

// The map entry is the link's user-mode path ("\\.\" for "\??\"), without a
// terminator, named by the device number; 256 characters do not fit.
TEST_F(RegistryLayoutTest, MapEntryIsTheUserModeDevicePathWithoutTerminator) {
  const auto link = [](size_t characters) {
    std::u16string text = std::u16string(u"\\??\\").substr(0, characters);
    text.resize(characters, u'x');
    return text;
  };
  const struct Case {
    const char *what;
    std::u16string link;
    ULONG number;
    bool deviceMap;
    uint64_t failingAllocation;
    NTSTATUS status;
  } cases[] = {
      {"the interface's link", u"\\??\\PCI#VEN_1D5A&DEV_2400#4&0&0018#{6b049747-8679-4542-b232-eccd4d2c6519}", 0, true,
       0, STATUS_SUCCESS},
      {"device 12", u"\\??\\X", 12, true, 0, STATUS_SUCCESS},
      {"no characters", link(0), 0, true, 0, STATUS_INVALID_PARAMETER},
      {"only the prefix", link(3), 0, true, 0, STATUS_INVALID_PARAMETER},
      {"the prefix and one character", link(4), 0, true, 0, STATUS_SUCCESS},
      {"a path of 255 characters fits with its terminator", link(255), 0, true, 0, STATUS_SUCCESS},
      {"a path of 256 characters does not", link(256), 0, true, 0, STATUS_BUFFER_TOO_SMALL},
      {"no device map", u"\\??\\X", 0, false, 0, STATUS_OBJECT_NAME_NOT_FOUND},
      {"no pool", u"\\??\\X", 0, true, 1, STATUS_INSUFFICIENT_RESOURCES},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    hostreg::Reset();
    if (c.deviceMap) hostreg::Make(kDeviceMapKey);
    UNICODE_STRING link = Link(c.link);
    hostk::FailAllocationAt(c.failingAllocation);
    EXPECT_EQ(WriteMapEntry(c.number, &link), c.status);
    if (NT_SUCCESS(c.status)) {
      const std::string name = std::to_string(c.number), path = hostreg::ToUtf8(u"\\\\." + c.link.substr(3));
      EXPECT_EQ(Stored(kMapEntry, name).type, uint32_t(REG_SZ));
      EXPECT_EQ(hostreg::Dump(kMapEntry), "MapEntry\n  \"" + name + "\" REG_SZ \"" + path + "\" (" +
                                              std::to_string(2 * path.size()) + " bytes, no terminator)\n");
    } else {
      EXPECT_FALSE(HasValue(kMapEntry, std::to_string(c.number)));
    }
  }
}

TEST_F(RegistryLayoutTest, DoSettingsFillOnlyTheFieldsTheKeyHolds) {
  const ULONG kUntouched = 0x77;
  auto reset = [&] {
    extension_.DoConfig = {kUntouched, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched};
  };

  reset();
  EXPECT_EQ(ReadDoSettings(&extension_), STATUS_SUCCESS);  // no DO key
  EXPECT_EQ(DoFields(&extension_), std::vector<ULONG>(6, kUntouched));

  hostreg::PutDword(kDoKey, "DO_Trigger_Start", 1);
  EXPECT_EQ(ReadDoSettings(&extension_), STATUS_SUCCESS);
  EXPECT_EQ(DoFields(&extension_), (std::vector<ULONG>{1, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched}));

  reset();
  StoreDo({10, 11, 12, 13, 14, 15});
  uint64_t wide = 9;  // a 64-bit value is ignored
  hostreg::SetValue(hostreg::Find(kDoKey), u"do_level_shutdown", REG_QWORD, &wide, sizeof wide);
  EXPECT_EQ(ReadDoSettings(&extension_), STATUS_SUCCESS);
  EXPECT_EQ(DoFields(&extension_), (std::vector<ULONG>{10, 11, 12, 13, 14, kUntouched}));

  hostk::FailAllocationAt(1);
  EXPECT_EQ(ReadDoSettings(&extension_), STATUS_INSUFFICIENT_RESOURCES);
}

}  // namespace
}  // namespace diotest
