// The Wine kernel test's helper driver, TesZEPDIOWineHelper.sys, and what the
// test program asks of it. Test-only: nothing here ships.
//
// Wine runs kernel drivers in a user process (winedevice), where the port
// instructions fault, a Plug and Play start carries no resources, and the
// interrupt, DPC, device power and user-mode handle routines are stubs or
// refusals. The helper, loaded into the same winedevice as the driver under
// test, stands in for the PC around the driver:
//  - a board on the ports: a vectored exception handler carries out the
//    faulting in/out instructions on a register file of the 65536 ports,
//    where the board's status registers latch DI edges and clear on the
//    layout's acknowledge, and records each access in a trace;
//  - a resource rebalance: it stops the driver's device and starts it again
//    with the port ranges and the interrupt it is given;
//  - the cleanup request Windows sends when the last handle of a file object
//    is closed, which Wine never sends: it is delivered before each close;
//  - in the driver image's import table only, its own interrupt objects and
//    interrupt thread, DPC queue, device power requests, shutdown
//    registrations and user-mode handle lookup (docs/wine-kernel.md);
//  - the bus's answers to power requests, and the system's power transitions
//    and shutdown request in Windows' order, with the board losing power;
//  - in the driver image's import table, the event log entries Wine's kernel
//    does not allocate: the helper keeps those the driver writes.
//
// Include after <windows.h> and <winioctl.h> in user mode, or after <wdm.h>.
#pragma once

#include "../../driver/dio_registry.h"

#define WINE_HELPER_DEVICE_NAME L"\\Device\\TesZEPDIOWineHelper"
#define WINE_HELPER_LINK_NAME L"\\DosDevices\\TesZEPDIOWineHelper"
#define WINE_HELPER_USER_PATH L"\\\\.\\TesZEPDIOWineHelper"
#define WINE_HELPER_SERVICE L"TESZEPDIOWINEHELPER"
#define WINE_HELPER_DRIVER_UNDER_TEST L"\\Driver\\" DIO_SERVICE_NAME
// The image whose imports the helper substitutes, by its file name.
#define WINE_HELPER_IMAGE_UNDER_TEST L"TesZEPDIO.sys"

#define FILE_DEVICE_WINE_HELPER 0x9C41u

// In: WINE_HELPER_PORTS. Sets ports of the register file; not traced.
#define IOCTL_WINE_HELPER_SET_PORTS \
  CTL_CODE(FILE_DEVICE_WINE_HELPER, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Out: WINE_HELPER_TRACE. Returns the trace so far and starts a new one.
#define IOCTL_WINE_HELPER_TAKE_TRACE \
  CTL_CODE(FILE_DEVICE_WINE_HELPER, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS)
// In: WINE_HELPER_RESOURCES; out: WINE_HELPER_REBALANCE_RESULT. Stops the
// device of the driver under test and starts it with these resources.
#define IOCTL_WINE_HELPER_REBALANCE \
  CTL_CODE(FILE_DEVICE_WINE_HELPER, 0x802, METHOD_BUFFERED, FILE_ANY_ACCESS)
// In: WINE_HELPER_BOARD. Puts the board on its ports: from then on its
// registers there behave as the board's.
#define IOCTL_WINE_HELPER_SET_BOARD \
  CTL_CODE(FILE_DEVICE_WINE_HELPER, 0x803, METHOD_BUFFERED, FILE_ANY_ACCESS)
// In: WINE_HELPER_FIRE. Pulses DI lines of the board, one after the other;
// the interrupt, if any, is delivered by the interrupt thread.
#define IOCTL_WINE_HELPER_FIRE \
  CTL_CODE(FILE_DEVICE_WINE_HELPER, 0x804, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Out: ULONG, 1 once no interrupt is pending or being delivered and no DPC
// is queued or running; 0 when that did not come within 2 s.
#define IOCTL_WINE_HELPER_SETTLE \
  CTL_CODE(FILE_DEVICE_WINE_HELPER, 0x805, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Out: WINE_HELPER_INTERRUPTS. The interrupt connections so far.
#define IOCTL_WINE_HELPER_INTERRUPTS \
  CTL_CODE(FILE_DEVICE_WINE_HELPER, 0x806, METHOD_BUFFERED, FILE_ANY_ACCESS)
// In: WINE_HELPER_TRANSITION; out: WINE_HELPER_TRANSITION_RESULT. One half of
// a system power transition, sent to the device stack.
#define IOCTL_WINE_HELPER_SYSTEM_POWER \
  CTL_CODE(FILE_DEVICE_WINE_HELPER, 0x807, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Out: WINE_HELPER_BOARD_STATE. The board's registers as they stand; not
// traced.
#define IOCTL_WINE_HELPER_BOARD_STATE \
  CTL_CODE(FILE_DEVICE_WINE_HELPER, 0x808, METHOD_BUFFERED, FILE_ANY_ACCESS)

// Out: WINE_HELPER_ERROR_LOG. The event log entries the driver wrote since
// the last call.
#define IOCTL_WINE_HELPER_TAKE_ERROR_LOG \
  CTL_CODE(FILE_DEVICE_WINE_HELPER, 0x809, METHOD_BUFFERED, FILE_ANY_ACCESS)

#pragma pack(push, 4)

typedef struct _WINE_HELPER_PORTS {
  USHORT First;
  USHORT Count;  // bytes that follow, for ports First, First + 1, ...
  UCHAR Values[64];
} WINE_HELPER_PORTS;

// One port access of the driver, or what the helper's kernel saw or did.
#define WINE_HELPER_IN 1
#define WINE_HELPER_OUT 2
#define WINE_HELPER_CLEANUP 3     // a cleanup request finished; Value: its status
#define WINE_HELPER_CLOSE 4       // the close request follows
#define WINE_HELPER_CONNECT 5     // IoConnectInterrupt; Value: its status
#define WINE_HELPER_DISCONNECT 6  // IoDisconnectInterrupt; Value: 1 if the board still asserted its line
#define WINE_HELPER_ISR 7         // the service routine returned; Value: what it returned
#define WINE_HELPER_DPC 8         // a queued DPC ran
#define WINE_HELPER_STORM 9       // the line stayed asserted: masked until the next fire
#define WINE_HELPER_SHUTDOWN 10   // IRP_MJ_SHUTDOWN delivered; Value: its status
#define WINE_HELPER_POWER_REQUEST 11  // PoRequestPowerIrp; Width: minor function, Value: device state
#define WINE_HELPER_BUS_POWER 12      // a power request at the bus; Width: minor, Port: type, Value: state
#define WINE_HELPER_BOARD_POWER 13    // the board lost power (Value 0) or got it (1)
#define WINE_HELPER_VIOLATION 14      // a kernel calling rule broken; Value: WINE_HELPER_RULE_...
#define WINE_HELPER_RULE_UNKNOWN_INTERRUPT 1  // disconnect or synchronize of no connected object
#define WINE_HELPER_RULE_POWER_MINOR 2        // PoRequestPowerIrp with a minor it does not take
#define WINE_HELPER_RULE_DPC_QUEUE 3          // more DPCs queued at once than the helper keeps
#define WINE_HELPER_RULE_ERROR_LOG 4          // an event log entry misused (the helper's errorlog.cpp)
typedef struct _WINE_HELPER_ACCESS {
  UCHAR Kind;
  UCHAR Width;  // 1, 2 or 4 for port accesses
  USHORT Port;
  ULONG Value;
} WINE_HELPER_ACCESS;

#define WINE_HELPER_TRACE_LENGTH 256
typedef struct _WINE_HELPER_TRACE {
  ULONG Count;
  ULONG Lost;  // accesses past the end of the trace
  WINE_HELPER_ACCESS Accesses[WINE_HELPER_TRACE_LENGTH];
} WINE_HELPER_TRACE;

#define WINE_HELPER_PORT_RANGES 3
typedef struct _WINE_HELPER_RESOURCES {
  ULONG InterfaceType;  // INTERFACE_TYPE of the full descriptor
  ULONG PortRangeCount;
  struct {
    ULONG Start;
    ULONG Length;
  } Ports[WINE_HELPER_PORT_RANGES];
  ULONG RawLevel, RawVector;
  ULONG TranslatedLevel, TranslatedVector;
  ULONG64 Affinity;
  USHORT InterruptFlags;  // CM_RESOURCE_INTERRUPT_LATCHED or _LEVEL_SENSITIVE
  UCHAR InterruptShare;   // CmResourceShareShared or _DeviceExclusive
  UCHAR OtherType;        // a descriptor of this type after the interrupt, or 0 for none
} WINE_HELPER_RESOURCES;

typedef struct _WINE_HELPER_REBALANCE_RESULT {
  LONG StopStatus;
  LONG StartStatus;
  ULONG Substituted;  // WINE_HELPER_SUBSTITUTE_... bits: imports of the image replaced at its load
} WINE_HELPER_REBALANCE_RESULT;

// The driver image's imports the helper replaces where the image has them.
#define WINE_HELPER_SUBSTITUTE_CONNECT 0x001       // IoConnectInterrupt
#define WINE_HELPER_SUBSTITUTE_DISCONNECT 0x002    // IoDisconnectInterrupt
#define WINE_HELPER_SUBSTITUTE_SYNCHRONIZE 0x004   // KeSynchronizeExecution
#define WINE_HELPER_SUBSTITUTE_QUEUE_DPC 0x008     // KeInsertQueueDpc
#define WINE_HELPER_SUBSTITUTE_FLUSH_DPCS 0x010    // KeFlushQueuedDpcs
#define WINE_HELPER_SUBSTITUTE_POWER_IRP 0x020     // PoRequestPowerIrp
#define WINE_HELPER_SUBSTITUTE_HANDLE 0x040        // ObReferenceObjectByHandle
#define WINE_HELPER_SUBSTITUTE_SHUTDOWN 0x080      // IoRegisterShutdownNotification
#define WINE_HELPER_SUBSTITUTE_NO_SHUTDOWN 0x100   // IoUnregisterShutdownNotification
#define WINE_HELPER_SUBSTITUTE_DELETE 0x200        // IoDeleteDevice: its shutdown registrations go too
#define WINE_HELPER_SUBSTITUTE_LOG_ENTRY 0x400     // IoAllocateErrorLogEntry
#define WINE_HELPER_SUBSTITUTE_WRITE_LOG 0x800     // IoWriteErrorLogEntry
#define WINE_HELPER_SUBSTITUTE_FREE_LOG 0x1000     // IoFreeErrorLogEntry

// The board: its model code (22 and 24 their own layouts, every other code
// the general layout; above 20 a PCI board, whose power follows its device
// power state) and its ranges. Its registers start at their power-on values.
typedef struct _WINE_HELPER_BOARD {
  ULONG Model;
  USHORT InfoBase;    // layout 24: the information block (32 ports)
  USHORT BlockBase;   // the register block
  ULONG BlockLength;
} WINE_HELPER_BOARD;

#define WINE_HELPER_FIRE_LINES 16
typedef struct _WINE_HELPER_FIRE {
  ULONG Count;
  UCHAR Lines[WINE_HELPER_FIRE_LINES];  // DI sources 0 to 15
} WINE_HELPER_FIRE;

typedef struct _WINE_HELPER_INTERRUPTS {
  ULONG Connects, Disconnects, Connected;
  // The arguments of the last connection.
  ULONG Vector;
  UCHAR Irql, SynchronizeIrql, Mode, ShareVector, FloatingSave, SpinLockGiven;
  ULONG64 Affinity;
} WINE_HELPER_INTERRUPTS;

// The system power transitions the helper sends (docs/power-transitions.md).
#define WINE_HELPER_SLEEP 1
#define WINE_HELPER_HIBERNATE 2
#define WINE_HELPER_HYBRID_SHUTDOWN 3
#define WINE_HELPER_SHUTDOWN_OFF 4
// Enter: (the shutdown requests of a shutdown,) the query and the system
// set-power request that leave S0, then the machine loses power. Leave: the
// machine gets power back, then the S0 request (none after a shutdown).
#define WINE_HELPER_ENTER 1
#define WINE_HELPER_LEAVE 2
typedef struct _WINE_HELPER_TRANSITION {
  ULONG Transition;
  ULONG Step;
} WINE_HELPER_TRANSITION;
typedef struct _WINE_HELPER_TRANSITION_RESULT {
  LONG QueryStatus;  // entering: the query's status
  LONG SetStatus;    // the system set-power request's status
} WINE_HELPER_TRANSITION_RESULT;

typedef struct _WINE_HELPER_BOARD_STATE {
  UCHAR Powered;
  UCHAR Do, IntEn0, IntEn1, IntSt0, IntSt1;
  UCHAR LineAsserted;
} WINE_HELPER_BOARD_STATE;

// An event log entry as the driver wrote it: its packet's fields, and its
// insertion strings one after the other, each terminated.
#define WINE_HELPER_ERROR_LOG_ENTRIES 8
#define WINE_HELPER_ERROR_LOG_CHARS 120
typedef struct _WINE_HELPER_LOGGED {
  LONG ErrorCode;
  LONG FinalStatus;
  ULONG UniqueErrorValue;
  USHORT NumberOfStrings;
  USHORT StringChars;  // in Strings, terminators included
  WCHAR Strings[WINE_HELPER_ERROR_LOG_CHARS];
} WINE_HELPER_LOGGED;
typedef struct _WINE_HELPER_ERROR_LOG {
  ULONG Count;
  ULONG Lost;  // entries past the end of the record
  WINE_HELPER_LOGGED Entries[WINE_HELPER_ERROR_LOG_ENTRIES];
} WINE_HELPER_ERROR_LOG;

#pragma pack(pop)
