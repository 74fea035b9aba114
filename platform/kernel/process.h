// Internal to the kernel stand-in: user processes and their handle tables.
#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "objects.h"

namespace hostk {

struct HandleEntry {
  std::shared_ptr<HandleObject> object;
  ACCESS_MASK granted;
};

struct HandleTable {
  std::map<uintptr_t, HandleEntry> entries;
  uintptr_t next = 4;
};

struct Process {
  std::string name;
  HandleTable table;
};

std::vector<Process *> AllProcesses();
void SetCurrentProcess(Process *process);
std::recursive_mutex &ObjectLock();
// Closes every handle of a table, as a process's exit does.
void CloseAllHandles(HandleTable &table);
// Cancels the requests in progress on the table's files and waits until
// they are back, as a process's exit does first (iomanager.cpp).
void EndRequestsOf(HandleTable &table);

}  // namespace hostk
