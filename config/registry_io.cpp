// Registry reads and writes shared by the settings. A value that is missing
// or cannot be read leaves the caller's field as it was; a text is always
// terminated inside its buffer, whatever the stored data holds.
#include "applet.h"

#include <climits>
#include <cstring>

BOOL KeyExists(LPCSTR path) {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key) != ERROR_SUCCESS) return FALSE;
  RegCloseKey(key);
  return TRUE;
}

BOOL ReadRegistryText(HKEY key, LPCSTR name, char *buffer, DWORD size) {
  DWORD length = size;
  if (RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<LPBYTE>(buffer), &length) != ERROR_SUCCESS)
    return FALSE;
  buffer[length < size ? length : size - 1] = '\0';
  return TRUE;
}

// Only a value of exactly four bytes is a number.
BOOL ReadRegistryDword(HKEY key, LPCSTR name, DWORD *value) {
  DWORD data;
  DWORD length = sizeof data;
  if (RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<LPBYTE>(&data), &length) != ERROR_SUCCESS ||
      length != sizeof data)
    return FALSE;
  *value = data;
  return TRUE;
}

LSTATUS WriteRegistryText(HKEY key, LPCSTR name, LPCSTR text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), DWORD(strlen(text) + 1));
}

LSTATUS WriteRegistryDword(HKEY key, LPCSTR name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

LSTATUS FirstFailure(LSTATUS first, LSTATUS next) { return first != ERROR_SUCCESS ? first : next; }

// Leading blanks and a sign, then decimal digits up to the first other
// character; no digits give 0. Numbers beyond the range of int stop at its
// ends instead of overflowing.
int TextToInt(const char *text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) return value > INT_MAX ? INT_MIN : -static_cast<int>(value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}
