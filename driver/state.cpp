// The device's Plug and Play state: the one record of where the device is
// in its life, the transitions it may make, and what each state means for
// the requests that reach it. Only Plug and Play changes it, holding
// HardwareLock, so that a port request, an enable or an open sees the state
// and the board's resources together; power requests read it without the
// lock.
#include "driver.h"

#define DIO_TO(state) (1u << (state))

// From each state, the states it may go to. A query is cancelled back to the
// state before it (CancelPnpState); a start may come again on a started
// device, and a stop on a stopped one, with nothing to do. A stop cannot be
// refused: the bus takes the resources back whatever the driver says, so it
// is taken also while a removal is pending, and that query's cancel then
// finds the device stopped.
static const ULONG kTransitions[] = {
    /* DeviceAdded */ DIO_TO(DeviceStarted) | DIO_TO(DeviceRemovePending) | DIO_TO(DeviceSurpriseRemoved) |
        DIO_TO(DeviceRemoved),
    /* DeviceStarted */ DIO_TO(DeviceStopPending) | DIO_TO(DeviceStopped) | DIO_TO(DeviceRemovePending) |
        DIO_TO(DeviceSurpriseRemoved) | DIO_TO(DeviceRemoved),
    /* DeviceStopPending */ DIO_TO(DeviceStarted) | DIO_TO(DeviceStopped) | DIO_TO(DeviceRemovePending) |
        DIO_TO(DeviceSurpriseRemoved) | DIO_TO(DeviceRemoved),
    /* DeviceStopped */ DIO_TO(DeviceStarted) | DIO_TO(DeviceRemovePending) | DIO_TO(DeviceSurpriseRemoved) |
        DIO_TO(DeviceRemoved),
    /* DeviceRemovePending */ DIO_TO(DeviceStopped) | DIO_TO(DeviceSurpriseRemoved) | DIO_TO(DeviceRemoved),
    /* DeviceSurpriseRemoved */ DIO_TO(DeviceRemoved),
    /* DeviceRemoved */ 0,
};

_Use_decl_annotations_
DEVICE_PNP_STATE PnpStateOf(PDEVICE_EXTENSION extension) {
  return (DEVICE_PNP_STATE)ReadCount(&extension->PnpState);
}

_Use_decl_annotations_
BOOLEAN PnpStateAllows(PDEVICE_EXTENSION extension, DEVICE_PNP_STATE to) {
  DEVICE_PNP_STATE from = PnpStateOf(extension);
  return from == to || (kTransitions[from] & DIO_TO(to)) != 0;
}

_Use_decl_annotations_
BOOLEAN SetPnpState(PDEVICE_EXTENSION extension, DEVICE_PNP_STATE to) {
  DEVICE_PNP_STATE from = PnpStateOf(extension);
  if (from == to) return TRUE;
  if (!PnpStateAllows(extension, to)) {
    KdPrintEx((DPFLTR_IHVDRIVER_ID, DPFLTR_WARNING_LEVEL, "TesZEPDIO: no transition from state %d to %d\n", from, to));
    return FALSE;
  }
  InterlockedExchange(&extension->PreviousPnpState, from);
  InterlockedExchange(&extension->PnpState, to);
  return TRUE;
}

_Use_decl_annotations_
VOID CancelPnpState(PDEVICE_EXTENSION extension, DEVICE_PNP_STATE pending) {
  if (PnpStateOf(extension) != pending) return;  // the query never reached the driver, or failed here
  InterlockedExchange(&extension->PnpState, ReadCount(&extension->PreviousPnpState));
}

// What the device's requests follow: a query pending changes nothing of
// them until its stop or removal comes.
static DEVICE_PNP_STATE SettledState(PDEVICE_EXTENSION extension) {
  DEVICE_PNP_STATE state = PnpStateOf(extension);
  if (state == DeviceRemovePending) state = (DEVICE_PNP_STATE)ReadCount(&extension->PreviousPnpState);
  return state == DeviceStopPending ? DeviceStarted : state;
}

_Use_decl_annotations_
BOOLEAN DeviceIsStarted(PDEVICE_EXTENSION extension) { return SettledState(extension) == DeviceStarted; }

_Use_decl_annotations_
BOOLEAN DeviceIsStopped(PDEVICE_EXTENSION extension) { return SettledState(extension) == DeviceStopped; }

_Use_decl_annotations_
BOOLEAN DeviceRefusesOpens(PDEVICE_EXTENSION extension) {
  DEVICE_PNP_STATE state = PnpStateOf(extension);
  return state == DeviceRemovePending || state == DeviceSurpriseRemoved || state == DeviceRemoved;
}

// Power requests go down untouched while the device is not started, or a
// query holds it.
_Use_decl_annotations_
BOOLEAN DeviceTakesPower(PDEVICE_EXTENSION extension) { return PnpStateOf(extension) == DeviceStarted; }
