// dio_sim: loads TesZEPDIO into the host kernel for a simulated board and
// logs what the driver does with it.
//
//   dio_sim [--model N]     board-model code written to "DeviceType" (default 24)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host_kernel.h"
#include "registry_store.h"
#include "report.h"
#include "sim_board.h"

namespace {

const char kServiceKey[] = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\TESZEPDIOS";

// Where the simulated bus puts each board's ports.
const uint16_t kInfoBase = 0xD000;
const uint16_t kRegisterBase = 0xE000;
const uint16_t kThirdBase = 0xD800;

const char *LayoutName(uint32_t model) {
  switch (hostboard::LayoutFor(model)) {
    case hostboard::L22: return "layout 22";
    case hostboard::L24: return "layout 24";
    default: return "general layout";
  }
}

int Usage() {
  fprintf(stderr, "usage: dio_sim [--model N]\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  uint32_t model = 24;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--model") && i + 1 < argc) {
      model = uint32_t(strtoul(argv[++i], nullptr, 0));
    } else {
      return Usage();
    }
  }

  using namespace diosim;
  printf("TesZEPDIO on a simulated board of model %u (%s)\n", model, LayoutName(model));

  Heading("installation");
  hostreg::PutDword(kServiceKey, "DeviceType", model);
  RegistryTree(kServiceKey);

  std::unique_ptr<hostboard::SimBoard> board;
  if (hostboard::LayoutFor(model) == hostboard::L24) {
    board = std::make_unique<hostboard::SimBoard>(hostboard::L24, kInfoBase, kRegisterBase,
                                                  kThirdBase);
  } else {
    board = std::make_unique<hostboard::SimBoard>(hostboard::LayoutFor(model), kRegisterBase);
  }
  board->Attach();

  Heading("load: DriverEntry");
  NTSTATUS status;
  PDRIVER_OBJECT driver = hostk::LoadDriver(DriverEntry, hostreg::FromUtf8(kServiceKey), &status);
  Line("status " + Hex(uint32_t(status), 8) + ", board model " + std::to_string(gDeviceType) +
       (IsPciBoard() ? ": PCI board, level-sensitive shared interrupt"
                     : ": latched unshared interrupt"));

  Heading("Plug and Play: AddDevice");
  hostk::PdoConfig config;
  config.busNumber = 2;
  config.address = 0x00030001;
  PDEVICE_OBJECT pdo = hostk::CreatePdo(config);
  status = hostk::AddDevice(driver, pdo);
  Line("status " + Hex(uint32_t(status), 8));
  if (!NT_SUCCESS(status)) return 1;
  PDEVICE_OBJECT device = pdo->AttachedDevice;
  DeviceState(device);

  Heading("registry after AddDevice");
  RegistryTree("\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services");

  Heading("port accesses");
  PortAccesses();

  Heading("what the driver holds at the end");
  Balance();
  hostk::ResetMachine();
  return 0;
}
