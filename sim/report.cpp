#include "report.h"

#include <cstdio>

#include "host_kernel.h"
#include "registry_store.h"

namespace diosim {

std::string Hex(unsigned long long value, int digits) {
  char text[32];
  snprintf(text, sizeof text, "0x%0*llX", digits, value);
  return text;
}

void Heading(const std::string &text) { printf("\n== %s\n", text.c_str()); }

void Line(const std::string &text) { printf("   %s\n", text.c_str()); }

void RegistryTree(const std::string &absolutePath) {
  std::string dump = hostreg::Dump(absolutePath);
  size_t start = 0;
  while (start < dump.size()) {
    size_t end = dump.find('\n', start);
    Line(dump.substr(start, end - start));
    start = end + 1;
  }
}

void PortAccesses() {
  const auto &trace = hostk::PortTrace();
  if (trace.empty()) Line("(no port accessed)");
  for (const auto &access : trace) Line(hostk::Describe(access));
  hostk::ClearPortTrace();
}

namespace {
std::string Flags(ULONG flags) {
  std::string out;
  const std::pair<ULONG, const char *> names[] = {
      {DO_BUFFERED_IO, "BUFFERED_IO"},         {DO_DIRECT_IO, "DIRECT_IO"},
      {DO_DEVICE_INITIALIZING, "INITIALIZING"}, {DO_SHUTDOWN_REGISTERED, "SHUTDOWN_REGISTERED"},
      {DO_POWER_PAGABLE, "POWER_PAGABLE"}};
  for (const auto &name : names) {
    if (flags & name.first) out += std::string(out.empty() ? "" : " | ") + name.second;
  }
  return out.empty() ? "0" : out;
}

const char *PowerName(DEVICE_POWER_STATE state) {
  static const char *names[] = {"unspecified", "D0", "D1", "D2", "D3"};
  return state >= 0 && state <= PowerDeviceD3 ? names[state] : "?";
}
}  // namespace

void DeviceState(PDEVICE_OBJECT device) {
  auto *x = static_cast<PDEVICE_EXTENSION>(device->DeviceExtension);
  Line("flags            " + Flags(device->Flags));
  Line("interface        " + hostk::Utf8(hostk::Text(&x->InterfaceName)));
  for (const auto &i : hostk::Interfaces()) {
    if (i.pdo == x->PhysicalDeviceObject)
      Line(std::string("                 ") + (i.enabled ? "enabled" : "disabled"));
  }
  Line(std::string("started          ") + (DeviceIsStarted(x) ? "yes" : "no") +
       (DeviceTakesPower(x) ? "" : ", requests held"));
  Line(std::string("power            ") + PowerName(x->DevicePowerState) +
       " (reported to the power manager: " + PowerName(hostk::ReportedPowerState(device)) + ")");
  Line("open handles     " + std::to_string(x->OpenCount));
  Line("bus / slot       " + std::to_string(x->BusNumber) + " / " + std::to_string(x->SlotNumber));
  size_t registrations = 0;
  for (PDEVICE_OBJECT d : hostk::ShutdownRegistrations()) registrations += d == device;
  Line("shutdown         " + std::to_string(registrations) + " registration(s)");
  if (DeviceIsStarted(x)) {
    Line("register block   " + Hex(RegisterBase(x), 4) + ", " + std::to_string(x->PortCount) +
         " ports");
  }
}

void DeviceSummary(PDEVICE_OBJECT device) {
  auto *x = static_cast<PDEVICE_EXTENSION>(device->DeviceExtension);
  std::string line = DeviceIsStarted(x) ? "started" : "not started";
  if (!DeviceTakesPower(x)) line += ", requests held";
  line += std::string(", ") + PowerName(x->DevicePowerState);
  for (const auto &i : hostk::Interfaces()) {
    if (i.pdo == x->PhysicalDeviceObject)
      line += std::string(", interface ") + (i.enabled ? "enabled" : "disabled");
  }
  line += ", " + std::to_string(x->OpenCount) + " open handle(s)";
  Line("device: " + line);
}

void Balance() {
  auto left = hostk::Outstanding();
  if (left.empty()) {
    Line("balanced: no pool block, handle, IRP or device object left");
    return;
  }
  for (const auto &line : left) Line("left: " + line);
}

}  // namespace diosim
