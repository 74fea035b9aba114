// Counted strings and the kernel's legacy wide-character formatter.
#include <cstdarg>
#include <string>

#include "machine.h"

namespace hostk {

size_t WideLength(const WCHAR *text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

std::u16string TextOf(const WCHAR *text, size_t characters) {
  std::u16string out;
  for (size_t i = 0; i < characters; ++i) out.push_back(char16_t(text[i]));
  return out;
}

std::u16string Text(PCUNICODE_STRING string) {
  if (!string || !string->Buffer) return std::u16string();
  return TextOf(string->Buffer, string->Length / sizeof(WCHAR));
}

std::string Utf8(const std::u16string &text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? char(c) : '?');
  return out;
}

}  // namespace hostk

namespace {

WCHAR Upcase(WCHAR c) { return (c >= L'a' && c <= L'z') ? WCHAR(c - 32) : c; }

// Appends `text` to the output under construction, as far as `count` allows.
struct Output {
  wchar_t *buffer;
  size_t count;
  size_t length = 0;  // characters the full result needs
  void Put(wchar_t c) {
    if (length < count) buffer[length] = c;
    ++length;
  }
};

void PutNumber(Output &out, unsigned long long value, unsigned base, bool upper, bool negative,
               bool zeroPad, bool leftAlign, int width, int precision) {
  char digits[32];
  int n = 0;
  const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  do {
    digits[n++] = set[value % base];
    value /= base;
  } while (value);
  int zeros = precision > n ? precision - n : 0;
  int total = n + zeros + (negative ? 1 : 0);
  int pad = width > total ? width - total : 0;
  if (zeroPad && !leftAlign && precision < 0) {
    zeros += pad;
    pad = 0;
  }
  if (!leftAlign)
    for (int i = 0; i < pad; ++i) out.Put(L' ');
  if (negative) out.Put(L'-');
  for (int i = 0; i < zeros; ++i) out.Put(L'0');
  while (n) out.Put(wchar_t(digits[--n]));
  if (leftAlign)
    for (int i = 0; i < pad; ++i) out.Put(L' ');
}

}  // namespace

extern "C" {

// Legacy CRT semantics, which the kernel exports too: the result is
// terminated only when it is shorter than `count`; -1 when it does not fit.
// Supports the conversions the driver uses: %d %i %u %x %X %c %s/%ws (wide
// string), %S/%hs (narrow string), %%, with flags '-' and '0', a width and a
// precision (either may be '*'), and the size prefixes l, w, h and I64.
int _snwprintf(wchar_t *buffer, size_t count, const wchar_t *format, ...) {
  va_list args;
  va_start(args, format);
  Output out{buffer, count};
  for (const wchar_t *f = format; *f; ++f) {
    if (*f != L'%') {
      out.Put(*f);
      continue;
    }
    ++f;
    bool leftAlign = false, zeroPad = false;
    for (;; ++f) {
      if (*f == L'-') leftAlign = true;
      else if (*f == L'0') zeroPad = true;
      else break;
    }
    int width = 0;
    if (*f == L'*') {
      width = va_arg(args, int);
      ++f;
    }
    while (*f >= L'0' && *f <= L'9') width = width * 10 + (*f++ - L'0');
    int precision = -1;
    if (*f == L'.') {
      precision = 0;
      ++f;
      if (*f == L'*') {
        precision = va_arg(args, int);
        ++f;
      }
      while (*f >= L'0' && *f <= L'9') precision = precision * 10 + (*f++ - L'0');
    }
    bool wide = true, narrow = false, big = false;
    if (*f == L'l' || *f == L'w') {
      ++f;
    } else if (*f == L'h') {
      narrow = true;
      wide = false;
      ++f;
    } else if (f[0] == L'I' && f[1] == L'6' && f[2] == L'4') {
      big = true;
      f += 3;
    }
    switch (*f) {
      case L'd':
      case L'i': {
        long long v = big ? va_arg(args, long long) : va_arg(args, int);
        unsigned long long magnitude = v < 0 ? 0ull - (unsigned long long)v : (unsigned long long)v;
        PutNumber(out, magnitude, 10, false, v < 0, zeroPad, leftAlign, width, precision);
        break;
      }
      case L'u':
      case L'x':
      case L'X': {
        unsigned long long v = big ? va_arg(args, unsigned long long) : va_arg(args, unsigned);
        PutNumber(out, v, *f == L'u' ? 10 : 16, *f == L'X', false, zeroPad, leftAlign, width,
                  precision);
        break;
      }
      case L'c':
        out.Put(wchar_t(va_arg(args, int)));
        break;
      case L's':
      case L'S': {
        bool isWide = (*f == L's') ? wide : narrow;
        std::u16string text;
        if (isWide) {
          const wchar_t *s = va_arg(args, const wchar_t *);
          if (!s) s = L"(null)";
          for (; *s && (precision < 0 || int(text.size()) < precision); ++s) text.push_back(*s);
        } else {
          const char *s = va_arg(args, const char *);
          if (!s) s = "(null)";
          for (; *s && (precision < 0 || int(text.size()) < precision); ++s)
            text.push_back((unsigned char)*s);
        }
        int pad = width > int(text.size()) ? width - int(text.size()) : 0;
        if (!leftAlign)
          for (int i = 0; i < pad; ++i) out.Put(L' ');
        for (char16_t c : text) out.Put(c);
        if (leftAlign)
          for (int i = 0; i < pad; ++i) out.Put(L' ');
        break;
      }
      case L'%':
        out.Put(L'%');
        break;
      default:
        hostk::BugCheck(hostk::DRIVER_VERIFIER_DETECTED_VIOLATION,
                        "_snwprintf with a conversion the stand-in does not know");
    }
  }
  va_end(args);
  if (out.length < count) {
    buffer[out.length] = 0;
    return int(out.length);
  }
  return out.length == count ? int(count) : -1;
}

VOID RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
  if (!source) {
    destination->Length = destination->MaximumLength = 0;
    destination->Buffer = nullptr;
    return;
  }
  size_t bytes = hostk::WideLength(source) * sizeof(WCHAR);
  if (bytes > 0xFFFC) bytes = 0xFFFC;
  destination->Length = USHORT(bytes);
  destination->MaximumLength = USHORT(bytes + sizeof(WCHAR));
  destination->Buffer = const_cast<PWSTR>(source);
}

VOID RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
  if (!source) {
    destination->Length = 0;
    return;
  }
  USHORT bytes = source->Length < destination->MaximumLength ? source->Length
                                                            : destination->MaximumLength;
  bytes &= USHORT(~1u);
  memmove(destination->Buffer, source->Buffer, bytes);
  destination->Length = bytes;
  if (bytes + sizeof(WCHAR) <= destination->MaximumLength)
    destination->Buffer[bytes / sizeof(WCHAR)] = 0;
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
  if (!source || source->Length == 0) return STATUS_SUCCESS;
  if (ULONG(destination->Length) + source->Length > destination->MaximumLength)
    return STATUS_BUFFER_TOO_SMALL;
  memmove(reinterpret_cast<char *>(destination->Buffer) + destination->Length, source->Buffer,
          source->Length);
  destination->Length = USHORT(destination->Length + source->Length);
  if (ULONG(destination->Length) + sizeof(WCHAR) <= destination->MaximumLength)
    destination->Buffer[destination->Length / sizeof(WCHAR)] = 0;
  return STATUS_SUCCESS;
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source) {
  UNICODE_STRING text;
  RtlInitUnicodeString(&text, source);
  return RtlAppendUnicodeStringToString(destination, &text);
}

NTSTATUS RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string) {
  if (base == 0) base = 10;
  if (base != 2 && base != 8 && base != 10 && base != 16) return STATUS_INVALID_PARAMETER;
  char digits[33];
  int n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[value % base];
    value /= base;
  } while (value);
  // The text and its terminator must fit.
  if (ULONG(n + 1) * sizeof(WCHAR) > string->MaximumLength) return STATUS_BUFFER_OVERFLOW;
  for (int i = 0; i < n; ++i) string->Buffer[i] = WCHAR(digits[n - 1 - i]);
  string->Buffer[n] = 0;
  string->Length = USHORT(n * sizeof(WCHAR));
  return STATUS_SUCCESS;
}

LONG RtlCompareUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive) {
  size_t na = a->Length / sizeof(WCHAR), nb = b->Length / sizeof(WCHAR);
  for (size_t i = 0; i < na && i < nb; ++i) {
    WCHAR ca = a->Buffer[i], cb = b->Buffer[i];
    if (caseInsensitive) {
      ca = Upcase(ca);
      cb = Upcase(cb);
    }
    if (ca != cb) return LONG(ca) - LONG(cb);
  }
  return LONG(na) - LONG(nb);
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive) {
  return a->Length == b->Length && RtlCompareUnicodeString(a, b, caseInsensitive) == 0;
}

VOID RtlFreeUnicodeString(PUNICODE_STRING string) {
  if (string->Buffer) hostk::FreeSystem(string->Buffer, 0);
  string->Buffer = nullptr;
  string->Length = string->MaximumLength = 0;
}

}  // extern "C"
