// The System event log as drivers reach it: an entry allocated zero-filled
// for a device (held until the entry is written or freed) or a driver,
// written with its dump data and insertion strings as the log receives them,
// or freed unwritten; and each calling rule Windows documents stopping the
// run.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "host_kernel.h"

namespace {

NTSTATUS EmptyEntry(PDRIVER_OBJECT, PUNICODE_STRING) { return STATUS_SUCCESS; }

constexpr size_t kDumpAt = offsetof(IO_ERROR_LOG_PACKET, DumpData);

class ErrorLogTest : public testing::Test {
 protected:
  void SetUp() override {
    driver_ = hostk::LoadDriver(EmptyEntry, u"\\REGISTRY\\MACHINE\\test", nullptr);
    ASSERT_EQ(IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device_), STATUS_SUCCESS);
  }
  void TearDown() override {
    if (device_) IoDeleteDevice(device_);
    hostk::UnloadDriver(driver_);
  }
  // An entry of `size` bytes with `dumpWords` ULONGs of dump data and the
  // strings after them.
  PIO_ERROR_LOG_PACKET Fill(UCHAR size, USHORT dumpWords, const std::vector<std::u16string> &strings) {
    auto *packet = static_cast<PIO_ERROR_LOG_PACKET>(IoAllocateErrorLogEntry(device_, size));
    if (!packet) return nullptr;
    packet->ErrorCode = NTSTATUS(0xE0040001);
    packet->FinalStatus = STATUS_DEVICE_CONFIGURATION_ERROR;
    packet->UniqueErrorValue = 7;
    packet->DumpDataSize = USHORT(dumpWords * sizeof(ULONG));
    for (USHORT i = 0; i < dumpWords; ++i) packet->DumpData[i] = 0x100 + i;
    packet->NumberOfStrings = USHORT(strings.size());
    packet->StringOffset = USHORT(kDumpAt + packet->DumpDataSize);
    char *at = reinterpret_cast<char *>(packet) + packet->StringOffset;
    for (const auto &text : strings) {
      memcpy(at, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
      at += (text.size() + 1) * sizeof(WCHAR);
    }
    return packet;
  }
  PDRIVER_OBJECT driver_ = nullptr;
  PDEVICE_OBJECT device_ = nullptr;
};

TEST_F(ErrorLogTest, WrittenEntriesReachTheLogAsTheyWereFilledIn) {
  // The largest entry there is, zero-filled, its strings up to its last byte.
  auto *largest = static_cast<unsigned char *>(IoAllocateErrorLogEntry(device_, ERROR_LOG_MAXIMUM_SIZE));
  ASSERT_NE(largest, nullptr);
  for (size_t i = 0; i < ERROR_LOG_MAXIMUM_SIZE; ++i) ASSERT_EQ(largest[i], 0) << "byte " << i;
  IoFreeErrorLogEntry(largest);
  EXPECT_TRUE(hostk::ErrorLog().empty()) << "a freed entry is not logged";

  PIO_ERROR_LOG_PACKET packet = Fill(ERROR_LOG_MAXIMUM_SIZE, 3, {u"24", u"0xE000-0xE01F"});
  ASSERT_NE(packet, nullptr);
  IoWriteErrorLogEntry(packet);
  ASSERT_EQ(hostk::ErrorLog().size(), 1u);
  hostk::ErrorLogRecord record = hostk::ErrorLog()[0];
  EXPECT_EQ(std::tie(record.device, record.driver, record.errorCode, record.finalStatus, record.uniqueErrorValue),
            std::make_tuple(device_, driver_, NTSTATUS(0xE0040001), STATUS_DEVICE_CONFIGURATION_ERROR, 7u));
  EXPECT_EQ(record.dumpData, (std::vector<ULONG>{0x100, 0x101, 0x102}));
  EXPECT_EQ(record.strings, (std::vector<std::u16string>{u"24", u"0xE000-0xE01F"}));

  // A driver's own entry, the smallest: no device, no dump data, no strings
  // (the offset is not read).
  auto *driverEntry = static_cast<PIO_ERROR_LOG_PACKET>(IoAllocateErrorLogEntry(driver_, sizeof(IO_ERROR_LOG_PACKET)));
  ASSERT_NE(driverEntry, nullptr);
  driverEntry->StringOffset = 0xFFFF;
  IoWriteErrorLogEntry(driverEntry);
  ASSERT_EQ(hostk::ErrorLog().size(), 2u);
  EXPECT_EQ(std::tie(hostk::ErrorLog()[1].device, hostk::ErrorLog()[1].driver), std::make_tuple(nullptr, driver_));
  EXPECT_TRUE(hostk::ErrorLog()[1].strings.empty());

  // Without pool there is no entry, and nothing to give back.
  hostk::FailAllocationAt(1);
  EXPECT_EQ(IoAllocateErrorLogEntry(device_, sizeof(IO_ERROR_LOG_PACKET)), nullptr);

  // Written at DISPATCH_LEVEL too.
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  PIO_ERROR_LOG_PACKET atDispatch = Fill(sizeof(IO_ERROR_LOG_PACKET), 0, {});
  ASSERT_NE(atDispatch, nullptr);
  IoWriteErrorLogEntry(atDispatch);
  KeLowerIrql(old);
  EXPECT_EQ(hostk::ErrorLog().size(), 3u);
}

TEST_F(ErrorLogTest, AnEntryHoldsItsDeviceUntilWrittenAndIsOutstandingUntilThen) {
  PIO_ERROR_LOG_PACKET packet = Fill(sizeof(IO_ERROR_LOG_PACKET) + 8, 0, {u"x"});
  ASSERT_NE(packet, nullptr);
  IoDeleteDevice(device_);
  device_ = nullptr;
  std::string pending = testing::PrintToString(hostk::Outstanding());
  EXPECT_NE(pending.find("error log entry of 56 bytes neither written nor freed"), std::string::npos) << pending;
  EXPECT_NE(pending.find("deleted but still referenced"), std::string::npos) << pending;
  IoWriteErrorLogEntry(packet);  // the test's end finds both given back
  EXPECT_EQ(hostk::ErrorLog().size(), 1u);
}

TEST_F(ErrorLogTest, MisusesStopTheRun) {
  const UCHAR packetSize = sizeof(IO_ERROR_LOG_PACKET);
  const auto entry = [&] { return IoAllocateErrorLogEntry(device_, packetSize); };
  const auto raise = [] { KIRQL old; KeRaiseIrql(HIGH_LEVEL, &old); };
  // A filled-in entry, changed by `spoil`, written.
  const auto write = [&](UCHAR size, USHORT words, const std::vector<std::u16string> &strings,
                         const std::function<void(PIO_ERROR_LOG_PACKET)> &spoil) {
    PIO_ERROR_LOG_PACKET packet = Fill(size, words, strings);
    spoil(packet);
    IoWriteErrorLogEntry(packet);
  };
  KEVENT event;
  IO_ERROR_LOG_PACKET own = {};
  const std::tuple<const char *, std::function<void()>, const char *> rows[] = {
      {"allocated above DISPATCH_LEVEL", [&] { raise(), entry(); }, "STOP 0x0000000A: IoAllocateErrorLogEntry"},
      {"written above DISPATCH_LEVEL", [&] { PVOID e = entry(); raise(), IoWriteErrorLogEntry(e); },
       "STOP 0x0000000A: IoWriteErrorLogEntry"},
      {"freed above DISPATCH_LEVEL", [&] { PVOID e = entry(); raise(), IoFreeErrorLogEntry(e); },
       "STOP 0x0000000A: IoFreeErrorLogEntry"},
      {"no object", [&] { IoAllocateErrorLogEntry(nullptr, packetSize); }, "without a device or driver object"},
      {"an object of another kind",
       [&] { KeInitializeEvent(&event, NotificationEvent, FALSE), IoAllocateErrorLogEntry(&event, packetSize); },
       "no device or driver object"},
      {"larger than ERROR_LOG_MAXIMUM_SIZE", [&] { IoAllocateErrorLogEntry(device_, UCHAR(ERROR_LOG_MAXIMUM_SIZE + 1)); },
       "past ERROR_LOG_MAXIMUM_SIZE \\(240\\)"},
      {"smaller than the packet", [&] { IoAllocateErrorLogEntry(device_, packetSize - 1); }, "short of IO_ERROR_LOG_PACKET"},
      {"written twice", [&] { PVOID e = entry(); IoWriteErrorLogEntry(e), IoWriteErrorLogEntry(e); },
       "IoWriteErrorLogEntry of an error log entry that is not allocated"},
      {"freed once written", [&] { PVOID e = entry(); IoWriteErrorLogEntry(e), IoFreeErrorLogEntry(e); },
       "IoFreeErrorLogEntry of an error log entry that is not allocated"},
      {"a packet never allocated", [&] { IoWriteErrorLogEntry(&own); },
       "IoWriteErrorLogEntry of an error log entry that is not allocated"},
      {"dump data of 6 bytes", [&] { write(packetSize + 8, 1, {}, [](auto p) { p->DumpDataSize = 6; }); },
       "DumpDataSize is no multiple of sizeof\\(ULONG\\)"},
      // Two ULONGs fit in DumpData[1] and the packet's padding.
      {"dump data past the entry", [&] { write(packetSize, 0, {}, [](auto p) { p->DumpDataSize = 3 * sizeof(ULONG); }); },
       "the dump data runs past the entry's end"},
      {"strings over the dump data",
       [&] { write(packetSize + 8, 2, {u"a"}, [](auto p) { p->StringOffset = USHORT(kDumpAt + sizeof(ULONG)); }); },
       "the insertion strings overlap the packet or its dump data"},
      // The second string runs to the entry's end unterminated.
      {"a string not terminated in the entry",
       [&] {
         write(packetSize + 4, 0, {u"a"}, [&](auto p) {
           p->NumberOfStrings = 2;
           memset(reinterpret_cast<char *>(p) + kDumpAt + 4, 'x', packetSize - kDumpAt);
         });
       },
       "insertion string 2 is not terminated inside the entry"},
  };
  for (const auto &[what, misuse, stop] : rows) EXPECT_DEATH(misuse(), stop) << what;
}

}  // namespace
