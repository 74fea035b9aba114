// driver_benchmarks: what the driver itself costs per request and per
// interrupt, each measured side by side, in the same run, with the least a
// driver could do on the same path of the host kernel:
//
//   - a port read and a port write request through the driver, against a
//     dispatch routine that makes the same port access and completes the
//     request, installed on the same device and reached by the same handle;
//   - one DI interrupt, from the board's edge through the service routine
//     and the DPC to the last event signalled, with 1, 9 and 100 handles
//     each waiting on event 0, and with 100 handles of which one waits on
//     event 0 and the others on events 1 to 8, against a service routine of
//     the benchmark's own on the same interrupt that makes the same five
//     port accesses and queues its DPC, which signals each event waiting on
//     event 0 and does nothing else;
//   - an enable request with nine events, against a request that
//     references the same nine events, releases them and does nothing else.
//
// After Google Benchmark's own report it prints a table of the medians and
// their ratios. Defaults: 20 repetitions of at least 0.1 s each, randomly
// interleaved so that a busy machine weighs on both sides alike; any
// --benchmark_... option overrides them.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "driver.h"
#include "host_kernel.h"
#include "user_mode.h"

namespace {

using hostk::user::DeviceIoControl;

// ---------------------------------------------------------------------------
// The least a driver could do: the minimal dispatch routines.

NTSTATUS Complete(PIRP irp, ULONG_PTR information) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

PUCHAR PortAt(ULONG offset) { return (PUCHAR)(ULONG_PTR)(USHORT)(hostboard::kRegisterBase + offset); }

NTSTATUS MinimalPortRead(PDEVICE_OBJECT, PIRP irp) {
  PDIO_PORT_IO request = (PDIO_PORT_IO)irp->AssociatedIrp.SystemBuffer;
  *(PUCHAR)request = READ_PORT_UCHAR(PortAt(request->Offset));
  return Complete(irp, 1);
}

NTSTATUS MinimalPortWrite(PDEVICE_OBJECT, PIRP irp) {
  PDIO_PORT_IO request = (PDIO_PORT_IO)irp->AssociatedIrp.SystemBuffer;
  WRITE_PORT_UCHAR(PortAt(request->Offset), request->Value.Byte);
  return Complete(irp, 0);
}

NTSTATUS ReferenceNineEvents(PDEVICE_OBJECT, PIRP irp) {
  PDIO_EVENT_REQUEST request = (PDIO_EVENT_REQUEST)irp->AssociatedIrp.SystemBuffer;
  PVOID events[DIO_EVENT_COUNT] = {};
  for (int n = 0; n < DIO_EVENT_COUNT; ++n) {
    ObReferenceObjectByHandle((HANDLE)(ULONG_PTR)request->Handles[n], SYNCHRONIZE, *ExEventObjectType,
                              irp->RequestorMode, &events[n], NULL);
  }
  for (PVOID event : events) {
    if (event != NULL) ObDereferenceObject(event);
  }
  return Complete(irp, sizeof(DIO_EVENT_REQUEST));
}

// The least a driver could do on a DI interrupt of a layout-24 board: the
// five port accesses of the driver's service routine (the summary, both
// status registers read and written back), one DPC, and in it one signal of
// each event waiting on the interrupt.
struct MinimalDi {
  KDPC dpc;
  PKINTERRUPT interrupt = nullptr;
  std::vector<PKEVENT> waiting;  // referenced
};

BOOLEAN MinimalDiService(PKINTERRUPT, PVOID context) {
  const ULONG64 sum = hostboard::kInfoBase + DIO_L24_INTSUM, base = hostboard::kRegisterBase;
  if (READ_PORT_UCHAR((PUCHAR)sum) == 0) return FALSE;
  UCHAR status0 = READ_PORT_UCHAR((PUCHAR)(base + DIO_L24_INTST0));
  UCHAR status1 = READ_PORT_UCHAR((PUCHAR)(base + DIO_L24_INTST1));
  WRITE_PORT_UCHAR((PUCHAR)(base + DIO_L24_INTST0), status0);
  WRITE_PORT_UCHAR((PUCHAR)(base + DIO_L24_INTST1), status1);
  KeInsertQueueDpc(&static_cast<MinimalDi *>(context)->dpc, NULL, NULL);
  return TRUE;
}

VOID MinimalDiDpc(PKDPC, PVOID context, PVOID, PVOID) {
  for (PKEVENT event : static_cast<MinimalDi *>(context)->waiting) KeSetEvent(event, 0, FALSE);
}

// ---------------------------------------------------------------------------
// A started layout-24 board on the bench, and a program with handles on it.
class Setup {
 public:
  explicit Setup(int handles = 1) {
    hostk::ResetMachine();
    if (bench_.BringUp(24) != STATUS_SUCCESS) return;
    program_ = std::make_unique<hostk::user::Process>("benchmark");
    scope_ = std::make_unique<hostk::user::ProcessScope>(*program_);
    for (int i = 0; i < handles; ++i) {
      HANDLE file = nullptr;
      if (!NT_SUCCESS(hostk::user::OpenFile(hostboard::PublishedDevicePath(),
                                            GENERIC_READ | GENERIC_WRITE, &file)))
        return;
      files_.push_back(file);
    }
    ready_ = true;
  }
  ~Setup() {
    scope_.reset();
    program_.reset();  // its handles close
    bench_.TakeDown();
    if (!hostk::Outstanding().empty()) {
      fprintf(stderr, "the benchmark left the machine unbalanced\n");
      abort();
    }
  }

  bool Ready(benchmark::State &state) const {
    if (!ready_) state.SkipWithError("the board did not come up");
    return ready_;
  }
  HANDLE File(size_t i = 0) const { return files_[i]; }
  hostboard::SimBoard &Board() { return *bench_.board; }
  PDEVICE_EXTENSION Extension() const { return (PDEVICE_EXTENSION)bench_.Device()->DeviceExtension; }
  void Replace(PDRIVER_DISPATCH deviceControl) {
    bench_.driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = deviceControl;
  }

  // Enables the handle's events: those of the numbers first to last.
  bool Enable(HANDLE file, int first, int last, DIO_EVENT_REQUEST *request) {
    memset(request, 0, sizeof *request);
    request->HandleCount = USHORT(last + 1);
    for (int n = first; n <= last; ++n)
      request->Handles[n] = ULONG64(reinterpret_cast<uintptr_t>(hostk::user::CreateEvent(true, false)));
    return DeviceIoControl(file, IOCTL_DIO_ENABLE_EVENT, request, sizeof *request, request,
                           sizeof *request).status == STATUS_SUCCESS;
  }
  bool WritePort(ULONG offset, UCHAR value) {
    DIO_PORT_IO request = {offset, {value}};
    return DeviceIoControl(File(), IOCTL_DIO_WRITE_PORT_UCHAR, &request, 5, nullptr, 0).status ==
           STATUS_SUCCESS;
  }

 private:
  hostboard::Bench bench_{DriverEntry};
  std::unique_ptr<hostk::user::Process> program_;
  std::unique_ptr<hostk::user::ProcessScope> scope_;
  std::vector<HANDLE> files_;
  bool ready_ = false;
};

// ---------------------------------------------------------------------------
// The measurements.

void PortRequest(benchmark::State &state, bool write, bool minimal) {
  Setup setup;
  if (!setup.Ready(state)) return;
  if (minimal) setup.Replace(write ? MinimalPortWrite : MinimalPortRead);
  const ULONG code = write ? IOCTL_DIO_WRITE_PORT_UCHAR : IOCTL_DIO_READ_PORT_UCHAR;
  DIO_PORT_IO request = {1, {0x5A}};  // the DO register
  for (auto _ : state) {
    auto result = DeviceIoControl(setup.File(), code, &request, write ? 5 : 4, &request, write ? 0 : 1);
    if (result.status != STATUS_SUCCESS) {
      state.SkipWithError("the port request failed");
      break;
    }
  }
}

// Arguments: the handles open, and how many of them wait on event 0; the
// others wait on events 1 to 8, which no edge of DI line 0 names.
void DiInterrupt(benchmark::State &state, bool minimal) {
  const int handles = int(state.range(0)), holding = int(state.range(1));
  Setup setup(handles);
  if (!setup.Ready(state)) return;
  bool ok = setup.WritePort(DIO_L24_INTEN0, 0x01);  // DI source 0 on
  MinimalDi least;
  HANDLE last = nullptr;
  for (int i = 0; i < handles && ok; ++i) {
    DIO_EVENT_REQUEST request;
    if (i >= holding) {
      // Waits, but on other events; the minimal path has nothing to do for it.
      if (!minimal) ok = setup.Enable(setup.File(size_t(i)), 1, DIO_EVENT_COUNT - 1, &request);
    } else if (!minimal) {
      ok = setup.Enable(setup.File(size_t(i)), 0, 0, &request);
      last = reinterpret_cast<HANDLE>(uintptr_t(request.Handles[0]));
    } else {
      last = hostk::user::CreateEvent(true, false);
      PVOID event = nullptr;
      ok = NT_SUCCESS(ObReferenceObjectByHandle(last, SYNCHRONIZE, *ExEventObjectType, UserMode, &event, NULL));
      if (ok) least.waiting.push_back((PKEVENT)event);
    }
  }
  if (ok && minimal) {
    // The benchmark's own routine takes the board's interrupt as the
    // driver's would.
    PDEVICE_EXTENSION extension = setup.Extension();
    KeInitializeDpc(&least.dpc, MinimalDiDpc, &least);
    ok = NT_SUCCESS(IoConnectInterrupt(&least.interrupt, MinimalDiService, &least, NULL,
                                       extension->InterruptVector, extension->InterruptIrql,
                                       extension->InterruptIrql, BoardInterruptMode(),
                                       BoardInterruptShared(), extension->InterruptAffinity, FALSE));
  }
  if (ok) {
    hostboard::SimBoard &board = setup.Board();
    for (auto _ : state) board.PulseDiLine(0);
    if (!hostk::user::IsSignalled(last)) state.SkipWithError("no event was signalled");
  } else {
    state.SkipWithError("the events were not enabled");
  }
  if (least.interrupt != nullptr) {
    setup.WritePort(DIO_L24_INTEN0, 0x00);  // the line stays quiet from here on
    IoDisconnectInterrupt(least.interrupt);
    KeFlushQueuedDpcs();
  }
  for (PKEVENT event : least.waiting) ObDereferenceObject(event);
}

void EnableNineEvents(benchmark::State &state, bool minimal) {
  Setup setup;
  if (!setup.Ready(state)) return;
  DIO_EVENT_REQUEST request;
  if (!setup.Enable(setup.File(), 0, DIO_EVENT_COUNT - 1, &request)) {
    state.SkipWithError("the events were not enabled");
    return;
  }
  if (minimal) setup.Replace(ReferenceNineEvents);
  const DIO_EVENT_REQUEST sent = request;
  for (auto _ : state) {
    auto result = DeviceIoControl(setup.File(), IOCTL_DIO_ENABLE_EVENT, &sent, sizeof sent, &request,
                                  sizeof request);
    if (result.status != STATUS_SUCCESS) {
      state.SkipWithError("the enable failed");
      break;
    }
  }
}

BENCHMARK_CAPTURE(PortRequest, read_driver, false, false);
BENCHMARK_CAPTURE(PortRequest, read_minimal, false, true);
BENCHMARK_CAPTURE(PortRequest, write_driver, true, false);
BENCHMARK_CAPTURE(PortRequest, write_minimal, true, true);
BENCHMARK_CAPTURE(DiInterrupt, driver, false)->Args({1, 1})->Args({9, 9})->Args({100, 100})->Args({100, 1});
BENCHMARK_CAPTURE(DiInterrupt, minimal, true)->Args({1, 1})->Args({9, 9})->Args({100, 100})->Args({100, 1});
BENCHMARK_CAPTURE(EnableNineEvents, driver, false);
BENCHMARK_CAPTURE(EnableNineEvents, minimal, true);

// ---------------------------------------------------------------------------
// The table.

// Keeps the median CPU time of each benchmark, in nanoseconds.
class MedianCollector : public benchmark::ConsoleReporter {
 public:
  MedianCollector() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !run.error_occurred)
        medians_[run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args)] =
            run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // 0 when the benchmark did not run.
  double Median(const std::string &name) const {
    auto it = medians_.find(name);
    return it == medians_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> medians_;
};

void PrintTable(const MedianCollector &medians, const std::string &repetitions) {
  struct Row {
    const char *what, *driver, *minimal, *goal;
  };
  const Row rows[] = {
      {"port read request (byte)", "PortRequest/read_driver", "PortRequest/read_minimal", "<= 1.2"},
      {"port write request (byte)", "PortRequest/write_driver", "PortRequest/write_minimal", "<= 1.2"},
      {"DI interrupt, 1 handle", "DiInterrupt/driver/1/1", "DiInterrupt/minimal/1/1", "<= 1.3"},
      {"DI interrupt, 9 handles", "DiInterrupt/driver/9/9", "DiInterrupt/minimal/9/9", "<= 1.3"},
      {"DI interrupt, 100 handles", "DiInterrupt/driver/100/100", "DiInterrupt/minimal/100/100", "<= 1.3"},
      {"DI, 100 handles, 1 holding", "DiInterrupt/driver/100/1", "DiInterrupt/minimal/100/1", "<= 1.3"},
      {"enable with nine events", "EnableNineEvents/driver", "EnableNineEvents/minimal", "<= 1.5"},
  };
  printf("\nThe driver against the minimal path: medians of %s repetitions, CPU ns per operation\n\n",
         repetitions.c_str());
  printf("%-28s %10s %14s %11s %7s  %s\n", "measurement", "driver", "minimal path", "difference", "ratio",
         "goal");
  for (const Row &row : rows) {
    double driver = medians.Median(row.driver), minimal = medians.Median(row.minimal);
    if (driver == 0 || minimal == 0) {
      printf("%-28s %10s %14s %11s %7s  %s\n", row.what, "-", "-", "-", "-", row.goal);
      continue;
    }
    printf("%-28s %10.0f %14.0f %11.0f %7.2f  %s\n", row.what, driver, minimal, driver - minimal,
           driver / minimal, row.goal);
  }
  // What each further handle adds, from 1 to 100 handles.
  const double one = medians.Median("DiInterrupt/driver/1/1"), all = medians.Median("DiInterrupt/driver/100/100"),
               others = medians.Median("DiInterrupt/driver/100/1"),
               leastOne = medians.Median("DiInterrupt/minimal/1/1"),
               leastAll = medians.Median("DiInterrupt/minimal/100/100");
  if (one != 0 && all != 0 && others != 0 && leastOne != 0 && leastAll != 0)
    printf("\nEach further handle waiting on the event adds %.1f ns to a DI interrupt (the minimal path: %.1f ns);\n"
           "each further handle waiting on other events adds %.1f ns.\n",
           (all - one) / 99, (leastAll - leastOne) / 99, (others - one) / 99);
}

}  // namespace

int main(int argc, char **argv) {
  // The defaults come first, so that the command line overrides them.
  std::vector<std::string> defaults = {"--benchmark_repetitions=20", "--benchmark_min_time=0.1",
                                       "--benchmark_enable_random_interleaving=true",
                                       "--benchmark_report_aggregates_only=true"};
  std::vector<char *> args = {argv[0]};
  for (std::string &option : defaults) args.push_back(&option[0]);
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  std::string repetitions;
  for (const char *arg : args) {
    const std::string option = arg, flag = "--benchmark_repetitions=";
    if (option.rfind(flag, 0) == 0) repetitions = option.substr(flag.size());
  }
  int count = int(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

  MedianCollector medians;
  benchmark::RunSpecifiedBenchmarks(&medians);
  PrintTable(medians, repetitions);
  benchmark::Shutdown();
  return 0;
}
