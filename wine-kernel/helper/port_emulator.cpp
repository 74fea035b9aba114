// The port emulator: winedevice runs drivers in user mode, where in and out
// raise a privileged-instruction fault. A vectored exception handler, first
// in line, carries out the faulting instruction on the register file and
// the board (board_model.cpp; little-endian for word and double-word
// accesses, wrapping at the top) and records it, then resumes after the
// instruction. Every other fault goes on to the next handler.
#include "helper.h"

// What kernelbase.dll gives a driver that imports it under Wine.
typedef LONG(NTAPI *VECTORED_HANDLER)(PEXCEPTION_POINTERS);
extern "C" __declspec(dllimport) PVOID NTAPI AddVectoredExceptionHandler(ULONG first,
                                                                         VECTORED_HANDLER handler);
extern "C" __declspec(dllimport) ULONG NTAPI RemoveVectoredExceptionHandler(PVOID handle);

static WINE_HELPER_TRACE gTrace;
static KSPIN_LOCK gTraceLock;
static PVOID gHandler;

VOID RecordAccess(UCHAR kind, UCHAR width, USHORT port, ULONG value) {
  KIRQL irql;
  KeAcquireSpinLock(&gTraceLock, &irql);
  if (gTrace.Count < WINE_HELPER_TRACE_LENGTH) {
    WINE_HELPER_ACCESS *access = &gTrace.Accesses[gTrace.Count++];
    access->Kind = kind;
    access->Width = width;
    access->Port = port;
    access->Value = value;
  } else {
    ++gTrace.Lost;
  }
  KeReleaseSpinLock(&gTraceLock, irql);
}

VOID TakeTrace(WINE_HELPER_TRACE *trace) {
  KIRQL irql;
  KeAcquireSpinLock(&gTraceLock, &irql);
  RtlCopyMemory(trace, &gTrace, sizeof(gTrace));
  gTrace.Count = 0;
  gTrace.Lost = 0;
  KeReleaseSpinLock(&gTraceLock, irql);
}

// Carries out in/out with an 8-bit immediate port or the port in DX
// (E4-E7, EC-EF), with an operand-size prefix for words. The string forms
// are left alone: the driver under test never uses them.
static BOOLEAN EmulatePortInstruction(PCONTEXT context) {
  const UCHAR *code = (const UCHAR *)context->Rip;
  ULONG length = 0;
  BOOLEAN wordSize = FALSE;
  for (;; ++length) {
    if (code[length] == 0x66) {
      wordSize = TRUE;
    } else if ((code[length] & 0xF0) != 0x40) {  // REX prefixes change nothing here
      break;
    }
  }
  UCHAR opcode = code[length++];
  USHORT port;
  if (opcode >= 0xE4 && opcode <= 0xE7) {
    port = code[length++];
  } else if (opcode >= 0xEC && opcode <= 0xEF) {
    port = (USHORT)context->Rdx;
  } else {
    return FALSE;
  }
  UCHAR width = (opcode & 1) == 0 ? 1 : wordSize ? 2 : 4;
  BOOLEAN isOut = (opcode & 2) != 0;

  if (isOut) {
    ULONG value = (ULONG)context->Rax & (width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1);
    // Recorded first: an interrupt the write raises comes after it.
    RecordAccess(WINE_HELPER_OUT, width, port, value);
    WritePorts(port, width, value);
  } else {
    ULONG value = ReadPorts(port, width);
    RecordAccess(WINE_HELPER_IN, width, port, value);
    if (width == 4) {
      context->Rax = value;  // a 32-bit result clears the upper half
    } else {
      ULONG64 mask = width == 2 ? 0xFFFF : 0xFF;
      context->Rax = (context->Rax & ~mask) | value;
    }
  }
  context->Rip += length;
  return TRUE;
}

static LONG NTAPI PortFaultHandler(PEXCEPTION_POINTERS pointers) {
  NTSTATUS code = pointers->ExceptionRecord->ExceptionCode;
  if ((code == STATUS_PRIVILEGED_INSTRUCTION || code == STATUS_ACCESS_VIOLATION) &&
      EmulatePortInstruction(pointers->ContextRecord)) {
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

NTSTATUS StartPortEmulator(void) {
  KeInitializeSpinLock(&gTraceLock);
  gHandler = AddVectoredExceptionHandler(1, PortFaultHandler);
  return gHandler != NULL ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

VOID StopPortEmulator(void) {
  if (gHandler != NULL) RemoveVectoredExceptionHandler(gHandler);
  gHandler = NULL;
}
