// The board's entries in the System event log: each start or run-time
// failure a technician must see writes one entry, with its message and the
// figures that explain it; a cause that recurs writes no more.
#include "event_program.h"

namespace diotest {
namespace {

using EventLogTest = EventProgramTest;

// The figures every message shares (%2 to %8 of messages.mc).
using Strings = std::vector<std::u16string>;

std::string Describe(const hostk::ErrorLogRecord &entry) {
  std::string text = testing::PrintToString(ULONG(entry.errorCode)) + " status " +
                     testing::PrintToString(ULONG(entry.finalStatus)) + ":";
  for (const auto &s : entry.strings) text += " \"" + hostreg::ToUtf8(s) + "\"";
  return text;
}

std::vector<std::string> Log() {
  std::vector<std::string> out;
  for (const auto &entry : hostk::ErrorLog()) out.push_back(Describe(entry));
  return out;
}

std::string Expected(NTSTATUS message, NTSTATUS status, const Strings &strings) {
  return Describe(hostk::ErrorLogRecord{nullptr, nullptr, message, status, 0, 0, {}, strings});
}

// Each cause at a board's start, with the figures it is told by: the model,
// where the board sits (the bench's PCI boards at bus 0, device 3), its
// register and information blocks as the start gave them, its interrupt as
// Device Manager shows it (the raw level), the status, what failed.
TEST_F(EventLogTest, EachStartFailureWritesOneEntryWithItsFigures) {
  using hostk::InterruptResource;
  using hostk::OtherResource;
  using hostk::PortResource;
  const auto raw = InterruptResource(kRawLevel, kRawLevel, kAffinity);
  const struct Case {
    const char *what;
    uint32_t model;
    StartResources resources;
    bool board;  // a board at the ports
    std::function<void()> before;
    NTSTATUS started;
    std::string entry;
  } cases[] = {
      {"a DMA channel among the resources", 24,
       SameResources({PortResource(kInfoBase, 32), OtherResource(CmResourceTypeDma), PortResource(kRegisterBase, 128), raw}),
       true, {}, STATUS_DEVICE_CONFIGURATION_ERROR,
       Expected(DIO_LOG_RESOURCES_REFUSED, STATUS_DEVICE_CONFIGURATION_ERROR,
                {u"24", u"PCI bus 0, device 3", u"0xE000-0xE07F", u"0xD000-0xD01F", u"IRQ 11", u"0xC0000182",
                 u"a DMA channel"})},
      {"a resource of no known type", 0, SameResources({OtherResource(0x84), PortResource(kRegisterBase, 32)}), true,
       {}, STATUS_DEVICE_CONFIGURATION_ERROR,
       Expected(DIO_LOG_RESOURCES_REFUSED, STATUS_DEVICE_CONFIGURATION_ERROR,
                {u"0", u"ISA", u"0xE000-0xE01F", u"not used", u"none", u"0xC0000182", u"resource type 132"})},
      {"no ports", 0, SameResources({raw}), true, {}, STATUS_SUCCESS,
       Expected(DIO_LOG_NO_PORTS, STATUS_ACCESS_VIOLATION,
                {u"0", u"ISA", u"none", u"not used", u"IRQ 11", u"0xC0000005", u"-"})},
      {"layout 24 without its register block", 24, SameResources({PortResource(kInfoBase, 32), raw}), true, {},
       STATUS_SUCCESS,
       Expected(DIO_LOG_NO_PORTS, STATUS_ACCESS_VIOLATION,
                {u"24", u"PCI bus 0, device 3", u"none", u"0xD000-0xD01F", u"IRQ 11", u"0xC0000005", u"-"})},
      {"no interrupt", 22, SameResources({PortResource(kRegisterBase, 32)}), true, {}, STATUS_SUCCESS,
       Expected(DIO_LOG_NO_INTERRUPT, STATUS_SUCCESS,
                {u"22", u"PCI bus 0, device 3", u"0xE000-0xE01F", u"not used", u"none", u"0x00000000", u"-"})},
      {"no board at the ports", 3, hostboard::BenchResources(3), false, {}, STATUS_SUCCESS,
       Expected(DIO_LOG_BOARD_ABSENT, STATUS_SUCCESS,
                {u"3", u"ISA", u"0xE000-0xE01F", u"not used", u"IRQ 11", u"0x00000000", u"-"})},
      {"no service key to record the board in", 21, hostboard::BenchResources(21), true,
       [] { ASSERT_EQ(hostreg::DeleteKey(hostreg::Find(kServiceKey)), hostreg::Result::Ok); }, STATUS_SUCCESS,
       Expected(DIO_LOG_REGISTRY_FAILED, STATUS_OBJECT_NAME_NOT_FOUND,
                {u"21", u"PCI bus 0, device 3", u"0xE000-0xE01F", u"not used", u"IRQ 11", u"0xC0000034",
                 u"writing Device000"})},
  };
  for (const Case &c : cases) {
    const auto row = FreshRow(c.what);
    Load(c.model);
    if (c.board) AttachBoard();
    PDEVICE_OBJECT device = Add();
    if (c.before) c.before();
    EXPECT_EQ(StartWith(c.resources).ioStatus.Status, c.started);
    EXPECT_EQ(Log(), std::vector<std::string>{c.entry});
    for (const auto &entry : hostk::ErrorLog()) EXPECT_EQ(entry.device, device) << "the entry names the board's device";
    size_t traced = 0;  // the debugger's lines of the driver's component
    for (const auto &m : hostk::DebugMessages()) traced += m.component == DPFLTR_IHVDRIVER_ID;
    EXPECT_EQ(traced, NT_SUCCESS(c.started) ? 0u : 1u) << "a refused start is traced";
  }
}

// The same cause again (each restart, each enable, each start request) adds
// no entry; another cause on the same board is written (a second board's
// refusals: startup_test.cpp).
TEST_F(EventLogTest, ARecurringFailureWritesNoMoreEntries) {
  using hostk::PortResource;
  StartResources noInterrupt = SameResources({PortResource(kRegisterBase, 32)});
  const StartResources refused = SameResources({hostk::OtherResource(CmResourceTypeDma)});

  FreshRow();
  AddedDevice(0);
  ASSERT_EQ(StartWith(noInterrupt).ioStatus.Status, STATUS_SUCCESS);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(hostk::Rebalance(Pdo(), hostk::AsList(noInterrupt.raw), hostk::AsList(noInterrupt.translated)).ioStatus.Status,
              STATUS_SUCCESS);
  ASSERT_EQ(hostk::ErrorLog().size(), 1u);
  EXPECT_EQ(hostk::ErrorLog()[0].errorCode, DIO_LOG_NO_INTERRUPT);

  FreshRow();
  AddedDevice(24);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(StartWith(refused).ioStatus.Status, STATUS_DEVICE_CONFIGURATION_ERROR);
  ASSERT_EQ(StartWith().ioStatus.Status, STATUS_SUCCESS) << "then started with its own resources";
  ASSERT_EQ(hostk::ErrorLog().size(), 1u);
  EXPECT_EQ(hostk::ErrorLog()[0].errorCode, DIO_LOG_RESOURCES_REFUSED);

  // A latched board's interrupt, which another device holds shared: every
  // enable is refused, one entry tells why; the board's next start without
  // ports is another cause.
  FreshRow();
  OtherDevice other;
  Bring(0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(EnableEvents(file_, MakeEvents(1)).status, STATUS_INVALID_PARAMETER);
  HANDLE second = Open();
  EXPECT_EQ(EnableEvents(second, MakeEvents(1)).status, STATUS_INVALID_PARAMETER);
  StartResources none = SameResources({});
  EXPECT_EQ(hostk::Rebalance(Pdo(), hostk::AsList(none.raw), hostk::AsList(none.translated)).ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       Expected(DIO_LOG_INTERRUPT_REFUSED, STATUS_INVALID_PARAMETER,
                                {u"0", u"ISA", u"0xE000-0xE01F", u"not used", u"IRQ 11", u"0xC000000D", u"-"}),
                       Expected(DIO_LOG_NO_PORTS, STATUS_ACCESS_VIOLATION,
                                {u"0", u"ISA", u"none", u"not used", u"none", u"0xC0000005", u"-"})}));
}

}  // namespace
}  // namespace diotest
