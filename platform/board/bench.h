// The standard bench the simulator, the tests and the fuzz target share: a
// board of each model at fixed ports with its interrupt, the start request's
// resources for it, and the device path a program reads from the registry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim_board.h"

namespace hostboard {

constexpr uint16_t kInfoBase = 0xD000;      // layout 24's first range
constexpr uint16_t kRegisterBase = 0xE000;  // the register block
constexpr uint16_t kThirdBase = 0xD800;     // layout 24's third range
constexpr ULONG kRawLevel = 11;             // the interrupt as the bus reports it
constexpr ULONG kTranslatedLevel = 6;       // and as the kernel connects it
constexpr ULONG kTranslatedVector = 0x71;
constexpr KAFFINITY kAffinity = 0x3;

// A board of the model's layout at the bench's ports, attached to the port
// space, its interrupt line raising the bench's vector.
std::unique_ptr<SimBoard> BenchBoard(uint32_t model);

// The start request's two resource lists for that board.
struct StartResources {
  std::vector<uint8_t> raw;
  std::vector<uint8_t> translated;
};
StartResources BenchResources(uint32_t model);

// The path the driver published for device 0 (the device map's value "0",
// "\\.\..." stored without a terminator); empty when there is none.
std::u16string PublishedDevicePath();

}  // namespace hostboard
