// What the driver costs per request and per interrupt, where it counts: the
// port requests, the interrupt service routine and the DPC take no pool, and
// the service routine makes the fewest port accesses that tell whether the
// interrupt is the board's and acknowledge it.
#include <cstring>
#include <memory>

#include "driver_fixture.h"
#include "user_mode.h"

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

class HotPathTest : public DriverTest {
 protected:
  // A started board whose DI sources are on, and a program that has the
  // device open with an event for each of the nine event numbers.
  void Bring(uint32_t model) {
    StartedDevice(model);
    driver_->MajorFunction[IRP_MJ_DEVICE_CONTROL] = CountingDeviceControl;
    program_ = std::make_unique<hostk::user::Process>("program");
    scope_ = std::make_unique<hostk::user::ProcessScope>(*program_);
    ASSERT_EQ(hostk::user::OpenFile(DevicePath(), GENERIC_READ | GENERIC_WRITE, &file_), STATUS_SUCCESS);
    const bool two = model == 22 || model == 24;
    Write(model == 22 ? 4 : 2, 0xFF);
    if (two) Write(model == 22 ? 5 : 10, 0xFF);
    DIO_EVENT_REQUEST request;
    memset(&request, 0, sizeof request);
    request.HandleCount = DIO_EVENT_COUNT;
    for (auto &handle : request.Handles) {
      events_.push_back(hostk::user::CreateEvent(true, false));
      handle = ULONG64(reinterpret_cast<uintptr_t>(events_.back()));
    }
    ASSERT_EQ(DeviceIoControl(file_, IOCTL_DIO_ENABLE_EVENT, &request, sizeof request, &request,
                              sizeof request).status,
              STATUS_SUCCESS);
  }
  void Write(ULONG offset, UCHAR value) {
    DIO_PORT_IO request = {offset, {value}};
    EXPECT_EQ(DeviceIoControl(file_, IOCTL_DIO_WRITE_PORT_UCHAR, &request, 5, nullptr, 0).status,
              STATUS_SUCCESS);
  }
  void TearDown() override {
    events_.clear();
    scope_.reset();
    program_.reset();
    DriverTest::TearDown();
  }

  std::unique_ptr<hostk::user::Process> program_;
  std::unique_ptr<hostk::user::ProcessScope> scope_;
  HANDLE file_ = nullptr;
  std::vector<HANDLE> events_;  // for event numbers 0 to 8
};

TEST_F(HotPathTest, PortRequestsTheServiceRoutineAndTheDpcTakeNoPool) {
  for (uint32_t model : {0u, 22u, 24u}) {
    SCOPED_TRACE("model " + std::to_string(model));
    FreshRow();
    Bring(model);
    gDispatchAllocations = 0;
    const std::pair<ULONG, ULONG> requests[] = {  // code, input length
        {IOCTL_DIO_READ_PORT_UCHAR, 4},  {IOCTL_DIO_READ_PORT_USHORT, 4},  {IOCTL_DIO_READ_PORT_ULONG, 4},
        {IOCTL_DIO_WRITE_PORT_UCHAR, 5}, {IOCTL_DIO_WRITE_PORT_USHORT, 6}, {IOCTL_DIO_WRITE_PORT_ULONG, 8}};
    for (auto [code, inLength] : requests) {
      DIO_PORT_IO request = {24, {0}};  // a port no layout has a register at
      ASSERT_EQ(DeviceIoControl(file_, code, &request, inLength, &request, 4).status, STATUS_SUCCESS);
    }
    EXPECT_EQ(gDispatchAllocations, 0u) << "allocations in the port requests";

    // The interrupt of a DI line: the service routine, then the DPC that
    // signals the events.
    const uint64_t before = hostk::Pool().attempts;
    board_->PulseDiLine(0);
    EXPECT_EQ(hostk::Pool().attempts - before, 0u) << "allocations from the interrupt to its events";
    EXPECT_TRUE(hostk::user::IsSignalled(events_[0]));
  }
}

std::vector<std::string> Accesses(const std::vector<hostk::PortAccess> &accesses) {
  std::vector<std::string> out;
  for (const auto &a : accesses) out.push_back(hostk::Describe(a));
  return out;
}

TEST_F(HotPathTest, TheServiceRoutineMakesTheFewestPortAccesses) {
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
    Bring(c.model);
    hostk::ClearPortTrace();
    board_->PulseDiLine(0);
    EXPECT_EQ(Accesses(hostk::PortTrace()), Accesses(c.ours));
    hostk::ClearPortTrace();
    EXPECT_FALSE(hostk::RaiseInterrupt(kTranslatedVector));
    EXPECT_EQ(Accesses(hostk::PortTrace()), Accesses(c.notOurs));
  }
}

}  // namespace
}  // namespace diotest
