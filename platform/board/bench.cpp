#include "bench.h"

#include "registry_store.h"

namespace hostboard {

const char *LayoutName(uint32_t model) {
  switch (LayoutFor(model)) {
    case L22: return "layout 22";
    case L24: return "layout 24";
    default: return "general layout";
  }
}

std::unique_ptr<SimBoard> BenchBoard(uint32_t model) {
  std::unique_ptr<SimBoard> board;
  if (LayoutFor(model) == L24) {
    board = std::make_unique<SimBoard>(L24, kInfoBase, kRegisterBase, kThirdBase);
  } else {
    board = std::make_unique<SimBoard>(LayoutFor(model), kRegisterBase);
  }
  board->Attach();
  board->ConnectInterruptLine(kTranslatedVector);
  return board;
}

StartResources BenchResources(uint32_t model) {
  std::vector<hostk::Resource> ports;
  if (LayoutFor(model) == L24) {
    ports = {hostk::PortResource(kInfoBase, 32), hostk::PortResource(kRegisterBase, 128),
             hostk::PortResource(kThirdBase, 16)};
  } else {
    ports = {hostk::PortResource(kRegisterBase, 32)};
  }
  std::vector<hostk::Resource> raw = ports, translated = ports;
  raw.push_back(hostk::InterruptResource(kRawLevel, kRawLevel, kAffinity));
  translated.push_back(hostk::InterruptResource(kTranslatedLevel, kTranslatedVector, kAffinity));
  return StartResources{hostk::ResourceList(raw), hostk::ResourceList(translated)};
}

std::u16string PublishedDevicePath() {
  hostreg::Value value;
  if (!hostreg::GetValue(DIO_KEY_MACHINE DIO_KEY_MAP_ENTRY, DIO_VALUE_MAP_DEVICE0, &value) ||
      value.type != 1 /* REG_SZ */) {
    return std::u16string();
  }
  std::u16string path(value.data.size() / 2, u'\0');
  for (size_t i = 0; i < path.size(); ++i)
    path[i] = char16_t(value.data[2 * i] | (value.data[2 * i + 1] << 8));
  return path;
}

void InstallModel(uint32_t model) { hostreg::PutDword(kServiceKey, DIO_VALUE_DEVICE_TYPE, model); }

NTSTATUS Bench::Load() {
  hostreg::Make(kServiceKey);
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  driver = hostk::LoadDriver(entry, hostreg::FromUtf8(kServiceKey), &status);
  return status;
}

SimBoard &Bench::Attach(uint32_t model) {
  board.reset();  // a board put back where one was
  board = BenchBoard(model);
  resources = BenchResources(model);
  return *board;
}

NTSTATUS Bench::Add(const hostk::PdoConfig &config) {
  PDEVICE_OBJECT pdo = hostk::CreatePdo(config);
  pdos.push_back(pdo);
  // The bus powers the attached board down in D3 and up again in D0.
  hostk::OnDevicePower(pdo, [this](DEVICE_POWER_STATE state) {
    if (board) board->SetPowered(state == PowerDeviceD0);
  });
  return hostk::AddDevice(driver, pdo);
}

PDEVICE_OBJECT Bench::Device() const { return pdos.empty() ? nullptr : pdos.back()->AttachedDevice; }

hostk::IrpResult Bench::Start() { return Start(pdos.back(), resources); }

hostk::IrpResult Bench::Start(PDEVICE_OBJECT pdo, StartResources &lists) {
  return hostk::StartDevice(pdo, hostk::AsList(lists.raw), hostk::AsList(lists.translated));
}

NTSTATUS Bench::BringUp(uint32_t model, const hostk::PdoConfig &config) {
  InstallModel(model);
  Attach(model);
  NTSTATUS status = Load();
  if (NT_SUCCESS(status)) status = Add(config);
  if (NT_SUCCESS(status)) status = Start().ioStatus.Status;
  return status;
}

hostk::IrpResult Bench::Remove() { return hostk::SendPnp(pdos.back(), IRP_MN_REMOVE_DEVICE); }

void Bench::Forget() {
  pdos.clear();
  driver = nullptr;
  board.reset();
}

void Bench::TakeDown() {
  for (PDEVICE_OBJECT pdo : pdos) {
    if (pdo->AttachedDevice) hostk::SendPnp(pdo, IRP_MN_REMOVE_DEVICE);
  }
  for (PDEVICE_OBJECT pdo : pdos) hostk::DeletePdo(pdo);
  pdos.clear();
  if (driver) hostk::UnloadDriver(driver);
  driver = nullptr;
  board.reset();
}

}  // namespace hostboard
