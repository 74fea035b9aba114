// The board record the driver writes at each start (the service key's
// Device000), and what the board model says about its register layout and
// DI events.
#include "dioctl.h"

namespace dioctl {
namespace {

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
  return deviceType == DIO_MODEL_NINE_CHANNEL ? kLayout22 : deviceType == DIO_MODEL_DIO_INFO ? kLayout24 : kGeneral;
}

}  // namespace

BoardRecord ReadBoardRecord() {
  BoardRecord record;
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, DIO_KEY_SERVICE_DEVICE000, &key) != ERROR_SUCCESS) return record;
  record.found = ReadDword(key, DIO_VALUE_DEVICE_TYPE, &record.deviceType);
  ReadDword(key, DIO_VALUE_BASE_ADDRESS, &record.baseAddress);
  ReadDword(key, DIO_VALUE_INTERRUPT, &record.interrupt);
  ReadDword(key, DIO_VALUE_BUS_NUMBER, &record.busNumber);
  ReadDword(key, DIO_VALUE_SLOT_NUMBER, &record.slotNumber);
  RegCloseKey(key);
  return record;
}

std::string DescribeModel(DWORD deviceType) {
  static const char *const kLayouts[] = {"general layout", "layout 22", "layout 24"};
  return "model " + std::to_string(deviceType) + " (" + kLayouts[LayoutOf(deviceType)] +
         (deviceType > DIO_MODEL_LAST_LATCHED ? ", PCI board)" : ", ISA-style board)");
}

// The general layout's status bits 0 to 3 name events; the others' all nine.
int EventCount(DWORD deviceType) { return LayoutOf(deviceType) == kGeneral ? 4 : DIO_EVENT_COUNT; }

// Event n is DI source n, enabled by bit n of the first interrupt-enable
// register; event 8 is source 8, bit 0 of the second.
SourceBit SourceOf(DWORD deviceType, int event) {
  Layout layout = LayoutOf(deviceType);
  if (event < 8) {
    DWORD enable0 = layout == kLayout22 ? DIO_L22_INTEN0 : layout == kLayout24 ? DIO_L24_INTEN0 : DIO_GENERAL_INTEN0;
    return SourceBit{enable0, uint8_t(1u << event)};
  }
  return SourceBit{layout == kLayout22 ? DWORD(DIO_L22_INTEN1) : DWORD(DIO_L24_INTEN1), 0x01};
}

}  // namespace dioctl
