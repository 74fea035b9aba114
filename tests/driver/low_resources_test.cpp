// Low resources, as Driver Verifier simulates them: a board's whole life with
// the N-th pool allocation failing, and with every one from the N-th on, for
// every N. Each run ends balanced; each step succeeds, or fails for want of
// pool where that is its documented outcome.
#include <memory>

#include "event_program.h"

namespace diotest {
namespace {

using hostk::SystemTransition;
using hostk::user::DeviceIoControl;

class LowResourcesTest : public DriverTest {
 protected:
  // Success, or, where the step may lack pool, STATUS_INSUFFICIENT_RESOURCES.
  static void Check(const char *step, NTSTATUS status, bool mayLackPool = true) {
    if (status == STATUS_SUCCESS || (mayLackPool && status == STATUS_INSUFFICIENT_RESOURCES)) return;
    ADD_FAILURE() << step << " ended with status " << std::hex << uint32_t(status);
  }

  static NTSTATUS Ioctl(HANDLE file, ULONG code, void *buffer, ULONG in, ULONG out) {
    return DeviceIoControl(file, code, buffer, in, buffer, out).status;
  }

  // Sources on, nine events, a port read, a DI edge, the DO setup, the board information.
  void UseHandle(HANDLE file) {
    UCHAR on = 0xFF;
    Check("enable DI sources 0-7", PortByte(file, IOCTL_DIO_WRITE_PORT_UCHAR, DIO_L24_INTEN0, &on));
    Check("enable DI sources 8-15", PortByte(file, IOCTL_DIO_WRITE_PORT_UCHAR, DIO_L24_INTEN1, &on));
    Check("enable events", EnableEvents(file, MakeEvents(DIO_EVENT_COUNT)).status);
    Check("read a port", PortByte(file, IOCTL_DIO_READ_PORT_UCHAR, 1, &on));
    board_->PulseDiLine(0);
    DIO_DO_CONFIG config = {1, 1, 3, 4, 1, 0};
    Check("DO configuration", Ioctl(file, IOCTL_DIO_DO_SYS_CONFIG, &config, sizeof config, 0));
    DIO_BOARD_INFO info;
    Check("board information", Ioctl(file, IOCTL_DIO_GET_BOARD_INFO, &info, 0, sizeof info));
  }

  // The DO register and the first interrupt enables as a program reads
  // them, or nothing when a read is refused.
  std::vector<UCHAR> Registers(HANDLE file) {
    std::vector<UCHAR> values;
    for (ULONG offset : {BoardRegisterMap()->Do, BoardRegisterMap()->Saved[DIO_SAVED_INTEN0]}) {
      UCHAR value = 0;
      NTSTATUS status = PortByte(file, IOCTL_DIO_READ_PORT_UCHAR, offset, &value);
      if (status == STATUS_DEVICE_NOT_READY && !board_->Powered()) return {};  // its D0 request got no pool
      Check("a read", status);
      if (status != STATUS_SUCCESS) return {};
      values.push_back(value);
    }
    return values;
  }

  // Load to removal, with two handles, a restart, a sleep and a shutdown.
  void Life() {
    hostboard::InstallModel(24);
    StoreDo({1, 1, 1, 0, 1, 0});
    bench_.Attach(24);
    Check("load", bench_.Load(), false);
    NTSTATUS added = bench_.Add();
    Check("AddDevice", added);
    if (!NT_SUCCESS(added)) return;  // Plug and Play takes the PDO away again
    PDEVICE_OBJECT pdo = Pdo();
    Check("start", bench_.Start().ioStatus.Status, false);
    {
      hostk::user::Process program("program");
      hostk::user::ProcessScope scope(program);
      HANDLE first = nullptr, second = nullptr;
      // The interface's path: the device map's copy may lack pool.
      Check("open", hostk::user::OpenFile(InterfacePath(), GENERIC_READ | GENERIC_WRITE, &first));
      Check("open", hostk::user::OpenFile(InterfacePath(), GENERIC_READ | GENERIC_WRITE, &second));
      if (first) UseHandle(first);
      if (second) {
        UseHandle(second);
        Check("disable events", Ioctl(second, IOCTL_DIO_DISABLE_EVENT, nullptr, 0, 0));
        Check("close", hostk::user::CloseHandle(second), false);
      }

      Check("query stop", hostk::SendPnp(pdo, IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status, false);
      Check("stop", hostk::SendPnp(pdo, IRP_MN_STOP_DEVICE).ioStatus.Status, false);
      Check("restart", bench_.Start().ioStatus.Status, false);
      // The machine sleeps and its power goes. At the wake a board the driver
      // serves again holds what it held; only one still without power is refused.
      std::vector<UCHAR> before = first ? Registers(first) : std::vector<UCHAR>{};
      for (auto &r : hostk::EnterSystemTransition(SystemTransition::Sleep)) Check("sleep", r.ioStatus.Status, false);
      for (auto &r : hostk::LeaveSystemTransition(SystemTransition::Sleep)) Check("wake", r.ioStatus.Status, false);
      std::vector<UCHAR> after = before.empty() ? before : Registers(first);
      if (!after.empty()) {
        EXPECT_EQ(after, before) << "the DO register and sources after the wake";
      }
      for (NTSTATUS status : hostk::ShutdownSystem()) Check("shutdown", status);
    }  // the program ends: its handle closes
    Check("surprise removal", hostk::SendPnp(pdo, IRP_MN_SURPRISE_REMOVAL).ioStatus.Status, false);
    Check("removal", bench_.Remove().ioStatus.Status, false);
  }
};

TEST_F(LowResourcesTest, EveryAllocationOfABoardsLifeMayFail) {
  Life();
  const uint64_t allocations = hostk::Pool().attempts;
  ASSERT_GT(allocations, 50u) << "the life asks for the pool it is meant to";
  for (bool onwards : {false, true}) {
    // The next row's FreshRow, or the test's end, takes each run down and checks it.
    for (uint64_t n = 1; n <= allocations && !HasFailure(); ++n) {  // one run's report is enough
      const auto row =
          FreshRow((onwards ? "every allocation from number " : "allocation number ") + std::to_string(n));
      if (onwards) hostk::FailAllocationsFrom(n);
      else hostk::FailAllocationAt(n);
      Life();
    }
  }
}

}  // namespace
}  // namespace diotest

