// Internal to the kernel stand-in: how its parts reach one another.
#pragma once

#include <string>
#include <vector>

#include "host_kernel.h"

namespace hostk {

// Pool blocks made by the kernel on a driver's behalf count like the driver's.
void *AllocateSystem(POOL_TYPE type, size_t bytes, ULONG tag);
void FreeSystem(void *p, ULONG tag);

// Each part lists what it still holds and forgets it on a reset.
void ListPoolLeaks(std::vector<std::string> *out);
void ListHandleLeaks(std::vector<std::string> *out);
void ListDeviceLeaks(std::vector<std::string> *out);
void ListIrpLeaks(std::vector<std::string> *out);
void ResetPool();
void ResetHandles();
void ResetDevices();
void ResetPorts();
void ResetIrps();
void ResetDrivers();

// The text of a wide string that may lack its terminator.
std::u16string TextOf(const WCHAR *text, size_t characters);
// Length in characters of a terminated wide string.
size_t WideLength(const WCHAR *text);

}  // namespace hostk
