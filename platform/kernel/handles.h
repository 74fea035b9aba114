// Internal to the kernel stand-in: the handle table of the system process,
// where handles opened by the driver's system threads live.
#pragma once

#include <memory>
#include <string>

#include "machine.h"

namespace hostk {

// What a handle names. Each kind of object derives from it.
struct HandleObject {
  virtual ~HandleObject() = default;
  virtual std::string Describe() const = 0;
};

HANDLE InsertHandle(std::shared_ptr<HandleObject> object, ACCESS_MASK granted);
// The object a handle names, or none for a handle that is not open.
std::shared_ptr<HandleObject> LookupHandle(HANDLE handle, ACCESS_MASK *granted);
// Closes a handle; false when it is not open.
bool CloseHandle(HANDLE handle);

}  // namespace hostk
