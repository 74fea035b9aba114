// Power: a PCI board follows the system into sleep (D3) and back (D0); other
// requests, and all of them on other boards, go down untouched.
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include "event_program.h"

namespace diotest {
namespace {

constexpr NTSTATUS kRefused = STATUS_INVALID_DEVICE_STATE;
using Strings = std::vector<std::string>;

// "S3", "D0": the names of the platform's power state numbers.
std::string StateName(POWER_STATE_TYPE type, ULONG state) {
  std::string letter = type == SystemPowerState ? "S" : type == DevicePowerState ? "D" : "?";
  return state == 0 ? letter + "-unspecified" : letter + std::to_string(state - 1);
}

std::string MinorName(UCHAR minor) {
  return minor == IRP_MN_SET_POWER ? "set " : minor == IRP_MN_QUERY_POWER ? "query " : "other ";
}

std::string Hex(NTSTATUS status) {
  char text[16];
  snprintf(text, sizeof text, "%08X", unsigned(status));
  return text;
}

class PowerTest : public EventProgramTest {
 protected:
  static constexpr UCHAR kDo = 0x5A;

  // A fresh machine with a board of `model`, started unless told otherwise.
  bool Begin(uint32_t model, bool start = true) {
    FreshRow();
    if (!start) Load(model);
    device_ = start ? StartedDevice(model) : Add();
    Mark();
    return device_ != nullptr;
  }
  // What the bus and the power manager saw before this is ignored.
  void Mark() {
    busMark_ = hostk::BusRequests().size();
    requestMark_ = hostk::PowerRequests().size();
  }

  hostk::IrpResult Send(POWER_STATE_TYPE type, ULONG state, UCHAR minor = IRP_MN_SET_POWER) {
    POWER_STATE power;
    power.SystemState = SYSTEM_POWER_STATE(state);
    return hostk::SendPower(Pdo(), minor, type, power);
  }
  std::function<hostk::IrpResult()> Sending(POWER_STATE_TYPE type, ULONG state) {
    return [this, type, state] { return Send(type, state); };
  }

  // Sends with `send` while the bus holds the first set-power request to
  // reach it (answering it with `first`): runs `whileHeld`, makes the bus
  // answer later requests with `then`, and completes the held one at `irql`.
  hostk::IrpResult SendHeld(const std::function<hostk::IrpResult()> &send, KIRQL irql, const hostk::BusReply &then,
                            const std::function<void()> &whileHeld = {},
                            const hostk::BusReply &first = {STATUS_SUCCESS, 0, true}) {
    hostk::SetBusReply(Pdo(), IRP_MJ_POWER, IRP_MN_SET_POWER, first);
    hostk::IrpResult result;
    std::thread sender([&] { result = send(); });
    hostk::WaitForHeldRequests(1);
    if (whileHeld) whileHeld();
    hostk::SetBusReply(Pdo(), IRP_MJ_POWER, IRP_MN_SET_POWER, then);
    hostk::CompleteHeldRequests(irql);
    sender.join();
    return result;
  }

  // The power requests that reached the bus, as "set D3" (Parameters.Power
  // overlays the Parameters.Others the bus records).
  std::vector<std::string> BusSaw() const {
    std::vector<std::string> seen;
    std::vector<hostk::BusRequest> all = hostk::BusRequests();
    for (size_t i = busMark_; i < all.size(); ++i) {
      if (all[i].major != IRP_MJ_POWER) continue;
      const auto *bytes = reinterpret_cast<const uint8_t *>(all[i].arguments);
      constexpr size_t base = offsetof(IO_STACK_LOCATION, Parameters.Others.Argument1);
      ULONG type = 0, state = 0;
      memcpy(&type, bytes + offsetof(IO_STACK_LOCATION, Parameters.Power.Type) - base, 4);
      memcpy(&state, bytes + offsetof(IO_STACK_LOCATION, Parameters.Power.State) - base, 4);
      std::string text = MinorName(all[i].minor) + StateName(POWER_STATE_TYPE(type), state);
      seen.push_back(all[i].pdo == Pdo() ? text : text + " on another device");
    }
    return seen;
  }

  // The power requests the driver made, as "set D0 -> 00000000" (their
  // status, 00000103 while in flight).
  std::vector<std::string> Requested() const {
    std::vector<std::string> made;
    std::vector<hostk::PowerRequestRecord> all = hostk::PowerRequests();
    for (size_t i = requestMark_; i < all.size(); ++i) {
      std::string text = MinorName(all[i].minor) + StateName(DevicePowerState, all[i].state.DeviceState);
      text += " -> " + Hex(all[i].status);
      made.push_back(all[i].device == Pdo() ? text : text + " for another device");
    }
    return made;
  }

  // The state reported once the power-up work has run. A request left
  // counted would keep the removal at the row's end waiting.
  void ExpectState(DEVICE_POWER_STATE state) const {
    hostk::DrainPowerWork();
    EXPECT_EQ(hostk::ReportedPowerState(device_), state);
  }

  // A request and what came of it: what the bus saw, the requests the
  // driver made and the state it ended in.
  void ExpectSent(POWER_STATE_TYPE type, ULONG state, const Strings &bus, const Strings &requested,
                  DEVICE_POWER_STATE after, NTSTATUS status = STATUS_SUCCESS, UCHAR minor = IRP_MN_SET_POWER) {
    Mark();
    EXPECT_EQ(Send(type, state, minor).ioStatus.Status, status);
    EXPECT_EQ(BusSaw(), bus);
    EXPECT_EQ(Requested(), requested);
    ExpectState(after);
  }
  // The system wakes: its request goes down first, then the board's D0.
  void ExpectWake() {
    ExpectSent(SystemPowerState, PowerSystemWorking, {"set S0", "set D0"}, {"set D0 -> 00000000"}, PowerDeviceD0);
  }

  // A started board of `model` and a program that has switched every source
  // on, enabled nine events and written kDo to the DO register.
  void Use(uint32_t model) {
    events_ = Ready(model);
    WritePort(file_, BoardRegisterMap()->Do, kDo);
  }
  size_t busMark_ = 0, requestMark_ = 0;
  std::vector<HANDLE> events_;
};

// The system request comes back at DISPATCH_LEVEL, where nothing may wait:
// the D0 request is made without waiting and delivered on a worker thread.
TEST_F(PowerTest, AWakeCompletedAtDispatchLevelRequestsD0Afterwards) {
  const struct Case {
    const char *what;
    hostk::BusReply deviceReply;  // how the bus answers the D0 request
    DEVICE_POWER_STATE expected;
  } cases[] = {
      {"D0 answered at once", {STATUS_SUCCESS, 0, false}, PowerDeviceD0},
      {"D0 held, then completed at DISPATCH_LEVEL", {STATUS_SUCCESS, 0, true}, PowerDeviceD0},
      {"D0 refused: the board stays in D3", {kRefused, 0, false}, PowerDeviceD3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(Begin(24));
    Send(SystemPowerState, PowerSystemSleeping3);
    Mark();
    hostk::IrpResult wake = SendHeld(Sending(SystemPowerState, PowerSystemWorking), DISPATCH_LEVEL, c.deviceReply, [this] {
      EXPECT_EQ(BusSaw(), Strings{"set S0"});
      EXPECT_TRUE(Requested().empty()) << "no D0 before the system is back";
    });
    EXPECT_EQ(wake.returned, STATUS_PENDING);
    EXPECT_TRUE(wake.pendingReturned) << "the completion routine must keep the pending mark";
    EXPECT_EQ(wake.ioStatus.Status, STATUS_SUCCESS);
    hostk::DrainPowerWork();  // the worker has delivered the D0 request
    if (c.deviceReply.hold) {
      ASSERT_EQ(hostk::HeldRequestCount(), 1u);
      EXPECT_EQ(Requested(), Strings{"set D0 -> 00000103"});
      EXPECT_EQ(hostk::ReportedPowerState(device_), PowerDeviceD3) << "D0 not powered yet";
      hostk::CompleteHeldRequests(DISPATCH_LEVEL);
    }
    EXPECT_EQ(BusSaw(), (Strings{"set S0", "set D0"}));
    EXPECT_EQ(Requested(), Strings{"set D0 -> " + Hex(c.deviceReply.status)});
    ExpectState(c.expected);
  }
}

// Requests for no change, every request on a board that is not on the PCI
// bus, and every request while the device is not started or a stop or
// removal query holds it go down as they came, with the bus's answer. A
// refused power-up, of the system or the device, leaves the board in D3 with
// no D0 request. Released by the query's cancel, the board sleeps in D3.
TEST_F(PowerTest, RequestsThatChangeNothingArePassedDown) {
  constexpr UCHAR set = IRP_MN_SET_POWER, query = IRP_MN_QUERY_POWER;
  constexpr UCHAR stop = IRP_MN_QUERY_STOP_DEVICE, removal = IRP_MN_QUERY_REMOVE_DEVICE, unstarted = 0xFF;
  const struct Case {
    const char *what;
    uint32_t model;
    ULONG before;  // a device state reached first, or 0
    UCHAR minor;
    POWER_STATE_TYPE type;
    ULONG state;
    bool refused = false;  // the bus refuses set-power requests
    UCHAR held = 0;        // the query that holds the started board, or never started
  } cases[] = {
      {"working while in D0", 24, 0, set, SystemPowerState, PowerSystemWorking},
      {"unspecified while in D0", 24, 0, set, SystemPowerState, PowerSystemUnspecified},
      {"off while in D3", 24, PowerDeviceD3, set, SystemPowerState, PowerSystemShutdown},
      {"device D0 while in D0", 21, 0, set, DevicePowerState, PowerDeviceD0},
      {"sleep on model 20", 20, 0, set, SystemPowerState, PowerSystemSleeping3},
      {"device D3 on model 0", 0, 0, set, DevicePowerState, PowerDeviceD3},
      {"query working while in D3", 24, PowerDeviceD3, query, SystemPowerState, PowerSystemWorking},
      {"query D3", 24, 0, query, DevicePowerState, PowerDeviceD3},
      {"S0 refused", 24, PowerDeviceD3, set, SystemPowerState, PowerSystemWorking, true},
      {"D0 refused", 24, PowerDeviceD3, set, DevicePowerState, PowerDeviceD0, true},
      {"sleep, never started", 24, 0, set, SystemPowerState, PowerSystemSleeping3, false, unstarted},
      {"D3, never started", 24, 0, set, DevicePowerState, PowerDeviceD3, false, unstarted},
      {"sleep while stop pending", 24, 0, set, SystemPowerState, PowerSystemSleeping3, false, stop},
      {"D3 while stop pending", 24, 0, set, DevicePowerState, PowerDeviceD3, false, stop},
      {"sleep while remove pending", 24, 0, set, SystemPowerState, PowerSystemSleeping3, false, removal},
      {"D3 while remove pending", 24, 0, set, DevicePowerState, PowerDeviceD3, false, removal},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(Begin(c.model, c.held != unstarted));
    if (c.before) Send(DevicePowerState, c.before);
    if (c.held == stop || c.held == removal) {
      EXPECT_EQ(hostk::SendPnp(Pdo(), c.held).ioStatus.Status, STATUS_SUCCESS);
    }
    hostk::SetBusReply(Pdo(), IRP_MJ_POWER, c.refused ? set : query, {kRefused, 0, false});
    ExpectSent(c.type, c.state, {MinorName(c.minor) + StateName(c.type, c.state)}, {},
               c.before ? DEVICE_POWER_STATE(c.before) : PowerDeviceD0,
               c.minor == query || c.refused ? kRefused : STATUS_SUCCESS, c.minor);
    if (c.held == stop || c.held == removal) {
      hostk::SendPnp(Pdo(), c.held == stop ? IRP_MN_CANCEL_STOP_DEVICE : IRP_MN_CANCEL_REMOVE_DEVICE);
      ExpectSent(SystemPowerState, PowerSystemSleeping3, {"set D3", "set S3"}, {"set D3 -> 00000000"}, PowerDeviceD3);
    }
  }
}

// A PCI board sleeps in D3 and wakes in D0 with the system, device requests
// move its state both ways, and a refused change leaves it where it was.
TEST_F(PowerTest, APciBoardSleepsInD3AndWakesInD0AndDeviceRequestsMoveItsState) {
  ASSERT_TRUE(Begin(24));
  for (SYSTEM_POWER_STATE sleep :
       {PowerSystemSleeping1, PowerSystemSleeping3, PowerSystemHibernate, PowerSystemShutdown}) {
    SCOPED_TRACE(StateName(SystemPowerState, sleep));
    ExpectSent(SystemPowerState, sleep, {"set D3", "set " + StateName(SystemPowerState, sleep)}, {"set D3 -> 00000000"},
               PowerDeviceD3);
    ExpectWake();
  }
  for (DEVICE_POWER_STATE state :
       {PowerDeviceD3, PowerDeviceD0, PowerDeviceD2, PowerDeviceD3, PowerDeviceD1, PowerDeviceD0, PowerDeviceD3}) {
    SCOPED_TRACE("to " + StateName(DevicePowerState, state));
    ExpectSent(DevicePowerState, state, {"set " + StateName(DevicePowerState, state)}, {}, state);
  }
  ExpectWake();  // put in D3 on its own, the board wakes with the system all the same

  // Powered up later at DISPATCH_LEVEL, where only D0 may be reported: D1
  // is kept, not reported, and a sleep from there asks for D3.
  Send(DevicePowerState, PowerDeviceD3);
  hostk::IrpResult d1 = SendHeld(Sending(DevicePowerState, PowerDeviceD1), DISPATCH_LEVEL, {});
  EXPECT_TRUE(d1.pendingReturned) << "the completion routine must keep the pending mark";
  EXPECT_EQ(hostk::ReportedPowerState(device_), PowerDeviceD3);
  ExpectSent(SystemPowerState, PowerSystemSleeping3, {"set D3", "set S3"}, {"set D3 -> 00000000"}, PowerDeviceD3);
  EXPECT_EQ(SendHeld(Sending(DevicePowerState, PowerDeviceD0), DISPATCH_LEVEL, {}).ioStatus.Status, STATUS_SUCCESS);
  ExpectState(PowerDeviceD0);

  // A refused D3 does not fail the sleep, which goes down all the same, and
  // the board comes back with the system.
  Mark();
  hostk::IrpResult refused = SendHeld(Sending(SystemPowerState, PowerSystemSleeping3), PASSIVE_LEVEL, {}, {},
                                      {kRefused, 0, true});  // the D3 request refused
  EXPECT_EQ(refused.ioStatus.Status, STATUS_SUCCESS);
  EXPECT_EQ(BusSaw(), (Strings{"set D3", "set S3"})) << "the system request goes down all the same";
  EXPECT_EQ(Requested(), Strings{"set D3 -> " + Hex(kRefused)});
  ExpectState(PowerDeviceD3);  // recorded before it went down
  ExpectWake();
}


// Before anything goes down, a request that leaves S0 switches the board's
// sources off: it keeps its power a while yet, and nothing of the driver
// serves it until the wake. One that ends the session (shutdown, restart,
// or the hybrid shutdown of Fast Startup) also records it as the shutdown
// request does, "OnSystem" = 0 and the shutdown DO bit once. A hibernation
// or a sleep records nothing.
TEST_F(PowerTest, BeforeAnythingGoesDownTheBoardIsQuietAndTheSessionsEndRecorded) {
  using hostk::SystemTransition;
  for (uint32_t model : {24u, 22u, 21u, 20u, 0u}) {
    for (SystemTransition transition :
         {SystemTransition::HybridShutdown, SystemTransition::Shutdown, SystemTransition::Restart,
          SystemTransition::Hibernate, SystemTransition::HybridSleep, SystemTransition::Sleep}) {
      const bool ends = transition == SystemTransition::HybridShutdown || transition == SystemTransition::Shutdown ||
                        transition == SystemTransition::Restart;
      const auto row = FreshRow("model " + std::to_string(model) + ", " + hostk::Describe(transition));
      StoreDo({0, 1, 0, 3, 0, 1});
      ASSERT_NE(device_ = StartedDevice(model), nullptr);
      board_->SetDo(0x00);
      const uint16_t sources = uint16_t(kRegisterBase + BoardRegisterMap()->Saved[DIO_SAVED_INTEN0]);
      board_->Write(sources, 1, 0xFF);  // as a program leaves them

      // Held below: the system request, or the D3 request made before it.
      const auto send = [&] { return hostk::SendSystemPower(Pdo(), hostk::Entering(transition)); };
      const auto held = [&] {
        EXPECT_EQ(board_->Do(), ends ? 0x08 : 0x00) << "driven before anything went down";
        EXPECT_EQ(board_->IntEn0(), 0u) << "the sources off before anything went down";
      };
      EXPECT_EQ(SendHeld(send, PASSIVE_LEVEL, {}, held).ioStatus.Status, STATUS_SUCCESS);

      const uint16_t port = uint16_t(kRegisterBase + (model == 22 ? 0 : 1));
      Strings doWrites;
      for (const hostk::PortAccess &a : hostk::PortTrace())
        if (a.write && a.port == port) doWrites.push_back(hostk::Describe(a));
      EXPECT_EQ(doWrites, ends ? Describe({{true, 1, port, 0x08}}) : Strings{}) << "once";
      EXPECT_EQ(StoredDword(kService0, "OnSystem"), ends ? 0u : 1u);
    }
  }
}

// A resume still has work in the driver after its S0 request completed (the
// D0 request on its way, at the bus or its callback, the power-up work), and
// Plug and Play may act meanwhile. A removal waits for that work, each piece
// of which would find the device deleted. A stop or removal query before the
// D0 request reaches the driver (the S0 request still at the bus, or the D0
// request on its way), then its cancel, leave the board as before the sleep.
TEST_F(PowerTest, WhatMeetsAResumeInTheDriverWaitsForItOrFindsTheBoardBack) {
  using hostk::PowerWork;
  enum Held { kS0AtBus, kD0AtBus, kRequest, kCallback, kWorkItem };
  const char *const held[] = {"the S0 request at the bus", "the D0 request at the bus",
                              "the D0 request before it reaches the driver", "the D0 request's callback",
                              "the power-up work"};
  constexpr UCHAR stop = IRP_MN_QUERY_STOP_DEVICE, removal = IRP_MN_QUERY_REMOVE_DEVICE;
  const struct Case {
    Held held;
    UCHAR query, cancel;  // none: a surprise removal
  } cases[] = {
      {kD0AtBus, 0, 0}, {kRequest, 0, 0}, {kCallback, 0, 0}, {kWorkItem, 0, 0},
      {kS0AtBus, stop, IRP_MN_CANCEL_STOP_DEVICE},      {kRequest, stop, IRP_MN_CANCEL_STOP_DEVICE},
      {kS0AtBus, removal, IRP_MN_CANCEL_REMOVE_DEVICE}, {kRequest, removal, IRP_MN_CANCEL_REMOVE_DEVICE},
  };
  for (const Case &c : cases) {
    const char *what = c.query == stop ? "a stop query" : c.query == removal ? "a removal query" : "a removal";
    const auto row = FreshRow(std::string(what) + " while " + held[c.held]);
    Use(24);
    if (c.query != stop) program_.reset();  // the removal query is refused while a handle is open
    Send(SystemPowerState, PowerSystemSleeping3);
    std::atomic<bool> removed{false};
    std::thread removing;
    const auto meet = [&] {
      if (c.query) {
        EXPECT_EQ(hostk::SendPnp(Pdo(), c.query).ioStatus.Status, STATUS_SUCCESS);
        return;
      }
      removing = std::thread([&] {
        hostk::SurpriseRemove(Pdo());
        removed = true;
      });
      while (!removed && hostk::BlockedThreadCount() == 0) std::this_thread::yield();
      EXPECT_FALSE(removed) << "the removal waits";
      EXPECT_NE(Pdo()->AttachedDevice, nullptr);
    };
    const PowerWork work = c.held == kCallback   ? PowerWork::Callback
                           : c.held == kWorkItem ? PowerWork::WorkItem
                                                 : PowerWork::Request;
    if (c.held == kS0AtBus) {
      SendHeld(Sending(SystemPowerState, PowerSystemWorking), PASSIVE_LEVEL, {}, meet);
    } else if (c.held == kD0AtBus) {
      SendHeld(Sending(SystemPowerState, PowerSystemWorking), DISPATCH_LEVEL, {STATUS_SUCCESS, 0, true});
      hostk::WaitForHeldRequests(1);
      meet();
      hostk::SetBusReply(Pdo(), IRP_MJ_POWER, IRP_MN_SET_POWER, {});
      hostk::CompleteHeldRequests(DISPATCH_LEVEL);
    } else {
      hostk::HoldPowerWork(work, true);
      Send(SystemPowerState, PowerSystemWorking);
      hostk::WaitForHeldPowerWork(work, 1);
      meet();
      hostk::HoldPowerWork(work, false);
    }
    if (!c.query) {
      removing.join();
      EXPECT_EQ(Pdo()->AttachedDevice, nullptr);
      continue;
    }
    hostk::DrainPowerWork();
    EXPECT_EQ(hostk::SendPnp(Pdo(), c.cancel).ioStatus.Status, STATUS_SUCCESS);
    ExpectState(PowerDeviceD0);
    // The board takes requests again with its DO register as the program left
    // it, and, where the program kept its handle, its sources and events too.
    if (!program_) {
      program_ = std::make_unique<Program>("after");
      file_ = program_->Open();
    }
    UCHAR value = 0;
    EXPECT_EQ(PortByte(file_, IOCTL_DIO_READ_PORT_UCHAR, BoardRegisterMap()->Do, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, kDo) << "the DO register written back";
    if (c.query == stop) ExpectHeard(*board_, events_, 0);
  }
}

// Microsoft's pages give the hybrid shutdown's context both ways round
// (docs/power-transitions.md): its S4 request names S5 as the target or as
// the effective state, and the fast startup's S0 request names nothing of it
// (as the table of transitions has it) or S4 and S5, in either order. Every
// reading of a fast startup brings the board up as at a cold start; a wake
// from a hibernation writes it back.
TEST_F(PowerTest, EveryReadingOfAHybridShutdownColdStartsTheFastStartup) {
  const struct Reading {
    const char *what;
    SYSTEM_POWER_STATE target, effective;
  } entering[] = {
      {"S4 with target S5", PowerSystemShutdown, PowerSystemHibernate},
      {"S4 with effective S5", PowerSystemHibernate, PowerSystemShutdown},
      {"a hibernation's S4", PowerSystemHibernate, PowerSystemHibernate},
  }, leaving[] = {
      {"an S0 naming nothing", PowerSystemWorking, PowerSystemWorking},
      {"an S0 naming target S5", PowerSystemShutdown, PowerSystemHibernate},
      {"an S0 naming effective S5", PowerSystemHibernate, PowerSystemShutdown},
      {"an S0 naming a hibernation", PowerSystemHibernate, PowerSystemHibernate},
  };
  const auto namesS5 = [](const Reading &r) {
    return r.target == PowerSystemShutdown || r.effective == PowerSystemShutdown;
  };
  for (const Reading &in : entering) {
    for (const Reading &out : leaving) {
      SCOPED_TRACE(std::string(in.what) + ", then " + out.what);
      const bool ends = namesS5(in), cold = ends || namesS5(out);
      FreshRow();
      StoreDo({1, 0, 2, 0, 1, 0});  // the start output on channel 2
      Use(24);
      program_.reset();  // the applications end first
      hostk::SendSystemPower(Pdo(), {PowerSystemHibernate, PowerActionHibernate, PowerSystemWorking, in.target,
                                     in.effective});
      EXPECT_EQ(StoredDword(kService0, "OnSystem"), ends ? 0u : 1u);
      hostk::SendSystemPower(Pdo(), {PowerSystemWorking, PowerActionSleep, PowerSystemHibernate, out.target,
                                     out.effective});
      hostk::DrainPowerWork();
      EXPECT_EQ(board_->Do(), cold ? 0x04 : kDo) << (cold ? "as at a cold start" : "written back");
      EXPECT_EQ(StoredDword(kService0, "OnSystem"), 1u);
    }
  }
}

}  // namespace
}  // namespace diotest
