// dio_sim --tool: the board brought up without the lab log, then each
// command line run by dioctl as a program of its own, as a technician would
// at a console. A watch gets DI lines fired while it runs, and a Ctrl+C
// when it was given no time.
#include "tool_session.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "bench.h"
#include "dioctl_main.h"
#include "host_win32.h"
#include "host_win32_io.h"
#include "report.h"
#include "user_mode.h"

namespace diosim {
namespace {

// A layout-24 board that says what it has: 16 DI channels, all of them
// interrupt sources, 8 DO channels, 4 program LEDs, FPGA version 0x23.
void DescribeBoard(hostboard::SimBoard &board) {
  const std::pair<uint32_t, uint8_t> info[] = {{0, 16}, {1, 16}, {2, 8}, {4, 4}, {31, 0x23}};
  for (const auto &byte : info) board.SetInfoByte(byte.first, byte.second);
}

// Runs one command line in a new process "dioctl.exe" on this thread.
int RunDioctl(const std::string &commandLine) {
  hostk::user::Process process("dioctl.exe");
  hostk::user::ProcessScope scope(process);
  return DioctlCommandLine(commandLine.c_str(), stdout, stdout);
}

bool SourcesOn(const hostboard::SimBoard &board) { return board.IntEn0() != 0 || board.IntEn1() != 0; }

// A watch: once it has switched sources on, the lines fire one by one;
// without --for, Ctrl+C ends it.
int RunWatch(const std::string &commandLine, hostboard::SimBoard &board, const std::vector<int> &lines) {
  using namespace std::chrono;
  int exit = -1;
  std::thread program([&] { exit = RunDioctl(commandLine); });
  auto deadline = steady_clock::now() + seconds(20);
  while (!SourcesOn(board) && steady_clock::now() < deadline) std::this_thread::sleep_for(milliseconds(5));
  for (int line : lines) {
    if (!SourcesOn(board)) break;
    std::this_thread::sleep_for(milliseconds(50));
    printf("(DI line %d fires)\n", line);
    fflush(stdout);
    board.PulseDiLine(line);
  }
  if (commandLine.find("--for") == std::string::npos) {
    std::this_thread::sleep_for(milliseconds(100));
    printf("(Ctrl+C)\n");
    fflush(stdout);
    hostwin::PressCtrlC();
  }
  program.join();
  return exit;
}

}  // namespace

int RunToolSession(uint32_t model, const std::vector<std::string> &commandLines, std::vector<int> lines) {
  using namespace hostboard;
  if (lines.empty()) {
    // Every line behind an event: 0 to 3 on the general layout, 0 to 8 on
    // the others.
    for (int n = 0; n < (LayoutFor(model) == General ? 4 : 9); ++n) lines.push_back(n);
  }
  Bench bench(DriverEntry);
  InstallModel(model);
  SimBoard &board = bench.Attach(model);
  if (model == 24) DescribeBoard(board);
  hostk::PdoConfig config;
  config.busNumber = 2;
  config.address = 0x00030001;
  if (!NT_SUCCESS(bench.Load()) || !NT_SUCCESS(bench.Add(config)) ||
      !NT_SUCCESS(bench.Start().ioStatus.Status)) {
    fprintf(stderr, "dio_sim: the board of model %u did not start\n", model);
    return 1;
  }
  printf("TesZEPDIO started a simulated board of model %u (%s) at port 0x%04X; dioctl runs as a program\n",
         model, LayoutName(model), kRegisterBase);

  int firstFailure = 0;
  for (const std::string &commandLine : commandLines) {
    printf("\n$ dioctl %s\n", commandLine.c_str());
    fflush(stdout);
    bool watch = commandLine.compare(0, 5, "watch") == 0 && commandLine.find("--help") == std::string::npos;
    int exit = watch ? RunWatch(commandLine, board, lines) : RunDioctl(commandLine);
    printf("(exit %d)\n", exit);
    if (exit != 0 && firstFailure == 0) firstFailure = exit;
  }

  printf("\n");
  bench.Remove();
  bench.TakeDown();
  std::vector<std::string> left = hostwin::Outstanding();
  for (const auto &line : hostwin::IoOutstanding()) left.push_back(line);
  for (const auto &line : left) Line("left: " + line);
  Balance();
  bool balanced = left.empty() && hostk::Outstanding().empty();
  hostk::ResetMachine();
  return balanced ? firstFailure : 1;
}

}  // namespace diosim
