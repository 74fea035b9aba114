// The board record the driver writes at each start
// (HKLM\SYSTEM\CurrentControlSet\Services\TESZEPDIOS\Device000), and what the
// board model says about its register layout and DI events.
#include "dioctl.h"

namespace dioctl {
namespace {

const char kDeviceKey[] = "SYSTEM\\CurrentControlSet\\Services\\TESZEPDIOS\\Device000";

bool ReadDword(HKEY key, const char *name, DWORD *value) {
  DWORD type = 0, data = 0, size = sizeof data;
  if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(&data), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof data) {
    return false;
  }
  *value = data;
  return true;
}

enum Layout { kGeneral, kLayout22, kLayout24 };

Layout LayoutOf(DWORD deviceType) {
  return deviceType == 22 ? kLayout22 : deviceType == 24 ? kLayout24 : kGeneral;
}

}  // namespace

BoardRecord ReadBoardRecord() {
  BoardRecord record;
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kDeviceKey, &key) != ERROR_SUCCESS) return record;
  record.found = ReadDword(key, "DeviceType", &record.deviceType);
  ReadDword(key, "BaseAddress", &record.baseAddress);
  ReadDword(key, "Interrupt", &record.interrupt);
  ReadDword(key, "BusNumber", &record.busNumber);
  ReadDword(key, "SlotNumber", &record.slotNumber);
  RegCloseKey(key);
  return record;
}

std::string DescribeModel(DWORD deviceType) {
  static const char *const kLayouts[] = {"general layout", "layout 22", "layout 24"};
  // Models above 20 are PCI boards; the others latched ISA-style boards.
  return "model " + std::to_string(deviceType) + " (" + kLayouts[LayoutOf(deviceType)] +
         (deviceType > 20 ? ", PCI board)" : ", ISA-style board)");
}

int EventCount(DWORD deviceType) { return LayoutOf(deviceType) == kGeneral ? 4 : DIO_EVENT_COUNT; }

// Event n is DI source n, enabled by bit n of the first interrupt-enable
// register; event 8 is source 8, bit 0 of the second. The registers are at
// +2 and +10 on layout 24, +4 and +5 on layout 22, +2 on the general layout.
SourceBit SourceOf(DWORD deviceType, int event) {
  Layout layout = LayoutOf(deviceType);
  if (event < 8) return SourceBit{layout == kLayout22 ? 4u : 2u, uint8_t(1u << event)};
  return SourceBit{layout == kLayout22 ? 5u : 10u, 0x01};
}

}  // namespace dioctl
