#include "event_program.h"

#include <chrono>
#include <cstring>

namespace diotest {

using hostk::user::DeviceIoControl;

NTSTATUS PortByte(HANDLE file, ULONG code, ULONG offset, UCHAR *value) {
  DIO_PORT_IO request = {offset, {*value}};
  const bool write = code == IOCTL_DIO_WRITE_PORT_UCHAR;
  return DeviceIoControl(file, code, &request, write ? 5 : 4, write ? nullptr : value, write ? 0 : 1).status;
}

void WritePort(HANDLE file, ULONG offset, UCHAR value) {
  EXPECT_EQ(PortByte(file, IOCTL_DIO_WRITE_PORT_UCHAR, offset, &value), STATUS_SUCCESS);
}

void EnableSources(HANDLE file) {
  switch (BoardLayout()) {
    case BoardLayout22: WritePort(file, DIO_L22_INTEN0, 0xFF); WritePort(file, DIO_L22_INTEN1, 0x01); break;
    case BoardLayout24: WritePort(file, DIO_L24_INTEN0, 0xFF); WritePort(file, DIO_L24_INTEN1, 0xFF); break;
    default: WritePort(file, DIO_GENERAL_INTEN0, 0xFF); break;
  }
}

hostk::user::IoctlResult EnableEvents(HANDLE file, const std::vector<HANDLE> &events, DIO_EVENT_REQUEST *out) {
  DIO_EVENT_REQUEST request;
  memset(&request, 0, sizeof request);
  request.UserWord = 0x1234;
  request.Status = 0x7777;
  request.HandleCount = USHORT(events.size());
  for (size_t n = 0; n < events.size() && n < 18; ++n)
    request.Handles[n] = ULONG64(reinterpret_cast<uintptr_t>(events[n]));
  DIO_EVENT_REQUEST reply;
  auto result = DeviceIoControl(file, IOCTL_DIO_ENABLE_EVENT, &request, sizeof request, &reply, sizeof reply);
  if (out) *out = result.information ? reply : request;
  return result;
}

hostk::user::IoctlResult DisableEvents(HANDLE file) {
  return DeviceIoControl(file, IOCTL_DIO_DISABLE_EVENT, nullptr, 0, nullptr, 0);
}

std::vector<HANDLE> MakeEvents(size_t n) {
  std::vector<HANDLE> events;
  for (size_t i = 0; i < n; ++i) events.push_back(hostk::user::CreateEvent(true, false));
  return events;
}

std::string Signalled(const std::vector<HANDLE> &events) {
  std::string out;
  for (HANDLE e : events) {
    out += hostk::user::IsSignalled(e) ? '1' : '0';
    hostk::user::ResetEvent(e);
  }
  return out;
}

void ExpectHeard(hostboard::SimBoard &board, const std::vector<HANDLE> &events, int line) {
  Signalled(events);
  board.PulseDiLine(line);
  std::string expected(events.size(), '0');
  expected[size_t(line)] = '1';
  EXPECT_EQ(Signalled(events), expected) << "DI line " << line;
}

void ExpectANewProgramHears(hostboard::SimBoard &board, int line) {
  Program program("checker");
  HANDLE file = program.Open();
  EnableSources(file);
  std::vector<HANDLE> events = MakeEvents(DIO_EVENT_COUNT);
  EXPECT_EQ(EnableEvents(file, events).status, STATUS_SUCCESS);
  ExpectHeard(board, events, line);
}

OtherDevice::OtherDevice() {
  hostk::AttachInterruptSource(kTranslatedVector, this);
  EXPECT_EQ(IoConnectInterrupt(&interrupt_, Service, this, nullptr, kTranslatedVector, kTranslatedLevel,
                               kTranslatedLevel, LevelSensitive, TRUE, kAffinity, FALSE),
            STATUS_SUCCESS);
}

OtherDevice::~OtherDevice() {
  if (interrupt_) IoDisconnectInterrupt(interrupt_);
  hostk::DetachInterruptSource(this);
}

void OtherDevice::Assert() {
  asserted_ = true;
  hostk::InterruptLineChanged(kTranslatedVector);
}

BOOLEAN OtherDevice::Service(PKINTERRUPT, PVOID context) {
  auto *device = static_cast<OtherDevice *>(context);
  if (!device->asserted_) return FALSE;
  ++device->served_;
  device->asserted_ = false;
  hostk::InterruptLineChanged(kTranslatedVector);
  return TRUE;
}

Aside::Aside(std::function<void()> work) {
  size_t blocked = hostk::BlockedThreadCount();
  thread_ = std::thread([this, work] {
    work();
    done_ = true;
  });
  while (!done_ && hostk::BlockedThreadCount() <= blocked)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

Aside::~Aside() { thread_.join(); }

std::unique_ptr<Aside> EventProgramTest::InProgramAside(std::function<void()> work) {
  hostk::user::Process *program = &program_->process();
  return std::make_unique<Aside>([program, work] {
    hostk::user::ProcessScope scope(*program);
    work();
  });
}

void EventProgramTest::AsideAt(const char *entry, std::function<void()> work, const std::function<void()> &action) {
  std::unique_ptr<Aside> aside;
  hostk::AtNextEntry(entry, [&] { aside = InProgramAside(work); });
  action();
  aside.reset();
}

void EventProgramTest::Bring(uint32_t model) {
  device_ = StartedDevice(model);
  program_ = std::make_unique<Program>();
  file_ = Open();
}

std::vector<HANDLE> EventProgramTest::Ready(uint32_t model) {
  Bring(model);
  EnableSources(file_);
  std::vector<HANDLE> events = MakeEvents(9);
  EXPECT_EQ(EnableEvents(file_, events).status, STATUS_SUCCESS);
  return events;
}

void EventProgramTest::TearDown() {
  program_.reset();  // the program ends: its handles close
  DriverTest::TearDown();
}

}  // namespace diotest
