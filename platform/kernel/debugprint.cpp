// Debug output as a driver reaches it: DbgPrintEx and vDbgPrintEx, which
// KdPrintEx and vKdPrintEx are in a checked build [MS:nf-wdm-dbgprintex]
// [MS:nf-wdm-vdbgprintex] [MS:nf-wdm-dbgprint]. The messages are kept, in
// order, as the debugger receives them (DebugMessages), each cut to the 512
// bytes "any single call ... will only transmit". What the documentation
// calls an error stops the run:
// - a component that is not one of the driver ids the documentation lists
//   ("you should use only the following values", so that the driver's
//   output does not mix with Windows' own components');
// - no format;
// - a Unicode conversion (%C, %S, %lc, %ls, %wc, %ws, %wZ), which "can be
//   used only at IRQL = PASSIVE_LEVEL", above PASSIVE_LEVEL;
// - a floating-point conversion (%f, %e, %E, %g, %G, %a, %A), which the
//   routines "do not support";
// - a conversion the stand-in does not know.
// The format is the kernel's (the C runtime's of Windows): %l is 32 bits
// wide, %ll, %I64 and %I (on x64) 64; %S and %C name a wide string and
// character, %wZ a counted wide string.
#include <cstdarg>
#include <mutex>
#include <string>

#include "machine.h"

namespace hostk {
namespace {

constexpr size_t kTransmitted = 512;

struct DebugState {
  std::mutex mutex;
  std::vector<DebugMessage> messages;
};

DebugState &State() {
  static DebugState state;
  return state;
}

[[noreturn]] void Violation(const std::string &what) { BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, what); }

bool DriverComponent(ULONG id) {
  switch (id) {
    case DPFLTR_IHVDRIVER_ID:
    case DPFLTR_IHVVIDEO_ID:
    case DPFLTR_IHVAUDIO_ID:
    case DPFLTR_IHVNETWORK_ID:
    case DPFLTR_IHVSTREAMING_ID:
    case DPFLTR_IHVBUS_ID:
      return true;
    default:
      return false;
  }
}

void PutWide(std::string &out, const WCHAR *text, size_t length, int precision) {
  for (size_t i = 0; i < length && (precision < 0 || int(i) < precision); ++i) {
    out.push_back(text[i] < 0x80 ? char(text[i]) : '?');
  }
}

// Appends what the C library makes of one conversion and its argument.
template <typename T>
void Put(std::string &out, const std::string &directive, T value) {
  int length = snprintf(nullptr, 0, directive.c_str(), value);
  std::string text(size_t(length) + 1, '\0');
  snprintf(&text[0], text.size(), directive.c_str(), value);
  text.pop_back();
  out += text;
}

// One conversion, from `directive` (its flags, width and precision, with any '*'
// already replaced) and the argument taken from `args`, appended to `out`.
void PutConversion(std::string &out, std::string directive, char conversion, int size, va_list *args) {
  directive += conversion;
  switch (conversion) {
    case 'd':
    case 'i':
      if (size == 64) {
        Put(out, directive.insert(directive.size() - 1, "ll"), va_arg(*args, long long));
      } else {
        int value = va_arg(*args, int);
        Put(out, directive, size == 16 ? int(short(value)) : value);
      }
      break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      if (size == 64) {
        Put(out, directive.insert(directive.size() - 1, "ll"), va_arg(*args, unsigned long long));
      } else {
        unsigned value = va_arg(*args, unsigned);
        Put(out, directive, size == 16 ? unsigned(uint16_t(value)) : value);
      }
      break;
    case 'p':
      Put(out, "%016llX", (unsigned long long)(uintptr_t)va_arg(*args, void *));
      break;
    case 'c':
      out.push_back(char(va_arg(*args, int)));
      break;
    case 's': {
      const char *text = va_arg(*args, const char *);
      Put(out, directive, text ? text : "(null)");
      break;
    }
    default:
      Violation(std::string("DbgPrintEx with a conversion the stand-in does not know: %") + conversion);
  }
}

// Formats as the kernel does, checking each conversion against the rules.
std::string Formatted(const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  std::string out;
  for (const char *f = format; *f; ++f) {
    if (*f != '%') {
      out.push_back(*f);
      continue;
    }
    const char *start = f++;
    if (*f == '%') {
      out.push_back('%');
      continue;
    }
    std::string directive = "%";
    while (*f && strchr("-+ #0", *f)) directive.push_back(*f++);
    if (*f == '*') {
      directive += std::to_string(va_arg(copy, int));
      ++f;
    }
    while (*f >= '0' && *f <= '9') directive.push_back(*f++);
    int precision = -1;
    if (*f == '.') {
      directive.push_back(*f++);
      precision = 0;
      if (*f == '*') {
        precision = va_arg(copy, int);
        directive += std::to_string(precision);
        ++f;
      }
      while (*f >= '0' && *f <= '9') {
        precision = precision * 10 + (*f - '0');
        directive.push_back(*f++);
      }
    }
    // The size of a number: 16, 32 (none, or l), 64; 'w' and 'l' make c and
    // s wide, and 'w' Z.
    int size = 32;
    bool wide = false, w = false;
    if (f[0] == 'I' && f[1] == '6' && f[2] == '4') {
      size = 64, f += 3;
    } else if (f[0] == 'I' && f[1] == '3' && f[2] == '2') {
      f += 3;
    } else if (f[0] == 'I') {
      size = 64, ++f;
    } else if (f[0] == 'l' && f[1] == 'l') {
      size = 64, f += 2;
    } else if (f[0] == 'h' && f[1] == 'h') {
      f += 2;
    } else if (*f == 'h') {
      size = 16, ++f;
    } else if (*f == 'l' || *f == 'w') {
      w = *f == 'w';
      wide = true, ++f;
    }
    const char conversion = *f;
    if (conversion == 0) Violation("DbgPrintEx with a format that ends inside a conversion");
    if (strchr("feEgGaA", conversion)) {
      Violation(std::string("DbgPrintEx with the floating-point conversion ") + std::string(start, f + 1) +
                ", which it does not support");
    }
    const bool unicode = conversion == 'S' || conversion == 'C' || (wide && strchr("cs", conversion)) ||
                         (w && conversion == 'Z');
    if (unicode && KeGetCurrentIrql() != PASSIVE_LEVEL) {
      BugCheck(IRQL_NOT_LESS_OR_EQUAL, "DbgPrintEx with the Unicode conversion " + std::string(start, f + 1) +
                                           " at IRQL " + std::to_string(KeGetCurrentIrql()) +
                                           ", which only PASSIVE_LEVEL allows");
    }
    if (unicode && conversion == 'Z') {
      PCUNICODE_STRING text = va_arg(copy, PCUNICODE_STRING);
      if (text && text->Buffer) PutWide(out, text->Buffer, text->Length / sizeof(WCHAR), precision);
    } else if (unicode && (conversion == 's' || conversion == 'S')) {
      const WCHAR *text = va_arg(copy, const WCHAR *);
      if (!text) text = L"(null)";
      PutWide(out, text, WideLength(text), precision);
    } else if (unicode) {
      WCHAR c = WCHAR(va_arg(copy, int));
      PutWide(out, &c, 1, -1);
    } else {
      if (w) Violation(std::string("DbgPrintEx with ") + std::string(start, f + 1) + ", a size it does not take");
      PutConversion(out, directive, conversion, size, &copy);
    }
  }
  va_end(copy);
  return out;
}

}  // namespace

std::vector<DebugMessage> DebugMessages() {
  std::lock_guard<std::mutex> hold(State().mutex);
  return State().messages;
}

void ResetDebugMessages() {
  std::lock_guard<std::mutex> hold(State().mutex);
  State().messages.clear();
}

}  // namespace hostk

extern "C" {

ULONG vDbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, va_list arglist) {
  using namespace hostk;
  if (!DriverComponent(ComponentId)) {
    Violation("DbgPrintEx for component " + std::to_string(ComponentId) +
              ", none of the ids (DPFLTR_IHV..._ID) a driver's output is to use");
  }
  if (Format == nullptr) Violation("DbgPrintEx without a format");
  std::string text = Formatted(Format, arglist);
  if (text.size() > kTransmitted) text.resize(kTransmitted);
  std::lock_guard<std::mutex> hold(State().mutex);
  State().messages.push_back(DebugMessage{ComponentId, Level, text});
  return STATUS_SUCCESS;
}

ULONG DbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, ...) {
  va_list args;
  va_start(args, Format);
  ULONG status = vDbgPrintEx(ComponentId, Level, Format, args);
  va_end(args);
  return status;
}

}  // extern "C"
