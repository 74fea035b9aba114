// Debug output as drivers send it: DbgPrintEx and vDbgPrintEx format as the
// kernel does and reach the debugger whole up to 512 bytes; each calling
// rule Windows documents stops the run.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "host_kernel.h"

namespace {

void PrintList(ULONG component, PCSTR format, ...) {
  va_list args;
  va_start(args, format);
  vDbgPrintEx(component, DPFLTR_TRACE_LEVEL, format, args);
  va_end(args);
}

std::string Last() {
  std::vector<hostk::DebugMessage> messages = hostk::DebugMessages();
  return messages.empty() ? "(none)" : messages.back().text;
}

TEST(DebugPrintTest, MessagesReachTheDebuggerAsTheKernelFormatsThem) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"Device000");
  DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_WARNING_LEVEL, "%lu %ld %lX %u|%-4d|%04x %I64u %llx %c %s %%\n",
             ULONG(4000000000u), LONG(-5), ULONG(0xBEEF), 7u, 3, 0x2A, 1ull << 40, 0x1FFFFFFFFull, 'z', "ok");
  EXPECT_EQ(Last(), "4000000000 -5 BEEF 7|3   |002a 1099511627776 1ffffffff z ok %\n");
  DbgPrintEx(DPFLTR_IHVBUS_ID, 31, "%wZ %ws %S %.3ls %wc %C", &name, L"wide", L"also", L"cut off", WCHAR(L'w'),
             WCHAR(L'C'));
  EXPECT_EQ(Last(), "Device000 wide also cut w C");
  PrintList(DPFLTR_IHVAUDIO_ID, "%d of %s", 2, "vDbgPrintEx");
  EXPECT_EQ(Last(), "2 of vDbgPrintEx");

  // One call transmits 512 bytes; text without Unicode above PASSIVE_LEVEL.
  const std::string long_(600, 'x');
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "%s", long_.c_str());
  KeLowerIrql(old);
  EXPECT_EQ(Last(), std::string(512, 'x'));

  const std::vector<hostk::DebugMessage> all = hostk::DebugMessages();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[1].component, ULONG(DPFLTR_IHVBUS_ID));
  EXPECT_EQ(all[1].level, 31u);
}

TEST(DebugPrintDeathTest, MisusesStopTheRun) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"x");
  const auto atDispatch = [](const std::function<void()> &print) {
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    print();
  };
  const struct Row {
    const char *what;
    std::function<void()> misuse;
    const char *stop;
  } rows[] = {
      {"a Windows component", [] { DbgPrintEx(DPFLTR_DEFAULT_ID, 0, "x"); }, "component 101, none of the ids"},
      {"a component past the table", [] { DbgPrintEx(0x7FFF, 0, "x"); }, "component 32767"},
      {"no format", [] { DbgPrintEx(DPFLTR_IHVDRIVER_ID, 0, nullptr); }, "without a format"},
      {"%wZ at DISPATCH_LEVEL", [&] { atDispatch([&] { DbgPrintEx(DPFLTR_IHVDRIVER_ID, 0, "%wZ", &name); }); },
       "STOP 0x0000000A: DbgPrintEx with the Unicode conversion %wZ at IRQL 2"},
      {"%n", [] { int n; DbgPrintEx(DPFLTR_IHVDRIVER_ID, 0, "%n", &n); }, "a conversion the stand-in does not know: %n"},
      {"%wd", [] { DbgPrintEx(DPFLTR_IHVDRIVER_ID, 0, "%wd", 1); }, "%wd, a size it does not take"},
      {"a format ending in a conversion", [] { DbgPrintEx(DPFLTR_IHVDRIVER_ID, 0, "%l"); }, "ends inside a conversion"},
  };
  for (const Row &row : rows) EXPECT_DEATH(row.misuse(), row.stop) << row.what;
  // The other Unicode conversions at DISPATCH_LEVEL, and the floating-point
  // ones at any IRQL: each stops the run before its argument is read.
  for (const char *unicode : {"%ws", "%S", "%lc", "%C"})
    EXPECT_DEATH(atDispatch([&] { PrintList(DPFLTR_IHVDRIVER_ID, unicode, L"x"); }),
                 std::string("Unicode conversion ") + unicode);
  for (const char *floating : {"%f", "%.2e", "%G", "%a"})
    EXPECT_DEATH(DbgPrintEx(DPFLTR_IHVDRIVER_ID, 0, floating, 1.0), std::string("floating-point conversion ") + floating);
}

}  // namespace
