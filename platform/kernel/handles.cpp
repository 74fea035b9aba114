#include "handles.h"

#include <map>
#include <mutex>

namespace hostk {
namespace {

struct Entry {
  std::shared_ptr<HandleObject> object;
  ACCESS_MASK granted;
};

struct Table {
  std::mutex mutex;
  std::map<uintptr_t, Entry> entries;
  uintptr_t next = 4;
};

Table &TheTable() {
  static Table table;
  return table;
}

// Kernel handle values have the top bit set, as on Windows.
constexpr uintptr_t kKernelHandleBit = uintptr_t(1) << (sizeof(uintptr_t) * 8 - 1);

}  // namespace

HANDLE InsertHandle(std::shared_ptr<HandleObject> object, ACCESS_MASK granted) {
  Table &table = TheTable();
  std::lock_guard<std::mutex> hold(table.mutex);
  uintptr_t value = table.next;
  table.next += 4;
  table.entries[value] = Entry{std::move(object), granted};
  return reinterpret_cast<HANDLE>(value | kKernelHandleBit);
}

std::shared_ptr<HandleObject> LookupHandle(HANDLE handle, ACCESS_MASK *granted) {
  Table &table = TheTable();
  std::lock_guard<std::mutex> hold(table.mutex);
  auto it = table.entries.find(reinterpret_cast<uintptr_t>(handle) & ~kKernelHandleBit);
  if (it == table.entries.end() || !(reinterpret_cast<uintptr_t>(handle) & kKernelHandleBit))
    return nullptr;
  if (granted) *granted = it->second.granted;
  return it->second.object;
}

bool CloseHandle(HANDLE handle) {
  Table &table = TheTable();
  std::shared_ptr<HandleObject> last;  // released outside the lock
  std::lock_guard<std::mutex> hold(table.mutex);
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (!(value & kKernelHandleBit)) return false;
  auto it = table.entries.find(value & ~kKernelHandleBit);
  if (it == table.entries.end()) return false;
  last = std::move(it->second.object);
  table.entries.erase(it);
  return true;
}

void ListHandleLeaks(std::vector<std::string> *out) {
  Table &table = TheTable();
  std::lock_guard<std::mutex> hold(table.mutex);
  for (const auto &entry : table.entries)
    out->push_back("handle not closed: " + entry.second.object->Describe());
}

void ResetHandles() {
  Table &table = TheTable();
  std::map<uintptr_t, Entry> dropped;
  std::lock_guard<std::mutex> hold(table.mutex);
  dropped.swap(table.entries);
  table.next = 4;
}

}  // namespace hostk

extern "C" NTSTATUS ZwClose(HANDLE handle) {
  hostk::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwClose");
  if (!hostk::CloseHandle(handle)) {
    hostk::BugCheck(hostk::INVALID_KERNEL_HANDLE, "ZwClose of a handle that is not open");
  }
  return STATUS_SUCCESS;
}
