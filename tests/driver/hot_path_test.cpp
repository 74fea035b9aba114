// What the driver costs per request and per interrupt, where it counts: the
// port requests, the interrupt service routine and the DPC take no pool, and
// the service routine makes the fewest port accesses that tell whether the
// interrupt is the board's and acknowledge it.
#include "event_program.h"

namespace diotest {
namespace {

using hostk::user::DeviceIoControl;

// Pool allocations asked for inside the driver's device-control routine.
uint64_t gDispatchAllocations;

NTSTATUS CountingDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  uint64_t before = hostk::Pool().attempts;
  NTSTATUS status = DispatchDeviceControl(device, irp);
  gDispatchAllocations += hostk::Pool().attempts - before;
  return status;
}

using HotPathTest = EventProgramTest;

TEST_F(HotPathTest, PortRequestsAndTheInterruptTakeNoPoolAndTheFewestAccesses) {
  constexpr uint16_t sum = kInfoBase + 24, base = kRegisterBase;
  struct Case {
    uint32_t model;
    std::vector<hostk::PortAccess> ours;     // DI line 0 fired
    std::vector<hostk::PortAccess> notOurs;  // nothing pending on the board
  };
  const Case cases[] = {
      // The summary, both status registers read and written back.
      {24,
       {{false, 1, sum, 1}, {false, 1, uint16_t(base + 7), 1}, {false, 1, uint16_t(base + 15), 0},
        {true, 1, uint16_t(base + 7), 1}, {true, 1, uint16_t(base + 15), 0}},
       {{false, 1, sum, 0}}},
      // Both status registers read and written back.
      {22,
       {{false, 1, uint16_t(base + 8), 1}, {false, 1, uint16_t(base + 9), 0},
        {true, 1, uint16_t(base + 8), 1}, {true, 1, uint16_t(base + 9), 0}},
       {{false, 1, uint16_t(base + 8), 0}, {false, 1, uint16_t(base + 9), 0}}},
      // The one status register read and written back.
      {0,
       {{false, 1, uint16_t(base + 7), 1}, {true, 1, uint16_t(base + 7), 1}},
       {{false, 1, uint16_t(base + 7), 0}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("model " + std::to_string(c.model));
    FreshRow();
    std::vector<HANDLE> events = Ready(c.model);
    driver_->MajorFunction[IRP_MJ_DEVICE_CONTROL] = CountingDeviceControl;
    gDispatchAllocations = 0;
    const std::pair<ULONG, ULONG> requests[] = {  // code, input length
        {IOCTL_DIO_READ_PORT_UCHAR, 4},  {IOCTL_DIO_READ_PORT_USHORT, 4},  {IOCTL_DIO_READ_PORT_ULONG, 4},
        {IOCTL_DIO_WRITE_PORT_UCHAR, 5}, {IOCTL_DIO_WRITE_PORT_USHORT, 6}, {IOCTL_DIO_WRITE_PORT_ULONG, 8}};
    for (auto [code, inLength] : requests) {
      DIO_PORT_IO request = {24, {0}};  // a port no layout has a register at
      ASSERT_EQ(DeviceIoControl(file_, code, &request, inLength, &request, 4).status, STATUS_SUCCESS);
    }
    EXPECT_EQ(gDispatchAllocations, 0u) << "allocations in the port requests";

    hostk::ClearPortTrace();
    const uint64_t before = hostk::Pool().attempts;
    board_->PulseDiLine(0);
    EXPECT_EQ(hostk::Pool().attempts - before, 0u) << "allocations from the interrupt to its events";
    EXPECT_EQ(Signalled(events), "100000000");
    EXPECT_EQ(Trace(), Describe(c.ours));
    hostk::ClearPortTrace();
    EXPECT_FALSE(hostk::RaiseInterrupt(kTranslatedVector));
    EXPECT_EQ(Trace(), Describe(c.notOurs));
  }
}

}  // namespace
}  // namespace diotest
