// Console control: the handlers a process registers for Ctrl+C, and the
// console that delivers it on a thread of its own in that process.
#include <algorithm>
#include <mutex>
#include <thread>

#include "desktop.h"
#include "host_win32_io.h"
#include "io_state.h"
#include "kernel_bridge.h"

namespace hostwin {
namespace {

struct Handler {
  PHANDLER_ROUTINE routine;  // null: the process ignores Ctrl+C
  void *process;
};

std::mutex handlersMutex;
std::vector<Handler> handlers;  // in registration order

}  // namespace

bool PressCtrlC() {
  std::vector<Handler> snapshot;
  {
    std::lock_guard<std::mutex> hold(handlersMutex);
    snapshot = handlers;
  }
  std::vector<void *> processes;
  for (const Handler &h : snapshot)
    if (std::find(processes.begin(), processes.end(), h.process) == processes.end())
      processes.push_back(h.process);
  bool allHandled = true;
  for (void *process : processes) {
    bool handled = false;
    std::thread delivery([&] {
      kernel::RunInProcess(process, [&] {
        for (auto it = snapshot.rbegin(); it != snapshot.rend() && !handled; ++it) {
          if (it->process != process) continue;
          handled = !it->routine || it->routine(CTRL_C_EVENT) != FALSE;
        }
      });
    });
    delivery.join();
    allHandled = allHandled && handled;
  }
  return allHandled;
}

size_t ProcessHandleCount() { return kernel::HandleCount(); }

std::vector<std::string> RegisteredConsoleHandlers() {
  std::lock_guard<std::mutex> hold(handlersMutex);
  std::vector<std::string> out;
  for (size_t i = 0; i < handlers.size(); ++i) out.push_back("console control handler still registered");
  return out;
}

void ForgetConsoleHandlers() {
  std::lock_guard<std::mutex> hold(handlersMutex);
  handlers.clear();
}

std::vector<std::string> IoOutstanding() {
  std::vector<std::string> out = OpenDeviceInfoSets();
  for (const auto &line : RegisteredConsoleHandlers()) out.push_back(line);
  return out;
}

void ResetIo() {
  ForgetDeviceAccess();
  ForgetDeviceInfoSets();
  ForgetConsoleHandlers();
}

}  // namespace hostwin

using namespace hostwin;

extern "C" {

// Adds or removes a handler of the calling process; a null handler stands
// for "ignore Ctrl+C". Removing one that is not registered fails with
// ERROR_INVALID_PARAMETER [MS:consoleapi/setconsolectrlhandler].
BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
  void *process = kernel::CurrentProcess();
  if (!process) {
    Fault("SetConsoleCtrlHandler called outside a user process");
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(handlersMutex);
  if (add) {
    handlers.push_back(Handler{routine, process});
    return TRUE;
  }
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
    if (it->routine == routine && it->process == process) {
      handlers.erase(std::next(it).base());
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // extern "C"
