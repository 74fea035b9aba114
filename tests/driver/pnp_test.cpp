// Plug and Play: the device's states, and the drain that stop and removal wait for.
#include <thread>

#include "event_program.h"

namespace diotest {
namespace {

class PnpTest : public DriverTest {
 protected:
  // The device as a new program finds it: "started" when it reads a port,
  // "not started" when the I/O manager refuses the open of a stack that did
  // not start, or the driver the read, "closed" when the device takes no new
  // handle.
  std::string State() {
    Program program("prober");
    HANDLE file = nullptr;
    NTSTATUS opened = hostk::user::OpenFile(InterfacePath(), GENERIC_READ, &file);
    if (opened == STATUS_NO_SUCH_DEVICE) return "not started";
    if (opened == STATUS_DELETE_PENDING) return "closed";
    UCHAR value = 0;
    NTSTATUS status = PortByte(file, IOCTL_DIO_READ_PORT_UCHAR, 0, &value);
    return status == STATUS_SUCCESS               ? "started"
           : status == STATUS_INVALID_DEVICE_STATE ? "not started"
                                                   : "read " + testing::PrintToString(status);
  }
  bool InterfaceOn() { return hostk::Interfaces().at(0).enabled; }
  size_t BusSaw(UCHAR minor) {
    size_t n = 0;
    for (const auto &r : hostk::BusRequests()) n += r.major == IRP_MJ_PNP && r.minor == minor;
    return n;
  }
};

// The start-up runs once, after the lower drivers started the device; a start
// they refuse, or a failed start-up, leaves the device held.
TEST_F(PnpTest, AStartRunsTheStartUpOnceAfterTheLowerDrivers) {
  const struct Case {
    const char *what;
    hostk::BusReply reply;
    bool badResources, again;
    NTSTATUS status;
    ULONG_PTR information;
    const char *state;
  } cases[] = {
      {"started", {}, false, false, STATUS_SUCCESS, 0, "started"},
      {"pended by the bus", {STATUS_SUCCESS, 0, true}, false, false, STATUS_SUCCESS, 0, "started"},
      {"refused by the lower drivers", {STATUS_UNSUCCESSFUL, 0x1234, false}, false, false, STATUS_UNSUCCESSFUL,
       0x1234, "not started"},
      {"a failed start-up", {}, true, false, STATUS_DEVICE_CONFIGURATION_ERROR, 0, "not started"},
      {"a start of a started device", {}, false, true, STATUS_SUCCESS, 0, "started"},
  };
  for (const Case &c : cases) {
    const auto row = FreshRow(c.what);
    c.again ? StartedDevice(24) : AddedDevice(24);
    if (c.again) hostreg::DeleteValue(hostreg::Find(kService0), u"OnSystem");
    if (c.reply.hold || c.reply.status != STATUS_SUCCESS) hostk::SetBusReply(Pdo(), IRP_MJ_PNP, IRP_MN_START_DEVICE, c.reply);
    hostk::ClearPortTrace();
    const StartResources resources =
        c.badResources ? SameResources({hostk::PortResource(kRegisterBase, 32), hostk::OtherResource(CmResourceTypeDma)})
                       : BoardResources();
    hostk::IrpResult result;
    std::thread pnp([&] { result = StartWith(resources); });
    if (c.reply.hold) {
      hostk::WaitForHeldRequests(1);
      EXPECT_EQ(State(), "not started") << "the start-up waits for the lower drivers";
      hostk::CompleteHeldRequests(DISPATCH_LEVEL);
    }
    pnp.join();
    EXPECT_EQ(result.returned, c.status);
    EXPECT_EQ(result.ioStatus.Status, c.status);
    EXPECT_EQ(result.ioStatus.Information, c.information);
    EXPECT_EQ(BusSaw(IRP_MN_START_DEVICE), c.again ? 2u : 1u);
    EXPECT_TRUE(InterfaceOn()) << "on since the device was added, and not changed";
    const bool startUp = NT_SUCCESS(c.status) && !c.again;
    EXPECT_EQ(!hostk::PortTrace().empty(), startUp);
    EXPECT_EQ(HasValue(kService0, "OnSystem"), startUp) << "registry written";
    EXPECT_EQ(State(), c.state);
  }
}

// A query holds the device and its cancel releases it; the lower drivers have
// the last word, and an open handle refuses a removal.
TEST_F(PnpTest, QueriesHoldAndCancelsRelease) {
  StartedDevice(24);
  // A code the bus is made to refuse stays refused.
  const struct Step {
    UCHAR minor;
    bool handle, busRefuses;
    NTSTATUS status;
    const char *state;  // none: as the lower drivers left it
    bool passedDown;
  } steps[] = {
      {IRP_MN_QUERY_STOP_DEVICE, true, false, STATUS_SUCCESS, "started", true},  // handles don't matter
      {IRP_MN_CANCEL_STOP_DEVICE, true, false, STATUS_SUCCESS, "started", true},
      {IRP_MN_QUERY_REMOVE_DEVICE, true, false, STATUS_UNSUCCESSFUL, "started", false},
      {IRP_MN_QUERY_REMOVE_DEVICE, false, false, STATUS_SUCCESS, "closed", true},
      {IRP_MN_START_DEVICE, false, false, STATUS_INVALID_DEVICE_STATE, "closed", true},  // not while removal is pending
      {IRP_MN_CANCEL_REMOVE_DEVICE, false, false, STATUS_SUCCESS, "started", true},
      {IRP_MN_CANCEL_STOP_DEVICE, false, false, STATUS_SUCCESS, "started", true},  // in any state
      {IRP_MN_QUERY_STOP_DEVICE, false, true, STATUS_UNSUCCESSFUL, nullptr, true},
      {IRP_MN_CANCEL_STOP_DEVICE, false, false, STATUS_SUCCESS, "started", true},
      {IRP_MN_QUERY_REMOVE_DEVICE, false, true, STATUS_UNSUCCESSFUL, nullptr, true},
      {IRP_MN_CANCEL_REMOVE_DEVICE, false, false, STATUS_SUCCESS, "started", true},
  };
  std::unique_ptr<Program> program;
  for (const Step &step : steps) {
    SCOPED_TRACE(testing::Message() << int(step.minor) << (step.handle ? " with a handle open" : "")
                                    << (step.busRefuses ? ", refused below" : ""));
    if (step.handle && !program) {
      program = std::make_unique<Program>();
      program->Open(GENERIC_READ);
    }
    if (!step.handle) program.reset();  // the program ends: its handle closes
    if (step.busRefuses) hostk::SetBusReply(Pdo(), IRP_MJ_PNP, step.minor, {STATUS_UNSUCCESSFUL, 0, false});
    size_t before = BusSaw(step.minor);
    EXPECT_EQ(Pnp(step.minor).ioStatus.Status, step.status);
    if (step.state) {
      EXPECT_EQ(State(), step.state);
    }
    EXPECT_EQ(BusSaw(step.minor) - before, step.passedDown ? 1u : 0u);
  }
  ASSERT_EQ(hostk::DebugMessages().size(), 1u);
  EXPECT_EQ(hostk::DebugMessages()[0].text, "TesZEPDIO: start refused in state 4\n") << "the refusal traced";
}

// The values of the board's record that a start did not write exactly
// `times` times in all.
std::vector<std::string> NotWritten(uint32_t times) {
  std::vector<std::string> others;
  std::lock_guard<std::recursive_mutex> hold(hostreg::Lock());
  for (const std::string &path : {kService0, kMap0, kMapEntry}) {
    hostreg::KeyRef key = hostreg::Find(path);
    if (!key) others.push_back(path + " missing");
    for (const hostreg::Value &v : key ? key->values : std::vector<hostreg::Value>{})
      if (v.writes != times) others.push_back(hostreg::ToUtf8(v.name) + " " + std::to_string(v.writes) + " times");
  }
  return others;
}

// A stop writes no port, and is a stop even while a removal is pending: the
// bus takes the ports back whatever the driver says. Stopped, the device's
// sleep touches none of them. The restart, at another range, records the
// board again, each value of the record written once by each start.
TEST_F(PnpTest, StopReleasesTheHardwareAndARestartTakesItsOwnResources) {
  StartedDevice(21);
  EXPECT_EQ(NotWritten(1), std::vector<std::string>{});
  for (UCHAR minor : {IRP_MN_QUERY_REMOVE_DEVICE, IRP_MN_STOP_DEVICE, IRP_MN_CANCEL_REMOVE_DEVICE})
    EXPECT_EQ(Pnp(minor).ioStatus.Status, STATUS_SUCCESS);
  for (const hostk::PortAccess &a : hostk::PortTrace()) EXPECT_FALSE(a.write) << "no port is written on stop";
  EXPECT_TRUE(InterfaceOn()) << "a stop leaves the interface on";
  for (SYSTEM_POWER_STATE state : {PowerSystemSleeping3, PowerSystemWorking}) {
    hostk::SendSetPower(Pdo(), SystemPowerState, hostk::SystemState(state));
    hostk::DrainPowerWork();
  }

  // The board comes back at another range.
  board_ = std::make_unique<hostboard::SimBoard>(hostboard::General, 0x300);
  board_->Attach();
  EXPECT_EQ(StartWith(SameResources({hostk::PortResource(0x300, 16), hostk::InterruptResource(5, 5)})).ioStatus.Status,
            STATUS_SUCCESS);
  EXPECT_EQ(StoredDword(kService0, "BaseAddress"), 0x300u) << "the start-up rewrote the registry";
  EXPECT_EQ(StoredDword(kService0, "Interrupt"), 5u);
  EXPECT_EQ(hostk::PortTrace().back().port, 0x302) << "the reset went to the new block";
  EXPECT_EQ(State(), "started");
  EXPECT_EQ(NotWritten(2), std::vector<std::string>{});
}

// An open reaching the driver after a surprise removal is refused: the handle
// would outlive its device.
TEST_F(PnpTest, AnOpenThatMeetsASurpriseRemovalIsRefused) {
  StartedDevice(24);
  Program program;
  hostk::AtNextEntry("NtCreateFile", [this] { hostk::SurpriseRemove(Pdo()); });
  program.Open(GENERIC_READ, STATUS_DELETE_PENDING);
  EXPECT_EQ(Pdo()->AttachedDevice, nullptr) << "removed: no handle held it";
}

// The removal takes the device, its interface and its subkeys away, whatever
// stands in its way; the device map's value stays. A stop of a device that
// never started changes nothing: port requests are refused, not held.
TEST_F(PnpTest, RemovalAlwaysTakesTheDeviceAway) {
  const struct Case {
    const char *what;
    bool start;
    std::function<void()> before;
    NTSTATUS status;
    bool serviceSubkeyLeft, mapSubkeyLeft;
  } cases[] = {
      {"never started, then stopped", false,
       [this] {
         EXPECT_EQ(Pnp(IRP_MN_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
         EXPECT_EQ(BusSaw(IRP_MN_STOP_DEVICE), 1u);
         EXPECT_EQ(State(), "not started");
       },
       STATUS_SUCCESS, false, false},
      {"a subkey that cannot be deleted", true, [] { hostreg::Make(kService0 + "\\Child"); }, STATUS_SUCCESS,
       true, false},
      {"no pool", true, [] { hostk::FailAllocationsFrom(2); }, STATUS_SUCCESS, true, true},
      {"a lower driver refusing it", true,
       [this] { hostk::SetBusReply(Pdo(), IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE, {STATUS_UNSUCCESSFUL, 0, false}); },
       STATUS_UNSUCCESSFUL, false, false},
      {"a surprise removal before", true,
       [this] {
         EXPECT_EQ(Pnp(IRP_MN_SURPRISE_REMOVAL).ioStatus.Status, STATUS_SUCCESS);
         EXPECT_FALSE(InterfaceOn());
         EXPECT_NE(hostreg::Find(kService0), nullptr) << "the subkeys go at the removal";
       },
       STATUS_SUCCESS, false, false},
  };
  for (const Case &c : cases) {
    const auto row = FreshRow(c.what);
    c.start ? StartedDevice(24) : AddedDevice(24);
    c.before();
    hostk::IrpResult result = Pnp(IRP_MN_REMOVE_DEVICE);
    hostk::FailAllocationsFrom(0);
    EXPECT_EQ(result.ioStatus.Status, c.status);
    EXPECT_EQ(Pdo()->AttachedDevice, nullptr);
    EXPECT_FALSE(InterfaceOn());
    EXPECT_EQ(hostreg::Find(kService0) != nullptr, c.serviceSubkeyLeft);
    EXPECT_EQ(hostreg::Find(kMap0) != nullptr, c.mapSubkeyLeft);
    EXPECT_EQ(HasValue(kMapEntry, "0"), c.start) << "the map value stays";
  }
}

TEST_F(PnpTest, CapabilitiesAndOtherRequestsCarryTheLowerDriversOutcome) {
  StartedDevice(24);
  DEVICE_CAPABILITIES caps = {};
  caps.Size = sizeof caps;
  caps.Version = 1;
  auto query = [&caps](PIRP, PIO_STACK_LOCATION location) {
    location->Parameters.DeviceCapabilities.Capabilities = &caps;
  };
  EXPECT_EQ(hostk::SendPnp(Pdo(), IRP_MN_QUERY_CAPABILITIES, query).ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(caps.Address, 0x00030000u) << "filled by the bus, not changed on the way up";

  hostk::SetBusReply(Pdo(), IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES, {STATUS_NOT_SUPPORTED, 7, true});
  hostk::IrpResult refused;
  std::thread pnp([&] { refused = hostk::SendPnp(Pdo(), IRP_MN_QUERY_CAPABILITIES, query); });
  hostk::WaitForHeldRequests(1);
  hostk::CompleteHeldRequests();
  pnp.join();
  EXPECT_EQ(refused.returned, STATUS_NOT_SUPPORTED);
  EXPECT_EQ(refused.ioStatus.Information, 7u);

  EXPECT_EQ(Pnp(IRP_MN_QUERY_PNP_DEVICE_STATE).ioStatus.Status, STATUS_NOT_SUPPORTED);
  EXPECT_EQ(BusSaw(IRP_MN_QUERY_PNP_DEVICE_STATE), 1u);
}

// A power request held inside the driver keeps a stop waiting; meanwhile Plug
// and Play requests are refused and power requests passed down uncounted.
TEST_F(PnpTest, StopWaitsForAPowerRequestInsideTheDriver) {
  StartedDevice(24);
  // The sleep request waits inside the driver for its D3 request, held below.
  hostk::SetBusReply(Pdo(), IRP_MJ_POWER, IRP_MN_SET_POWER, {STATUS_SUCCESS, 0, true});
  std::thread sleeper([&] { hostk::SendSetPower(Pdo(), SystemPowerState, hostk::SystemState(PowerSystemSleeping3)); });
  hostk::WaitForHeldRequests(1);
  hostk::WaitForBlockedThreads(1);

  // The stop drains: it waits while the sleep request is inside the driver.
  std::thread stopper([&] { Pnp(IRP_MN_STOP_DEVICE); });
  hostk::WaitForBlockedThreads(2);

  // A request sent past the PnP manager while the stop drains is refused.
  EXPECT_EQ(hostk::SendIrp(IoGetAttachedDevice(Pdo()), IRP_MJ_PNP, IRP_MN_QUERY_PNP_DEVICE_STATE).ioStatus.Status,
            STATUS_DELETE_PENDING);
  hostk::SetBusReply(Pdo(), IRP_MJ_POWER, IRP_MN_QUERY_POWER, {STATUS_SUCCESS, 0, false});
  hostk::IrpResult query =
      hostk::SendPower(Pdo(), IRP_MN_QUERY_POWER, SystemPowerState, hostk::SystemState(PowerSystemWorking));
  EXPECT_EQ(query.ioStatus.Status, STATUS_SUCCESS);

  hostk::SetBusReply(Pdo(), IRP_MJ_POWER, IRP_MN_SET_POWER, {STATUS_SUCCESS, 0, false});
  hostk::CompleteHeldRequests();
  sleeper.join();
  stopper.join();
}

}  // namespace
}  // namespace diotest
