// Where the bench's board sits: its port ranges and its interrupt, as the bus
// reports them and as the kernel connects them. Plain integers, free of any
// kernel or Win32 header, so that the host bench and the Wine kernel test's
// programs (built for Windows) put the same board at the same places.
#pragma once

#include <cstdint>

namespace hostboard {

constexpr uint16_t kInfoBase = 0xD000;      // layout 24's first range
constexpr uint16_t kRegisterBase = 0xE000;  // the register block
constexpr uint16_t kThirdBase = 0xD800;     // layout 24's third range
constexpr uint32_t kRawLevel = 11;          // the interrupt as the bus reports it
constexpr uint32_t kTranslatedLevel = 6;    // and as the kernel connects it
constexpr uint32_t kTranslatedVector = 0x71;
constexpr uint64_t kAffinity = 0x3;

}  // namespace hostboard
