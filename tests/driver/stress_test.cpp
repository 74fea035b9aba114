// The driver under load, with real threads, as on a multiprocessor PC: user
// programs open handles, switch the board's DI sources on, enable, disable
// and close, while DI lines fire, the service routine and the DPCs run on
// processor threads of their own, and Plug and Play stops, restarts,
// surprise-removes and removes the device. Every run must leave the machine
// balanced; any broken kernel rule, interrupt storm or lifetime error stops
// it. The ThreadSanitizer build runs these tests too.
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "event_program.h"

namespace diotest {
namespace {

constexpr int kUsers = 3;
constexpr int kCycles = 6;             // device lives per model
constexpr long kStepOperations = 60;  // user operations between two PnP steps

class StressTest : public DriverTest {
 protected:
  // A program's second thread: it enables and disables on whichever of the
  // program's handles is open, while the first thread may close it. A
  // request that meets a close is refused (the handle is gone, or its
  // cleanup came first), never mishandled.
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
      EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_INVALID_DEVICE_STATE ||
                  status == STATUS_FILE_CLOSED || status == STATUS_INVALID_HANDLE)
          << status;
    }
  }

  // A user program's loop: it keeps two handles, each a slot of its own, and
  // acts on a random one until told to stop, while its second thread works
  // on the same handles. The device may be stopped or gone meanwhile: then
  // the requests are refused, never mishandled.
  void User(int index) {
    hostk::user::Process program("user" + std::to_string(index));
    hostk::user::ProcessScope scope(program);
    std::minstd_rand rng(unsigned(index) + 1);
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
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
      } else {
        switch (rng() % 4) {
          case 0: {
            // DI sources 0 to 7 on.
            DIO_PORT_IO request = {BoardLayout() == BoardLayout22 ? 4u : 2u, {0xFF}};
            NTSTATUS status = hostk::user::DeviceIoControl(file, IOCTL_DIO_WRITE_PORT_UCHAR,
                                                           &request, 5, nullptr, 0).status;
            // Held while the device is stopped: cancelled by the handle's
            // cleanup on the other thread, or failed by a removal.
            EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_INVALID_DEVICE_STATE ||
                        status == STATUS_CANCELLED || status == STATUS_DELETE_PENDING)
                << status;
            break;
          }
          case 1: {
            NTSTATUS status = EnableEvents(file, events).status;
            EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_INVALID_DEVICE_STATE) << status;
            break;
          }
          case 2:
            EXPECT_EQ(DisableEvents(file).status, STATUS_SUCCESS);
            break;
          default:
            slot = nullptr;
            EXPECT_EQ(hostk::user::CloseHandle(file), STATUS_SUCCESS);
            break;
        }
      }
      for (HANDLE e : events) signals_ += hostk::user::IsSignalled(e) ? 1 : 0;
      Signalled(events);
      ++operations_;
    }
    partner.join();
    for (std::atomic<HANDLE> &slot : files) {
      if (HANDLE file = slot.exchange(nullptr)) {
        EXPECT_EQ(hostk::user::CloseHandle(file), STATUS_SUCCESS);
      }
    }
  }

  // The board's DI lines fire at random until told to stop.
  void Lines() {
    std::minstd_rand rng(7);
    while (!stopLines_) {
      board_->PulseDiLine(int(rng() % unsigned(board_->SourceCount())));
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  }

  // Lets the users do a number of operations more.
  void LetUsersWork() {
    long until = operations_ + kStepOperations;
    while (operations_ < until) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  // While the device is stopped a user's port request waits for the
  // restart: the users are given time instead.
  static void LetTimePass() { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }

  void Pnp(UCHAR minor) {
    EXPECT_EQ(hostk::SendPnp(pdos_.back(), minor).ioStatus.Status, STATUS_SUCCESS) << int(minor);
  }

  // One life of a device: started, stopped and started again, then surprise
  // removed (its board pulled out first) or removed, under load throughout.
  void Life(uint32_t model, bool surprise) {
    board_.reset();
    AttachBoard();
    ASSERT_NE(Add(), nullptr);
    StartResources resources = BoardResources();
    ASSERT_EQ(Start(pdos_.back(), resources).ioStatus.Status, STATUS_SUCCESS);
    stopUsers_ = false;
    stopLines_ = false;
    std::vector<std::thread> users;
    for (int i = 0; i < kUsers; ++i) users.emplace_back([this, i] { User(i); });
    std::thread lines([this] { Lines(); });

    LetUsersWork();
    Pnp(IRP_MN_QUERY_STOP_DEVICE);
    Pnp(IRP_MN_STOP_DEVICE);
    LetTimePass();
    ASSERT_EQ(Start(pdos_.back(), resources).ioStatus.Status, STATUS_SUCCESS);
    LetUsersWork();
    if (surprise) {
      board_->Pull();
      LetUsersWork();
      // The removal follows once every handle is closed.
      EXPECT_EQ(hostk::SurpriseRemove(pdos_.back()).ioStatus.Status, STATUS_SUCCESS);
      LetTimePass();
    }
    stopUsers_ = true;
    for (std::thread &user : users) user.join();
    if (!surprise) {
      Pnp(IRP_MN_QUERY_REMOVE_DEVICE);
      Pnp(IRP_MN_REMOVE_DEVICE);
    }
    stopLines_ = true;
    lines.join();

    SCOPED_TRACE("model " + std::to_string(model));
    EXPECT_EQ(pdos_.back()->AttachedDevice, nullptr);
    EXPECT_TRUE(hostk::ConnectedInterrupts().empty());
    EXPECT_EQ(hostk::QueuedDpcCount(), 0u);
    hostk::DeletePdo(pdos_.back());
    pdos_.pop_back();
  }

  void Run(uint32_t model) {
    Load(model);
    hostk::UseProcessorThreads(true);
    for (int cycle = 0; cycle < kCycles; ++cycle) Life(model, cycle % 2 == 1);
    hostk::UseProcessorThreads(false);
    EXPECT_GT(signals_, 0) << "the DI lines reached the programs' events";
  }

  std::atomic<bool> stopUsers_{false};
  std::atomic<bool> stopLines_{false};
  std::atomic<long> operations_{0};
  std::atomic<long> signals_{0};
};

TEST_F(StressTest, Layout24) { Run(24); }
TEST_F(StressTest, Layout22) { Run(22); }
TEST_F(StressTest, GeneralLayoutOnAPciBoard) { Run(21); }
TEST_F(StressTest, GeneralLayoutOnAnIsaBoard) { Run(0); }

}  // namespace
}  // namespace diotest
