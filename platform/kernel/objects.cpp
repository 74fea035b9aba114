// Objects, handle tables and references.
#include "objects.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "process.h"

OBJECT_TYPE hostk::EventObjectType = {"Event"};
OBJECT_TYPE hostk::FileObjectType = {"File"};
OBJECT_TYPE hostk::KeyObjectType = {"Key"};

namespace {
POBJECT_TYPE eventTypePointer = &hostk::EventObjectType;
POBJECT_TYPE fileTypePointer = &hostk::FileObjectType;
}  // namespace

extern "C" {
POBJECT_TYPE *ExEventObjectType = &eventTypePointer;
POBJECT_TYPE *IoFileObjectType = &fileTypePointer;
}

namespace hostk {
namespace {

// Kernel handle values have the top bit set, as on Windows.
constexpr uintptr_t kKernelHandleBit = uintptr_t(1) << (sizeof(uintptr_t) * 8 - 1);

std::recursive_mutex objectMutex;
HandleTable kernelTable;

struct Reference {
  std::shared_ptr<HandleObject> object;
  long count;
};
std::map<void *, Reference> references;  // driver references by body

thread_local Process *currentProcess = nullptr;

HandleTable *TableFor(HANDLE handle, KPROCESSOR_MODE mode, uintptr_t *key, NTSTATUS *status) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  *status = STATUS_INVALID_HANDLE;
  if (value & kKernelHandleBit) {
    // A kernel handle means something only to kernel-mode callers.
    if (mode != KernelMode) return nullptr;
    *key = value & ~kKernelHandleBit;
    return &kernelTable;
  }
  if (!currentProcess) return nullptr;
  *key = value;
  return &currentProcess->table;
}

HANDLE Insert(HandleTable &table, std::shared_ptr<HandleObject> object, ACCESS_MASK granted,
              uintptr_t bits) {
  std::lock_guard<std::recursive_mutex> hold(objectMutex);
  uintptr_t value = table.next;
  table.next += 4;
  table.entries[value] = HandleEntry{std::move(object), granted};
  return reinterpret_cast<HANDLE>(value | bits);
}

size_t HandlesTo(const HandleObject *object) {
  size_t n = 0;
  auto count = [&](const HandleTable &table) {
    for (const auto &entry : table.entries) n += entry.second.object.get() == object;
  };
  count(kernelTable);
  for (Process *p : AllProcesses()) count(p->table);
  return n;
}

}  // namespace

Process *CurrentProcess() { return currentProcess; }
void SetCurrentProcess(Process *process) { currentProcess = process; }
std::recursive_mutex &ObjectLock() { return objectMutex; }

HANDLE InsertKernelHandle(std::shared_ptr<HandleObject> object, ACCESS_MASK granted) {
  return Insert(kernelTable, std::move(object), granted, kKernelHandleBit);
}

HANDLE InsertProcessHandle(Process *process, std::shared_ptr<HandleObject> object,
                           ACCESS_MASK granted) {
  return Insert(process->table, std::move(object), granted, 0);
}

std::shared_ptr<HandleObject> LookupHandle(HANDLE handle, KPROCESSOR_MODE mode,
                                           ACCESS_MASK *granted, NTSTATUS *status) {
  std::lock_guard<std::recursive_mutex> hold(objectMutex);
  uintptr_t key;
  HandleTable *table = TableFor(handle, mode, &key, status);
  if (!table) return nullptr;
  auto it = table->entries.find(key);
  if (it == table->entries.end()) return nullptr;
  if (granted) *granted = it->second.granted;
  *status = STATUS_SUCCESS;
  return it->second.object;
}

bool CloseHandle(HANDLE handle, KPROCESSOR_MODE mode) {
  std::shared_ptr<HandleObject> object;
  {
    std::lock_guard<std::recursive_mutex> hold(objectMutex);
    uintptr_t key;
    NTSTATUS status;
    HandleTable *table = TableFor(handle, mode, &key, &status);
    if (!table) return false;
    auto it = table->entries.find(key);
    if (it == table->entries.end()) return false;
    object = std::move(it->second.object);
    table->entries.erase(it);
    if (HandlesTo(object.get()) != 0) return true;
  }
  object->LastHandleClosed();
  return true;
}

void CloseAllHandles(HandleTable &table) {
  for (;;) {
    HANDLE handle;
    {
      std::lock_guard<std::recursive_mutex> hold(objectMutex);
      if (table.entries.empty()) return;
      handle = reinterpret_cast<HANDLE>(table.entries.begin()->first);
    }
    Process *saved = currentProcess;
    CloseHandle(handle, UserMode);
    currentProcess = saved;
  }
}

void ListHandleLeaks(std::vector<std::string> *out) {
  std::lock_guard<std::recursive_mutex> hold(objectMutex);
  for (const auto &entry : kernelTable.entries)
    out->push_back("handle not closed: " + entry.second.object->Describe());
  for (const auto &entry : references) {
    out->push_back("reference to " + entry.second.object->Describe() + " not released (" +
                   std::to_string(entry.second.count) + ")");
  }
}

void ResetHandles() {
  HandleTable dropped;
  std::map<void *, Reference> droppedReferences;
  std::lock_guard<std::recursive_mutex> hold(objectMutex);
  dropped.entries.swap(kernelTable.entries);
  droppedReferences.swap(references);
  kernelTable.next = 4;
}

}  // namespace hostk

using namespace hostk;

extern "C" {

NTSTATUS ZwClose(HANDLE handle) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwClose");
  if (!hostk::CloseHandle(handle, KernelMode)) {
    BugCheck(INVALID_KERNEL_HANDLE, "ZwClose of a handle that is not open");
  }
  return STATUS_SUCCESS;
}

NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK desiredAccess,
                                   POBJECT_TYPE objectType, KPROCESSOR_MODE accessMode,
                                   PVOID *object, POBJECT_HANDLE_INFORMATION handleInformation) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ObReferenceObjectByHandle");
  *object = nullptr;
  ACCESS_MASK granted = 0;
  NTSTATUS status;
  std::shared_ptr<HandleObject> target = LookupHandle(handle, accessMode, &granted, &status);
  if (!target) return status;
  if (objectType && target->Type() != objectType) return STATUS_OBJECT_TYPE_MISMATCH;
  // Kernel-mode callers are trusted with any access.
  if (accessMode != KernelMode && (granted & desiredAccess) != desiredAccess)
    return STATUS_ACCESS_DENIED;
  std::lock_guard<std::recursive_mutex> hold(objectMutex);
  Reference &reference = references[target->Body()];
  reference.object = target;
  ++reference.count;
  if (handleInformation) {
    handleInformation->GrantedAccess = granted;
    handleInformation->HandleAttributes = 0;
  }
  *object = target->Body();
  return STATUS_SUCCESS;
}

LONG_PTR ObfDereferenceObject(PVOID object) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "ObfDereferenceObject");
  std::shared_ptr<HandleObject> last;  // destroyed outside the lock
  std::lock_guard<std::recursive_mutex> hold(objectMutex);
  auto it = references.find(object);
  if (it == references.end()) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "ObDereferenceObject of an object not referenced");
  }
  LONG_PTR left = --it->second.count;
  if (left == 0) {
    last = std::move(it->second.object);
    references.erase(it);
  }
  return left;
}

}  // extern "C"
