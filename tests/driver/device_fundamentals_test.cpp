// The scenarios Windows' certification runs on every driver ("Device
// Fundamentals"), one row each, on a board of each layout, with I/O before
// and after: a port written and read back, nine events enabled and a DI
// edge that must signal its event, and the DO output as configured. A
// program that keeps its handle through a scenario must still hear its
// events afterwards without enabling anything again. docs/device-fundamentals.md
// lists what Windows sends in each.
#include <atomic>
#include <thread>

#include "event_program.h"

namespace diotest {
namespace {

using hostk::SystemTransition;
using Strings = std::vector<std::string>;

// Start output on DO channel 2, shutdown output on channel 5, both high.
constexpr DIO_DO_CONFIG kDoConfig = {1, 1, 2, 5, 1, 1};
constexpr uint8_t kStartBit = 0x04, kShutdownBit = 0x20;
constexpr ULONG kScratch = 3;  // a plain latch of every layout

// A program with the device open and nine events enabled.
struct User {
  std::unique_ptr<Program> program;
  HANDLE file = nullptr;
  std::vector<HANDLE> events;
};

class FundamentalsTest : public DriverTest {
 protected:
  void Up(uint32_t model) {
    FreshRow();
    model_ = model;
    StoreDo(kDoConfig);
    ASSERT_NE(StartedDevice(model), nullptr);
  }

  void Open(User &user) {
    user.program = std::make_unique<Program>();
    user.file = user.program->Open();
    user.events = MakeEvents(DIO_EVENT_COUNT);
  }
  void Close(User &user) {
    if (!user.program) return;
    hostk::user::ProcessScope scope(user.program->process());
    EXPECT_EQ(hostk::user::CloseHandle(user.file), STATUS_SUCCESS);
    user.program.reset();
  }

  // Everything a program does, on a handle of its own: a port written and
  // read back, its events enabled with every source on, an edge on DI line 0
  // that signals event 0 alone; and the start output driven.
  void ExpectIo(User &user, const char *when) {
    SCOPED_TRACE(when);
    if (!user.program) Open(user);
    hostk::user::ProcessScope scope(user.program->process());
    const ULONG kValue = 0xA5;
    WritePort(user.file, kScratch, UCHAR(kValue));
    DIO_PORT_IO request = {kScratch, {0}};
    UCHAR value = 0;
    auto read = hostk::user::DeviceIoControl(user.file, IOCTL_DIO_READ_PORT_UCHAR, &request, 4, &value, 1);
    EXPECT_EQ(read.status, STATUS_SUCCESS);
    EXPECT_EQ(value, kValue);
    EnableSources(user.file);
    EXPECT_EQ(EnableEvents(user.file, user.events).status, STATUS_SUCCESS);
    ExpectEvent(user, 0);
    EXPECT_TRUE(board_->Do() & kStartBit) << "the start output";
  }

  // An edge on DI line `line` signals its event and no other, on a board
  // whose sources were switched on before.
  void ExpectEvent(User &user, int line) {
    hostk::user::ProcessScope scope(user.program->process());
    Signalled(user.events);
    board_->PulseDiLine(line);
    std::string expected(DIO_EVENT_COUNT, '0');
    expected[line] = '1';
    EXPECT_EQ(Signalled(user.events), expected) << "DI line " << line;
  }

  // The board gone from the bus, whose PDO goes with it, and put back where
  // it was, as Plug and Play finds it: a new PDO, added and started.
  void Reenumerate() {
    hostk::DeletePdo(pdos_.back());
    pdos_.pop_back();
    bench_.Attach(model_);
    ASSERT_EQ(bench_.Add(), STATUS_SUCCESS);
    ASSERT_EQ(bench_.Start().ioStatus.Status, STATUS_SUCCESS);
  }

  // The driver on the same PDO again: added and started.
  void AddAndStart() {
    ASSERT_EQ(hostk::AddDevice(driver_, Pdo(pdos_.size() - 1)), STATUS_SUCCESS);
    ASSERT_EQ(bench_.Start().ioStatus.Status, STATUS_SUCCESS);
  }

  // The disable (or the first half of an uninstall): the removal query,
  // which programs answer by closing their handles, then the removal.
  void Disable(User &user) {
    ExpectOpenRefusedWhileRemovalPending(user);
    EXPECT_EQ(Pnp(IRP_MN_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
    EXPECT_EQ(Pdo(pdos_.size() - 1)->AttachedDevice, nullptr);
  }

  // A successful removal query refuses new handles until its cancel.
  void ExpectOpenRefusedWhileRemovalPending(User &user) {
    EXPECT_EQ(Pnp(IRP_MN_QUERY_REMOVE_DEVICE).ioStatus.Status, STATUS_UNSUCCESSFUL) << "a handle is open";
    Close(user);
    EXPECT_EQ(Pnp(IRP_MN_QUERY_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
    Program late;
    late.Open(GENERIC_READ, STATUS_DELETE_PENDING);
  }

  // Port requests on other threads while `transition` happens: each
  // succeeds (a read giving a value the board held, never the all ones of a
  // board without power) or is refused because the board has no power now.
  void WithIoDuring(User &user, const std::function<void()> &transition,
                    const std::vector<NTSTATUS> &allowed) {
    std::atomic<bool> stop{false};
    std::atomic<int> done{0};
    hostk::user::Process *process = &user.program->process();
    HANDLE file = user.file;
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
      threads.emplace_back([&, t] {
        hostk::user::ProcessScope scope(*process);
        while (!stop) {
          DIO_PORT_IO request = {kScratch, {0xA5}};
          UCHAR value = 0;
          auto r = t == 0 ? hostk::user::DeviceIoControl(file, IOCTL_DIO_WRITE_PORT_UCHAR, &request, 5, nullptr, 0)
                          : hostk::user::DeviceIoControl(file, IOCTL_DIO_READ_PORT_UCHAR, &request, 4, &value, 1);
          EXPECT_TRUE(std::find(allowed.begin(), allowed.end(), r.status) != allowed.end()) << r.status;
          if (t == 1 && r.status == STATUS_SUCCESS) {
            EXPECT_TRUE(value == 0xA5 || value == 0x00) << int(value);
          }
          ++done;
        }
      });
    }
    while (done < 20) std::this_thread::yield();
    transition();
    int after = done + 20;
    while (done < after) std::this_thread::yield();
    stop = true;
    for (auto &thread : threads) thread.join();
  }

  void Sleep(SystemTransition transition) {
    for (auto &r : hostk::EnterSystemTransition(transition)) EXPECT_EQ(r.ioStatus.Status, STATUS_SUCCESS);
    EXPECT_FALSE(board_->Powered());
    for (auto &r : hostk::LeaveSystemTransition(transition)) EXPECT_EQ(r.ioStatus.Status, STATUS_SUCCESS);
    EXPECT_EQ(Extension(Device())->DevicePowerState, PowerDeviceD0);
  }

  PDEVICE_OBJECT Device() const { return bench_.Device(); }

  uint32_t model_ = 0;
};

struct Scenario {
  const char *name;
  // Whether the program's handle, its events and the board's sources come
  // through: it then hears event 1 without enabling anything again.
  bool eventsSurvive;
  std::function<void(User &)> run;
};

TEST_F(FundamentalsTest, EveryScenarioKeepsTheBoardWorking) {
  const Scenario scenarios[] = {
      {"PnP cancel stop", true,
       [this](User &) {
         EXPECT_EQ(Pnp(IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
         EXPECT_EQ(Pnp(IRP_MN_CANCEL_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
       }},
      {"PnP cancel remove", false,
       [this](User &user) {
         ExpectOpenRefusedWhileRemovalPending(user);
         EXPECT_EQ(Pnp(IRP_MN_CANCEL_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
       }},
      {"stop and rebalance with new resources, I/O during", true,
       [this](User &user) {
         // The interrupt moves to another vector; requests made while stopped
         // wait and are carried out after the restar
         StartResources moved = BoardResources();
         for (auto *list : {&moved.raw, &moved.translated}) {
           auto *partial = &hostk::AsList(*list)->List[0].PartialResourceList;
           auto *last = &partial->PartialDescriptors[partial->Count - 1];
           last->u.Interrupt.Vector += 2;
         }
         WithIoDuring(user, [&] {
           EXPECT_EQ(hostk::Rebalance(Pdo(pdos_.size() - 1), hostk::AsList(moved.raw),
                                      hostk::AsList(moved.translated),
                                      [&] { board_->MoveInterruptLine(kTranslatedVector + 2); })
                         .ioStatus.Status,
                     STATUS_SUCCESS);
         }, {STATUS_SUCCESS});
         std::vector<hostk::InterruptInfo> connected = hostk::ConnectedInterrupts();
         ASSERT_EQ(connected.size(), 1u) << "connected again for the program's events";
         EXPECT_EQ(connected[0].vector, kTranslatedVector + 2);
       }},
      {"rebalance fail restart", false,
       [this](User &user) {
         PDEVICE_OBJECT pdo = Pdo(pdos_.size() - 1);
         hostk::SetBusReply(pdo, IRP_MJ_PNP, IRP_MN_START_DEVICE, {STATUS_UNSUCCESSFUL, 0, false});
         StartResources same = BoardResources();
         WithIoDuring(user, [&] {
           EXPECT_EQ(hostk::Rebalance(pdo, hostk::AsList(same.raw), hostk::AsList(same.translated)).ioStatus.Status,
                     STATUS_UNSUCCESSFUL);
         }, {STATUS_SUCCESS, STATUS_DELETE_PENDING, STATUS_INVALID_DEVICE_STATE});
         EXPECT_TRUE(hostk::RemovalWaiting(pdo)) << "surprise-removed, the removal waits for the handle";
         Close(user);
         EXPECT_EQ(pdo->AttachedDevice, nullptr);
         Reenumerate();
       }},
      {"surprise remove", false,
       [this](User &user) {
         PDEVICE_OBJECT pdo = Pdo(pdos_.size() - 1);
         board_->Pull();
         EXPECT_EQ(hostk::SurpriseRemove(pdo).ioStatus.Status, STATUS_SUCCESS);
         {
           hostk::user::ProcessScope scope(user.program->process());
           DIO_PORT_IO request = {kScratch, {0}};
           EXPECT_EQ(hostk::user::DeviceIoControl(user.file, IOCTL_DIO_WRITE_PORT_UCHAR, &request, 5, nullptr, 0)
                         .status,
                     STATUS_INVALID_DEVICE_STATE);
         }
         EXPECT_NE(pdo->AttachedDevice, nullptr) << "the removal waits for the last close";
         Close(user);
         EXPECT_EQ(pdo->AttachedDevice, nullptr);
         Reenumerate();
       }},
      {"disable and enable", false,
       [this](User &user) {
         Disable(user);
         AddAndStart();
       }},
      {"DIF remove, then the device found again", false,
       [this](User &user) {
         Disable(user);
         Reenumerate();
       }},
      {"reinstall", false,
       [this](User &user) {
         Disable(user);
         hostk::UnloadDriver(driver_);
         driver_ = nullptr;
         ASSERT_EQ(bench_.Load(), STATUS_SUCCESS);
         AddAndStart();
       }},
      {"SimpleIO with its process ended", false,
       [this](User &user) {
         // The program ends while a thread of it works on its handle: the
         // handle closes with its events enabled and its sources on.
         hostk::user::Process *process = &user.program->process();
         std::thread worker([&] {
           hostk::user::ProcessScope scope(*process);
           for (int i = 0; i < 50; ++i) {
             DIO_PORT_IO request = {kScratch, {0x11}};
             hostk::user::DeviceIoControl(user.file, IOCTL_DIO_WRITE_PORT_UCHAR, &request, 5, nullptr, 0);
           }
         });
         worker.join();
         user.program.reset();
         EXPECT_TRUE(hostk::ConnectedInterrupts().empty()) << "the last cleanup disconnected";
       }},
      {"sleep (S3)", true,
       [this](User &) { Sleep(SystemTransition::Sleep); }},
      {"hibernation (S4)", true,
       [this](User &) { Sleep(SystemTransition::Hibernate); }},
      {"hybrid sleep", true,
       [this](User &) { Sleep(SystemTransition::HybridSleep); }},
      {"sleep with I/O during", true,
       [this](User &user) {
         WithIoDuring(user, [&] { Sleep(SystemTransition::Sleep); }, {STATUS_SUCCESS, STATUS_DEVICE_NOT_READY});
       }},
      {"sleep, then disable and enable", false,
       [this](User &user) {
         Sleep(SystemTransition::Sleep);
         Disable(user);
         AddAndStart();
       }},
      {"shut down under Fast Startup, then power on", false,
       [this](User &user) {
         hostk::EnterSystemTransition(SystemTransition::HybridShutdown);
         EXPECT_EQ(StoredDword(kService0, "OnSystem"), 0u);
         hostk::LeaveSystemTransition(SystemTransition::HybridShutdown);
         EXPECT_EQ(StoredDword(kService0, "OnSystem"), 1u) << "the fast startup is a new session";
         EXPECT_EQ(board_->Do(), kStartBit) << "as at a cold start";
         EXPECT_EQ(board_->IntEn0(), 0u) << "the sources off, as at a cold start";
         // The interrupt stays connected for the program's events: switching
         // its sources on again is enough.
         EXPECT_EQ(hostk::ConnectedInterrupts().size(), 1u);
         {
           hostk::user::ProcessScope scope(user.program->process());
           EnableSources(user.file);
         }
         ExpectEvent(user, 1);
       }},
      {"reboot restart", false,
       [this](User &user) {
         // Programs end before the drivers hear of the restar
         Close(user);
         hostk::ClearPortTrace();
         hostk::EnterSystemTransition(SystemTransition::Restart);
         EXPECT_EQ(StoredDword(kService0, "OnSystem"), 0u);
         const std::string output = hostk::Describe(hostk::PortAccess{
             true, 1, uint16_t(kRegisterBase + BoardRegisterMap()->Do), uint32_t(kStartBit | kShutdownBit)});
         const Strings writes = Writes();
         EXPECT_NE(std::find(writes.begin(), writes.end(), output), writes.end()) << "the shutdown output";
         hostk::Reboot();
         bench_.Forget();
         ASSERT_EQ(bench_.BringUp(model_), STATUS_SUCCESS);
         EXPECT_EQ(StoredDword(kService0, "OnSystem"), 1u);
       }},
  };
  for (uint32_t model : {24u, 22u, 0u}) {
    for (const Scenario &s : scenarios) {
      SCOPED_TRACE("model " + std::to_string(model) + ": " + s.name);
      Up(model);
      User user;
      ExpectIo(user, "before");
      s.run(user);
      if (HasFailure()) return;
      if (s.eventsSurvive) {
        ASSERT_TRUE(user.program);
        ExpectEvent(user, 1);
      }
      ExpectIo(user, "after");
      Close(user);
    }
  }
}

}  // namespace
}  // namespace diotest
