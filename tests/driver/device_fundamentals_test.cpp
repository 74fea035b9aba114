// The scenarios Windows' certification runs on every driver ("Device
// Fundamentals"), one row each, on a board of each layout, with I/O before
// and after; docs/device-fundamentals.md lists what Windows sends in each.
#include <atomic>
#include <chrono>
#include <thread>

#include "event_program.h"

namespace diotest {
namespace {

using hostk::SystemTransition;

// Start output on DO channel 2, shutdown output on channel 5, both high.
constexpr DIO_DO_CONFIG kDoConfig = {1, 1, 2, 5, 1, 1};
constexpr uint8_t kStartBit = 0x04;
constexpr ULONG kScratch = 3;  // a plain latch of every layout

class FundamentalsTest : public EventProgramTest {
 protected:
  // A port written and read back, the events enabled with every source on,
  // an edge that signals event 0 alone, and the start output driven; a
  // program that ended is replaced by a new one with nine events.
  void ExpectIo(const char *when) {
    SCOPED_TRACE(when);
    if (!program_) {
      program_ = std::make_unique<Program>();
      file_ = Open();
      events_ = MakeEvents(DIO_EVENT_COUNT);
    }
    WritePort(file_, kScratch, 0xA5);
    UCHAR value = 0;
    EXPECT_EQ(PortByte(file_, IOCTL_DIO_READ_PORT_UCHAR, kScratch, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 0xA5);
    EnableSources(file_);
    EXPECT_EQ(EnableEvents(file_, events_).status, STATUS_SUCCESS);
    ExpectHeard(*board_, events_, 0);
    EXPECT_TRUE(board_->Do() & kStartBit) << "the start output";
  }

  // The board gone from the bus with its PDO (which the kernel refuses while
  // the driver's device is still attached), and found again: a new PDO,
  // added and started.
  void Reenumerate() {
    hostk::DeletePdo(pdos_.back());
    pdos_.pop_back();
    bench_.Attach(model_);
    ASSERT_EQ(bench_.Add(), STATUS_SUCCESS);
    ASSERT_EQ(bench_.Start().ioStatus.Status, STATUS_SUCCESS);
  }

  // The driver on the same PDO again: added and started.
  void AddAndStart() {
    ASSERT_EQ(hostk::AddDevice(driver_, Pdo()), STATUS_SUCCESS);
    ASSERT_EQ(bench_.Start().ioStatus.Status, STATUS_SUCCESS);
  }

  // The removal query, which the open handle refuses until the program
  // closes it; then new opens are refused until the cancel or removal.
  void QueryRemoval() {
    EXPECT_EQ(Pnp(IRP_MN_QUERY_REMOVE_DEVICE).ioStatus.Status, STATUS_UNSUCCESSFUL) << "a handle is open";
    program_.reset();
    EXPECT_EQ(Pnp(IRP_MN_QUERY_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
    Program("late").Open(GENERIC_READ, STATUS_DELETE_PENDING);
  }

  void Disable() {
    QueryRemoval();
    EXPECT_EQ(Pnp(IRP_MN_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
  }

  // Port requests on two threads while `transition` happens: each ends with
  // an allowed status, and a read gives a value the board held, never the
  // all ones of a board without power.
  void WithIoDuring(const std::function<void()> &transition, const std::vector<NTSTATUS> &allowed) {
    std::atomic<bool> stop{false};
    std::atomic<int> done{0};
    hostk::user::Process *process = &program_->process();
    std::vector<std::thread> threads;
    for (ULONG code : {IOCTL_DIO_WRITE_PORT_UCHAR, IOCTL_DIO_READ_PORT_UCHAR}) {
      threads.emplace_back([&, code] {
        hostk::user::ProcessScope scope(*process);
        while (!stop) {
          UCHAR value = 0xA5;
          NTSTATUS status = PortByte(file_, code, kScratch, &value);
          EXPECT_TRUE(std::find(allowed.begin(), allowed.end(), status) != allowed.end()) << status;
          EXPECT_TRUE(value == 0xA5 || value == 0x00) << int(value);
          ++done;
        }
      });
    }
    while (done < 20) std::this_thread::yield();
    transition();
    for (int after = done + 20; done < after;) std::this_thread::yield();
    stop = true;
    for (auto &thread : threads) thread.join();
  }

  // Whether, within a few seconds, exactly `count` threads wait in the
  // kernel: those whose port requests the stopped driver holds.
  static bool ThreadsWaiting(size_t count) {
    for (int tries = 0; tries < 5000 && hostk::BlockedThreadCount() != count; ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return hostk::BlockedThreadCount() == count;
  }

  void Sleep(SystemTransition transition) {
    for (auto &r : hostk::EnterSystemTransition(transition)) EXPECT_EQ(r.ioStatus.Status, STATUS_SUCCESS);
    EXPECT_FALSE(board_->Powered());
    for (auto &r : hostk::LeaveSystemTransition(transition)) EXPECT_EQ(r.ioStatus.Status, STATUS_SUCCESS);
  }

  uint32_t model_ = 0;
  std::vector<HANDLE> events_;
};

struct Scenario {
  const char *name;
  // Whether the handle, its events and the board's sources come through:
  // the program then hears event 1 without enabling anything again.
  bool eventsSurvive;
  std::function<void()> run;
};

TEST_F(FundamentalsTest, EveryScenarioKeepsTheBoardWorking) {
  const Scenario scenarios[] = {
      {"PnP cancel stop", true,
       [this] {
         EXPECT_EQ(Pnp(IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
         EXPECT_EQ(Pnp(IRP_MN_CANCEL_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
       }},
      {"PnP cancel remove", false,
       [this] {
         QueryRemoval();
         EXPECT_EQ(Pnp(IRP_MN_CANCEL_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
       }},
      {"stop and rebalance with new resources, I/O during", true,
       [this] {
         // The interrupt moves to another vector; requests made while
         // stopped wait and are carried out after the restart.
         StartResources moved = BoardResources();
         for (auto *list : {&moved.raw, &moved.translated}) {
           auto *partial = &hostk::AsList(*list)->List[0].PartialResourceList;
           partial->PartialDescriptors[partial->Count - 1].u.Interrupt.Vector += 2;
         }
         const auto whileStopped = [&] {
           EXPECT_TRUE(ThreadsWaiting(2)) << "the requests made while stopped wait in the driver";
           board_->MoveInterruptLine(kTranslatedVector + 2);
         };
         const auto rebalance = [&] {
           EXPECT_EQ(hostk::Rebalance(Pdo(), hostk::AsList(moved.raw), hostk::AsList(moved.translated), whileStopped)
                         .ioStatus.Status,
                     STATUS_SUCCESS);
           EXPECT_TRUE(ThreadsWaiting(0)) << "carried out at the restart";
         };
         WithIoDuring(rebalance, {STATUS_SUCCESS});
         std::vector<hostk::InterruptInfo> connected = hostk::ConnectedInterrupts();
         ASSERT_EQ(connected.size(), 1u) << "connected again for the program's events";
         EXPECT_EQ(connected[0].vector, kTranslatedVector + 2);
       }},
      {"rebalance fail restart", false,
       [this] {
         hostk::SetBusReply(Pdo(), IRP_MJ_PNP, IRP_MN_START_DEVICE, {STATUS_UNSUCCESSFUL, 0, false});
         StartResources same = BoardResources();
         const auto rebalance = [&] {
           EXPECT_EQ(hostk::Rebalance(Pdo(), hostk::AsList(same.raw), hostk::AsList(same.translated)).ioStatus.Status,
                     STATUS_UNSUCCESSFUL);
         };
         WithIoDuring(rebalance, {STATUS_SUCCESS, STATUS_DELETE_PENDING, STATUS_INVALID_DEVICE_STATE});
         EXPECT_TRUE(hostk::RemovalWaiting(Pdo())) << "surprise-removed, the removal waits for the handle";
         program_.reset();
         Reenumerate();
       }},
      {"surprise remove", false,
       [this] {
         board_->Pull();
         EXPECT_EQ(hostk::SurpriseRemove(Pdo()).ioStatus.Status, STATUS_SUCCESS);
         UCHAR value = 0;
         EXPECT_EQ(PortByte(file_, IOCTL_DIO_WRITE_PORT_UCHAR, kScratch, &value), STATUS_INVALID_DEVICE_STATE);
         EXPECT_NE(Pdo()->AttachedDevice, nullptr) << "the removal waits for the last close";
         program_.reset();
         Reenumerate();
       }},
      {"disable and enable", false,
       [this] {
         Disable();
         AddAndStart();
       }},
      {"DIF remove, then the device found again", false,
       [this] {
         Disable();
         Reenumerate();
       }},
      {"reinstall", false,
       [this] {
         Disable();
         hostk::UnloadDriver(driver_);
         driver_ = nullptr;
         ASSERT_EQ(bench_.Load(), STATUS_SUCCESS);
         AddAndStart();
       }},
      {"SimpleIO with its process ended", false,
       [this] {
         // The program ends after a thread of it worked on its handle: the
         // handle closes with its events enabled and its sources on.
         InProgramAside([this] {
           for (UCHAR i = 0; i < 50; ++i) PortByte(file_, IOCTL_DIO_WRITE_PORT_UCHAR, kScratch, &i);
         }).reset();
         program_.reset();
         EXPECT_TRUE(hostk::ConnectedInterrupts().empty()) << "the last cleanup disconnected";
         EXPECT_EQ(board_->IntEn0() | board_->IntEn1(), 0u) << "and turned the sources off";
       }},
      {"SimpleIO with its process ended, a request in flight", false,
       [this] {
         // The only requests the driver keeps pending are those that wait
         // while the device is stopped: a thread of the program has one
         // there when the program ends, its events enabled. The request is
         // cancelled, then the handle cleaned up and closed.
         EXPECT_EQ(Pnp(IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
         EXPECT_EQ(Pnp(IRP_MN_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
         std::atomic<NTSTATUS> status{STATUS_PENDING};
         UCHAR value = 0x5A;
         auto worker = InProgramAside([&] { status = PortByte(file_, IOCTL_DIO_WRITE_PORT_UCHAR, kScratch, &value); });
         program_.reset();  // while its request waits in the driver
         worker.reset();
         EXPECT_EQ(status, STATUS_CANCELLED);
         ASSERT_EQ(StartWith().ioStatus.Status, STATUS_SUCCESS);
         EXPECT_TRUE(hostk::ConnectedInterrupts().empty()) << "no handle holds events";
         EXPECT_EQ(board_->IntEn0() | board_->IntEn1(), 0u) << "the sources off";
       }},
      {"sleep (S3)", true, [this] { Sleep(SystemTransition::Sleep); }},
      {"hibernation (S4)", true, [this] { Sleep(SystemTransition::Hibernate); }},
      {"hybrid sleep", true, [this] { Sleep(SystemTransition::HybridSleep); }},
      {"sleep with I/O during", true,
       [this] {
         WithIoDuring([&] { Sleep(SystemTransition::Sleep); }, {STATUS_SUCCESS, STATUS_DEVICE_NOT_READY});
       }},
      {"sleep, then disable and enable", false,
       [this] {
         Sleep(SystemTransition::Sleep);
         Disable();
         AddAndStart();
       }},
      {"shut down under Fast Startup, then power on", false,
       [this] {
         hostk::EnterSystemTransition(SystemTransition::HybridShutdown);
         hostk::LeaveSystemTransition(SystemTransition::HybridShutdown);
         EXPECT_EQ(StoredDword(kService0, "OnSystem"), 1u) << "the fast startup is a new session";
         EXPECT_EQ(board_->Do(), kStartBit) << "as at a cold start";
         EXPECT_EQ(board_->IntEn0(), 0u) << "the sources off, as at a cold start";
         // The interrupt stays connected: switching the sources on again is
         // enough for the program's events.
         EXPECT_EQ(hostk::ConnectedInterrupts().size(), 1u);
         EnableSources(file_);
         ExpectHeard(*board_, events_, 1);
       }},
      {"reboot restart", false,
       [this] {
         // Programs end before the drivers hear of the restart.
         program_.reset();
         hostk::EnterSystemTransition(SystemTransition::Restart);
         hostk::Reboot();
         bench_.Forget();
         ASSERT_EQ(bench_.BringUp(model_), STATUS_SUCCESS);
         EXPECT_EQ(StoredDword(kService0, "OnSystem"), 1u);
       }},
  };
  for (uint32_t model : {24u, 22u, 0u}) {
    for (const Scenario &s : scenarios) {
      const auto row = FreshRow("model " + std::to_string(model) + ": " + s.name);
      StoreDo(kDoConfig);
      ASSERT_NE(StartedDevice(model_ = model), nullptr);
      ExpectIo("before");
      EXPECT_TRUE(hostk::ErrorLog().empty()) << "a working board writes no entry, started or connected";
      s.run();
      if (HasFailure()) return;
      if (s.eventsSurvive) {
        ASSERT_TRUE(program_);
        ExpectHeard(*board_, events_, 1);
      }
      ExpectIo("after");
    }
  }
}

}  // namespace
}  // namespace diotest
