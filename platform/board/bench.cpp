#include "bench.h"

#include "registry_store.h"

namespace hostboard {

std::unique_ptr<SimBoard> BenchBoard(uint32_t model) {
  std::unique_ptr<SimBoard> board;
  if (LayoutFor(model) == L24) {
    board = std::make_unique<SimBoard>(L24, kInfoBase, kRegisterBase, kThirdBase);
  } else {
    board = std::make_unique<SimBoard>(LayoutFor(model), kRegisterBase);
  }
  board->Attach();
  board->SetInterruptListener([] { hostk::RaiseInterrupt(kTranslatedVector); });
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
  if (!hostreg::GetValue("\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZEPDIO\\MapEntry",
                         "0", &value) ||
      value.type != 1 /* REG_SZ */) {
    return std::u16string();
  }
  std::u16string path(value.data.size() / 2, u'\0');
  for (size_t i = 0; i < path.size(); ++i)
    path[i] = char16_t(value.data[2 * i] | (value.data[2 * i + 1] << 8));
  return path;
}

}  // namespace hostboard
