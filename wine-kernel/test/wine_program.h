// What the Wine test programs share (the kernel test, the catalog check and
// the Control Panel probe): checks that count failures, notes, polling, a
// whole file's bytes.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

// clang (the applet's builds) knows printf formats as "printf", gcc with
// mingw-w64's own printf as "gnu_printf".
#ifdef __clang__
#define WINE_PRINTF(text, first) __attribute__((format(printf, text, first)))
#else
#define WINE_PRINTF(text, first) __attribute__((format(gnu_printf, text, first)))
#endif

namespace winetest {

inline int gFailures;
inline const DWORD gStart = GetTickCount();

inline void Print(const char *prefix, const char *format, va_list arguments) {
  printf("%6.1fs %s", double(GetTickCount() - gStart) / 1000, prefix);
  vprintf(format, arguments);
  printf("\n");
  fflush(stdout);
}

// Prints "ok" or "FAIL" with the text; a failure is counted.
WINE_PRINTF(2, 3) inline bool Check(bool ok, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Print(ok ? "ok: " : "FAIL: ", format, arguments);
  va_end(arguments);
  if (!ok) ++gFailures;
  return ok;
}

WINE_PRINTF(1, 2) inline void Note(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Print("", format, arguments);
  va_end(arguments);
}

inline std::string Narrow(const std::wstring &text) {
  std::string narrow;
  for (wchar_t c : text) narrow += c < 0x80 ? char(c) : '?';
  return narrow;
}

// Polls `done` every 50 ms for up to `milliseconds`; true once it holds.
template <typename Done>
bool WaitFor(unsigned long milliseconds, Done done) {
  for (unsigned long waited = 0;; waited += 50) {
    if (done()) return true;
    if (waited >= milliseconds) return false;
    Sleep(50);
  }
}

inline bool ReadWholeFile(const std::wstring &path, std::vector<BYTE> *bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, NULL), read = 0;
  bytes->resize(size);
  bool ok = size == 0 || (ReadFile(file, bytes->data(), size, &read, NULL) && read == size);
  CloseHandle(file);
  return ok;
}

}  // namespace winetest
