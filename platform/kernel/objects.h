// Internal to the kernel stand-in: objects, handle tables and references.
//
// Kernel handles (top bit set) live in the system's table; each user process
// has its own. An object stays alive while a handle names it or a driver
// holds a reference taken with ObReferenceObjectByHandle.
#pragma once

#include <memory>
#include <string>

#include "machine.h"

struct _OBJECT_TYPE {
  const char *name;
};

namespace hostk {

extern OBJECT_TYPE EventObjectType;
extern OBJECT_TYPE FileObjectType;
extern OBJECT_TYPE KeyObjectType;

// What a handle names. Each kind of object derives from it.
struct HandleObject {
  virtual ~HandleObject() = default;
  virtual std::string Describe() const = 0;
  virtual POBJECT_TYPE Type() const = 0;
  // What a driver's reference points at (the KEVENT of an event).
  virtual void *Body() { return this; }
  // Called, outside every lock, when the last handle to the object closes.
  virtual void LastHandleClosed() {}
};

struct Process;
// The user process the calling thread runs in, or none for a system thread.
Process *CurrentProcess();

HANDLE InsertKernelHandle(std::shared_ptr<HandleObject> object, ACCESS_MASK granted);
HANDLE InsertProcessHandle(Process *process, std::shared_ptr<HandleObject> object,
                           ACCESS_MASK granted);
// Resolves a handle as the kernel does for a caller of `mode`: a kernel
// handle only for kernel mode, any other in the current process's table.
// Returns none with *status set when the handle is not open.
std::shared_ptr<HandleObject> LookupHandle(HANDLE handle, KPROCESSOR_MODE mode,
                                           ACCESS_MASK *granted, NTSTATUS *status);
// Closes a handle of the current context (a kernel handle from kernel mode);
// false when it is not open.
bool CloseHandle(HANDLE handle, KPROCESSOR_MODE mode);

}  // namespace hostk
