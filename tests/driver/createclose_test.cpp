// Opens, cleanups and closes.
#include "event_program.h"

namespace diotest {
namespace {

// A handle's cleanup takes back its requests held while the board is
// stopped; another handle's stay held, in the order they came, and are
// carried out at the restart.
TEST_F(EventProgramTest, ACleanupTakesBackOnlyItsHandlesHeldRequests) {
  Bring(24);
  ASSERT_EQ(Pnp(IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
  ASSERT_EQ(Pnp(IRP_MN_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
  HANDLE other = Open();
  // Writes to the DO register, of this handle and the other in turn.
  UCHAR values[] = {0x11, 0x22, 0x33, 0x44};
  std::atomic<NTSTATUS> status[4];
  std::vector<std::unique_ptr<Aside>> requests;
  for (int i = 0; i < 4; ++i) {
    status[i] = STATUS_PENDING;
    HANDLE file = i % 2 ? other : file_;
    requests.push_back(InProgramAside(
        [&, i, file] { status[i] = PortByte(file, IOCTL_DIO_WRITE_PORT_UCHAR, DIO_L24_DO, &values[i]); }));
  }
  EXPECT_EQ(hostk::user::CloseHandle(file_), STATUS_SUCCESS);
  requests[0].reset();  // each ends once its request is completed
  requests[2].reset();
  EXPECT_EQ((std::vector<NTSTATUS>{status[0], status[1], status[2], status[3]}),
            (std::vector<NTSTATUS>{STATUS_CANCELLED, STATUS_PENDING, STATUS_CANCELLED, STATUS_PENDING}));
  EXPECT_EQ(StartWith().ioStatus.Status, STATUS_SUCCESS);
  requests.clear();
  EXPECT_EQ(status[1], STATUS_SUCCESS);
  EXPECT_EQ(status[3], STATUS_SUCCESS);
  EXPECT_EQ(board_->Do(), 0x44) << "the other handle's writes in their order";
}

// An open reaching the driver after a surprise removal is refused: the handle
// would outlive its device.
TEST_F(DriverTest, AnOpenThatMeetsASurpriseRemovalIsRefused) {
  StartedDevice(24);
  Program program;
  hostk::AtNextEntry("NtCreateFile", [this] { hostk::SurpriseRemove(Pdo()); });
  program.Open(GENERIC_READ, STATUS_DELETE_PENDING);
  EXPECT_EQ(Pdo()->AttachedDevice, nullptr) << "removed: no handle held it";
}

}  // namespace
}  // namespace diotest
