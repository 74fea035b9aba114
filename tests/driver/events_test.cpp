// DI interrupt notification and handles, as a user program sees them.
#include <cstring>

#include "event_program.h"

namespace diotest {
namespace {

using EventsTest = EventProgramTest;

// Each interrupt acknowledges its status bits; the DPC, queued once, delivers
// the bits of every interrupt before it to the handle's events.
TEST_F(EventsTest, EachLayoutSignalsTheEventsOfItsSources) {
  const struct Case {
    uint32_t model;
    std::vector<int> lines;  // fired in this order before the DPC runs
    const char *signalled;   // events 0 to 8
  } cases[] = {
      {24, {0, 8}, "100000001"}, {24, {1, 3}, "010100000"},  // one status register, or both
      {24, {7, 9}, "000000010"},                             // there is no event 9
      {22, {1, 3}, "010100000"}, {22, {2, 8}, "001000001"},  // the ninth source
      {0, {1, 3}, "010100000"},  {0, {2, 5}, "001000000"},   // only bits 0 to 3 name events
  };
  for (const Case &c : cases) {
    const auto row =
        FreshRow("model " + std::to_string(c.model) + " lines " + testing::PrintToString(c.lines));
    std::vector<HANDLE> events = Ready(c.model);
    hostk::HoldDpcs(true);
    for (int line : c.lines) board_->PulseDiLine(line);
    EXPECT_EQ(hostk::QueuedDpcCount(), 1u);
    EXPECT_EQ(Signalled(events), "000000000");
    hostk::RunDpcs();
    EXPECT_EQ(Signalled(events), c.signalled);
  }
}

// The first enable connects the interrupt the start was given (its
// translated form), an ISA board's latched and its own, a PCI board's (codes
// above 20) level-sensitive and shared. An edge after the
// sources came on and before the first enable is taken when the interrupt is
// connected, on a latched line as on a level-sensitive one: left pending, it
// would hold a latched line up, and no later edge would interrupt.
TEST_F(EventsTest, AnEdgeBeforeTheFirstEnableIsTakenAtTheConnection) {
  for (uint32_t model : {0u, 21u}) {
    const auto row = FreshRow("model " + std::to_string(model));
    Bring(model);
    EnableSources(file_);
    board_->PulseDiLine(1);
    std::vector<HANDLE> events = MakeEvents(9);
    ASSERT_EQ(EnableEvents(file_, events).status, STATUS_SUCCESS);
    std::vector<hostk::InterruptInfo> connected = hostk::ConnectedInterrupts();
    ASSERT_EQ(connected.size(), 1u);
    const auto [vector, irql, mode, shared, affinity] = connected[0];
    EXPECT_EQ(std::make_tuple(vector, irql, affinity), std::make_tuple(kTranslatedVector, kTranslatedLevel, kAffinity));
    EXPECT_EQ(mode, model == 21 ? LevelSensitive : Latched);
    EXPECT_EQ(shared, model == 21);
    EXPECT_EQ(Signalled(events), "010000000");
    ExpectHeard(*board_, events, 2);
  }
}

// An enable takes its handles in order: a zero handle is skipped, those past
// the ninth are not looked at, and a refused one stops it, the handles
// before it taken and kept, those after it not. The request's record reports
// its status, which a refused request's caller does not see. The first
// enable, with handles or none, connects the interrupt.
TEST_F(EventsTest, AnEnableTakesItsHandlesInOrderUntilOneIsRefused) {
  Bring(24);
  EnableSources(file_);
  std::vector<HANDLE> events = MakeEvents(9), gap = events, many = events;
  gap[3] = nullptr;
  for (int i = 0; i < 9; ++i) many.push_back(reinterpret_cast<HANDLE>(uintptr_t(0xBAD0 + 4 * i)));
  HANDLE waitOnly = hostk::user::CreateEvent(true, false, SYNCHRONIZE);
  HANDLE modifyOnly = hostk::user::CreateEvent(true, false, EVENT_MODIFY_STATE);
  HANDLE kernel = hostk::user::CreateKernelEvent();
  const std::vector<HANDLE> taken = {events[0], waitOnly, events[1]};  // those of a refused enable
  const struct Case {
    const char *what;
    std::vector<HANDLE> handles, heard;  // given; and looked at after an edge on every line
    NTSTATUS status;
    const char *signalled;
  } cases[] = {
      {"no handles", {}, events, STATUS_SUCCESS, "000000000"},
      {"a zero handle", gap, events, STATUS_SUCCESS, "111011111"},
      {"handles past the ninth", many, events, STATUS_SUCCESS, "111111111"},
      {"a kernel handle from a user program", {events[0], waitOnly, kernel, events[1]}, taken, STATUS_INVALID_HANDLE,
       "110"},
      {"not an event", {events[0], waitOnly, file_, events[1]}, taken, STATUS_OBJECT_TYPE_MISMATCH, "110"},
      {"an event without the right to wait on it", {events[0], waitOnly, modifyOnly, events[1]}, taken,
       STATUS_ACCESS_DENIED, "110"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    auto result = EnableEvents(file_, c.handles);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.driverInformation, 208u);
    DIO_EVENT_REQUEST seen;
    memcpy(&seen, result.systemBuffer.data(), sizeof seen);
    EXPECT_EQ(seen.Status, c.status);
    EXPECT_EQ(hostk::ConnectedInterrupts().size(), 1u);
    for (int line = 0; line < 9; ++line) board_->PulseDiLine(line);
    EXPECT_EQ(Signalled(c.heard), c.signalled);
  }
  ZwClose(kernel);
}

TEST_F(EventsTest, AFailedConnectionLeavesTheSlotEnabledAndIsRetried) {
  Bring(24);
  // Another device holds the vector without sharing it.
  PKINTERRUPT other = nullptr;
  ASSERT_EQ(IoConnectInterrupt(&other, [](PKINTERRUPT, PVOID) -> BOOLEAN { return FALSE; },
                               nullptr, nullptr, kTranslatedVector, 9, 9, LevelSensitive, FALSE,
                               1, FALSE),
            STATUS_SUCCESS);
  std::vector<HANDLE> events = MakeEvents(1);
  EXPECT_EQ(EnableEvents(file_, events).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(hostk::ConnectedInterrupts().size(), 1u) << "only the other device's";
  IoDisconnectInterrupt(other);
  EnableSources(file_);
  EXPECT_EQ(EnableEvents(Open(), {}).status, STATUS_SUCCESS) << "the next enable connects";
  EXPECT_EQ(hostk::ConnectedInterrupts().size(), 1u);
  ExpectHeard(*board_, events, 0);  // the failed enable's events stay
}

TEST_F(EventsTest, TheLastCleanupTurnsTheBoardOffAndDisconnects) {
  Bring(24);
  HANDLE second = Open();
  EnableSources(file_);
  std::vector<HANDLE> events = MakeEvents(1);
  ASSERT_EQ(EnableEvents(second, events).status, STATUS_SUCCESS);

  // A disable while another handle is open touches no register.
  hostk::ClearPortTrace();
  EXPECT_EQ(DisableEvents(second).status, STATUS_SUCCESS);
  EXPECT_TRUE(hostk::PortTrace().empty());
  EXPECT_EQ(hostk::user::CloseHandle(second), STATUS_SUCCESS);
  EXPECT_EQ(hostk::ConnectedInterrupts().size(), 1u) << "the first handle is still open";

  hostk::ClearPortTrace();
  EXPECT_EQ(hostk::user::CloseHandle(file_), STATUS_SUCCESS);
  EXPECT_TRUE(hostk::ConnectedInterrupts().empty());
  std::vector<uint16_t> written;
  for (const auto &a : hostk::PortTrace()) written.push_back(a.port);
  EXPECT_EQ(written, (std::vector<uint16_t>{0xE007, 0xE002, 0xE00A, 0xE00F, 0xE000 + 70, 0xE000 + 80}));
}

// Every slot holding an event of the pending number is signalled; a slot
// that loses it (disable, close, an enable without it) takes nothing from the
// others, not even from the slot 64 places away.
TEST_F(EventsTest, EverySlotHoldingThePendingEventIsSignalledAndNoneThatLostIt) {
  Bring(24);
  EnableSources(file_);
  std::vector<HANDLE> handles = {file_};
  while (handles.size() < DIO_EVENT_SLOT_COUNT) handles.push_back(Open());
  const int slots[] = {0, 1, 63, 64, 65, 99};
  std::vector<HANDLE> events = MakeEvents(std::size(slots)), later = MakeEvents(1);
  for (size_t i = 0; i < std::size(slots); ++i)
    ASSERT_EQ(EnableEvents(handles[slots[i]], {events[i]}).status, STATUS_SUCCESS);
  board_->PulseDiLine(0);
  EXPECT_EQ(Signalled(events), "111111");

  EXPECT_EQ(DisableEvents(handles[64]).status, STATUS_SUCCESS);
  EXPECT_EQ(hostk::user::CloseHandle(handles[1]), STATUS_SUCCESS);
  ASSERT_EQ(EnableEvents(handles[65], {nullptr, later[0]}).status, STATUS_SUCCESS);
  board_->PulseDiLine(0);
  board_->PulseDiLine(1);
  EXPECT_EQ(Signalled(events) + Signalled(later), "101001" "1");
}

// Layout 24's summary tells whether DI status is pending; only the status
// bytes saved for the slots are scanned, even on a board whose information
// claims 32 of them.
TEST_F(EventsTest, Layout24SignalsOnlyTheDiStatusItSaves) {
  const uint32_t offsets[] = DIO_L24_INFO_OFFSETS;
  device_ = StartedDevice(24, [&](hostboard::SimBoard &board) { board.SetInfoByte(offsets[0], 0xFF); });
  program_ = std::make_unique<Program>();
  file_ = Open();
  EnableSources(file_);
  std::vector<HANDLE> events = MakeEvents(9), neighbour = MakeEvents(9);  // the next slot's
  ASSERT_EQ(EnableEvents(file_, events).status, STATUS_SUCCESS);
  ASSERT_EQ(EnableEvents(Open(), neighbour).status, STATUS_SUCCESS);
  board_->PulseDiLine(2);
  EXPECT_EQ(Signalled(events) + Signalled(neighbour), "001000000001000000");
  // The board's other source: claimed, and the last DI events not signalled again.
  board_->OverrideIntSum(0x02);
  EXPECT_TRUE(hostk::RaiseInterrupt(kTranslatedVector));
  EXPECT_EQ(Signalled(events) + Signalled(neighbour), "000000000000000000");
  board_->ClearIntSumOverride();

  for (int source = 8; source < 16; ++source) board_->PulseDiLine(source);
  EXPECT_EQ(Signalled(events) + Signalled(neighbour), "000000001000000001");
}

// An open that gets no slot is refused: for want of pool (the handle's
// record is the open's third allocation), with all 100 slots taken, or for a
// name inside the device's namespace, which Windows would not check against
// the device's security. A refused open keeps no slot and counts no handle.
TEST_F(EventsTest, OpensThatGetNoSlotAreRefused) {
  Bring(24);
  EXPECT_TRUE(device_->Characteristics & FILE_DEVICE_SECURE_OPEN)
      << "the device's security covers its namespace";
  struct Case {
    const char16_t *name;
    uint64_t failingAllocation;
    NTSTATUS status;
  };
  for (const Case &c : {Case{u"", 3, STATUS_INSUFFICIENT_RESOURCES}, Case{u"\\anything", 0, STATUS_OBJECT_NAME_NOT_FOUND},
                        Case{u"\\", 0, STATUS_OBJECT_NAME_NOT_FOUND}, Case{u"\\a\\b", 0, STATUS_OBJECT_NAME_NOT_FOUND}}) {
    SCOPED_TRACE(hostk::Utf8(c.name));
    hostk::FailAllocationAt(c.failingAllocation);
    HANDLE file = nullptr;
    EXPECT_EQ(hostk::user::OpenFile(DevicePath() + c.name, GENERIC_READ | GENERIC_WRITE, &file), c.status);
  }
  std::vector<HANDLE> handles;  // the program's first handle has slot 0
  while (handles.size() < DIO_EVENT_SLOT_COUNT - 1) handles.push_back(Open());
  Open(STATUS_INSUFFICIENT_RESOURCES);
  hostk::user::CloseHandle(handles[40]);
  handles[40] = Open();
  program_.reset();  // the program ends: its handles close
  EXPECT_EQ(Pnp(IRP_MN_QUERY_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS) << "no handle left counted";
}

// Pool allocations asked for inside the driver's device-control routine.
uint64_t gDispatchAllocations;

NTSTATUS CountingDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  uint64_t before = hostk::Pool().attempts;
  NTSTATUS status = DispatchDeviceControl(device, irp);
  gDispatchAllocations += hostk::Pool().attempts - before;
  return status;
}

// The port requests, the service routine and the DPC take no pool; the
// routine makes the fewest accesses that tell the interrupt and acknowledge it.
TEST_F(EventsTest, PortRequestsAndTheInterruptTakeNoPoolAndTheFewestAccesses) {
  constexpr uint16_t sum = kInfoBase + 24, base = kRegisterBase;
  const struct Case {
    uint32_t model;
    std::vector<hostk::PortAccess> ours;     // DI line 0 fired
    std::vector<hostk::PortAccess> notOurs;  // nothing pending on the board
  } cases[] = {
      {24,  // the summary, both status registers read and written back
       {{false, 1, sum, 1}, {false, 1, uint16_t(base + 7), 1}, {false, 1, uint16_t(base + 15), 0},
        {true, 1, uint16_t(base + 7), 1}, {true, 1, uint16_t(base + 15), 0}},
       {{false, 1, sum, 0}}},
      {22,  // both status registers read and written back
       {{false, 1, uint16_t(base + 8), 1}, {false, 1, uint16_t(base + 9), 0},
        {true, 1, uint16_t(base + 8), 1}, {true, 1, uint16_t(base + 9), 0}},
       {{false, 1, uint16_t(base + 8), 0}, {false, 1, uint16_t(base + 9), 0}}},
      {0, {{false, 1, uint16_t(base + 7), 1}, {true, 1, uint16_t(base + 7), 1}}, {{false, 1, uint16_t(base + 7), 0}}},
  };
  for (const Case &c : cases) {
    const auto row = FreshRow("model " + std::to_string(c.model));
    Ready(c.model);
    driver_->MajorFunction[IRP_MJ_DEVICE_CONTROL] = CountingDeviceControl;
    gDispatchAllocations = 0;
    const std::pair<ULONG, ULONG> requests[] = {  // code, input length
        {IOCTL_DIO_READ_PORT_UCHAR, 4},  {IOCTL_DIO_READ_PORT_USHORT, 4},  {IOCTL_DIO_READ_PORT_ULONG, 4},
        {IOCTL_DIO_WRITE_PORT_UCHAR, 5}, {IOCTL_DIO_WRITE_PORT_USHORT, 6}, {IOCTL_DIO_WRITE_PORT_ULONG, 8}};
    for (auto [code, inLength] : requests) {
      DIO_PORT_IO request = {24, {0}};  // a port no layout has a register at
      ASSERT_EQ(hostk::user::DeviceIoControl(file_, code, &request, inLength, &request, 4).status, STATUS_SUCCESS);
    }
    EXPECT_EQ(gDispatchAllocations, 0u) << "allocations in the port requests";

    hostk::ClearPortTrace();
    const uint64_t before = hostk::Pool().attempts;
    board_->PulseDiLine(0);
    EXPECT_EQ(hostk::Pool().attempts - before, 0u) << "allocations from the interrupt to its events";
    EXPECT_EQ(Trace(), Describe(c.ours));
    hostk::ClearPortTrace();
    EXPECT_FALSE(hostk::RaiseInterrupt(kTranslatedVector));
    EXPECT_EQ(Trace(), Describe(c.notOurs));
  }
}

}  // namespace
}  // namespace diotest
