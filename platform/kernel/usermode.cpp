// User processes and the event objects user programs hand to drivers.
#include <algorithm>

#include "process.h"
#include "user_mode.h"

namespace hostk {
namespace {

std::vector<Process *> processes;

struct EventHolder : HandleObject {
  KEVENT event;
  std::string Describe() const override { return "event object"; }
  POBJECT_TYPE Type() const override { return &EventObjectType; }
  void *Body() override { return &event; }
};

std::shared_ptr<EventHolder> NewEvent(bool manualReset, bool initialState) {
  auto holder = std::make_shared<EventHolder>();
  KeInitializeEvent(&holder->event, manualReset ? NotificationEvent : SynchronizationEvent,
                    initialState);
  return holder;
}

PKEVENT EventOf(HANDLE handle) {
  NTSTATUS status;
  auto holder = std::dynamic_pointer_cast<EventHolder>(LookupHandle(handle, UserMode, nullptr, &status));
  if (!holder) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "not an event handle of this process");
  return &holder->event;
}

}  // namespace

std::vector<Process *> AllProcesses() {
  std::lock_guard<std::recursive_mutex> hold(ObjectLock());
  return processes;
}

void ListProcessLeaks(std::vector<std::string> *out) {
  std::lock_guard<std::recursive_mutex> hold(ObjectLock());
  for (Process *p : processes) out->push_back("process " + p->name + " still running");
}

void ResetProcesses() {
  std::vector<Process *> dropped;
  {
    std::lock_guard<std::recursive_mutex> hold(ObjectLock());
    dropped.swap(processes);
  }
  for (Process *p : dropped) delete p;
  SetCurrentProcess(nullptr);
}

namespace user {

Process::Process(const std::string &name) : process_(new hostk::Process{name, {}}) {
  std::lock_guard<std::recursive_mutex> hold(ObjectLock());
  processes.push_back(process_);
}

Process::~Process() {
  {
    std::lock_guard<std::recursive_mutex> hold(ObjectLock());
    auto it = std::find(processes.begin(), processes.end(), process_);
    if (it == processes.end()) return;  // dropped by a machine reset
    processes.erase(it);
  }
  hostk::Process *saved = CurrentProcess();
  SetCurrentProcess(process_);
  EndRequestsOf(process_->table);
  CloseAllHandles(process_->table);
  SetCurrentProcess(saved == process_ ? nullptr : saved);
  delete process_;
}

ProcessScope::ProcessScope(Process &process) : saved_(CurrentProcess()) {
  SetCurrentProcess(process.get());
}

ProcessScope::~ProcessScope() { SetCurrentProcess(saved_); }

HANDLE CreateEvent(bool manualReset, bool initialState, ACCESS_MASK access) {
  hostk::Process *process = CurrentProcess();
  if (!process) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "CreateEvent outside a user process");
  return InsertProcessHandle(process, NewEvent(manualReset, initialState), access);
}

bool IsSignalled(HANDLE event) { return KeReadStateEvent(EventOf(event)) != 0; }

void ResetEvent(HANDLE event) { KeResetEvent(EventOf(event)); }

HANDLE CreateKernelEvent() { return InsertKernelHandle(NewEvent(true, false), EVENT_ALL_ACCESS); }

NTSTATUS CloseHandle(HANDLE handle) {
  return hostk::CloseHandle(handle, UserMode) ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}

}  // namespace user
}  // namespace hostk
