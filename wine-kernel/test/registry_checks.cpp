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

Value Dword(DWORD value) { return {REG_DWORD, std::vector<BYTE>((BYTE *)&value, (BYTE *)(&value + 1))}; }

// A REG_SZ stored with its terminator.
static Value Text(const std::wstring &text) {
  const BYTE *bytes = reinterpret_cast<const BYTE *>(text.c_str());
  return {REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

// A value as the checks print it: "REG_DWORD 5", "missing", or its type, text
// and size.
static std::string Shown(const Value &value) {
  if (value.type == REG_DWORD && value.data.size() == 4) return "REG_DWORD " + std::to_string(*(DWORD *)value.data.data());
  if (value.type == REG_NONE && value.data.empty()) return "missing";
  std::wstring text(reinterpret_cast<const wchar_t *>(value.data.data()), value.data.size() / sizeof(wchar_t));
  return "type " + std::to_string(value.type) + " \"" + Narrow(text.c_str()) + "\" (" +
         std::to_string(value.data.size()) + " bytes)";
}

Value ReadValue(HKEY key, const wchar_t *name) {
  Value value;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, NULL, &value.type, NULL, &size) == ERROR_SUCCESS) {
    value.data.resize(size);
    if (RegQueryValueExW(key, name, NULL, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
      value = Value();
  }
  return value;
}

static Value Read(const std::wstring &path, const wchar_t *name) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return Value();
  Value value = ReadValue(key, name);
  RegCloseKey(key);
  return value;
}

void CheckValue(const std::string &what, const Value &got, const Value &expected) {
  Check(got.type == expected.type && got.data == expected.data, "%s is %s (%s)", what.c_str(),
        Shown(expected).c_str(), Shown(got).c_str());
}

void CheckValue(const std::wstring &path, const wchar_t *name, const Value &expected, const char *when) {
  CheckValue(when + Narrow(path + L"\\" + name), Read(path, name), expected);
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
  for (const auto &[name, value] : dwords) CheckValue(kServiceDevice, name, Dword(value));
  for (const std::wstring &path : {kServiceDevice, kMapDevice}) {
    CheckValue(path, L"DriverName", Text(L"TesZEPDIO.dll"));
    CheckValue(path, L"KernelKey", Text(path == kMapDevice ? L"TESZEPDIOS" : L"TesZEPDIOS"));
  }
}

void CheckOnSystem(DWORD expected, const char *when) {
  CheckValue(kServiceDevice, L"OnSystem", Dword(expected), (std::string(when) + ": ").c_str());
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
