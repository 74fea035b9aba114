// What a user program does to hear of DI interrupts, a fixture with such a
// program on a started board, and another device sharing the interrupt line.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver_fixture.h"

namespace diotest {

// Requests of the calling thread's process on a device handle.
// A byte port request, a write of *value or a read into it: its status.
NTSTATUS PortByte(HANDLE file, ULONG code, ULONG offset, UCHAR *value);
void WritePort(HANDLE file, ULONG offset, UCHAR value);
// Switches every DI source of the loaded model's board on.
void EnableSources(HANDLE file);
// Enables events with these handles; `out` receives the request as it came back.
hostk::user::IoctlResult EnableEvents(HANDLE file, const std::vector<HANDLE> &events, DIO_EVENT_REQUEST *out = nullptr);
hostk::user::IoctlResult DisableEvents(HANDLE file);
// New manual-reset events of the calling thread's process, not signalled.
std::vector<HANDLE> MakeEvents(size_t n);
// Which of the events are signalled, as a string of 0 and 1; resets them.
std::string Signalled(const std::vector<HANDLE> &events);
// A DI edge on `line` signals that one of the events alone (what was
// signalled before is cleared first).
void ExpectHeard(hostboard::SimBoard &board, const std::vector<HANDLE> &events, int line);
// The board still works: a new program switches every source on, enables
// nine events and hears a DI edge on `line`.
void ExpectANewProgramHears(hostboard::SimBoard &board, int line);

// Another device sharing the bench's level-sensitive vector: its routine
// claims the interrupt while the device asserts the line, and quiets it.
class OtherDevice : public hostk::InterruptSource {
 public:
  OtherDevice();
  ~OtherDevice() override;
  bool InterruptAsserted() const override { return asserted_; }
  void Assert();
  int Served() const { return served_; }

 private:
  static BOOLEAN Service(PKINTERRUPT interrupt, PVOID context);
  std::atomic<bool> asserted_{false};
  std::atomic<int> served_{0};
  PKINTERRUPT interrupt_ = nullptr;
};

// Runs work on a thread of its own, as another processor would, until it
// finishes or waits inside the kernel; the destructor waits for it.
class Aside {
 public:
  explicit Aside(std::function<void()> work);
  ~Aside();
  Aside(const Aside &) = delete;
  Aside &operator=(const Aside &) = delete;

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

class EventProgramTest : public DriverTest {
 protected:
  // A started board of the model, and a user program with the device open.
  void Bring(uint32_t model);
  // The same, with every DI source on and nine events enabled.
  std::vector<HANDLE> Ready(uint32_t model);
  HANDLE Open(NTSTATUS expected = STATUS_SUCCESS) { return program_->Open(GENERIC_READ | GENERIC_WRITE, expected); }
  // Runs work for the program on a thread of its own (see Aside).
  std::unique_ptr<Aside> InProgramAside(std::function<void()> work);
  // Runs `action`; at its next entry to the kernel routine `entry`, `work`
  // starts for the program on a thread of its own, waited for at the end.
  void AsideAt(const char *entry, std::function<void()> work, const std::function<void()> &action);
  void TearDown() override;

  PDEVICE_OBJECT device_ = nullptr;
  std::unique_ptr<Program> program_;
  HANDLE file_ = nullptr;
};

}  // namespace diotest
