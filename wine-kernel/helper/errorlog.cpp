// The System event log for the driver under test. Wine 8's
// IoAllocateErrorLogEntry is a stub that returns no entry
// [WINE:dlls/ntoskrnl.exe/ntoskrnl.c], so the driver would write nothing; in
// the image's import table these routines take the place of Wine's. They
// allocate an entry as Windows does (zero-filled, for an object, of at most
// ERROR_LOG_MAXIMUM_SIZE bytes and at least the packet; whether the object
// is a device or driver object cannot be told here, since Wine's
// IoCreateDevice leaves the device object's Type 0: the host stand-in checks it),
// check what the driver wrote as the host stand-in does (dump data a whole
// number of ULONGs inside the entry, strings after it, each terminated
// inside the entry), and keep the entries written for the test program. A
// misuse is recorded in the trace as a violation.
#include "helper.h"

namespace {

const ULONG kEntryMagic = 0x676F4C45;  // "ELog": an entry allocated here, not yet written or freed

struct Entry {
  ULONG Magic;
  ULONG Size;
  LONGLONG Align;  // the packet after it keeps the pool's alignment
};

KSPIN_LOCK gLock;
WINE_HELPER_ERROR_LOG gLog;

Entry *EntryOf(PVOID packet) { return (Entry *)((PUCHAR)packet - sizeof(Entry)); }

VOID Violation(void) { RecordAccess(WINE_HELPER_VIOLATION, 0, 0, WINE_HELPER_RULE_ERROR_LOG); }

// The packet's strings into `logged`; FALSE when they break the rules.
BOOLEAN ReadStrings(const IO_ERROR_LOG_PACKET *packet, ULONG size, WINE_HELPER_LOGGED *logged) {
  const ULONG dumpAt = FIELD_OFFSET(IO_ERROR_LOG_PACKET, DumpData);
  if (packet->DumpDataSize % sizeof(ULONG) != 0 || dumpAt + packet->DumpDataSize > size) return FALSE;
  if (packet->NumberOfStrings == 0) return TRUE;
  if (packet->StringOffset < dumpAt + packet->DumpDataSize) return FALSE;
  ULONG at = packet->StringOffset;
  for (USHORT n = 0; n < packet->NumberOfStrings; ++n) {
    for (;;) {
      if (at + sizeof(WCHAR) > size) return FALSE;
      WCHAR c = *(const WCHAR *)((const UCHAR *)packet + at);
      at += sizeof(WCHAR);
      if (logged->StringChars < WINE_HELPER_ERROR_LOG_CHARS) logged->Strings[logged->StringChars++] = c;
      if (c == 0) break;
    }
  }
  logged->NumberOfStrings = packet->NumberOfStrings;
  return TRUE;
}

}  // namespace

PVOID NTAPI HelperAllocateErrorLogEntry(PVOID object, UCHAR size) {
  if (object == NULL || size > ERROR_LOG_MAXIMUM_SIZE || size < sizeof(IO_ERROR_LOG_PACKET)) {
    Violation();
    return NULL;
  }
  Entry *entry = (Entry *)ExAllocatePoolWithTag(NonPagedPool, sizeof(Entry) + size, HELPER_POOL_TAG);
  if (entry == NULL) return NULL;
  RtlZeroMemory(entry, sizeof(Entry) + size);
  entry->Magic = kEntryMagic;
  entry->Size = size;
  return entry + 1;
}

VOID NTAPI HelperWriteErrorLogEntry(PVOID packet) {
  Entry *entry = EntryOf(packet);
  if (packet == NULL || entry->Magic != kEntryMagic) {
    Violation();
    return;
  }
  WINE_HELPER_LOGGED logged = {};
  const IO_ERROR_LOG_PACKET *p = (const IO_ERROR_LOG_PACKET *)packet;
  logged.ErrorCode = p->ErrorCode;
  logged.FinalStatus = p->FinalStatus;
  logged.UniqueErrorValue = p->UniqueErrorValue;
  if (!ReadStrings(p, entry->Size, &logged)) Violation();
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  if (gLog.Count < WINE_HELPER_ERROR_LOG_ENTRIES) {
    gLog.Entries[gLog.Count++] = logged;
  } else {
    ++gLog.Lost;
  }
  KeReleaseSpinLock(&gLock, irql);
  entry->Magic = 0;
  ExFreePoolWithTag(entry, HELPER_POOL_TAG);
}

VOID NTAPI HelperFreeErrorLogEntry(PVOID packet) {
  Entry *entry = EntryOf(packet);
  if (packet == NULL || entry->Magic != kEntryMagic) {
    Violation();
    return;
  }
  entry->Magic = 0;
  ExFreePoolWithTag(entry, HELPER_POOL_TAG);
}

VOID InitializeErrorLog(void) { KeInitializeSpinLock(&gLock); }

VOID TakeErrorLog(WINE_HELPER_ERROR_LOG *log) {
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  *log = gLog;
  RtlZeroMemory(&gLog, sizeof gLog);
  KeReleaseSpinLock(&gLock, irql);
}
