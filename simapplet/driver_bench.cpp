#include "driver_bench.h"

#include <cstdio>

#include "bench.h"
#include "driver.h"
#include "host_kernel.h"

namespace appletsim {
namespace {

std::string Status(NTSTATUS status) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", unsigned(status));
  return text;
}

}  // namespace

struct DriverBench::Machine {
  uint32_t model = 0;
  hostboard::Bench bench{DriverEntry};
};

DriverBench::DriverBench(uint32_t model) : machine_(std::make_unique<Machine>()) {
  Machine &m = *machine_;
  m.model = model;
  hostboard::InstallModel(model);
  m.bench.Attach(model).SetDo(0xFF);
  m.bench.Load();
}

DriverBench::~DriverBench() = default;

bool DriverBench::Loaded() const { return machine_->bench.driver != nullptr; }

std::string DriverBench::StartBoard() {
  hostboard::Bench &bench = machine_->bench;
  if (!bench.driver || !bench.pdos.empty()) return "no driver, or a board already";
  NTSTATUS status = bench.Add();
  if (!NT_SUCCESS(status)) return "AddDevice " + Status(status);
  return "start " + Status(bench.Start().ioStatus.Status);
}

std::string DriverBench::RestartBoard() {
  hostboard::Bench &bench = machine_->bench;
  if (!bench.Device()) return "no board";
  PDEVICE_OBJECT pdo = bench.pdos.back();
  std::string out = "query stop " + Status(hostk::SendPnp(pdo, IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status);
  out += ", stop " + Status(hostk::SendPnp(pdo, IRP_MN_STOP_DEVICE).ioStatus.Status);
  return out + ", start " + Status(bench.Start().ioStatus.Status);
}

uint8_t DriverBench::DoRegister() const { return machine_->bench.board->Do(); }

std::string DriverBench::LayoutName() const { return hostboard::LayoutName(machine_->model); }

std::vector<std::string> KernelOutstanding() { return hostk::Outstanding(); }

}  // namespace appletsim
