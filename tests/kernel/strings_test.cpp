// Counted strings, the legacy wide formatter and the pool: results, which
// bytes each call may touch, and allocation failure on demand.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "host_kernel.h"

namespace {

// Marks buffer slots no call may write.
const WCHAR kGuard = 0x7E7E;
// Pool tags, as the four characters read in memory order.
const ULONG kTestTag = 0x74736554;   // "Test"
const ULONG kOtherTag = 0x72687430;  // "0thr"

std::u16string U16(const wchar_t *text) { return std::u16string(reinterpret_cast<const char16_t *>(text)); }

struct Counted {
  std::vector<WCHAR> buffer = std::vector<WCHAR>(40, kGuard);
  UNICODE_STRING string;
  Counted(const wchar_t *text, USHORT maximum) {
    std::u16string t = U16(text);
    for (size_t i = 0; i < t.size(); ++i) buffer[i] = WCHAR(t[i]);
    string = {USHORT(t.size() * 2), maximum, buffer.data()};
  }
  // The buffer as the call should leave it: `text`, then a terminator when
  // asked, then untouched slots.
  static std::vector<WCHAR> Expect(const wchar_t *text, bool terminated) {
    std::vector<WCHAR> out = Counted(text, 0).buffer;
    if (terminated) out[U16(text).size()] = 0;
    return out;
  }
};

// An append that does not fit writes nothing; a copy is cut to fit. Either
// adds a terminator only where room is left after the text, and the counted
// string keeps its buffer and maximum.
TEST(Strings, AppendAndCopyWriteOnlyWhatFits) {
  // An append (or a copy, over a stale length of 4), the destination and its
  // maximum, the source (null: none), an append's status, then the result and
  // whether a terminator follows it.
  const std::tuple<bool, const wchar_t *, USHORT, const wchar_t *, NTSTATUS, const wchar_t *, bool> cases[] = {
      {true, L"ab", 10, L"cd", STATUS_SUCCESS, L"abcd", true},
      {true, L"ab", 8, L"cd", STATUS_SUCCESS, L"abcd", false},  // exactly full: no terminator
      {true, L"ab", 6, L"cd", STATUS_BUFFER_TOO_SMALL, L"ab", false},
      {true, L"q", 80, L"", STATUS_SUCCESS, L"q", false},
      {false, L"", 12, L"hello", 0, L"hello", true},
      {false, L"", 10, L"hello", 0, L"hello", false},
      {false, L"", 6, L"hello", 0, L"hel", false},
      {false, L"", 0, L"hello", 0, L"", false},
      {false, L"", 4, L"", 0, L"", true},
      {false, L"", 20, nullptr, 0, L"", false},
  };
  for (const auto &[append, destText, maximum, sourceText, status, result, terminated] : cases) {
    SCOPED_TRACE(testing::Message() << (append ? "append" : "copy") << " into " << maximum << " bytes");
    Counted dest(destText, maximum);
    Counted source(sourceText ? sourceText : L"", 80);
    if (append) {
      EXPECT_EQ(status, RtlAppendUnicodeStringToString(&dest.string, &source.string));
    } else {
      dest.string.Length = 4;
      RtlCopyUnicodeString(&dest.string, sourceText ? &source.string : nullptr);
    }
    EXPECT_EQ(Counted::Expect(result, terminated), dest.buffer);
    EXPECT_EQ(U16(result).size() * 2, dest.string.Length);
    EXPECT_EQ(maximum, dest.string.MaximumLength);
    EXPECT_EQ(dest.buffer.data(), dest.string.Buffer);
  }
}

TEST(Strings, IntegerToUnicodeString) {
  // The value, base and maximum, the status and the text (null: a failure).
  const std::tuple<ULONG, ULONG, USHORT, NTSTATUS, const wchar_t *> cases[] = {
      {0, 10, 4, STATUS_SUCCESS, L"0"},
      {1234, 0, 10, STATUS_SUCCESS, L"1234"},
      {1234, 10, 8, STATUS_BUFFER_OVERFLOW, nullptr},  // no room for the terminator
      {255, 16, 6, STATUS_SUCCESS, L"FF"},
      {8, 8, 6, STATUS_SUCCESS, L"10"},
      {0xFFFFFFFF, 10, 22, STATUS_SUCCESS, L"4294967295"},
      {0xFFFFFFFF, 2, 66, STATUS_SUCCESS, L"11111111111111111111111111111111"},
      {10, 3, 20, STATUS_INVALID_PARAMETER, nullptr},
  };
  for (const auto &[value, base, maximum, status, text] : cases) {
    SCOPED_TRACE(testing::Message() << value << " base " << base << " in " << maximum);
    Counted out(L"", maximum);
    EXPECT_EQ(status, RtlIntegerToUnicodeString(value, base, &out.string));
    if (text) {
      EXPECT_EQ(Counted::Expect(text, true), out.buffer);
      EXPECT_EQ(U16(text).size() * 2, out.string.Length);
    } else {
      // Whatever a failing call does, it stays inside MaximumLength.
      for (size_t i = maximum / 2; i < out.buffer.size(); ++i) EXPECT_EQ(kGuard, out.buffer[i]);
    }
  }
}

#define FORMAT(...) [](wchar_t *b, size_t n) { return _snwprintf(b, n, __VA_ARGS__); }

TEST(Strings, SnwprintfLegacySemantics) {
  // The count, the call, its result, what lands in the buffer before any
  // terminator, and whether a terminator follows.
  const std::tuple<size_t, std::function<int(wchar_t *, size_t)>, int, const wchar_t *, bool> cases[] = {
      {6, FORMAT(L"abcde"), 5, L"abcde", true},
      {5, FORMAT(L"abcde"), 5, L"abcde", false},  // fits exactly: no terminator
      {4, FORMAT(L"abcde"), -1, L"abcd", false},  // too long: count characters, no more
      {0, FORMAT(L"abcde"), -1, L"", false},
      {3, FORMAT(L"%d", 12345), -1, L"123", false},
      {1, FORMAT(L""), 0, L"", true},
      {40, FORMAT(L"%03d", 7), 3, L"007", true},
      {40, FORMAT(L"%03d", -5), 3, L"-05", true},
      {40, FORMAT(L"%03d", 12345), 5, L"12345", true},
      {40, FORMAT(L"%u", 0xFFFFFFFFu), 10, L"4294967295", true},
      {40, FORMAT(L"%x/%X", 0xBEEFu, 0xBEEFu), 9, L"beef/BEEF", true},
      {40, FORMAT(L"%04X", 0x1Au), 4, L"001A", true},
      {40, FORMAT(L"%.*ws|", 3, L"abcdef"), 4, L"abc|", true},
      {40, FORMAT(L"%.*ws|", 9, L"ab"), 3, L"ab|", true},
      {40, FORMAT(L"%s", L"str"), 3, L"str", true},  // %s takes a wide string here
      {40, FORMAT(L"%c%c", L'Z', L'!'), 2, L"Z!", true},
      {40, FORMAT(L"\\DosDevices\\COM%d%ws%%", 3, L"_x"), 19, L"\\DosDevices\\COM3_x%", true},
  };
  for (const auto &[count, format, result, text, terminated] : cases) {
    SCOPED_TRACE("expecting " + hostk::Utf8(U16(text)) + " in " + std::to_string(count));
    Counted out(L"", 0);
    EXPECT_EQ(result, format(out.buffer.data(), count));
    EXPECT_EQ(Counted::Expect(text, terminated), out.buffer);
  }
}

TEST(Pool, AccountingAndFailureInjection) {
  // Fail the nth allocation, and all from the nth on (0: none), then which of
  // the allocations after arming succeed, in order.
  const std::tuple<uint64_t, uint64_t, std::vector<bool>> cases[] = {
      {0, 0, {true, true, true}},
      {1, 0, {false, true, true}},
      {3, 0, {true, true, false, true, true}},
      {0, 2, {true, false, false, false}},
      {1, 3, {false, true, false, false}},
  };
  for (const auto &[failAt, failFrom, succeeds] : cases) {
    SCOPED_TRACE(testing::Message() << "fail at " << failAt << ", from " << failFrom);
    // Counting starts when injection is armed, not at the reset.
    void *early = ExAllocatePoolWithTag(NonPagedPool, 16, kOtherTag);
    ASSERT_NE(nullptr, early);
    const hostk::PoolStats before = hostk::Pool();
    hostk::FailAllocationAt(failAt);
    hostk::FailAllocationsFrom(failFrom);
    std::vector<void *> blocks;
    for (size_t i = 0; i < succeeds.size(); ++i) {
      void *p = i % 2 ? ExAllocatePool(PagedPool, 24) : ExAllocatePoolWithTag(NonPagedPool, 24, kTestTag);
      EXPECT_EQ(succeeds[i], p != nullptr) << "allocation " << i + 1;
      if (p) blocks.push_back(p);
    }
    hostk::FailAllocationAt(0);
    hostk::FailAllocationsFrom(0);
    // Failed allocations count as attempts too.
    const hostk::PoolStats during = hostk::Pool();
    const uint64_t good = blocks.size();
    EXPECT_EQ(std::make_tuple(during.allocations, during.attempts, during.blocksInUse, during.bytesInUse),
              std::make_tuple(before.allocations + good, before.attempts + succeeds.size(), before.blocksInUse + good,
                              before.bytesInUse + 24 * good));
    for (void *p : blocks) ExFreePool(p);
    ExFreePoolWithTag(early, kOtherTag);
  }
  // Fresh pool holds no zeros a driver could come to rely on.
  auto *fresh = static_cast<unsigned char *>(ExAllocatePool(NonPagedPool, 64));
  ASSERT_NE(nullptr, fresh);
  for (int i = 0; i < 64; ++i) EXPECT_NE(0, fresh[i]) << "byte " << i;
  ExFreePool(fresh);
}

TEST(PoolDeathTest, FreeingTwiceStopsTheRun) {
  EXPECT_DEATH(
      {
        void *p = ExAllocatePoolWithTag(NonPagedPool, 8, kTestTag);
        ExFreePool(p);
        ExFreePool(p);
      },
      "STOP 0x000000C2");
  EXPECT_DEATH(ExFreePoolWithTag(ExAllocatePoolWithTag(NonPagedPool, 8, kTestTag), kOtherTag), "STOP 0x000000C2");
}

}  // namespace
