// CHAOS, as Windows' certification runs it: Plug and Play requests, system
// power transitions and I/O at once, on threads of their own, with the
// interrupt and its DPCs on processor threads. Plug and Play and power take
// turns as the PnP manager and the power manager do (the stand-in's device
// tree lock); programs open, use and close handles throughout while DI lines
// fire. Every request must end with a status a program can expect, never
// hang, and the board must work afterwards with the machine balanced. The
// ThreadSanitizer build runs it too.
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "event_program.h"

namespace diotest {
namespace {

constexpr int kUsers = 2;
constexpr int kPnpActions = 40;
constexpr int kPowerActions = 15;

bool Expected(NTSTATUS status) {
  for (NTSTATUS ok : {STATUS_SUCCESS, STATUS_INVALID_DEVICE_STATE, STATUS_DEVICE_NOT_READY, STATUS_CANCELLED,
                      STATUS_DELETE_PENDING, STATUS_FILE_CLOSED, STATUS_INVALID_HANDLE})
    if (status == ok) return true;
  return false;
}

class ChaosTest : public DriverTest {
 protected:
  // A program that opens a handle, switches the sources on, enables its
  // events, reads and writes ports, and closes, again and again.
  void User(int index) {
    hostk::user::Process program("chaos" + std::to_string(index));
    hostk::user::ProcessScope scope(program);
    std::minstd_rand rng(unsigned(index) + 11);
    std::vector<HANDLE> events = MakeEvents(DIO_EVENT_COUNT);
    HANDLE file = nullptr;
    while (!stop_) {
      if (!file) {
        if (!NT_SUCCESS(hostk::user::OpenFile(DevicePath(), GENERIC_READ | GENERIC_WRITE, &file))) {
          file = nullptr;
          std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        continue;
      }
      NTSTATUS status = STATUS_SUCCESS;
      // The first interrupt enable register: every source of it on.
      DIO_PORT_IO request = {BoardRegisterMap()->Saved[DIO_SAVED_INTEN0], {0xFF}};
      UCHAR value;
      switch (rng() % 6) {
        case 0:
          status = hostk::user::DeviceIoControl(file, IOCTL_DIO_WRITE_PORT_UCHAR, &request, 5, nullptr, 0).status;
          break;
        case 1:
          status = hostk::user::DeviceIoControl(file, IOCTL_DIO_READ_PORT_UCHAR, &request, 4, &value, 1).status;
          break;
        case 2:
          status = EnableEvents(file, events).status;
          break;
        case 3:
          status = DisableEvents(file).status;
          break;
        case 4:
          Signalled(events);
          break;
        default:
          EXPECT_EQ(hostk::user::CloseHandle(file), STATUS_SUCCESS);
          file = nullptr;
          break;
      }
      EXPECT_TRUE(Expected(status)) << std::hex << status;
      ++operations_;
    }
    if (file) {
      EXPECT_EQ(hostk::user::CloseHandle(file), STATUS_SUCCESS);
    }
  }

  void Lines() {
    std::minstd_rand rng(5);
    while (!stop_) {
      board_->PulseDiLine(int(rng() % unsigned(board_->SourceCount())));
      std::this_thread::sleep_for(std::chrono::microseconds(30));
    }
  }

  void LetUsersWork() {
    long until = operations_ + 50;
    while (operations_ < until && !stop_) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }

  // Stop queries and their cancels, rebalances, removal queries that the
  // open handles refuse or that are cancelled.
  void PlugAndPlay() {
    std::minstd_rand rng(3);
    StartResources resources = BoardResources();
    for (int i = 0; i < kPnpActions; ++i) {
      LetUsersWork();
      switch (rng() % 3) {
        case 0:
          EXPECT_EQ(Pnp(IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
          EXPECT_EQ(Pnp(IRP_MN_CANCEL_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
          break;
        case 1:
          EXPECT_EQ(hostk::Rebalance(Pdo(), hostk::AsList(resources.raw), hostk::AsList(resources.translated))
                        .ioStatus.Status,
                    STATUS_SUCCESS);
          break;
        default:
          if (NT_SUCCESS(Pnp(IRP_MN_QUERY_REMOVE_DEVICE).ioStatus.Status)) {
            EXPECT_EQ(Pnp(IRP_MN_CANCEL_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
          }
          break;
      }
    }
  }

  void Power() {
    using hostk::SystemTransition;
    std::minstd_rand rng(9);
    for (int i = 0; i < kPowerActions; ++i) {
      LetUsersWork();
      SystemTransition t = rng() % 2 ? SystemTransition::Sleep : SystemTransition::Hibernate;
      for (auto &r : hostk::EnterSystemTransition(t)) EXPECT_EQ(r.ioStatus.Status, STATUS_SUCCESS);
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      for (auto &r : hostk::LeaveSystemTransition(t)) EXPECT_EQ(r.ioStatus.Status, STATUS_SUCCESS);
    }
  }

  void Run(uint32_t model) {
    ASSERT_NE(StartedDevice(model), nullptr);
    hostk::UseProcessorThreads(true);
    std::vector<std::thread> threads;
    for (int i = 0; i < kUsers; ++i) threads.emplace_back([this, i] { User(i); });
    threads.emplace_back([this] { Lines(); });
    std::thread pnp([this] { PlugAndPlay(); });
    std::thread power([this] { Power(); });
    pnp.join();
    power.join();
    stop_ = true;
    for (auto &t : threads) t.join();
    hostk::UseProcessorThreads(false);

    // Afterwards the board works as before. An edge that came while the last
    // cleanup's reset ran (between its status and enable writes) can still
    // be pending on the board, and is heard at the enable: it is taken
    // first.
    Program program;
    HANDLE file = program.Open();
    EnableSources(file);
    std::vector<HANDLE> events = MakeEvents(DIO_EVENT_COUNT);
    EXPECT_EQ(EnableEvents(file, events).status, STATUS_SUCCESS);
    Signalled(events);
    board_->PulseDiLine(2);
    EXPECT_EQ(Signalled(events), "001000000");
    EXPECT_EQ(hostk::user::CloseHandle(file), STATUS_SUCCESS);
  }

  std::atomic<bool> stop_{false};
  std::atomic<long> operations_{0};
};

TEST_F(ChaosTest, Layout24) { Run(24); }
TEST_F(ChaosTest, Layout22) { Run(22); }
TEST_F(ChaosTest, GeneralLayout) { Run(0); }

}  // namespace
}  // namespace diotest
