// The registry as the start-up and the removal leave it, read with the
// Win32 registry functions.
#include "checks.h"

namespace winetest {

static const std::wstring kServiceDevice = L"" DIO_KEY_SERVICE_DEVICE000;
static const std::wstring kMapDevice = L"" DIO_KEY_MAP_DEVICE000;
static const std::wstring kMapEntry = L"" DIO_KEY_MAP_ENTRY;

bool KeyExists(const std::wstring &path) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// A value's type and bytes; type REG_NONE with no bytes when it is missing.
struct Value {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

static Value Read(const std::wstring &path, const wchar_t *name) {
  Value value;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, NULL, &value.type, NULL, &size) == ERROR_SUCCESS) {
    value.data.resize(size);
    if (RegQueryValueExW(key, name, NULL, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
      value = Value();
  }
  RegCloseKey(key);
  return value;
}

// `when`, if given, says at which step the value is read.
static void CheckDword(const std::wstring &path, const wchar_t *name, DWORD expected, const char *when = "") {
  Value value = Read(path, name);
  DWORD got = 0;
  if (value.data.size() == sizeof got) memcpy(&got, value.data.data(), sizeof got);
  Check(value.type == REG_DWORD && value.data.size() == 4 && got == expected,
        "%s%s\\%s is REG_DWORD %lu (type %lu, %zu bytes, %lu)", when, Narrow(path).c_str(),
        Narrow(name).c_str(), expected, value.type, value.data.size(), got);
}

// A REG_SZ stored with its terminator.
static void CheckText(const std::wstring &path, const wchar_t *name, const std::wstring &expected) {
  Value value = Read(path, name);
  size_t size = (expected.size() + 1) * sizeof(wchar_t);
  bool same = value.type == REG_SZ && value.data.size() == size &&
              memcmp(value.data.data(), expected.c_str(), size) == 0;
  Check(same, "%s\\%s is REG_SZ \"%s\" with its terminator (type %lu, %zu bytes)",
        Narrow(path).c_str(), Narrow(name).c_str(), Narrow(expected).c_str(), value.type,
        value.data.size());
}

void CreateDeviceKeys() {
  for (const std::wstring &path : {kServiceDevice, kMapDevice}) {
    HKEY key;
    bool created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                   &key, NULL) == ERROR_SUCCESS;
    if (created) RegCloseKey(key);
    Check(created, "%s created empty (Wine's RtlWriteRegistryValue creates no key)",
          Narrow(path).c_str());
  }
}

void WriteDoSettings() {
  HKEY key;
  std::wstring path = L"" DIO_KEY_DO;
  bool written = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                 &key, NULL) == ERROR_SUCCESS;
  const std::pair<const wchar_t *, DWORD> values[] = {
      {L"" DIO_VALUE_DO_TRIGGER_START, 1},         {L"" DIO_VALUE_DO_TRIGGER_SHUTDOWN, 0},
      {L"" DIO_VALUE_DO_CHANNEL_START, kDoStartChannel}, {L"" DIO_VALUE_DO_CHANNEL_SHUTDOWN, 0},
      {L"" DIO_VALUE_DO_LEVEL_START, kDoStartLevel},     {L"" DIO_VALUE_DO_LEVEL_SHUTDOWN, 0}};
  for (const auto &[name, value] : values) {
    written = written && RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value) == ERROR_SUCCESS;
  }
  if (key != NULL) RegCloseKey(key);
  Check(written, "DO settings stored: the start drives DO channel %lu to %lu", kDoStartChannel,
        kDoStartLevel);
}

bool StartValuesWritten() { return Read(kServiceDevice, L"SlotNumber").type == REG_DWORD; }

void CheckStartValues(const Board &board, DWORD baseAddress, DWORD interrupt) {
  // A root-enumerated device has no bus position.
  const std::pair<const wchar_t *, DWORD> dwords[] = {
      {L"OnSystem", 1},    {L"BaseAddress", baseAddress}, {L"Interrupt", interrupt}, {L"AllowConflicts", 1},
      {L"DeviceType", board.model}, {L"BusNumber", 0}, {L"SlotNumber", 0}};
  for (const auto &[name, value] : dwords) CheckDword(kServiceDevice, name, value);
  for (const std::wstring &path : {kServiceDevice, kMapDevice}) {
    CheckText(path, L"DriverName", L"TesZEPDIO.dll");
    CheckText(path, L"KernelKey", path == kMapDevice ? L"TESZEPDIOS" : L"TesZEPDIOS");
  }
}

void CheckOnSystem(DWORD expected, const char *when) {
  CheckDword(kServiceDevice, L"OnSystem", expected, (std::string(when) + ": ").c_str());
}

std::wstring MapEntryPath() {
  Value value = Read(kMapEntry, L"0");
  if (value.type != REG_SZ) return std::wstring();
  return std::wstring(reinterpret_cast<const wchar_t *>(value.data.data()),
                      value.data.size() / sizeof(wchar_t));
}

void CheckRemovedKeys() {
  for (const std::wstring &path : {kServiceDevice, kMapDevice})
    Check(!KeyExists(path), "%s is gone", Narrow(path).c_str());
  Check(!MapEntryPath().empty(), "the device map's value \"0\" stays");
}

}  // namespace winetest
