// The board's entries in the System event log: what a technician reads in
// Event Viewer when a board does not start or does not work as it should
// (the messages of messages.mc), a second board beside the one in service
// among them. Each entry names the board and the figures
// that explain it in the insertion strings every message shares: the model,
// where the board sits, its port blocks, its interrupt, the status met and
// what failed. Each cause is written once for a device object, however often
// it recurs (every restart, every enable), so a failure that repeats cannot
// fill the log. Without pool for the entry nothing is written, and the
// driver goes on as it would have [MS:nf-wdm-ioallocateerrorlogentry].
#include "driver.h"

// The strings after the packet, without dump data, within the largest entry.
#define DIO_LOG_STRINGS 7
#define DIO_LOG_STRINGS_AT FIELD_OFFSET(IO_ERROR_LOG_PACKET, DumpData)
#define DIO_LOG_TEXT_CHARS ((ERROR_LOG_MAXIMUM_SIZE - DIO_LOG_STRINGS_AT) / sizeof(WCHAR))
#define DIO_LOG_STRING_CHARS 32

// A port block as "0xE000-0xE01F", or "none".
static VOID FormatPorts(PWCHAR text, ULONG64 start, ULONG length) {
  if (length == 0) {
    _snwprintf(text, DIO_LOG_STRING_CHARS, L"none");
  } else {
    _snwprintf(text, DIO_LOG_STRING_CHARS, L"0x%04lX-0x%04lX", (ULONG)start, (ULONG)(start + length - 1));
  }
}

// The kind of resource the start refused, as Device Manager names it where
// it has a name.
static VOID FormatRefusedResource(PWCHAR text, UCHAR type) {
  if (type == CmResourceTypeDma) {
    _snwprintf(text, DIO_LOG_STRING_CHARS, L"a DMA channel");
  } else {
    _snwprintf(text, DIO_LOG_STRING_CHARS, L"resource type %u", (unsigned)type);
  }
}

// The insertion strings %2 to %8 of messages.mc, each terminated. Each is cut
// to fit, and the seven of them to the entry's room.
static VOID FormatStrings(PDEVICE_EXTENSION extension, NTSTATUS message, NTSTATUS status, PCWSTR what,
                          WCHAR strings[DIO_LOG_STRINGS][DIO_LOG_STRING_CHARS]) {
  _snwprintf(strings[0], DIO_LOG_STRING_CHARS, L"%lu", extension->DeviceType);
  if (IsPciModel(extension->DeviceType)) {
    _snwprintf(strings[1], DIO_LOG_STRING_CHARS, L"PCI bus %lu, device %lu", extension->BusNumber,
               extension->SlotNumber);
  } else {
    _snwprintf(strings[1], DIO_LOG_STRING_CHARS, L"ISA");
  }
  FormatPorts(strings[2], extension->Range2Start.QuadPart, extension->PortCount);
  if (BoardLayout() == BoardLayout24) {
    FormatPorts(strings[3], extension->Range1Start.QuadPart, extension->Range1Length);
  } else {
    _snwprintf(strings[3], DIO_LOG_STRING_CHARS, L"not used");
  }
  if (extension->InterruptGiven) {
    _snwprintf(strings[4], DIO_LOG_STRING_CHARS, L"IRQ %lu", extension->InterruptLevel);
  } else {
    _snwprintf(strings[4], DIO_LOG_STRING_CHARS, L"none");
  }
  _snwprintf(strings[5], DIO_LOG_STRING_CHARS, L"0x%08lX", (ULONG)status);
  if (message == DIO_LOG_RESOURCES_REFUSED) {
    FormatRefusedResource(strings[6], extension->RefusedResource);
  } else if (message == DIO_LOG_SECOND_BOARD) {
    _snwprintf(strings[6], DIO_LOG_STRING_CHARS, L"model %lu", gDeviceType);  // the board in service
  } else {
    _snwprintf(strings[6], DIO_LOG_STRING_CHARS, L"%ws", what != NULL ? what : L"-");
  }
  // _snwprintf leaves no terminator on a text that fills its buffer.
  for (ULONG i = 0; i < DIO_LOG_STRINGS; ++i) strings[i][DIO_LOG_STRING_CHARS - 1] = 0;
}

DIO_PAGED_ROUTINE
_Use_decl_annotations_
VOID LogBoardEvent(PDEVICE_EXTENSION extension, NTSTATUS message, NTSTATUS status, PCWSTR what) {
  PAGED_CODE();
  // The message's number within the facility names its cause.
  LONG cause = 1L << (message & 0x1F);
  if (InterlockedOr(&extension->LoggedCauses, cause) & cause) return;

  WCHAR strings[DIO_LOG_STRINGS][DIO_LOG_STRING_CHARS];
  FormatStrings(extension, message, status, what, strings);
  // The strings one after the other, as much of each as the entry has room
  // for; every one keeps its terminator.
  WCHAR text[DIO_LOG_TEXT_CHARS];
  ULONG used = 0;
  for (ULONG i = 0; i < DIO_LOG_STRINGS; ++i) {
    ULONG room = DIO_LOG_TEXT_CHARS - used - (DIO_LOG_STRINGS - 1 - i);  // a terminator for each string after
    for (ULONG c = 0; strings[i][c] != 0 && c + 1 < room; ++c) text[used++] = strings[i][c];
    text[used++] = 0;
  }

  ULONG size = DIO_LOG_STRINGS_AT + used * sizeof(WCHAR);
  if (size < sizeof(IO_ERROR_LOG_PACKET)) size = sizeof(IO_ERROR_LOG_PACKET);
  PIO_ERROR_LOG_PACKET packet = (PIO_ERROR_LOG_PACKET)IoAllocateErrorLogEntry(extension->Self, (UCHAR)size);
  if (packet == NULL) return;
  packet->ErrorCode = message;
  packet->FinalStatus = status;
  packet->UniqueErrorValue = (ULONG)(message & 0xFFFF);
  packet->DumpDataSize = 0;
  packet->NumberOfStrings = DIO_LOG_STRINGS;
  packet->StringOffset = (USHORT)DIO_LOG_STRINGS_AT;
  RtlCopyMemory((PUCHAR)packet + DIO_LOG_STRINGS_AT, text, used * sizeof(WCHAR));
  IoWriteErrorLogEntry(packet);
}

DIO_PAGED_ROUTINE
_Use_decl_annotations_
VOID LogFailure(PDEVICE_EXTENSION extension, NTSTATUS message, NTSTATUS status, PCWSTR what) {
  PAGED_CODE();
  if (!NT_SUCCESS(status)) LogBoardEvent(extension, message, status, what);
}
