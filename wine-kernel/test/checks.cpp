#include "checks.h"

#include <cstdarg>
#include <cstdio>

namespace winetest {

static int gFailures;
static const DWORD gStart = GetTickCount();

static void Print(const char *prefix, const char *format, va_list arguments) {
  printf("%6.1fs %s", double(GetTickCount() - gStart) / 1000, prefix);
  vprintf(format, arguments);
  printf("\n");
  fflush(stdout);
}

bool Check(bool ok, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Print(ok ? "ok: " : "FAIL: ", format, arguments);
  va_end(arguments);
  if (!ok) ++gFailures;
  return ok;
}

void Note(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Print("", format, arguments);
  va_end(arguments);
}

int Failures() { return gFailures; }

std::string Narrow(const std::wstring &text) {
  std::string narrow;
  for (wchar_t c : text) narrow += c < 0x80 ? char(c) : '?';
  return narrow;
}

}  // namespace winetest
