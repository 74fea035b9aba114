// Fuzzes the device-control surface: any code, lengths and bytes, between
// opens and closes, DI interrupts, Plug and Play, power and shutdown. Each run
// ends with the removal and a balanced machine; a broken calling rule stops it.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "bench.h"
#include "driver.h"
#include "host_kernel.h"
#include "user_mode.h"

namespace {

// Reads the input front to back; past its end every read gives zeros.
struct Input {
  const uint8_t *data;
  size_t size;
  uint8_t Byte() { return size ? (--size, *data++) : 0; }
  uint32_t Dword() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(Byte()) << (8 * i);
    return v;
  }
};

const ULONG kCodes[] = {IOCTL_DIO_READ_PORT_UCHAR,  IOCTL_DIO_READ_PORT_USHORT,  IOCTL_DIO_READ_PORT_ULONG,
                        IOCTL_DIO_WRITE_PORT_UCHAR, IOCTL_DIO_WRITE_PORT_USHORT, IOCTL_DIO_WRITE_PORT_ULONG,
                        IOCTL_DIO_ENABLE_EVENT,     IOCTL_DIO_DISABLE_EVENT,     IOCTL_DIO_DO_SYS_CONFIG,
                        IOCTL_DIO_GET_BOARD_INFO};

// A started board and a program. A request the driver holds (stopped) waits
// on a thread of its own until a start, a cancel or a removal ends it.
struct Machine {
  hostboard::Bench bench{DriverEntry};
  std::unique_ptr<hostk::user::Process> program;
  std::vector<HANDLE> files;
  std::vector<HANDLE> events;
  struct Held {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Held> held;
  // Held requests not finished yet; each is blocked, or just released.
  size_t Waiting() const {
    return size_t(std::count_if(held.begin(), held.end(), [](const Held &h) { return !*h.done; }));
  }
};

// An enable's handle: one of the program's events or files, or any value.
ULONG64 HandleValue(Machine &m, Input &in) {
  uint8_t pick = in.Byte();
  if (pick < 128 && !m.events.empty()) return reinterpret_cast<uintptr_t>(m.events[pick % m.events.size()]);
  if (pick < 160 && !m.files.empty()) return reinterpret_cast<uintptr_t>(m.files[pick % m.files.size()]);
  if (pick < 176) return 0;
  ULONG64 v = in.Dword();
  return v | (ULONG64(in.Dword()) << 32);
}

void DeviceControl(Machine &m, Input &in) {
  if (m.files.empty()) return;
  HANDLE file = m.files[in.Byte() % m.files.size()];
  uint8_t pick = in.Byte();
  ULONG code = pick < 200 ? kCodes[pick % 10] : in.Dword();
  if (pick >= 200 && pick < 220) code = (code & 0x0000FFFF) | (ULONG(FILE_DEVICE_DIO) << 16);
  ULONG inLength = in.Byte(), outLength = in.Byte();
  if (in.Byte() & 1) inLength = sizeof(DIO_EVENT_REQUEST) + (in.Byte() & 7) - 4;
  if (in.Byte() & 1) outLength = sizeof(DIO_EVENT_REQUEST) + (in.Byte() & 7) - 4;
  std::vector<uint8_t> input(inLength), output(outLength);
  for (uint8_t &byte : input) byte = in.Byte();
  if (code == IOCTL_DIO_ENABLE_EVENT && inLength >= sizeof(DIO_EVENT_REQUEST)) {
    auto *request = reinterpret_cast<DIO_EVENT_REQUEST *>(input.data());
    for (auto &handle : request->Handles) handle = HandleValue(m, in);
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> entered{false};
  hostk::user::Process *program = m.program.get();
  std::thread request([program, file, code, input = std::move(input), output = std::move(output), done,
                       &entered]() mutable {
    hostk::user::ProcessScope scope(*program);
    entered = true;
    auto result = hostk::user::DeviceIoControl(file, code, input.data(), ULONG(input.size()), output.data(),
                                               ULONG(output.size()));
    if (result.information > output.size()) abort();
    *done = true;
  });
  // Held once, the request under way, more threads are blocked than earlier
  // held requests can be.
  while (!entered || (!*done && hostk::BlockedThreadCount() <= m.Waiting())) std::this_thread::yield();
  if (*done) {
    request.join();
  } else {
    m.held.push_back(Machine::Held{std::move(request), done});
  }
}

// False once the device's start failed: the Plug and Play manager then sends
// nothing but the removal, which the run's end makes.
bool Step(Machine &m, Input &in) {
  hostk::user::ProcessScope scope(*m.program);
  switch (in.Byte() % 12) {
    case 0: case 1: case 2: case 3: DeviceControl(m, in); break;
    case 4:
      if (m.files.size() < 4) {
        HANDLE file;
        if (NT_SUCCESS(hostk::user::OpenFile(hostboard::PublishedDevicePath(), GENERIC_READ | (in.Byte() & 1 ? GENERIC_WRITE : 0), &file)))
          m.files.push_back(file);
      }
      break;
    case 5:
      if (!m.files.empty()) {
        size_t i = in.Byte() % m.files.size();
        hostk::user::CloseHandle(m.files[i]);
        m.files.erase(m.files.begin() + long(i));
      }
      break;
    case 6:
      if (m.events.size() < 12) {
        ACCESS_MASK access = in.Byte() & 1 ? EVENT_ALL_ACCESS : EVENT_MODIFY_STATE;
        m.events.push_back(hostk::user::CreateEvent(true, false, access));
      }
      break;
    case 7: m.bench.board->PulseDiLine(in.Byte() % m.bench.board->SourceCount()); break;
    case 8: hostk::HoldDpcs(in.Byte() & 1); break;
    case 9: {
      static const UCHAR minors[] = {IRP_MN_QUERY_STOP_DEVICE, IRP_MN_CANCEL_STOP_DEVICE,
                                     IRP_MN_STOP_DEVICE, IRP_MN_QUERY_REMOVE_DEVICE,
                                     IRP_MN_CANCEL_REMOVE_DEVICE, IRP_MN_QUERY_CAPABILITIES};
      uint8_t pick = in.Byte() % 7;
      if (pick == 6) {
        if (!NT_SUCCESS(m.bench.Start().ioStatus.Status)) return false;
      } else {
        DEVICE_CAPABILITIES caps = {};
        caps.Size = sizeof caps;
        caps.Version = 1;
        hostk::SendPnp(m.bench.pdos.back(), minors[pick], [&caps](PIRP, PIO_STACK_LOCATION location) {
          location->Parameters.DeviceCapabilities.Capabilities = &caps;
        });
      }
      break;
    }
    case 10: {
      SYSTEM_POWER_STATE state = in.Byte() & 1 ? PowerSystemWorking : PowerSystemSleeping3;
      hostk::SendSetPower(m.bench.pdos.back(), SystemPowerState, hostk::SystemState(state));
      hostk::DrainPowerWork();
      break;
    }
    case 11: hostk::ShutdownSystem(); break;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  hostk::ResetMachine();
  Input in{data, size};
  static const uint32_t models[] = {24, 22, 0, 21};
  Machine m;
  m.bench.BringUp(models[in.Byte() % 4]);
  m.program = std::make_unique<hostk::user::Process>("fuzz");
  for (int steps = 0; in.size && steps < 64; ++steps) {
    if (!Step(m, in)) break;
  }

  // The program ends (its held requests cancelled), then the removal, which
  // fails a request that reached the driver after its handle's cleanup.
  hostk::RunDpcs();
  {
    hostk::user::ProcessScope scope(*m.program);
    for (HANDLE file : m.files) hostk::user::CancelIo(file);
  }
  m.program.reset();
  if (m.bench.Device()) m.bench.Remove();
  for (auto &h : m.held) h.thread.join();
  m.bench.TakeDown();
  std::vector<std::string> left = hostk::Outstanding();
  if (!left.empty()) {
    for (const auto &line : left) fprintf(stderr, "left: %s\n", line.c_str());
    abort();
  }
  return 0;
}
