// The simulator's log: what an engineer bringing up a board wants to see.
#pragma once

#include <string>

#include "driver.h"

namespace diosim {

void Heading(const std::string &text);
void Line(const std::string &text);
// The keys below a registry path, with their values.
void RegistryTree(const std::string &absolutePath);
// The port accesses since the last call, then clears the trace.
void PortAccesses();
// The device object's flags and the driver's record of it.
void DeviceState(PDEVICE_OBJECT device);
// One line: started or not, held, power state, interface, open handles.
void DeviceSummary(PDEVICE_OBJECT device);
// What the test harness would call a leak: anything the driver still holds.
void Balance();

std::string Hex(unsigned long long value, int digits = 0);

}  // namespace diosim
