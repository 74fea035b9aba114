// The user-mode DIO library TesZEPDIO.dll, as far as the applet uses it.
//
// The library belongs to the board's maker and is not part of this system.
// It is assumed to export these five functions by their undecorated names,
// with the WINAPI (stdcall) calling convention; on 32-bit Windows every
// argument is 32 bits wide: a number, a handle or an address. The Windows
// build links an import library made from TesZEPDIO.def.
#pragma once

#include <windows.h>
#include <winioctl.h>

// DIO_DO_CONFIG, which DOSysConfig hands to the driver's configuration
// request.
#include "dio_ioctl.h"

// Channel counts and FPGA version of a board, as DeviceDIOInfo fills them.
// Bytes 3, 5 and 7 are not written by the library and not read by the applet.
typedef struct _DIO_INFO {
  BYTE diCount;           // DI channels
  BYTE diInterruptCount;  // DI channels that can raise an interrupt
  BYTE doCount;           // DO channels
  BYTE reserved3;
  BYTE pledCount;  // program LEDs
  BYTE reserved5;
  BYTE fpgaVersion;
  BYTE reserved7;
} DIO_INFO;

#ifdef __cplusplus
extern "C" {
#endif
// Opens board `deviceNumber` and writes its handle into *handle.
LONG WINAPI DeviceOpen(LONG deviceNumber, HANDLE *handle);
// Closes the board whose handle *handle holds; 0 means success.
LONG WINAPI DeviceClose(HANDLE *handle);
// Writes the DI count, DO count and feature flags; only their low-order
// bytes carry information.
LONG WINAPI GetDeviceInfor(HANDLE handle, DWORD *diCount, DWORD *doCount, DWORD *featureFlags);
// Fills bytes 0, 1, 2, 4 and 6 of *info.
LONG WINAPI DeviceDIOInfo(HANDLE handle, DIO_INFO *info);
// Hands the DO configuration to the board opened last.
LONG WINAPI DOSysConfig(DIO_DO_CONFIG *config);
#ifdef __cplusplus
}
#endif
