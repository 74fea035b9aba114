// The system event log as a driver reaches it: IoAllocateErrorLogEntry,
// IoWriteErrorLogEntry, IoFreeErrorLogEntry [MS:nf-wdm-ioallocateerrorlogentry]
// [MS:nf-wdm-iowriteerrorlogentry] [MS:nf-wdm-iofreeerrorlogentry]
// [MS:ns-wdm-_io_error_log_packet]. An entry is allocated zero-filled from
// nonpaged pool for a device object (which it holds until it is written or
// freed) or a driver object; the driver fills it in and either writes it,
// which hands it to the log and frees it, or frees it unwritten
// [ROS:ntoskrnl/io/iomgr/error.c]. What the documentation calls an error
// stops the run: a call above DISPATCH_LEVEL, no device or driver object, a
// size past ERROR_LOG_MAXIMUM_SIZE or short of the packet, an entry written
// or freed twice or never allocated, dump data whose size is no multiple of
// a ULONG or that runs past the entry, insertion strings that overlap the
// dump data or are not terminated inside it. An entry neither written nor
// freed is outstanding. The log itself is kept as the event log service
// receives it (ErrorLog).
#include <map>
#include <mutex>

#include "machine.h"

namespace hostk {
namespace {

// An entry allocated and neither written nor freed: its size and the
// objects it was allocated for (the device held until then).
struct Pending {
  size_t size;
  PDEVICE_OBJECT device;
  PDRIVER_OBJECT driver;
};

constexpr ULONG kErrorLogTag = 0x6C4C7245;  // "ErLl"
constexpr CSHORT kIoTypeDevice = 3;          // DEVICE_OBJECT.Type
constexpr CSHORT kIoTypeDriver = 4;          // DRIVER_OBJECT.Type

struct ErrorLogState {
  std::mutex mutex;
  std::map<void *, Pending> pending;  // allocated, neither written nor freed
  std::vector<ErrorLogRecord> written;
};

ErrorLogState &State() {
  static ErrorLogState state;
  return state;
}

[[noreturn]] void Violation(const std::string &what) { BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, what); }

// Takes the entry out of the pending ones; a pointer that is none of them
// stops the run.
Pending Take(void *entry, const char *routine) {
  ErrorLogState &state = State();
  std::unique_lock<std::mutex> hold(state.mutex);
  auto it = state.pending.find(entry);
  if (it == state.pending.end()) {
    hold.unlock();
    Violation(std::string(routine) + " of an error log entry that is not allocated (written or freed already?)");
  }
  Pending taken = it->second;
  state.pending.erase(it);
  return taken;
}

// The packet as the log thread reads it: its dump data within the entry,
// then NumberOfStrings terminated strings from StringOffset on.
ErrorLogRecord Read(const IO_ERROR_LOG_PACKET *packet, const Pending &entry) {
  const size_t dumpAt = offsetof(IO_ERROR_LOG_PACKET, DumpData);
  if (packet->DumpDataSize % sizeof(ULONG) != 0)
    Violation("IoWriteErrorLogEntry: DumpDataSize is no multiple of sizeof(ULONG)");
  if (dumpAt + packet->DumpDataSize > entry.size)
    Violation("IoWriteErrorLogEntry: the dump data runs past the entry's end");
  ErrorLogRecord record;
  record.device = entry.device;
  record.driver = entry.driver;
  record.errorCode = packet->ErrorCode;
  record.finalStatus = packet->FinalStatus;
  record.uniqueErrorValue = packet->UniqueErrorValue;
  record.majorFunction = packet->MajorFunctionCode;
  record.dumpData.assign(packet->DumpData, packet->DumpData + packet->DumpDataSize / sizeof(ULONG));
  if (packet->NumberOfStrings == 0) return record;
  if (packet->StringOffset < dumpAt + packet->DumpDataSize)
    Violation("IoWriteErrorLogEntry: the insertion strings overlap the packet or its dump data");
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(packet);
  size_t at = packet->StringOffset;
  for (USHORT n = 0; n < packet->NumberOfStrings; ++n) {
    std::u16string text;
    for (;;) {
      if (at + sizeof(WCHAR) > entry.size)
        Violation("IoWriteErrorLogEntry: insertion string " + std::to_string(n + 1) +
                  " is not terminated inside the entry");
      char16_t c;
      memcpy(&c, bytes + at, sizeof c);
      at += sizeof(WCHAR);
      if (c == 0) break;
      text += c;
    }
    record.strings.push_back(text);
  }
  return record;
}

}  // namespace

std::vector<ErrorLogRecord> ErrorLog() {
  std::lock_guard<std::mutex> hold(State().mutex);
  return State().written;
}

void ListErrorLogLeaks(std::vector<std::string> *out) {
  std::lock_guard<std::mutex> hold(State().mutex);
  for (const auto &entry : State().pending)
    out->push_back("error log entry of " + std::to_string(entry.second.size) + " bytes neither written nor freed");
}

void ResetErrorLog(bool keepWritten) {
  ErrorLogState &state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  state.pending.clear();
  if (!keepWritten) state.written.clear();
}

}  // namespace hostk

using namespace hostk;

extern "C" {

PVOID IoAllocateErrorLogEntry(PVOID IoObject, UCHAR EntrySize) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateErrorLogEntry");
  if (IoObject == nullptr) Violation("IoAllocateErrorLogEntry without a device or driver object");
  Pending entry = {EntrySize, nullptr, nullptr};
  CSHORT type = *static_cast<const CSHORT *>(IoObject);
  if (type == kIoTypeDevice) {
    entry.device = static_cast<PDEVICE_OBJECT>(IoObject);
    entry.driver = entry.device->DriverObject;
  } else if (type == kIoTypeDriver) {
    entry.driver = static_cast<PDRIVER_OBJECT>(IoObject);
  } else {
    Violation("IoAllocateErrorLogEntry of an object that is no device or driver object");
  }
  if (EntrySize > ERROR_LOG_MAXIMUM_SIZE)
    Violation("IoAllocateErrorLogEntry of " + std::to_string(EntrySize) + " bytes, past ERROR_LOG_MAXIMUM_SIZE (" +
              std::to_string(ERROR_LOG_MAXIMUM_SIZE) + ")");
  if (EntrySize < sizeof(IO_ERROR_LOG_PACKET))
    Violation("IoAllocateErrorLogEntry of " + std::to_string(EntrySize) + " bytes, short of IO_ERROR_LOG_PACKET");
  void *p = AllocateSystem(NonPagedPool, EntrySize, kErrorLogTag);
  if (p == nullptr) return nullptr;
  memset(p, 0, EntrySize);
  if (entry.device) ReferenceDevice(entry.device);
  std::lock_guard<std::mutex> hold(State().mutex);
  State().pending[p] = entry;
  return p;
}

VOID IoWriteErrorLogEntry(PVOID ElEntry) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoWriteErrorLogEntry");
  Pending entry = Take(ElEntry, "IoWriteErrorLogEntry");
  ErrorLogRecord record = Read(static_cast<const IO_ERROR_LOG_PACKET *>(ElEntry), entry);
  {
    std::lock_guard<std::mutex> hold(State().mutex);
    State().written.push_back(record);
  }
  FreeSystem(ElEntry, kErrorLogTag);
  if (entry.device) DereferenceDevice(entry.device);
}

// Its page gives no IRQL; it frees nonpaged pool and is held to the level
// of the other two.
VOID IoFreeErrorLogEntry(PVOID ElEntry) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoFreeErrorLogEntry");
  Pending entry = Take(ElEntry, "IoFreeErrorLogEntry");
  FreeSystem(ElEntry, kErrorLogTag);
  if (entry.device) DereferenceDevice(entry.device);
}

}  // extern "C"
