// The commands that ask one thing of the device: list, info, read, write and
// do-config.
#include <functional>

#include "dioctl.h"

namespace dioctl {
namespace {

const DWORD kReadCodes[] = {IOCTL_DIO_READ_PORT_UCHAR, IOCTL_DIO_READ_PORT_USHORT, 0, IOCTL_DIO_READ_PORT_ULONG};
const DWORD kWriteCodes[] = {IOCTL_DIO_WRITE_PORT_UCHAR, IOCTL_DIO_WRITE_PORT_USHORT, 0,
                             IOCTL_DIO_WRITE_PORT_ULONG};

// "offset 0x1 (port 0xE001)": the port as the registry's base gives it.
std::string Where(uint32_t offset) {
  char text[64];
  BoardRecord record = ReadBoardRecord();
  if (record.found) {
    snprintf(text, sizeof text, "offset 0x%X (port 0x%04X)", unsigned(offset),
             unsigned((record.baseAddress + offset) & 0xFFFF));
  } else {
    snprintf(text, sizeof text, "offset 0x%X", unsigned(offset));
  }
  return text;
}

std::string Setting(ULONG trigger, ULONG channel, ULONG level) {
  if (!trigger) return "nothing";
  return "DO channel " + std::to_string(channel) + " to " + std::to_string(level);
}

// Opens the device with `access`, makes the request and closes the device
// again; the exit code.
int OneRequest(const Options &options, DWORD access, Output &output, std::string *path,
               const std::function<bool(HANDLE)> &request) {
  HANDLE device;
  int failed = OpenDevice(options, access, output, &device, path);
  if (failed) return failed;
  bool ok = request(device);
  CloseHandle(device);
  return ok ? kDioctlDone : kDioctlRefused;
}

}  // namespace

bool ReadPort(HANDLE device, uint32_t offset, uint32_t width, uint32_t *value, Output &output) {
  // The request is the offset alone; the value comes back in its place,
  // little-endian, in as many bytes as the width.
  uint8_t buffer[4];
  memcpy(buffer, &offset, sizeof buffer);
  DWORD returned;
  std::string what = "read at " + Where(offset);
  if (!Request(device, kReadCodes[width - 1], buffer, sizeof buffer, buffer, width, &returned, output,
               what.c_str())) {
    return false;
  }
  *value = 0;
  for (uint32_t i = 0; i < width; ++i) *value |= uint32_t(buffer[i]) << (8 * i);
  return true;
}

bool WritePort(HANDLE device, uint32_t offset, uint32_t width, uint32_t value, Output &output) {
  DIO_PORT_IO request = {};
  request.Offset = offset;
  request.Value.Dword = value;  // little-endian: the low bytes are the narrower widths' values
  DWORD returned;
  std::string what = "write at " + Where(offset);
  return Request(device, kWriteCodes[width - 1], &request, DWORD(sizeof request.Offset + width), NULL, 0, &returned,
                 output, what.c_str());
}

int List(const Options &, Output &output) {
  std::vector<std::string> present = InterfacePaths();
  std::string mapPath = MapEntryPath();
  BoardRecord record = ReadBoardRecord();
  if (present.empty() && mapPath.empty()) {
    return output.Fail(kDioctlRefused, "no device: the driver publishes none; is the board installed and started?");
  }
  output.Print("devices of the TesZEPDIO interface:%s\n", present.empty() ? " none present" : "");
  for (const std::string &path : present) output.Print("  %s\n", path.c_str());
  if (!mapPath.empty()) {
    bool live = false;
    for (const std::string &path : present) live = live || SameDevice(path, mapPath);
    output.Print("device map (" DIOCTL_MAP_KEY ", \"" DIO_VALUE_MAP_DEVICE0 "\"):\n  %s%s\n", mapPath.c_str(),
                 live ? "" : "  (no present device: the board was removed)");
  }
  if (record.found) {
    output.Print("board (" DIOCTL_BOARD_KEY "): %s, port base 0x%04X, interrupt %u",
                 DescribeModel(record.deviceType).c_str(), unsigned(record.baseAddress), unsigned(record.interrupt));
    if (record.deviceType > 20) {
      output.Print(", PCI bus %u, slot %u", unsigned(record.busNumber), unsigned(record.slotNumber));
    }
    output.Print("\n");
  }
  if (present.empty()) return output.Fail(kDioctlRefused, "no device is present");
  return kDioctlDone;
}

int Info(const Options &options, Output &output) {
  DIO_BOARD_INFO info = {};
  std::string path;
  int result = OneRequest(options, GENERIC_READ, output, &path, [&](HANDLE device) {
    DWORD returned;
    return Request(device, IOCTL_DIO_GET_BOARD_INFO, NULL, 0, &info, sizeof info, &returned, output,
                   "board information request");
  });
  if (result) return result;

  // The meanings are those the DIO library and the applet give the bytes.
  struct Field {
    const char *name;
    const char *source;
    bool count;
  };
  static const Field kFields[8] = {
      {"DI channels", "info +0", true},          {"DI interrupt channels", "info +1", true},
      {"DO channels", "info +2", true},          {"(not named)", "info +6", false},
      {"program LEDs", "info +4", true},         {"(not named)", "info +5", false},
      {"FPGA version", "info +31", false},       {"(always 1)", "driver", true},
  };
  output.Print("board information of %s:\n", path.c_str());
  for (int i = 0; i < 8; ++i) {
    UCHAR b = info.Bytes[i];
    if (kFields[i].count) {
      output.Print("  byte %d  %-22s %-9s %u\n", i, kFields[i].name, kFields[i].source, b);
    } else {
      output.Print("  byte %d  %-22s %-9s 0x%02X\n", i, kFields[i].name, kFields[i].source, b);
    }
  }
  bool allZero = true;
  for (UCHAR b : info.Bytes) allZero = allZero && b == 0;
  if (allZero) output.Print("all zero: only layout-24 boards (model 24) hold board information\n");
  return kDioctlDone;
}

int Read(const Options &options, Output &output) {
  uint32_t value = 0;
  std::string path;
  int result = OneRequest(options, GENERIC_READ, output, &path, [&](HANDLE device) {
    return ReadPort(device, options.offset, options.width, &value, output);
  });
  if (result) return result;
  output.Print("%s: 0x%0*X (%u)\n", Where(options.offset).c_str(), int(2 * options.width), unsigned(value),
               unsigned(value));
  return kDioctlDone;
}

int Write(const Options &options, Output &output) {
  std::string path;
  int result = OneRequest(options, GENERIC_WRITE, output, &path, [&](HANDLE device) {
    return WritePort(device, options.offset, options.width, options.value, output);
  });
  if (result) return result;
  output.Print("%s: wrote 0x%0*X\n", Where(options.offset).c_str(), int(2 * options.width), unsigned(options.value));
  return kDioctlDone;
}

int ConfigureDo(const Options &options, Output &output) {
  std::string path;
  int result = OneRequest(options, GENERIC_WRITE, output, &path, [&](HANDLE device) {
    DWORD returned;
    return Request(device, IOCTL_DIO_DO_SYS_CONFIG, &options.config, sizeof options.config, NULL, 0, &returned,
                   output, "DO configuration");
  });
  if (result) return result;
  const DIO_DO_CONFIG &d = options.config;
  output.Print("DO configuration replaced: at the board's start %s, at the system's shutdown %s\n",
               Setting(d.TriggerStart, d.ChannelStart, d.LevelStart).c_str(),
               Setting(d.TriggerShutdown, d.ChannelShutdown, d.LevelShutdown).c_str());
  output.Print("in force until the board's next start, which reads the \"DO\" key again; the registry is "
               "unchanged\n");
  return kDioctlDone;
}

}  // namespace dioctl
