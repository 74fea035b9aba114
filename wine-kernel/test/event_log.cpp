// The driver's entries in the System event log, which the helper keeps in
// Wine's stead, checked field by field and read as Event Viewer shows them:
// the message of each entry's code from the message table of the image the
// service runs, with the entry's insertion strings.
#include "checks.h"

#include <cwchar>

#include "messages.h"

namespace winetest {

namespace {

std::wstring Joined(const std::vector<std::wstring> &strings) {
  std::wstring text;
  for (const auto &s : strings) text += L" \"" + s + L"\"";
  return text;
}

// The message as FormatMessage makes it of the image's table: %1, the
// device object's name, is empty for an unnamed device object.
std::wstring Formatted(const std::wstring &image, LONG code, const std::vector<std::wstring> &strings) {
  HMODULE module = LoadLibraryExW(image.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (module == NULL) return L"(the image does not load as data)";
  std::vector<DWORD_PTR> arguments = {(DWORD_PTR)L""};
  for (const auto &s : strings) arguments.push_back((DWORD_PTR)s.c_str());
  wchar_t text[1024] = {};
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, DWORD(code),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 1024, (va_list *)arguments.data());
  FreeLibrary(module);
  while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r')) --length;
  return length ? std::wstring(text, length) : L"(no message " + std::to_wstring(GetLastError()) + L")";
}

// The figures (%2 to %8) of an entry of the board, started with its own
// resources or without any.
std::vector<std::wstring> Figures(const Board &board, bool resources, const wchar_t *status, const wchar_t *what) {
  wchar_t model[16], block[32], info[32], irq[16];
  swprintf(model, 16, L"%u", board.model);
  swprintf(block, 32, L"0x%04X-0x%04X", board.base, unsigned(board.base + board.portCount - 1));
  swprintf(info, 32, L"0x%04X-0x%04X", board.infoBase, unsigned(board.infoBase + 31));
  swprintf(irq, 16, L"IRQ %lu", (unsigned long)board.resources.RawLevel);
  // Wine's kernel answers the bus position queries without writing: bus 0, device 0.
  return {model,
          board.pci ? L"PCI bus 0, device 0" : L"ISA",
          resources ? block : L"none",
          board.layout != kLayout24 ? L"not used" : resources ? info : L"none",
          resources ? irq : L"none",
          status,
          what};
}

}  // namespace

void CheckEventLog(Helper &helper, const std::wstring &image, const char *when,
                   const std::vector<LoggedEntry> &expected) {
  std::vector<LoggedEntry> logged = helper.TakeErrorLog();
  Check(logged.size() == expected.size(), "%s: %zu entries in the System event log (%zu)", when, expected.size(),
        logged.size());
  for (size_t i = 0; i < logged.size() && i < expected.size(); ++i) {
    const LoggedEntry &got = logged[i], &want = expected[i];
    Check(got.code == want.code && got.status == want.status && got.strings == want.strings,
          "%s: entry 0x%08lX, status 0x%08lX,%s (expected 0x%08lX, 0x%08lX,%s)", when, (unsigned long)got.code,
          (unsigned long)got.status, Narrow(Joined(got.strings)).c_str(), (unsigned long)want.code,
          (unsigned long)want.status, Narrow(Joined(want.strings)).c_str());
    std::wstring text = Formatted(image, got.code, got.strings);
    Check(text.find(L"model " + got.strings[0]) != std::wstring::npos && text.find(L'%') == std::wstring::npos,
          "%s: Event Viewer shows \"%s\"", when, Narrow(text).c_str());
  }
}

LoggedEntry NoPortsEntry(const Board &board) {
  return {LONG(DIO_LOG_NO_PORTS), LONG(0xC0000005), Figures(board, false, L"0xC0000005", L"-")};
}

LoggedEntry RefusedResourcesEntry(const Board &board) {
  return {LONG(DIO_LOG_RESOURCES_REFUSED), LONG(0xC0000182), Figures(board, true, L"0xC0000182", L"a DMA channel")};
}

LoggedEntry SecondBoardEntry(const Board &first, uint32_t model) {
  // Refused before its resources are taken; the layout is the first board's.
  Board refused = first;
  refused.model = model;
  refused.pci = BoardFor(model).pci;
  std::wstring inService = L"model " + std::to_wstring(first.model);
  return {LONG(DIO_LOG_SECOND_BOARD), LONG(0xC0000708), Figures(refused, false, L"0xC0000708", inService.c_str())};
}

}  // namespace winetest
