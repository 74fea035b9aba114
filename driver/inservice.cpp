// The board in service. The event slots, the registry's Device000 and the
// register layout the driver works with serve one board: a device takes the
// board at its first start and keeps it, through stops and restarts, until
// its removal. Its model becomes the driver's.
#include "driver.h"

DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS TakeBoard(PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  PDEVICE_OBJECT holder = (PDEVICE_OBJECT)InterlockedCompareExchangePointer((PVOID volatile *)&gBoardDevice,
                                                                            extension->Self, NULL);
  if (holder == extension->Self) return STATUS_SUCCESS;
  if (holder != NULL) return RefuseBoard(extension);
  gDeviceType = extension->DeviceType;
  return STATUS_SUCCESS;
}

// A start while another board is in service, of the same model
// (extension->DeviceType) as the one driven (gDeviceType) or of another,
// fails before the board or the registry is touched: the board is never
// driven with the other's registers or slots. Its interface goes off, so
// that programs do not find a device they cannot open.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS RefuseBoard(PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  KdPrintEx((DPFLTR_IHVDRIVER_ID, DPFLTR_WARNING_LEVEL,
             "TesZEPDIO: start of a model %lu board refused, a model %lu board is in service\n",
             extension->DeviceType, gDeviceType));
  DisableInterface(extension);
  LogBoardEvent(extension, DIO_LOG_SECOND_BOARD, DIO_STATUS_BOARD_IN_SERVICE, NULL);
  return DIO_STATUS_BOARD_IN_SERVICE;
}

// Whether the device may write or delete the registry's record of the board
// (Device000): it is the device in service, or none is.
_Use_decl_annotations_
BOOLEAN RecordsBoard(PDEVICE_EXTENSION extension) {
  PDEVICE_OBJECT holder = (PDEVICE_OBJECT)InterlockedCompareExchangePointer((PVOID volatile *)&gBoardDevice, NULL,
                                                                            NULL);
  return holder == NULL || holder == extension->Self;
}

// At the device's removal: the board is free for the next device's start.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
VOID GiveUpBoard(PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  InterlockedCompareExchangePointer((PVOID volatile *)&gBoardDevice, NULL, extension->Self);
}
