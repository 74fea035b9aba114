// The Wine kernel test's helper driver, TesZEPDIOWineHelper.sys, and what the
// test program asks of it. Test-only: nothing here ships.
//
// Wine runs kernel drivers in a user process (winedevice), where the port
// instructions fault and a Plug and Play start carries no resources. The
// helper, loaded into the same winedevice as the driver under test, stands in
// for the PC around the driver:
//  - a port emulator: a vectored exception handler carries out the faulting
//    in/out instructions on a register file of the 65536 ports and records
//    each access in a trace;
//  - a resource rebalance: it stops the driver's device and starts it again
//    with the port ranges and the interrupt it is given;
//  - the cleanup request Windows sends when the last handle of a file object
//    is closed, which Wine never sends: it is delivered before each close.
//
// Include after <windows.h> and <winioctl.h> in user mode, or after <wdm.h>.
#pragma once

#define WINE_HELPER_DEVICE_NAME L"\\Device\\TesZEPDIOWineHelper"
#define WINE_HELPER_LINK_NAME L"\\DosDevices\\TesZEPDIOWineHelper"
#define WINE_HELPER_USER_PATH L"\\\\.\\TesZEPDIOWineHelper"
#define WINE_HELPER_SERVICE L"TESZEPDIOWINEHELPER"
#define WINE_HELPER_DRIVER_UNDER_TEST L"\\Driver\\TESZEPDIOS"

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

#pragma pack(push, 4)

typedef struct _WINE_HELPER_PORTS {
  USHORT First;
  USHORT Count;  // bytes that follow, for ports First, First + 1, ...
  UCHAR Values[64];
} WINE_HELPER_PORTS;

// One port access of the driver, or a request the helper delivered.
#define WINE_HELPER_IN 1
#define WINE_HELPER_OUT 2
#define WINE_HELPER_CLEANUP 3  // a cleanup request finished; Value: its status
#define WINE_HELPER_CLOSE 4    // the close request follows
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
} WINE_HELPER_RESOURCES;

typedef struct _WINE_HELPER_REBALANCE_RESULT {
  LONG StopStatus;
  LONG StartStatus;
} WINE_HELPER_REBALANCE_RESULT;

#pragma pack(pop)
