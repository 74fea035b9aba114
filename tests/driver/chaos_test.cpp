// CHAOS, as Windows' certification runs it: Plug and Play, system power and
// I/O at once on threads of their own, the interrupt and DPCs on processor
// threads, while DI lines fire; each program has a second thread on the same
// handles. Plug and Play requests and the system's requests take turns, as
// the PnP manager keeps them apart, but meet the resumes still in flight in
// the driver. Every request ends with a status a program can expect, and the
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

// The statuses a program can expect.
const NTSTATUS kExpected[] = {STATUS_SUCCESS,   STATUS_INVALID_DEVICE_STATE, STATUS_DEVICE_NOT_READY, STATUS_CANCELLED,
                              STATUS_DELETE_PENDING, STATUS_FILE_CLOSED,    STATUS_INVALID_HANDLE};

class ChaosTest : public DriverTest {
 protected:
  // A thread of a program with two handles: one that opens, uses and closes
  // them, or the program's second thread, which enables and disables events
  // on those open.
  void Thread(hostk::user::Process &program, std::atomic<HANDLE> *files, unsigned stream, bool opens) {
    hostk::user::ProcessScope scope(program);
    std::minstd_rand rng(stream);
    std::vector<HANDLE> events = MakeEvents(DIO_EVENT_COUNT);
    while (!stopUsers_) {
      std::atomic<HANDLE> &slot = files[rng() % 2];
      HANDLE file = slot.load();
      if (!file) {
        if (opens && NT_SUCCESS(hostk::user::OpenFile(DevicePath(), GENERIC_READ | GENERIC_WRITE, &file))) {
          slot = file;
        } else {
          std::this_thread::sleep_for(std::chrono::microseconds(opens ? 300 : 50));
        }
        continue;
      }
      NTSTATUS status = STATUS_SUCCESS;
      UCHAR value = 0xFF;  // sources on
      switch (unsigned choice = opens ? rng() % 6 : 2 + rng() % 2) {
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
      EXPECT_NE(std::find(std::begin(kExpected), std::end(kExpected), status), std::end(kExpected))
          << std::hex << status;
      operations_ += opens;
    }
  }

  void User(int index) {
    hostk::user::Process program("chaos" + std::to_string(index));
    std::atomic<HANDLE> files[2] = {{nullptr}, {nullptr}};
    std::thread partner([&] { Thread(program, files, unsigned(index) + 100, false); });
    Thread(program, files, unsigned(index) + 11, true);
    partner.join();  // the program's end closes the handles still open
  }

  void LetUsersWork() {
    long until = operations_ + 50;
    while (operations_ < until) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }

  // A stop query and its cancel, or a removal query, refused while handles
  // are open, and its cancel.
  void Query(std::minstd_rand &rng) {
    if (rng() % 3) {
      EXPECT_EQ(Pnp(IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
      EXPECT_EQ(Pnp(IRP_MN_CANCEL_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
    } else if (NT_SUCCESS(Pnp(IRP_MN_QUERY_REMOVE_DEVICE).ioStatus.Status)) {
      EXPECT_EQ(Pnp(IRP_MN_CANCEL_REMOVE_DEVICE).ioStatus.Status, STATUS_SUCCESS);
    }
  }

  // Stop queries and cancels, rebalances, removal queries refused or
  // cancelled, each once the programs have worked a while; and a query with
  // its cancel whenever the power thread holds a resume in the driver.
  void PlugAndPlay() {
    std::minstd_rand rng(3);
    StartResources resources = BoardResources();
    long until = operations_ + 50;
    for (int done = 0; done < kPnpActions || !powerDone_;) {
      if (resumeHeld_) {
        Query(rng);
        resumeHeld_ = false;
        continue;
      }
      if (done == kPnpActions || operations_ < until) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        continue;
      }
      pnpBusy_ = true;
      if (rng() % 3 == 0) {
        EXPECT_EQ(hostk::Rebalance(pdos_.back(), hostk::AsList(resources.raw), hostk::AsList(resources.translated))
                      .ioStatus.Status,
                  STATUS_SUCCESS);
      } else {
        Query(rng);
      }
      pnpBusy_ = false;
      ++done;
      until = operations_ + 50;
    }
  }

  // Sleeps and hibernations. Every other resume is held at a point where it
  // is still in the driver after its S0 request has completed (a PCI
  // board's D0 request on its way or its callback, the power-up work), and
  // Plug and Play acts then: the Plug and Play thread queries, or the
  // action it has begun meets the resume.
  void Power() {
    using hostk::PowerWork;
    using hostk::SystemTransition;
    std::minstd_rand rng(9);
    const PowerWork points[] = {PowerWork::Request, PowerWork::Callback, PowerWork::WorkItem};
    for (int i = 0; i < kPowerActions; ++i) {
      LetUsersWork();
      SystemTransition t = rng() % 2 ? SystemTransition::Sleep : SystemTransition::Hibernate;
      for (auto &r : hostk::EnterSystemTransition(t)) EXPECT_EQ(r.ioStatus.Status, STATUS_SUCCESS);
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      const bool hold = i % 2 == 1;
      const PowerWork point = IsPciBoard() ? points[rng() % 3] : PowerWork::WorkItem;
      if (hold) hostk::HoldPowerWork(point, true);
      std::atomic<bool> resumed{false};
      std::thread resume([t, &resumed] {
        for (auto &r : hostk::LeaveSystemTransition(t)) EXPECT_EQ(r.ioStatus.Status, STATUS_SUCCESS);
        resumed = true;
      });
      if (hold) {
        // Nothing may reach the point (a rebalance draining, say): the
        // resume then ends on its own.
        while (!resumed && hostk::HeldPowerWork(point) == 0) std::this_thread::yield();
        if (!resumed) {
          resumeHeld_ = true;
          while (resumeHeld_ && !pnpBusy_) std::this_thread::sleep_for(std::chrono::microseconds(50));
          ++heldResumes_;
        }
        hostk::HoldPowerWork(point, false);
      }
      resume.join();
    }
    powerDone_ = true;
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
    std::thread lines([this] {
      std::minstd_rand rng(5);
      while (!stopLines_) {
        board_->PulseDiLine(int(rng() % unsigned(board_->SourceCount())));
        std::this_thread::sleep_for(std::chrono::microseconds(30));
      }
    });
    powerDone_ = resumeHeld_ = pnpBusy_ = false;
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
    EXPECT_GT(heldResumes_, 0) << "Plug and Play met a resume in the driver";
  }

  std::atomic<bool> powerDone_{false};
  std::atomic<bool> resumeHeld_{false};  // the power thread asks for a query now
  std::atomic<bool> pnpBusy_{false};     // the Plug and Play thread is in an action of its own
  std::atomic<int> heldResumes_{0};
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
