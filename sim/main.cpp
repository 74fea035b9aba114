// dio_sim: loads TesZEPDIO into the host kernel for a simulated board and
// runs the board's life, logging what the driver does.
//
//   dio_sim [--model N] [--do-start CH,LEVEL] [--do-shutdown CH,LEVEL]
//   dio_sim [--model N] --tool "COMMAND ARGS" [--tool ...] [--fire LINES]
//
//   --model        board-model code written to "DeviceType" (default 24)
//   --do-start     DO settings as the applet stores them: drive channel CH
//   --do-shutdown  to LEVEL when the board starts / the system shuts down
//   --tool         instead of the board's life, run dioctl with these
//                  arguments on the started board (tool_session.h)
//   --fire         the DI lines fired during a watch, such as 0,3,8
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "host_kernel.h"
#include "registry_store.h"
#include "report.h"
#include "tool_session.h"
#include "bench.h"
#include "user_mode.h"

namespace {

const char kServices[] = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services";

using namespace hostboard;  // the bench: its keys, ports, interrupt and resources

struct Options {
  uint32_t model = 24;
  // By default the start output drives DO channel 2 high, as the applet
  // would store it.
  bool doStart = true, doShutdown = false;
  uint32_t startChannel = 2, startLevel = 1, shutdownChannel = 0, shutdownLevel = 0;
  std::vector<std::string> tools;
  std::vector<int> fire;
};

bool ParsePair(const char *text, uint32_t *a, uint32_t *b) {
  char *end;
  *a = uint32_t(strtoul(text, &end, 0));
  if (*end != ',') return false;
  *b = uint32_t(strtoul(end + 1, &end, 0));
  return *end == 0;
}

bool Parse(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; ++i) {
    bool more = i + 1 < argc;
    if (!strcmp(argv[i], "--model") && more) {
      o->model = uint32_t(strtoul(argv[++i], nullptr, 0));
    } else if (!strcmp(argv[i], "--do-start") && more) {
      if (!strcmp(argv[i + 1], "off")) {
        o->doStart = false;
        ++i;
        continue;
      }
      o->doStart = ParsePair(argv[++i], &o->startChannel, &o->startLevel);
      if (!o->doStart) return false;
    } else if (!strcmp(argv[i], "--do-shutdown") && more) {
      o->doShutdown = ParsePair(argv[++i], &o->shutdownChannel, &o->shutdownLevel);
      if (!o->doShutdown) return false;
    } else if (!strcmp(argv[i], "--tool") && more) {
      o->tools.push_back(argv[++i]);
    } else if (!strcmp(argv[i], "--fire") && more) {
      for (char *p = argv[++i]; *p;) {
        o->fire.push_back(int(strtol(p, &p, 10)));
        if (*p == ',') ++p;
        else if (*p) return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

std::string Status(NTSTATUS status) { return diosim::Hex(uint32_t(status), 8); }

void Request(const char *what, const hostk::IrpResult &result) {
  diosim::Line(std::string(what) + ": " + Status(result.ioStatus.Status));
}

std::string Signalled(const std::vector<HANDLE> &events) {
  std::string out;
  for (size_t n = 0; n < events.size(); ++n) {
    if (hostk::user::IsSignalled(events[n])) {
      out += (out.empty() ? "" : ", ") + std::to_string(n);
      hostk::user::ResetEvent(events[n]);
    }
  }
  return out.empty() ? "none" : out;
}

std::vector<HANDLE> NineEvents(DIO_EVENT_REQUEST *request) {
  std::vector<HANDLE> events;
  memset(request, 0, sizeof *request);
  request->HandleCount = DIO_EVENT_COUNT;
  for (int n = 0; n < DIO_EVENT_COUNT; ++n) {
    events.push_back(hostk::user::CreateEvent(true, false));
    request->Handles[n] = ULONG64(reinterpret_cast<uintptr_t>(events.back()));
  }
  return events;
}

NTSTATUS EnableNine(HANDLE file, std::vector<HANDLE> *events) {
  DIO_EVENT_REQUEST request;
  *events = NineEvents(&request);
  return hostk::user::DeviceIoControl(file, IOCTL_DIO_ENABLE_EVENT, &request, sizeof request,
                                      &request, sizeof request).status;
}

// Fires a DI line; the interrupt is taken on its processor thread, and its
// DPC waits until `meanwhile` has run, then runs to its end.
void FireDiLine(hostboard::SimBoard &board, int source, const std::function<void()> &meanwhile) {
  hostk::HoldDpcs(true);
  board.PulseDiLine(source);
  while (hostk::QueuedDpcCount() == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
  meanwhile();
  hostk::HoldDpcs(false);
  KeFlushQueuedDpcs();
}

// A second program, monitor.exe, works on a thread of its own while DI
// lines fire; the service routine and the DPC run on processor threads of
// their own, as on a multiprocessor PC. Whatever the second program does
// before a DPC runs, the status the service routine saved reaches the events
// of every handle that holds them then.
void SecondProgram(hostboard::SimBoard &board, const std::vector<HANDLE> &events) {
  using namespace diosim;
  Heading("a second program enables and closes while DI lines fire");
  hostk::UseProcessorThreads(true);
  Line("interrupts and DPCs run on processor threads of their own");
  hostk::user::Process monitor("monitor.exe");
  HANDLE file = nullptr;
  std::vector<HANDLE> itsEvents;
  auto inMonitor = [&monitor](const std::function<void()> &work) {
    std::thread thread([&monitor, &work] {
      hostk::user::ProcessScope scope(monitor);
      work();
    });
    thread.join();
  };
  inMonitor([&] {
    NTSTATUS opened = hostk::user::OpenFile(PublishedDevicePath(), GENERIC_READ | GENERIC_WRITE, &file);
    NTSTATUS enabled = EnableNine(file, &itsEvents);
    Line("monitor.exe: open " + Status(opened) + ", enable events 0-8: " + Status(enabled));
  });
  auto signalled = [&] {
    std::string theirs;
    inMonitor([&] { theirs = Signalled(itsEvents); });
    return "dioapp.exe " + Signalled(events) + "; monitor.exe " + theirs;
  };
  FireDiLine(board, 0, [] {});
  Line("DI line 0 fires; events signalled: " + signalled());
  FireDiLine(board, 3, [&] {
    inMonitor([&] {
      NTSTATUS enabled = EnableNine(file, &itsEvents);
      NTSTATUS closed = hostk::user::CloseHandle(file);
      Line("DI line 3 fires; before its DPC runs, monitor.exe enables again (" + Status(enabled) +
           ") and closes its handle (" + Status(closed) + ")");
    });
  });
  Line("events signalled: " + signalled());
  FireDiLine(board, 1, [] {});
  Line("DI line 1 fires; events signalled: " + signalled());
  hostk::UseProcessorThreads(false);
  Line("the interrupt service routine, on its processor thread:");
  PortAccesses();
}

// The device key's "OnSystem", which the shutdown sets to 0.
void OnSystem() {
  hostreg::Value value;
  if (!hostreg::GetValue(DIO_KEY_MACHINE DIO_KEY_SERVICE_DEVICE000, DIO_VALUE_ON_SYSTEM, &value)) return;
  uint32_t v = 0;
  memcpy(&v, value.data.data(), value.data.size() < 4 ? value.data.size() : 4);
  diosim::Line("\"OnSystem\"       " + std::to_string(v));
}

// A user program: opens the device by the path the driver published, reads
// and writes ports, enables the board's DI sources and hands in nine events,
// then waits while DI lines fire; configures the DO outputs and closes.
// The DI sources are switched on by the program itself: sources 0 to 7,
// and on layouts 22 and 24 the sources from 8 on.
void SwitchSourcesOn(HANDLE file, uint32_t model) {
  using namespace diosim;
  using hostk::user::DeviceIoControl;
  const Layout layout = LayoutFor(model);
  DIO_PORT_IO write = {ULONG(layout == L22 ? DIO_L22_INTEN0 : layout == L24 ? DIO_L24_INTEN0 : DIO_GENERAL_INTEN0),
                       {0xFF}};
  Line("enable DI sources 0-7: " + Status(DeviceIoControl(file, IOCTL_DIO_WRITE_PORT_UCHAR, &write, 5, nullptr, 0).status));
  if (layout != General) {
    write.Offset = layout == L22 ? DIO_L22_INTEN1 : DIO_L24_INTEN1;
    Line("enable DI sources 8 and up: " +
         Status(DeviceIoControl(file, IOCTL_DIO_WRITE_PORT_UCHAR, &write, 5, nullptr, 0).status));
  }
}

// A whole-machine transition and its way back, with the system requests'
// outcomes and the board's power in between.
void Transition(hostk::SystemTransition transition, hostboard::SimBoard &board, PDEVICE_OBJECT device) {
  using namespace diosim;
  for (const auto &r : hostk::EnterSystemTransition(transition)) Request(hostk::Describe(transition).c_str(), r);
  Line(std::string("the machine is off; the board ") + (board.Powered() ? "has power" : "has no power"));
  PortAccesses();
  for (const auto &r : hostk::LeaveSystemTransition(transition)) Request("back in S0", r);
  DeviceSummary(device);
  PortAccesses();
}

// A program that keeps its handle, its events and the board's sources
// through a sleep and a hibernation, and hears its events after each.
void SleepingProgram(hostboard::SimBoard &board, uint32_t model, PDEVICE_OBJECT device) {
  using namespace diosim;
  using hostk::SystemTransition;
  hostk::user::Process program("dioapp.exe");
  hostk::user::ProcessScope scope(program);
  HANDLE file = nullptr;
  Line("open: " + Status(hostk::user::OpenFile(PublishedDevicePath(), GENERIC_READ | GENERIC_WRITE, &file)));
  SwitchSourcesOn(file, model);
  std::vector<HANDLE> events;
  Line("enable events 0-8: " + Status(EnableNine(file, &events)));
  hostk::ClearPortTrace();
  for (SystemTransition t : {SystemTransition::Sleep, SystemTransition::Hibernate}) {
    Heading("power: the system goes to " + std::string(t == SystemTransition::Sleep ? "sleep (S3)" : "hibernation (S4)") +
            " and comes back, the program's handle open");
    Transition(t, board, device);
    board.PulseDiLine(3);
    Line("DI line 3 fires, nothing enabled again: events signalled: " + Signalled(events));
    PortAccesses();
  }
  for (const auto &r : hostk::PowerRequests()) {
    Line(std::string("the driver asked for D") + std::to_string(r.state.DeviceState - 1) + ": " + Status(r.status));
  }
  Line("close: " + Status(hostk::user::CloseHandle(file)));
  hostk::ClearPortTrace();
}

void RunProgram(hostboard::SimBoard &board, uint32_t model) {
  using namespace diosim;
  using hostk::user::DeviceIoControl;
  Heading("user program: open, ports, events");
  hostk::user::Process program("dioapp.exe");
  hostk::user::ProcessScope scope(program);
  std::u16string path = PublishedDevicePath();
  HANDLE file = nullptr;
  NTSTATUS status = hostk::user::OpenFile(path, GENERIC_READ | GENERIC_WRITE, &file);
  Line("open " + hostk::Utf8(path) + ": " + Status(status));
  if (!NT_SUCCESS(status)) return;

  DIO_BOARD_INFO info;
  auto result = DeviceIoControl(file, IOCTL_DIO_GET_BOARD_INFO, nullptr, 0, &info, sizeof info);
  std::string bytes;
  for (UCHAR b : info.Bytes) bytes += " " + Hex(b, 2);
  Line("board information:" + bytes + " (" + Status(result.status) + ")");

  // A read returns its value at the start of the buffer.
  DIO_PORT_IO read = {1, {0}};
  UCHAR value = 0;
  result = DeviceIoControl(file, IOCTL_DIO_READ_PORT_UCHAR, &read, 4, &value, 1);
  Line("read DO register (offset 1): " + Hex(value, 2) + " (" + Status(result.status) + ")");
  read.Offset = 200;
  result = DeviceIoControl(file, IOCTL_DIO_READ_PORT_UCHAR, &read, 4, &value, 1);
  Line("read offset 200, outside the block: " + Status(result.status));

  SwitchSourcesOn(file, model);

  std::vector<HANDLE> events;
  status = EnableNine(file, &events);
  Line("enable events 0-8: " + Status(status) + ", interrupt " +
       (hostk::ConnectedInterrupts().empty() ? "not connected" : "connected"));
  PortAccesses();

  for (int source : {0, 3, 8}) {
    if (source >= board.SourceCount()) continue;
    board.PulseDiLine(source);
    Line("DI line " + std::to_string(source) + " fires; the interrupt service routine:");
    PortAccesses();
    Line("events signalled: " + Signalled(events));
  }
  SecondProgram(board, events);

  Heading("user program: DO configuration, close");
  DIO_DO_CONFIG config = {0, 1, 0, 0, 0, 1};
  result = DeviceIoControl(file, IOCTL_DIO_DO_SYS_CONFIG, &config, sizeof config, nullptr, 0);
  Line("DO configuration: at shutdown drive channel 0 to 1: " + Status(result.status));

  status = hostk::user::CloseHandle(file);
  Line("close: " + Status(status) + ", interrupt " +
       (hostk::ConnectedInterrupts().empty() ? "disconnected" : "still connected"));
  PortAccesses();
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  if (!Parse(argc, argv, &options)) {
    fprintf(stderr, "usage: dio_sim [--model N] [--do-start CH,LEVEL|off] [--do-shutdown CH,LEVEL]\n"
                    "       dio_sim [--model N] --tool \"COMMAND ARGS\" [--tool ...] [--fire LINES]\n");
    return 2;
  }
  if (!options.tools.empty()) return diosim::RunToolSession(options.model, options.tools, options.fire);
  using namespace diosim;
  const uint32_t model = options.model;
  printf("TesZEPDIO on a simulated board of model %u (%s)\n", model, LayoutName(model));

  Heading("installation");
  InstallModel(model);
  const std::string doKey = DIO_KEY_MACHINE DIO_KEY_DO;
  if (options.doStart) {
    hostreg::PutDword(doKey, DIO_VALUE_DO_TRIGGER_START, 1);
    hostreg::PutDword(doKey, DIO_VALUE_DO_CHANNEL_START, options.startChannel);
    hostreg::PutDword(doKey, DIO_VALUE_DO_LEVEL_START, options.startLevel);
  }
  if (options.doShutdown) {
    hostreg::PutDword(doKey, DIO_VALUE_DO_TRIGGER_SHUTDOWN, 1);
    hostreg::PutDword(doKey, DIO_VALUE_DO_CHANNEL_SHUTDOWN, options.shutdownChannel);
    hostreg::PutDword(doKey, DIO_VALUE_DO_LEVEL_SHUTDOWN, options.shutdownLevel);
  }
  RegistryTree(kServiceKey);

  Bench bench(DriverEntry);
  SimBoard &board = bench.Attach(model);
  board.SetDo(0x00);

  Heading("load: DriverEntry");
  NTSTATUS status = bench.Load();
  Line("status " + Status(status) + ", board model " + std::to_string(gDeviceType) +
       (IsPciBoard() ? ": PCI board, level-sensitive shared interrupt"
                     : ": latched unshared interrupt"));

  Heading("Plug and Play: AddDevice");
  hostk::PdoConfig config;
  config.busNumber = 2;
  config.address = 0x00030001;
  status = bench.Add(config);
  Line("status " + Status(status));
  if (!NT_SUCCESS(status)) return 1;
  PDEVICE_OBJECT pdo = bench.pdos.back();
  PDEVICE_OBJECT device = bench.Device();
  DeviceState(device);

  Heading("Plug and Play: start");
  Line("ports " + Hex(model == 24 ? kInfoBase : kRegisterBase, 4) +
       (model == 24 ? ", " + Hex(kRegisterBase, 4) + ", " + Hex(kThirdBase, 4) : "") +
       "; interrupt level " + std::to_string(kRawLevel) + " (translated: level " +
       std::to_string(kTranslatedLevel) + ", vector " + Hex(kTranslatedVector) + ")");
  Request("start", bench.Start());
  DeviceState(device);
  auto *x = static_cast<PDEVICE_EXTENSION>(device->DeviceExtension);
  if (model == 24) {
    std::string info;
    for (UCHAR b : x->BoardInfo) info += " " + Hex(b, 2);
    Line("board info      " + info);
  }
  Line("DO register      " + Hex(board.Do(), 2));
  Heading("port accesses of the start-up");
  PortAccesses();
  Heading("registry after the start");
  RegistryTree(kServices);

  RunProgram(board, model);

  SleepingProgram(board, model, device);

  Heading("Plug and Play: stop and restart");
  Request("query stop", hostk::SendPnp(pdo, IRP_MN_QUERY_STOP_DEVICE));
  Request("stop", hostk::SendPnp(pdo, IRP_MN_STOP_DEVICE));
  DeviceSummary(device);
  Request("start", bench.Start());
  DeviceSummary(device);
  PortAccesses();

  using hostk::SystemTransition;
  Heading("\"Shut down\" under Fast Startup: a hybrid shutdown (S4, target S5), no IRP_MJ_SHUTDOWN,"
          " then the fast startup (S0)");
  Line("DO register      " + Hex(board.Do(), 2));
  for (const auto &r : hostk::EnterSystemTransition(SystemTransition::HybridShutdown))
    Request("hybrid shutdown", r);
  PortAccesses();
  OnSystem();
  Line(std::string("the machine is off; the board ") + (board.Powered() ? "has power" : "has no power"));
  for (const auto &r : hostk::LeaveSystemTransition(SystemTransition::HybridShutdown)) Request("fast startup", r);
  Line("the fast startup is a new session, the board configured as at a cold start:");
  Line("DO register      " + Hex(board.Do(), 2));
  DeviceSummary(device);
  PortAccesses();
  OnSystem();

  Heading("system shutdown with Fast Startup off: IRP_MJ_SHUTDOWN, then S5, the machine off");
  hostk::ClearPortTrace();
  for (const auto &r : hostk::EnterSystemTransition(SystemTransition::Shutdown)) Request("shutdown (S5)", r);
  Line("IRP_MJ_SHUTDOWN, one per registration, then the S5 request: the DO register's accesses");
  PortAccesses();
  OnSystem();

  Heading("the next boot: the driver loaded afresh, the board started");
  hostk::Reboot();
  bench.Forget();
  Line("load, add and start: " + Status(bench.BringUp(model)));
  pdo = bench.pdos.back();
  device = bench.Device();
  Line("DO register      " + Hex(bench.board->Do(), 2));
  OnSystem();
  hostk::ClearPortTrace();

  Heading("Plug and Play: surprise removal, then removal");
  Request("surprise removal; with no handle open the removal follows", hostk::SurpriseRemove(pdo));
  Line(pdo->AttachedDevice ? "device object still attached" : "device object detached and deleted");
  PortAccesses();
  Heading("registry after the removal");
  RegistryTree(kServices);

  Heading("unload");
  bench.TakeDown();
  Balance();
  bool balanced = hostk::Outstanding().empty();
  hostk::ResetMachine();
  return balanced ? 0 : 1;
}
