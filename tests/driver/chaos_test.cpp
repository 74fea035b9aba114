// CHAOS, as Windows' certification runs it: Plug and Play, system power and
// I/O at once on threads of their own, the interrupt and DPCs on processor
// threads, while DI lines fire; each program has a second thread on the same
// handles. Every request ends with a status a program can expect, and the
// board works afterwards with the machine balanced.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "event_program.h"

namespace diotest {
namespace {

constexpr int kUsers = 2;
constexpr int kLives = 2;  // per model: one removed, one surprise-removed
constexpr int kPnpActions = 20;
constexpr int kPowerActions = 8;

bool Expected(NTSTATUS status) {
  const NTSTATUS expected[] = {STATUS_SUCCESS,        STATUS_INVALID_DEVICE_STATE, STATUS_DEVICE_NOT_READY,
                               STATUS_CANCELLED,      STATUS_DELETE_PENDING,       STATUS_FILE_CLOSED,
                               STATUS_INVALID_HANDLE};
  return std::find(std::begin(expected), std::end(expected), status) != std::end(expected);
}

class ChaosTest : public DriverTest {
 protected:
  // A program's second thread: enables and disables on its open handles.
  void Partner(hostk::user::Process &program, const std::atomic<HANDLE> *files, int index) {
    hostk::user::ProcessScope scope(program);
    std::minstd_rand rng(unsigned(index) + 100);
    std::vector<HANDLE> events = MakeEvents(DIO_EVENT_COUNT);
    while (!stopUsers_) {
      HANDLE file = files[rng() % 2].load();
      if (!file) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        continue;
      }
      NTSTATUS status = rng() % 2 ? EnableEvents(file, events).status : DisableEvents(file).status;
      EXPECT_TRUE(Expected(status)) << std::hex << status;
    }
  }

  // A program with two handles that it opens, uses and closes.
  void User(int index) {
    hostk::user::Process program("chaos" + std::to_string(index));
    hostk::user::ProcessScope scope(program);
    std::minstd_rand rng(unsigned(index) + 11);
    std::vector<HANDLE> events = MakeEvents(DIO_EVENT_COUNT);
    std::atomic<HANDLE> files[2] = {{nullptr}, {nullptr}};
    std::thread partner([&] { Partner(program, files, index); });
    while (!stopUsers_) {
      std::atomic<HANDLE> &slot = files[rng() % 2];
      HANDLE file = slot.load();
      if (!file) {
        if (NT_SUCCESS(hostk::user::OpenFile(DevicePath(), GENERIC_READ | GENERIC_WRITE, &file))) {
          slot = file;
        } else {
          std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        continue;
      }
      NTSTATUS status = STATUS_SUCCESS;
      UCHAR value = 0xFF;  // sources on
      switch (unsigned choice = rng() % 6) {
        case 0:
        case 1:
          status = PortByte(file, choice ? IOCTL_DIO_READ_PORT_UCHAR : IOCTL_DIO_WRITE_PORT_UCHAR,
                            BoardRegisterMap()->Saved[DIO_SAVED_INTEN0], &value);
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
          slot = nullptr;
          EXPECT_EQ(hostk::user::CloseHandle(file), STATUS_SUCCESS);
          break;
      }
      EXPECT_TRUE(Expected(status)) << std::hex << status;
      ++operations_;
    }
    partner.join();  // the program's end closes the handles still open
  }

  void Lines() {
    std::minstd_rand rng(5);
    while (!stopLines_) {
      board_->PulseDiLine(int(rng() % unsigned(board_->SourceCount())));
      std::this_thread::sleep_for(std::chrono::microseconds(30));
    }
  }

  void LetUsersWork() {
    long until = operations_ + 50;
    while (operations_ < until) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }

  // Stop queries and cancels, rebalances, removal queries refused or cancelled.
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
          EXPECT_EQ(hostk::Rebalance(pdos_.back(), hostk::AsList(resources.raw), hostk::AsList(resources.translated))
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

  // One life of a device under load: added and started, then removed, or
  // its board pulled out and surprise-removed; a board removed in order
  // still works before it goes.
  void Life(bool surprise) {
    AttachBoard();
    ASSERT_NE(Add(), nullptr);
    ASSERT_EQ(StartWith().ioStatus.Status, STATUS_SUCCESS);
    hostk::UseProcessorThreads(true);
    stopUsers_ = stopLines_ = false;
    std::vector<std::thread> users;
    for (int i = 0; i < kUsers; ++i) users.emplace_back([this, i] { User(i); });
    std::thread lines([this] { Lines(); });
    std::thread pnp([this] { PlugAndPlay(); });
    std::thread power([this] { Power(); });
    pnp.join();
    power.join();
    if (surprise) {
      board_->Pull();
      LetUsersWork();
      EXPECT_EQ(hostk::SurpriseRemove(pdos_.back()).ioStatus.Status, STATUS_SUCCESS);
    }
    stopUsers_ = true;
    for (std::thread &user : users) user.join();
    stopLines_ = true;
    lines.join();
    hostk::UseProcessorThreads(false);
    if (!surprise) {
      ExpectANewProgramHears(*board_, 2);
      EXPECT_EQ(Pnp(IRP_MN_QUERY_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
      EXPECT_EQ(Pnp(IRP_MN_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
    }
    hostk::DeletePdo(pdos_.back());  // stops the run while a device is attached
    pdos_.pop_back();
  }

  void Run(uint32_t model) {
    Load(model);
    for (int life = 0; life < kLives; ++life) Life(life % 2 == 1);
  }

  std::atomic<bool> stopUsers_{false};
  std::atomic<bool> stopLines_{false};
  std::atomic<long> operations_{0};
};

TEST_F(ChaosTest, Layout24) { Run(24); }
TEST_F(ChaosTest, Layout22) { Run(22); }
TEST_F(ChaosTest, GeneralLayoutOnAPciBoard) { Run(21); }
TEST_F(ChaosTest, GeneralLayoutOnAnIsaBoard) { Run(0); }

}  // namespace
}  // namespace diotest
