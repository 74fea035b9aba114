#include "program.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "dioctl_main.h"
#include "host_win32_io.h"
#include "user_mode.h"

namespace tooltest {

Result Dioctl(const std::string &commandLine) { return Running(commandLine).Finish(); }

// dioctl runs in a new process "dioctl.exe" on a thread of its own.
Running::Running(const std::string &commandLine) {
  int ends[2];
  if (pipe(ends) != 0) abort();
  readEnd_ = ends[0];
  FILE *out = fdopen(ends[1], "w");
  thread_ = std::thread([this, commandLine, out] {
    char *errText = nullptr;
    size_t errSize = 0;
    FILE *err = open_memstream(&errText, &errSize);
    {
      hostk::user::Process process("dioctl.exe");
      hostk::user::ProcessScope scope(process);
      result_.exit = DioctlCommandLine(commandLine.c_str(), out, err);
      result_.handlesLeft = hostwin::ProcessHandleCount();
    }
    fclose(err);
    result_.err.assign(errText, errSize);
    free(errText);
    fclose(out);
    ended_ = true;
  });
}

Running::~Running() {
  while (thread_.joinable() && !ended_) {
    hostwin::PressCtrlC();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (thread_.joinable()) thread_.join();
  if (readEnd_ >= 0) close(readEnd_);
}

bool Running::WaitFor(const std::string &text) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    size_t found = seen_.find(text, cursor_);
    if (found != std::string::npos) {
      cursor_ = found + text.size();
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd ready = {readEnd_, POLLIN, 0};
    if (poll(&ready, 1, int(left.count())) <= 0) return false;
    char buffer[512];
    ssize_t n = read(readEnd_, buffer, sizeof buffer);
    if (n <= 0) return false;
    seen_.append(buffer, size_t(n));
  }
}

Result Running::Finish() {
  char buffer[512];
  for (ssize_t n; (n = read(readEnd_, buffer, sizeof buffer)) > 0;) seen_.append(buffer, size_t(n));
  thread_.join();
  result_.out = seen_;
  return result_;
}

}  // namespace tooltest
