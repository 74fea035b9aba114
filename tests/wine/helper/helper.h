// TesZEPDIOWineHelper: private declarations of the Wine kernel test's helper
// driver (see wine_helper.h). Test-only.
#pragma once

#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>

#include "../wine_helper.h"

// ---------------------------------------------------------------------------
// port_emulator.cpp: the register file, the trace and the handler that
// carries out the driver's port instructions
NTSTATUS StartPortEmulator(void);
VOID StopPortEmulator(void);
VOID SetPorts(const WINE_HELPER_PORTS *ports);
VOID RecordAccess(UCHAR kind, UCHAR width, USHORT port, ULONG value);
VOID TakeTrace(WINE_HELPER_TRACE *trace);

// ---------------------------------------------------------------------------
// rebalance.cpp: the device under test, stopped and started again with
// resources, and the cleanup request delivered before each close
NTSTATUS Rebalance(const WINE_HELPER_RESOURCES *resources, WINE_HELPER_REBALANCE_RESULT *result);
VOID StopCleanupDelivery(void);
