#include "driver_bench.h"

#include <cstdio>

#include "bench.h"
#include "driver.h"
#include "host_kernel.h"
#include "registry_store.h"

namespace appletsim {
namespace {

const char kServiceKey[] = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\TESZEPDIOS";

std::string Status(NTSTATUS status) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", unsigned(status));
  return text;
}

}  // namespace

struct DriverBench::Machine {
  uint32_t model = 0;
  std::unique_ptr<hostboard::SimBoard> board;
  PDRIVER_OBJECT driver = nullptr;
  PDEVICE_OBJECT pdo = nullptr;
  hostboard::StartResources resources;

  hostk::IrpResult Start() {
    return hostk::StartDevice(pdo, hostk::AsList(resources.raw), hostk::AsList(resources.translated));
  }
};

DriverBench::DriverBench(uint32_t model) : machine_(std::make_unique<Machine>()) {
  Machine &m = *machine_;
  m.model = model;
  hostreg::PutDword(kServiceKey, "DeviceType", model);
  m.board = hostboard::BenchBoard(model);
  m.board->SetDo(0xFF);
  m.resources = hostboard::BenchResources(model);
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  m.driver = hostk::LoadDriver(DriverEntry, hostreg::FromUtf8(kServiceKey), &status);
  if (!NT_SUCCESS(status)) m.driver = nullptr;
}

DriverBench::~DriverBench() {
  Machine &m = *machine_;
  if (m.pdo) {
    if (m.pdo->AttachedDevice) hostk::SendPnp(m.pdo, IRP_MN_REMOVE_DEVICE);
    hostk::DeletePdo(m.pdo);
  }
  if (m.driver) hostk::UnloadDriver(m.driver);
  m.board.reset();
}

bool DriverBench::Loaded() const { return machine_->driver != nullptr; }

std::string DriverBench::StartBoard() {
  Machine &m = *machine_;
  if (!m.driver || m.pdo) return "no driver, or a board already";
  m.pdo = hostk::CreatePdo(hostk::PdoConfig{});
  NTSTATUS status = hostk::AddDevice(m.driver, m.pdo);
  if (!NT_SUCCESS(status)) return "AddDevice " + Status(status);
  return "start " + Status(m.Start().ioStatus.Status);
}

std::string DriverBench::RestartBoard() {
  Machine &m = *machine_;
  if (!m.pdo || !m.pdo->AttachedDevice) return "no board";
  std::string out = "query stop " + Status(hostk::SendPnp(m.pdo, IRP_MN_QUERY_STOP_DEVICE).ioStatus.Status);
  out += ", stop " + Status(hostk::SendPnp(m.pdo, IRP_MN_STOP_DEVICE).ioStatus.Status);
  return out + ", start " + Status(m.Start().ioStatus.Status);
}

uint8_t DriverBench::DoRegister() const { return machine_->board->Do(); }

std::string DriverBench::LayoutName() const {
  switch (hostboard::LayoutFor(machine_->model)) {
    case hostboard::L22: return "layout 22";
    case hostboard::L24: return "layout 24";
    default: return "general layout";
  }
}

std::vector<std::string> KernelOutstanding() { return hostk::Outstanding(); }

}  // namespace appletsim
