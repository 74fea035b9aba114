// The device-control interface as a user program sees it, through the I/O manager.
#include <algorithm>
#include <cstring>

#include "event_program.h"

namespace diotest {
namespace {

using hostk::user::DeviceIoControl;
using hostk::user::IoctlResult;

const struct PortCode {
  ULONG code, width;
  bool write;
} kPortCodes[] = {
    {IOCTL_DIO_READ_PORT_UCHAR, 1, false},  {IOCTL_DIO_READ_PORT_USHORT, 2, false},
    {IOCTL_DIO_READ_PORT_ULONG, 4, false},  {IOCTL_DIO_WRITE_PORT_UCHAR, 1, true},
    {IOCTL_DIO_WRITE_PORT_USHORT, 2, true}, {IOCTL_DIO_WRITE_PORT_ULONG, 4, true}};

// A port request: the offset, then a value (used by writes only).
struct PortBuffer {
  uint8_t bytes[16] = {};
  PortBuffer(ULONG offset, uint32_t value) {
    memcpy(bytes, &offset, 4);
    memcpy(bytes + 4, &value, 4);
  }
};

using DeviceControlTest = EventProgramTest;

// A read takes exactly the offset, a write the offset and a whole value, and the
// access lies inside the register block (the general layout's 32 ports, layout 24's 128).
TEST_F(DeviceControlTest, PortRequestsAreWholeAndLieInsideTheRegisterBlock) {
  constexpr NTSTATUS kOk = STATUS_SUCCESS, kOutside = STATUS_ACCESS_VIOLATION, kBadLength = STATUS_INVALID_PARAMETER;
  const struct Row {
    uint32_t model;
    ULONG code, offset, in, out;
    NTSTATUS status;
  } rows[] = {
      {0, IOCTL_DIO_READ_PORT_UCHAR, 31, 4, 1, kOk},          {0, IOCTL_DIO_READ_PORT_UCHAR, 32, 4, 1, kOutside},
      {0, IOCTL_DIO_READ_PORT_USHORT, 30, 4, 2, kOk},         {0, IOCTL_DIO_READ_PORT_USHORT, 31, 4, 2, kOutside},
      {0, IOCTL_DIO_READ_PORT_ULONG, 28, 4, 8, kOk},          {0, IOCTL_DIO_READ_PORT_ULONG, 29, 4, 4, kOutside},
      {0, IOCTL_DIO_READ_PORT_ULONG, 0xFFFFFFFF, 4, 4, kOutside},
      {0, IOCTL_DIO_WRITE_PORT_USHORT, 31, 6, 0, kOutside},   {0, IOCTL_DIO_WRITE_PORT_ULONG, 28, 12, 8, kOk},
      {0, IOCTL_DIO_WRITE_PORT_ULONG, 0xFFFFFFFD, 8, 0, kOutside},
      {24, IOCTL_DIO_READ_PORT_ULONG, 124, 4, 4, kOk},        {24, IOCTL_DIO_READ_PORT_ULONG, 125, 4, 4, kOutside},
      // A read takes exactly 4 bytes and room for its width; a write 4 and its width.
      {0, IOCTL_DIO_READ_PORT_UCHAR, 28, 0, 1, kBadLength},   {0, IOCTL_DIO_READ_PORT_UCHAR, 28, 5, 1, kBadLength},
      {0, IOCTL_DIO_READ_PORT_USHORT, 28, 4, 1, kBadLength},  {0, IOCTL_DIO_READ_PORT_ULONG, 28, 8, 8, kBadLength},
      {0, IOCTL_DIO_WRITE_PORT_UCHAR, 28, 4, 0, kBadLength},  {0, IOCTL_DIO_WRITE_PORT_ULONG, 28, 7, 0, kBadLength},
      {0, IOCTL_DIO_WRITE_PORT_USHORT, 28, 0, 0, kBadLength},
  };
  uint32_t loaded = ~0u;
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << "model " << row.model << ", " << std::hex << row.code << " at "
                                    << row.offset << std::dec << " in " << row.in << " out " << row.out);
    if (row.model != loaded) {
      FreshRow();
      Bring(loaded = row.model);
    }
    board_->Write(uint16_t(kRegisterBase + row.offset - row.offset % 4), 4, 0x44332211);
    PortBuffer request(row.offset, 0xA5C3E1F0);
    uint8_t output[16] = {};
    hostk::ClearPortTrace();
    IoctlResult r = DeviceIoControl(file_, row.code, request.bytes, row.in, output, row.out);
    if (row.status != kOk) {
      EXPECT_EQ(r.status, row.status);
      EXPECT_TRUE(Trace().empty()) << "no port is touched";
      continue;
    }
    const PortCode &c = *std::find_if(std::begin(kPortCodes), std::end(kPortCodes),
                                      [&](const PortCode &p) { return p.code == row.code; });
    const uint32_t seen =
        (c.write ? 0xA5C3E1F0 : 0x44332211u >> 8 * (row.offset % 4)) & uint32_t((uint64_t(1) << 8 * c.width) - 1);
    uint32_t value = 0;
    memcpy(&value, output, c.width);
    EXPECT_EQ(r.status, kOk);
    EXPECT_EQ(r.information, c.write ? 0u : c.width);
    EXPECT_EQ(value, c.write ? 0u : seen) << "the value read is returned";
    EXPECT_EQ(Trace(), std::vector<std::string>{hostk::Describe(
                           {c.write, int(c.width), uint16_t(kRegisterBase + row.offset), seen})});
  }
}

// Unknown codes and buffers shorter than their record are refused, changing
// nothing: no event is taken, no interrupt connected, no output configured.
TEST_F(DeviceControlTest, RefusedRequestsChangeNothing) {
  Bring(24);
  EnableSources(file_);
  hostk::ClearPortTrace();
  HANDLE event = hostk::user::CreateEvent(true, false);
  DIO_EVENT_REQUEST enable = {};
  enable.HandleCount = 1;
  enable.Handles[0] = ULONG64(ULONG_PTR(event));
  const DIO_DO_CONFIG config = {1, 1, 2, 3, 1, 1};
  const PortBuffer port(0, 0xFF);
  constexpr NTSTATUS kShort = STATUS_BUFFER_TOO_SMALL, kUnknown = STATUS_NOT_IMPLEMENTED;
  struct Row {
    ULONG code;
    const void *in;
    ULONG inLength, outLength;
    NTSTATUS status;
  } rows[] = {
      {IOCTL_DIO_ENABLE_EVENT, &enable, 207, 208, kShort}, {IOCTL_DIO_ENABLE_EVENT, &enable, 208, 207, kShort},
      {IOCTL_DIO_DO_SYS_CONFIG, &config, 23, 24, kShort},  {IOCTL_DIO_DO_SYS_CONFIG, nullptr, 0, 0, kShort},
      {IOCTL_DIO_GET_BOARD_INFO, &config, 8, 7, kShort},   {IOCTL_DIO_GET_BOARD_INFO, nullptr, 0, 0, kShort},
      {CTL_CODE(FILE_DEVICE_DIO, 0x903, METHOD_BUFFERED, FILE_ANY_ACCESS), port.bytes, 16, 16, kUnknown},
      // A write's function with other access, a read's with another method.
      {CTL_CODE(FILE_DEVICE_DIO, 0x910, METHOD_BUFFERED, FILE_ANY_ACCESS), port.bytes, 16, 16, kUnknown},
      {CTL_CODE(FILE_DEVICE_DIO, 0x900, METHOD_NEITHER, FILE_READ_ACCESS), port.bytes, 16, 16, kUnknown},
      {CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_READ_ACCESS), port.bytes, 16, 16, kUnknown},
      {CTL_CODE(FILE_DEVICE_DIO, 0, METHOD_BUFFERED, FILE_ANY_ACCESS), port.bytes, 16, 16, kUnknown},
      {0xFFFFFFFFu, port.bytes, 16, 16, kUnknown}};
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << row.code << std::dec << " in "
                                    << row.inLength << " out " << row.outLength);
    uint8_t out[256];
    EXPECT_EQ(DeviceIoControl(file_, row.code, row.in, row.inLength, out, row.outLength).status, row.status);
    EXPECT_TRUE(Trace().empty()) << "no port is touched";
  }
  EXPECT_TRUE(hostk::ConnectedInterrupts().empty());
  board_->PulseDiLine(0);
  EXPECT_EQ(Signalled({event}), "0");
  hostk::ClearPortTrace();
  for (NTSTATUS status : hostk::ShutdownSystem()) EXPECT_EQ(status, STATUS_SUCCESS);
  EXPECT_TRUE(Trace().empty()) << "no shutdown output";
}

// While stopped, port requests wait in the device queue and an enable takes its
// events for the restart to connect. A held request ends with the restart (carried
// out after the registers are back), a cancel, or the removal after a failed
// restart (a cleanup: the next test).
TEST_F(DeviceControlTest, AStoppedBoardHoldsPortRequestsUntilItsRestart) {
  const struct {
    const char *what;
    NTSTATUS status;  // the held requests': success only after the restart
    std::function<void()> end;
  } cases[] = {
      {"restart", STATUS_SUCCESS, [this] { EXPECT_EQ(StartWith().ioStatus.Status, STATUS_SUCCESS); }},
      {"cancelled by its requester", STATUS_CANCELLED,
       [this] { EXPECT_EQ(hostk::user::CancelIo(file_), STATUS_SUCCESS); }},
      {"a failed restart, then the removal", STATUS_DELETE_PENDING,
       [this] {
         hostk::SetBusReply(Pdo(), IRP_MJ_PNP, IRP_MN_START_DEVICE, {STATUS_UNSUCCESSFUL, 0, false});
         EXPECT_EQ(StartWith().ioStatus.Status, STATUS_UNSUCCESSFUL);
         hostk::SurpriseRemove(Pdo());
       }}};
  for (const auto &c : cases) {
    const auto row = FreshRow(c.what);
    Bring(24);
    board_->SetDo(0x03);
    ASSERT_EQ(Pnp(IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
    ASSERT_EQ(Pnp(IRP_MN_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
    hostk::ClearPortTrace();

    std::vector<HANDLE> events = MakeEvents(1);
    EXPECT_EQ(EnableEvents(file_, events).status, STATUS_SUCCESS);
    EXPECT_TRUE(hostk::ConnectedInterrupts().empty()) << "connected at the restart";

    NTSTATUS written = STATUS_PENDING, read = STATUS_PENDING;
    UCHAR output = 0x5A, value = 0;  // the DO register's
    auto writer = InProgramAside([&] { written = PortByte(file_, IOCTL_DIO_WRITE_PORT_UCHAR, 1, &output); });
    auto reader = InProgramAside([&] { read = PortByte(file_, IOCTL_DIO_READ_PORT_UCHAR, 1, &value); });
    EXPECT_TRUE(Trace().empty()) << "held, not carried out";

    c.end();
    writer.reset();
    reader.reset();
    EXPECT_EQ(written, c.status);
    EXPECT_EQ(read, c.status);
    if (c.status == STATUS_SUCCESS) {
      EXPECT_EQ(value, 0x5A) << "in order, after the restart";
      EXPECT_EQ(board_->Do(), 0x5A) << "the write landed after the restart wrote the saved 0x03 back";
      EnableSources(file_);
      ExpectHeard(*board_, events, 0);  // the enable made while stopped works
    } else {
      EXPECT_EQ(board_->Do(), 0x03);
    }
    program_.reset();  // the program ends: its handle closes
    if (c.status == STATUS_DELETE_PENDING) {
      EXPECT_EQ(Pdo()->AttachedDevice, nullptr) << "removed after the last close";
    }
  }
}

// A handle's cleanup takes back its requests held while the board is
// stopped; another handle's stay held, in the order they came, and are
// carried out at the restart.
TEST_F(DeviceControlTest, ACleanupTakesBackOnlyItsHandlesHeldRequests) {
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

// Resources without the register block: the start succeeds and records the
// device, but no port is ever touched (start-up, last close, shutdown output),
// and port requests and enables are refused.
TEST_F(DeviceControlTest, ABoardWithoutARegisterBlockIsNeverTouched) {
  const hostk::Resource interrupt = hostk::InterruptResource(kTranslatedLevel, kTranslatedVector);
  const struct Case {
    const char *what;
    uint32_t model;
    std::vector<hostk::Resource> resources;
    bool restart;  // started with the bench's resources first, then stopped
    ULONG base = 0;  // the register block recorded
  } cases[] = {
      {"general layout, an interrupt only", 0, {interrupt}, false},
      {"layout 24, the information range only", 24, {hostk::PortResource(kInfoBase, 32), interrupt}, false},
      {"layout 24, a register block without its information block", 24,
       {hostk::PortResource(kInfoBase, 0), hostk::PortResource(kRegisterBase, 128), interrupt}, false,
       kRegisterBase},
      {"general layout, restarted without its range", 0, {interrupt}, true},
      {"layout 24, restarted without its ranges", 24, {interrupt}, true},
  };
  for (const Case &c : cases) {
    const auto row = FreshRow(c.what);
    StoreDo({1, 1, 0, 0, 0, 0});
    AddedDevice(c.model);
    if (c.restart) {
      ASSERT_EQ(StartWith().ioStatus.Status, STATUS_SUCCESS);
      ASSERT_EQ(Pnp(IRP_MN_STOP_DEVICE).ioStatus.Status, STATUS_SUCCESS);
    }
    hostk::ClearPortTrace();
    ASSERT_EQ(StartWith(SameResources(c.resources)).ioStatus.Status, STATUS_SUCCESS);
    EXPECT_EQ(StoredDword(kService0, "BaseAddress"), c.base);
    {
      Program program;
      HANDLE file = program.Open();
      UCHAR value = 0xFF;
      EXPECT_EQ(PortByte(file, IOCTL_DIO_READ_PORT_UCHAR, 0, &value), STATUS_ACCESS_VIOLATION);
      EXPECT_EQ(EnableEvents(file, MakeEvents(1)).status, STATUS_ACCESS_VIOLATION);
      EXPECT_TRUE(hostk::ConnectedInterrupts().empty());
    }  // the last close
    for (NTSTATUS status : hostk::ShutdownSystem()) EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(StoredDword(kService0, "OnSystem"), 0u);
    EXPECT_TRUE(Trace().empty()) << Trace().front();
  }
}

TEST_F(DeviceControlTest, TheIoManagerRefusesCodesTheHandleWasNotGranted) {
  StartedDevice(24);
  Program program;
  HANDLE reader = program.Open(FILE_READ_DATA);  // its event slot is the first
  HANDLE writer = program.Open(FILE_WRITE_DATA);
  ASSERT_EQ(EnableEvents(reader, MakeEvents(1)).status, STATUS_SUCCESS);
  const struct {
    HANDLE file;
    ULONG code;
    NTSTATUS status;
  } rows[] = {{reader, IOCTL_DIO_WRITE_PORT_UCHAR, STATUS_ACCESS_DENIED},
              {reader, IOCTL_DIO_DISABLE_EVENT, STATUS_ACCESS_DENIED},
              {writer, IOCTL_DIO_READ_PORT_UCHAR, STATUS_ACCESS_DENIED},
              {reader, IOCTL_DIO_READ_PORT_UCHAR, STATUS_SUCCESS},
              {writer, IOCTL_DIO_WRITE_PORT_UCHAR, STATUS_SUCCESS}};
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << row.code);
    UCHAR value = 0x5A;
    hostk::ClearPortTrace();
    EXPECT_EQ(PortByte(row.file, row.code, 0, &value), row.status);
    EXPECT_EQ(Trace().size(), row.status == STATUS_SUCCESS ? 1u : 0u);
  }
}

}  // namespace
}  // namespace diotest
