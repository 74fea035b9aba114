// dioctl as a program of its own on the host machine: each run is a new user
// process, its output captured, and a run may go on in the background while
// the test fires DI lines and presses Ctrl+C.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace tooltest {

struct Result {
  int exit = -1;
  std::string out;
  std::string err;
  size_t handlesLeft = 0;  // handles the process still held when dioctl returned
};

// Runs a command line ("read 3 --width 2") to its end in a new process.
Result Dioctl(const std::string &commandLine);

// A run on a thread of its own, whose output is read as it comes.
class Running {
 public:
  explicit Running(const std::string &commandLine);
  // A run still going (a test that stopped early) gets Ctrl+C until it ends.
  ~Running();
  Running(const Running &) = delete;
  Running &operator=(const Running &) = delete;

  // Reads output until `text` appears after what earlier calls found; false
  // when it has not within 20 s or the output ended.
  bool WaitFor(const std::string &text);
  // Waits for the program's end and returns all it wrote.
  Result Finish();

 private:
  int readEnd_ = -1;
  std::string seen_;
  size_t cursor_ = 0;
  Result result_;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace tooltest
