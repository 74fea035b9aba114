// TesZEPDIOWineHelper: private declarations of the Wine kernel test's helper
// driver (see wine_helper.h). Test-only.
#pragma once

#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>

#include "wine_helper.h"

#define HELPER_POOL_TAG 0x74576944u  // "DiWt"

// Exported by the kernel; declared in a header a driver of this kind does
// not include.
extern "C" __declspec(dllimport) NTSTATUS NTAPI ObReferenceObjectByName(
    PUNICODE_STRING name, ULONG attributes, PACCESS_STATE accessState, ACCESS_MASK access,
    POBJECT_TYPE type, KPROCESSOR_MODE mode, PVOID parseContext, PVOID *object);

// ---------------------------------------------------------------------------
// port_emulator.cpp: the handler that carries out the driver's port
// instructions, and the trace
NTSTATUS StartPortEmulator(void);
VOID StopPortEmulator(void);
VOID RecordAccess(UCHAR kind, UCHAR width, USHORT port, ULONG value);
VOID TakeTrace(WINE_HELPER_TRACE *trace);

// ---------------------------------------------------------------------------
// board_model.cpp: the register file of the 65536 ports and the board on it
VOID InitializeBoardModel(void);
VOID SetPorts(const WINE_HELPER_PORTS *ports);
VOID SetBoard(const WINE_HELPER_BOARD *board);
BOOLEAN BoardIsPci(void);
// Accesses of `width` bytes at `port`, little-endian, as the port
// instructions make them.
ULONG ReadPorts(USHORT port, ULONG width);
VOID WritePorts(USHORT port, ULONG width, ULONG value);
// A rising then falling edge on DI line `source`.
VOID PulseDiLine(ULONG source);
BOOLEAN BoardLineAsserted(void);
// The board loses power (reads all ones, ignores writes, latches nothing) or
// gets it back with its registers at their power-on values.
VOID SetBoardPower(BOOLEAN powered);
VOID ReadBoardState(WINE_HELPER_BOARD_STATE *state);

// ---------------------------------------------------------------------------
// interrupts.cpp: interrupt objects and the interrupt thread, the DPC queue
NTSTATUS StartInterrupts(void);
VOID StopInterrupts(void);
// The vector the board's line is wired to, from the resources the device
// was started with.
VOID SetBoardVector(ULONG vector);
// The board's line has just been asserted.
VOID BoardLineRose(void);
// A new fire unmasks a line masked after a storm.
VOID RearmBoardLine(void);
BOOLEAN Settle(void);
VOID ReadInterrupts(WINE_HELPER_INTERRUPTS *interrupts);
NTSTATUS NTAPI HelperConnectInterrupt(PKINTERRUPT *interrupt, PKSERVICE_ROUTINE service, PVOID context,
                                      PKSPIN_LOCK lock, ULONG vector, KIRQL irql, KIRQL synchronizeIrql,
                                      KINTERRUPT_MODE mode, BOOLEAN share, KAFFINITY affinity,
                                      BOOLEAN floatingSave);
VOID NTAPI HelperDisconnectInterrupt(PKINTERRUPT interrupt);
BOOLEAN NTAPI HelperSynchronizeExecution(PKINTERRUPT interrupt, PKSYNCHRONIZE_ROUTINE routine, PVOID context);
BOOLEAN NTAPI HelperInsertQueueDpc(PRKDPC dpc, PVOID argument1, PVOID argument2);
VOID NTAPI HelperFlushQueuedDpcs(void);

// ---------------------------------------------------------------------------
// handles.cpp: a user-mode caller's handles
NTSTATUS NTAPI HelperReferenceObjectByHandle(HANDLE handle, ACCESS_MASK access, POBJECT_TYPE type,
                                             KPROCESSOR_MODE mode, PVOID *object,
                                             POBJECT_HANDLE_INFORMATION information);

// ---------------------------------------------------------------------------
// power.cpp: device power requests, the bus's answers to power requests,
// shutdown registrations and the system's power transitions
NTSTATUS NTAPI HelperRequestPowerIrp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                                     PREQUEST_POWER_COMPLETE complete, PVOID context, PIRP *irp);
NTSTATUS NTAPI HelperRegisterShutdown(PDEVICE_OBJECT device);
VOID NTAPI HelperUnregisterShutdown(PDEVICE_OBJECT device);
VOID NTAPI HelperDeleteDevice(PDEVICE_OBJECT device);
VOID InitializePower(void);
// Puts the bus's own routine in the root bus driver's power entry.
NTSTATUS AnswerBusPower(void);
VOID StopBusPower(void);
NTSTATUS SystemPower(PDEVICE_OBJECT top, const WINE_HELPER_TRANSITION *transition,
                     WINE_HELPER_TRANSITION_RESULT *result);

// ---------------------------------------------------------------------------
// errorlog.cpp: the System event log's entries, kept for the test program
PVOID NTAPI HelperAllocateErrorLogEntry(PVOID object, UCHAR size);
VOID NTAPI HelperWriteErrorLogEntry(PVOID entry);
VOID NTAPI HelperFreeErrorLogEntry(PVOID entry);
VOID InitializeErrorLog(void);
// The entries written since the last call.
VOID TakeErrorLog(WINE_HELPER_ERROR_LOG *log);

// ---------------------------------------------------------------------------
// imports.cpp: the driver image's import table
NTSTATUS StartImportSubstitution(void);
VOID StopImportSubstitution(void);
ULONG SubstitutedImports(void);

// ---------------------------------------------------------------------------
// rebalance.cpp: the device under test, stopped and started again with
// resources, the cleanup request delivered before each close, and requests
// sent to its stack
NTSTATUS Rebalance(const WINE_HELPER_RESOURCES *resources, WINE_HELPER_REBALANCE_RESULT *result);
VOID StopCleanupDelivery(void);
// The top of the stack of the device under test, referenced; none when the
// driver is not loaded or has no device.
PDEVICE_OBJECT DeviceUnderTest(void);
// Sends a request whose stack location is `location` (major and minor
// function, file object, parameters) to `device` and waits for it; returns
// its status. The request starts with `initialStatus`, from `mode`.
NTSTATUS SendRequest(PDEVICE_OBJECT device, const IO_STACK_LOCATION *location, NTSTATUS initialStatus,
                     KPROCESSOR_MODE mode);
