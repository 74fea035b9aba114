// Pool with accounting and allocation failure on demand.
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "host_kernel.h"
#include "machine.h"

namespace {

struct Block {
  size_t size;
  POOL_TYPE type;
  ULONG tag;
};

struct PoolState {
  std::mutex mutex;
  std::map<void *, Block> blocks;
  uint64_t allocations = 0;
  uint64_t attempts = 0;      // allocation attempts since the reset
  uint64_t failAt = 0;        // attempt number that fails, 0 for none
  uint64_t failFrom = 0;      // first attempt number of a run of failures
};

PoolState &State() {
  static PoolState state;
  return state;
}

// PoolReserve scopes alive on this thread.
thread_local int reserveDepth = 0;

// Fresh pool is never zero: a driver that relies on it gets caught.
constexpr unsigned char kFreshPoolFill = 0xA5;
constexpr unsigned char kFreedPoolFill = 0xDD;
// ExAllocatePool tags its blocks "None".
constexpr ULONG kUntaggedPoolTag = 0x656E6F4E;

}  // namespace

namespace hostk {

PoolStats Pool() {
  PoolState &state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  PoolStats stats;
  stats.allocations = state.allocations;
  stats.attempts = state.attempts;
  stats.blocksInUse = state.blocks.size();
  for (const auto &entry : state.blocks) stats.bytesInUse += entry.second.size;
  return stats;
}

void FailAllocationAt(uint64_t n) {
  PoolState &state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  state.failAt = n ? state.attempts + n : 0;
}

void FailAllocationsFrom(uint64_t n) {
  PoolState &state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  state.failFrom = n ? state.attempts + n : 0;
}

PoolReserve::PoolReserve(bool active) : active_(active) { reserveDepth += active_; }
PoolReserve::~PoolReserve() { reserveDepth -= active_; }

void *AllocateSystem(POOL_TYPE type, size_t bytes, ULONG tag) {
  PoolState &state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  uint64_t attempt = ++state.attempts;
  bool injected = attempt == state.failAt || (state.failFrom && attempt >= state.failFrom);
  if (injected && reserveDepth == 0) return nullptr;
  void *p = malloc(bytes ? bytes : 1);
  if (!p) return nullptr;
  memset(p, kFreshPoolFill, bytes);
  state.blocks[p] = Block{bytes, type, tag};
  ++state.allocations;
  return p;
}

void FreeSystem(void *p, ULONG tag) {
  PoolState &state = State();
  std::unique_lock<std::mutex> hold(state.mutex);
  auto it = state.blocks.find(p);
  if (it == state.blocks.end()) {
    hold.unlock();
    BugCheck(BAD_POOL_CALLER, "ExFreePoolWithTag of a block that is not allocated");
  }
  if (tag != 0 && tag != it->second.tag) {
    hold.unlock();
    BugCheck(BAD_POOL_CALLER, "ExFreePoolWithTag with a tag that differs from the allocation's");
  }
  if (it->second.type == PagedPool && KeGetCurrentIrql() > APC_LEVEL) {
    hold.unlock();
    BugCheck(IRQL_NOT_LESS_OR_EQUAL, "paged pool freed above APC_LEVEL");
  }
  memset(p, kFreedPoolFill, it->second.size);
  state.blocks.erase(it);
  free(p);
}

void ListPoolLeaks(std::vector<std::string> *out) {
  PoolState &state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  for (const auto &entry : state.blocks) {
    out->push_back("pool block of " + std::to_string(entry.second.size) + " bytes (" +
                   (entry.second.type == PagedPool ? "paged" : "nonpaged") + ") not freed");
  }
}

void ResetPool() {
  PoolState &state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  for (auto &entry : state.blocks) free(entry.first);
  state.blocks.clear();
  state.allocations = state.attempts = state.failAt = state.failFrom = 0;
}

}  // namespace hostk

extern "C" {

PVOID ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T bytes, ULONG tag) {
  hostk::RequireIrqlAtMost(type == PagedPool ? APC_LEVEL : DISPATCH_LEVEL, "ExAllocatePool");
  if (type != PagedPool && type != NonPagedPool) {
    hostk::BugCheck(hostk::BAD_POOL_CALLER, "ExAllocatePool with an unknown pool type");
  }
  return hostk::AllocateSystem(type, bytes, tag);
}

PVOID ExAllocatePool(POOL_TYPE type, SIZE_T bytes) {
  return ExAllocatePoolWithTag(type, bytes, kUntaggedPoolTag);
}

VOID ExFreePoolWithTag(PVOID p, ULONG tag) {
  if (!p) hostk::BugCheck(hostk::BAD_POOL_CALLER, "ExFreePoolWithTag of a null pointer");
  hostk::RequireIrqlAtMost(DISPATCH_LEVEL, "ExFreePoolWithTag");
  hostk::FreeSystem(p, tag);
}

}  // extern "C"
