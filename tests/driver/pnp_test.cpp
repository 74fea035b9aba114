// Plug and Play through the stand-in PnP manager: every state the device
// goes through, and the drain of requests that stop and removal wait for.
#include <thread>

#include "driver_fixture.h"
#include "user_mode.h"

namespace diotest {
namespace {

const std::string kService0 = std::string(kServiceKey) + "\\Device000";
const std::string kMap0 = std::string(kDeviceMapKey) + "\\Device000";
const std::string kMapEntry = std::string(kDeviceMapKey) + "\\MapEntry";

class PnpTest : public DriverTest {
 protected:
  // The state of the device as the PnP state table names it.
  std::string State(PDEVICE_OBJECT device) {
    PDEVICE_EXTENSION x = Extension(device);
    return std::string(x->Started ? "started" : "not started") +
           (x->HoldRequests ? ", held" : "");
  }
  bool InterfaceOn() { return hostk::Interfaces().at(0).enabled; }
  size_t BusSaw(UCHAR minor) {
    size_t n = 0;
    for (const auto &r : hostk::BusRequests()) n += r.major == IRP_MJ_PNP && r.minor == minor;
    return n;
  }
};

TEST_F(PnpTest, StartRunsTheStartUpAfterTheLowerDrivers) {
  Load(24);
  AttachBoard();
  PDEVICE_OBJECT device = Add();
  EXPECT_EQ(State(device), "not started, held");
  StartResources resources = BoardResources();
  hostk::IrpResult result = Start(Pdo(), resources);
  EXPECT_EQ(result.ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(result.ioStatus.Information, 0u);
  EXPECT_EQ(BusSaw(IRP_MN_START_DEVICE), 1u);
  EXPECT_EQ(State(device), "started");
  EXPECT_TRUE(InterfaceOn());
  EXPECT_EQ(StoredDword(kService0, "BaseAddress"), kRegisterBase);
}

TEST_F(PnpTest, AStartTheLowerDriversRefuseLeavesTheBoardAlone) {
  Load(24);
  AttachBoard();
  PDEVICE_OBJECT device = Add();
  hostk::SetBusReply(Pdo(), IRP_MJ_PNP, IRP_MN_START_DEVICE, {STATUS_UNSUCCESSFUL, 0x1234, false});
  StartResources resources = BoardResources();
  hostk::IrpResult result = Start(Pdo(), resources);
  EXPECT_EQ(result.ioStatus.Status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(result.ioStatus.Information, 0x1234u);
  EXPECT_EQ(State(device), "not started, held");
  EXPECT_TRUE(hostk::PortTrace().empty());
  EXPECT_EQ(hostreg::Find(kService0), nullptr);
}

TEST_F(PnpTest, AStartPendedByTheBusIsWaitedFor) {
  Load(24);
  AttachBoard();
  PDEVICE_OBJECT device = Add();
  hostk::SetBusReply(Pdo(), IRP_MJ_PNP, IRP_MN_START_DEVICE, {STATUS_SUCCESS, 0, true});
  StartResources resources = BoardResources();
  hostk::IrpResult result;
  std::thread pnp([&] { result = Start(Pdo(), resources); });
  hostk::WaitForHeldRequests(1);
  EXPECT_EQ(State(device), "not started, held") << "the start-up waits for the lower drivers";
  hostk::CompleteHeldRequests(DISPATCH_LEVEL);
  pnp.join();
  EXPECT_EQ(result.returned, STATUS_SUCCESS);
  EXPECT_EQ(State(device), "started");
}

TEST_F(PnpTest, AFailedStartUpKeepsTheDeviceHeld) {
  Load(24);
  AttachBoard();
  PDEVICE_OBJECT device = Add();
  StartResources resources =
      SameResources({hostk::PortResource(kRegisterBase, 32), hostk::OtherResource(CmResourceTypeDma)});
  EXPECT_EQ(Start(Pdo(), resources).ioStatus.Status, STATUS_DEVICE_CONFIGURATION_ERROR);
  EXPECT_EQ(State(device), "not started, held");
  EXPECT_TRUE(InterfaceOn()) << "on since the device was added, and not changed";
}

TEST_F(PnpTest, AStartOfAStartedDeviceDoesNoWorkAgain) {
  PDEVICE_OBJECT device = StartedDevice(24);
  hostreg::DeleteValue(hostreg::Find(kService0), u"OnSystem");
  StartResources resources = BoardResources();
  EXPECT_EQ(Start(Pdo(), resources).ioStatus.Status, STATUS_SUCCESS);
  EXPECT_TRUE(hostk::PortTrace().empty());
  EXPECT_FALSE(HasValue(kService0, "OnSystem")) << "no registry write";
  EXPECT_EQ(State(device), "started");
  EXPECT_TRUE(InterfaceOn());
}

TEST_F(PnpTest, QueriesHoldAndCancelsRelease) {
  PDEVICE_OBJECT device = StartedDevice(24);
  struct Step {
    UCHAR minor;
    LONG openCount;
    NTSTATUS status;
    const char *state;
    bool passedDown;
  };
  const Step steps[] = {
      {IRP_MN_QUERY_STOP_DEVICE, 1, STATUS_SUCCESS, "started, held", true},  // handles don't matter
      {IRP_MN_CANCEL_STOP_DEVICE, 1, STATUS_SUCCESS, "started", true},
      {IRP_MN_QUERY_REMOVE_DEVICE, 1, STATUS_UNSUCCESSFUL, "started", false},
      {IRP_MN_QUERY_REMOVE_DEVICE, 0, STATUS_SUCCESS, "started, held", true},
      {IRP_MN_CANCEL_REMOVE_DEVICE, 0, STATUS_SUCCESS, "started", true},
      {IRP_MN_CANCEL_STOP_DEVICE, 0, STATUS_SUCCESS, "started", true},  // in any state
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(int(step.minor));
    Extension(device)->OpenCount = step.openCount;
    size_t before = BusSaw(step.minor);
    EXPECT_EQ(hostk::SendPnp(Pdo(), step.minor).ioStatus.Status, step.status);
    EXPECT_EQ(State(device), step.state);
    EXPECT_EQ(BusSaw(step.minor) - before, step.passedDown ? 1u : 0u);
  }
  Extension(device)->OpenCount = 0;
}

// The lower drivers have the last word on a query the driver agreed to.
TEST_F(PnpTest, ALowerDriverCanStillRefuseAQuery) {
  PDEVICE_OBJECT device = StartedDevice(24);
  const std::pair<UCHAR, UCHAR> queries[] = {{IRP_MN_QUERY_STOP_DEVICE, IRP_MN_CANCEL_STOP_DEVICE},
                                              {IRP_MN_QUERY_REMOVE_DEVICE, IRP_MN_CANCEL_REMOVE_DEVICE}};
  for (const auto &[query, cancel] : queries) {
    SCOPED_TRACE(int(query));
    hostk::SetBusReply(Pdo(), IRP_MJ_PNP, query, {STATUS_UNSUCCESSFUL, 0, false});
    EXPECT_EQ(hostk::SendPnp(Pdo(), query).ioStatus.Status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(hostk::SendPnp(Pdo(), cancel).ioStatus.Status, STATUS_SUCCESS);
    EXPECT_EQ(State(device), "started");
  }
}

TEST_F(PnpTest, AnOpenHandleRefusesRemovalUntilItCloses) {
  PDEVICE_OBJECT device = StartedDevice(24);
  {
    hostk::user::Process program("program");
    hostk::user::ProcessScope scope(program);
    HANDLE file = nullptr;
    ASSERT_EQ(hostk::user::OpenFile(DevicePath(), GENERIC_READ, &file), STATUS_SUCCESS);
    EXPECT_EQ(hostk::SendPnp(Pdo(), IRP_MN_QUERY_REMOVE_DEVICE).ioStatus.Status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(BusSaw(IRP_MN_QUERY_REMOVE_DEVICE), 0u);
    EXPECT_EQ(State(device), "started");
  }  // the program ends: its handle closes
  EXPECT_EQ(hostk::SendPnp(Pdo(), IRP_MN_QUERY_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(BusSaw(IRP_MN_QUERY_REMOVE_DEVICE), 1u);
  EXPECT_EQ(State(device), "started, held");
}

TEST_F(PnpTest, StopReleasesTheHardwareAndARestartTakesItsOwnResources) {
  PDEVICE_OBJECT device = StartedDevice(0);
  EXPECT_EQ(hostk::SendPnp(Pdo(), IRP_MN_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(State(device), "not started, held");
  EXPECT_TRUE(hostk::PortTrace().empty()) << "no port is written on stop";
  EXPECT_TRUE(InterfaceOn()) << "a stop leaves the interface on";

  // The board comes back at another range.
  board_ = std::make_unique<hostboard::SimBoard>(hostboard::General, 0x300);
  board_->Attach();
  StartResources moved = SameResources({hostk::PortResource(0x300, 16), hostk::InterruptResource(5, 5)});
  EXPECT_EQ(Start(Pdo(), moved).ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(State(device), "started");
  EXPECT_EQ(Extension(device)->BaseAddress, 0x300u);
  EXPECT_EQ(Extension(device)->PortCount, 16u);
  EXPECT_EQ(StoredDword(kService0, "BaseAddress"), 0x300u) << "the start-up rewrote the registry";
  EXPECT_EQ(StoredDword(kService0, "Interrupt"), 5u);
  EXPECT_EQ(hostk::PortTrace().back().port, 0x302) << "the reset went to the new block";
}

TEST_F(PnpTest, StopOfANeverStartedDeviceOnlyHoldsIt) {
  Load(24);
  PDEVICE_OBJECT device = Add();
  Extension(device)->HoldRequests = 0;
  EXPECT_EQ(hostk::SendPnp(Pdo(), IRP_MN_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(State(device), "not started, held");
  EXPECT_EQ(BusSaw(IRP_MN_STOP_DEVICE), 1u);
  EXPECT_EQ(Extension(device)->OutstandingIo, 1) << "the count is back to the bias";
}

TEST_F(PnpTest, SurpriseRemovalThenRemoval) {
  PDEVICE_OBJECT device = StartedDevice(24);
  EXPECT_EQ(hostk::SendPnp(Pdo(), IRP_MN_SURPRISE_REMOVAL).ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(State(device), "not started, held");
  EXPECT_FALSE(InterfaceOn());
  EXPECT_NE(hostreg::Find(kService0), nullptr) << "the subkeys go at the removal";

  EXPECT_EQ(hostk::SendPnp(Pdo(), IRP_MN_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(Pdo()->AttachedDevice, nullptr);
  EXPECT_TRUE(hostk::DevicesOf(driver_).empty());
  EXPECT_EQ(hostreg::Find(kService0), nullptr);
  EXPECT_EQ(hostreg::Find(kMap0), nullptr);
  EXPECT_TRUE(HasValue(kMapEntry, "0")) << "the map value stays";
  EXPECT_TRUE(hostk::ShutdownRegistrations().empty());
}

TEST_F(PnpTest, RemovalAlwaysTakesTheDeviceAway) {
  struct Case {
    const char *what;
    bool start;
    std::function<void(PDEVICE_OBJECT pdo)> before;
    NTSTATUS status;
    bool mapSubkeyLeft;
  };
  const Case cases[] = {
      {"subkeys never written", false, [](PDEVICE_OBJECT) {}, STATUS_SUCCESS, false},
      {"a subkey that cannot be deleted", true,
       [](PDEVICE_OBJECT) { hostreg::Make(kService0 + "\\Child"); }, STATUS_SUCCESS, false},
      {"no pool", true, [](PDEVICE_OBJECT) { hostk::FailAllocationsFrom(2); }, STATUS_SUCCESS,
       true},
      {"a lower driver refusing it", true,
       [](PDEVICE_OBJECT pdo) {
         hostk::SetBusReply(pdo, IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE, {STATUS_UNSUCCESSFUL, 0, false});
       },
       STATUS_UNSUCCESSFUL, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    FreshRow();
    if (c.start) {
      StartedDevice(24);
    } else {
      Load(24);
      Add();
    }
    c.before(Pdo());
    hostk::IrpResult result = hostk::SendPnp(Pdo(), IRP_MN_REMOVE_DEVICE);
    hostk::FailAllocationsFrom(0);
    EXPECT_EQ(result.ioStatus.Status, c.status);
    EXPECT_EQ(Pdo()->AttachedDevice, nullptr);
    EXPECT_TRUE(hostk::DevicesOf(driver_).empty());
    EXPECT_FALSE(hostk::Interfaces().at(0).enabled);
    EXPECT_EQ(hostreg::Find(kMap0) != nullptr, c.mapSubkeyLeft);
  }
}

TEST_F(PnpTest, CapabilitiesCarryTheLowerDriversOutcome) {
  StartedDevice(24);
  DEVICE_CAPABILITIES caps = {};
  caps.Size = sizeof caps;
  caps.Version = 1;
  auto query = [&caps](PIRP, PIO_STACK_LOCATION location) {
    location->Parameters.DeviceCapabilities.Capabilities = &caps;
  };
  hostk::IrpResult ok = hostk::SendPnp(Pdo(), IRP_MN_QUERY_CAPABILITIES, query);
  EXPECT_EQ(ok.ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(caps.Address, 0x00030000u) << "filled by the bus, not changed on the way up";

  hostk::SetBusReply(Pdo(), IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES, {STATUS_NOT_SUPPORTED, 7, true});
  hostk::IrpResult refused;
  std::thread pnp([&] { refused = hostk::SendPnp(Pdo(), IRP_MN_QUERY_CAPABILITIES, query); });
  hostk::WaitForHeldRequests(1);
  hostk::CompleteHeldRequests();
  pnp.join();
  EXPECT_EQ(refused.returned, STATUS_NOT_SUPPORTED);
  EXPECT_EQ(refused.ioStatus.Information, 7u);
}

TEST_F(PnpTest, OtherRequestsGoDownUntouched) {
  StartedDevice(24);
  hostk::IrpResult result = hostk::SendPnp(Pdo(), IRP_MN_QUERY_PNP_DEVICE_STATE);
  EXPECT_EQ(result.ioStatus.Status, STATUS_NOT_SUPPORTED);
  EXPECT_EQ(BusSaw(IRP_MN_QUERY_PNP_DEVICE_STATE), 1u);
}

// A power request held inside the driver keeps a stop waiting; requests that
// arrive meanwhile are refused (Plug and Play) or passed down uncounted
// (power), and the stop finishes once the held one leaves.
TEST_F(PnpTest, StopWaitsForAPowerRequestInsideTheDriver) {
  PDEVICE_OBJECT device = StartedDevice(24);
  PDEVICE_EXTENSION x = Extension(device);
  // The sleep request waits inside the driver for its D3 request, which the
  // bus holds.
  hostk::SetBusReply(Pdo(), IRP_MJ_POWER, IRP_MN_SET_POWER, {STATUS_SUCCESS, 0, true});
  std::thread sleeper([&] {
    hostk::SendSetPower(Pdo(), SystemPowerState, hostk::SystemState(PowerSystemSleeping3));
  });
  hostk::WaitForHeldRequests(1);
  hostk::WaitForBlockedThreads(1);
  EXPECT_EQ(x->OutstandingIo, 2) << "the bias and the sleep request waiting for its D3 request";

  std::thread stopper([&] { hostk::SendPnp(Pdo(), IRP_MN_STOP_DEVICE); });
  hostk::WaitForBlockedThreads(2);
  EXPECT_EQ(State(device), "started, held") << "draining";

  EXPECT_EQ(hostk::SendPnp(Pdo(), IRP_MN_QUERY_PNP_DEVICE_STATE).ioStatus.Status,
            STATUS_DELETE_PENDING);
  hostk::SetBusReply(Pdo(), IRP_MJ_POWER, IRP_MN_QUERY_POWER, {STATUS_SUCCESS, 0, false});
  EXPECT_EQ(hostk::SendPower(Pdo(), IRP_MN_QUERY_POWER, SystemPowerState,
                             hostk::SystemState(PowerSystemWorking))
                .ioStatus.Status,
            STATUS_SUCCESS);

  hostk::SetBusReply(Pdo(), IRP_MJ_POWER, IRP_MN_SET_POWER, {STATUS_SUCCESS, 0, false});
  hostk::CompleteHeldRequests();
  sleeper.join();
  stopper.join();
  EXPECT_EQ(State(device), "not started, held");
  EXPECT_EQ(x->Removing, 0u);
  EXPECT_EQ(x->OutstandingIo, 1);
}

}  // namespace
}  // namespace diotest
