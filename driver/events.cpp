// DI interrupt notification: enable and disable, connecting and
// disconnecting the board's interrupt, the interrupt service routine and the
// DPC that signals the events of the slot table (slots.cpp).
//
// The interrupt is connected and disconnected only under the device's
// HardwareLock, together with the started state it depends on: one interrupt
// object at a time, connected once, disconnected once. The ISR and the DPC
// hand the saved status over with interlocked operations, so the DPC never
// touches the interrupt object, and a disconnect is followed by a flush of
// the DPCs: none is left queued or running when the device object goes or
// its DPC is initialised again.
#include "driver.h"

// The record of the handle a request came on, or none.
static POPEN_CONTEXT ContextOf(PIO_STACK_LOCATION stack) {
  return stack->FileObject ? (POPEN_CONTEXT)stack->FileObject->FsContext2 : NULL;
}

// The slot of the handle a request came on, or -1.
static LONG SlotOf(PIO_STACK_LOCATION stack) {
  POPEN_CONTEXT context = ContextOf(stack);
  return context != NULL ? context->SlotIndex : -1;
}

// The service routine's work, run under the interrupt's lock.
static BOOLEAN TakePendingStatus(PVOID context) {
  PDEVICE_OBJECT device = (PDEVICE_OBJECT)context;
  return InterruptService(((PDEVICE_EXTENSION)device->DeviceExtension)->InterruptObject, device);
}

// Connects the started board's interrupt unless it is connected. Called
// holding HardwareLock.
_Use_decl_annotations_
NTSTATUS ConnectBoardInterrupt(PDEVICE_OBJECT device, PDEVICE_EXTENSION extension) {
  if (extension->InterruptObject != NULL) return STATUS_SUCCESS;
  // The last disconnection flushed its DPCs: none is queued now.
  KeInitializeDpc(&device->Dpc, InterruptDpc, device);
  // Status saved before is dropped here, and only here.
  InterlockedExchange(&extension->IntStatus, 0);
  NTSTATUS status = IoConnectInterrupt(&extension->InterruptObject, InterruptService, extension->Self, NULL,
                                       extension->InterruptVector, extension->InterruptIrql,
                                       extension->InterruptIrql, BoardInterruptMode(), BoardInterruptShared(),
                                       extension->InterruptAffinity, FALSE);
  // Without an interrupt the start's entry has told it already.
  if (extension->InterruptGiven) LogFailure(extension, DIO_LOG_INTERRUPT_REFUSED, status, NULL);
  // A latched line interrupts on its rising edge only. Status the board
  // latched while nothing was connected already holds the line up: no later
  // edge would interrupt, so it is taken now, as a level-sensitive line's
  // interrupt takes it at the connection.
  if (NT_SUCCESS(status) && BoardInterruptMode() == Latched)
    KeSynchronizeExecution(extension->InterruptObject, TakePendingStatus, device);
  return status;
}

// Disconnects the board's interrupt, if connected, then waits until every
// DPC has run: one the last interrupts queued is done before the device
// object can go. Called holding HardwareLock, with the board quiet.
static VOID DisconnectBoardInterrupt(PDEVICE_EXTENSION extension) {
  PKINTERRUPT interrupt = extension->InterruptObject;
  if (interrupt == NULL) return;
  IoDisconnectInterrupt(interrupt);
  extension->InterruptObject = NULL;
  KeFlushQueuedDpcs();
}

// Takes the request's events into its handle's slot and connects the
// interrupt on the first enable of the started board. An enable that comes
// after its handle's cleanup is refused: the last cleanup may have
// disconnected already, and nothing would disconnect what it connected.
// While the device is stopped the events are taken all the same (the
// handles are the caller's, looked up in its own context) and the restart
// connects the interrupt; while the board has no power the enable is
// refused.
_Use_decl_annotations_
NTSTATUS EnableEventNotification(PDEVICE_OBJECT device, PDEVICE_EXTENSION extension, PIRP irp,
                                 PIO_STACK_LOCATION stack) {
  PDIO_EVENT_REQUEST request = (PDIO_EVENT_REQUEST)irp->AssociatedIrp.SystemBuffer;
  POPEN_CONTEXT context = ContextOf(stack);
  if (context == NULL) return STATUS_INVALID_DEVICE_REQUEST;
  LONG slot = context->SlotIndex;
  LockHardware(extension);
  BOOLEAN stopped = DeviceIsStopped(extension);
  NTSTATUS state = ReadCount(&context->CleanedUp)              ? STATUS_FILE_CLOSED
                   : !DeviceIsStarted(extension) && !stopped     ? STATUS_INVALID_DEVICE_STATE
                   : !BoardHasPorts(extension)                   ? STATUS_ACCESS_VIOLATION  // no interrupt registers
                   : !stopped && !extension->BoardReady          ? STATUS_DEVICE_NOT_READY
                                                                 : STATUS_SUCCESS;
  if (!NT_SUCCESS(state)) {
    UnlockHardware(extension);
    return state;
  }

  // The handles are the caller's: they are looked up as the caller's mode
  // allows, never as the kernel's own. Only nine events exist.
  ULONG count = request->HandleCount < DIO_EVENTS_PER_SLOT ? request->HandleCount : DIO_EVENTS_PER_SLOT;
  PKEVENT events[DIO_EVENTS_PER_SLOT];
  for (ULONG n = 0; n < DIO_EVENTS_PER_SLOT; ++n) events[n] = NULL;
  NTSTATUS status = STATUS_SUCCESS;
  for (ULONG n = 0; n < count && NT_SUCCESS(status); ++n) {
    HANDLE handle = (HANDLE)(ULONG_PTR)request->Handles[n];
    if (handle == NULL) continue;
    PVOID event;
    status = ObReferenceObjectByHandle(handle, SYNCHRONIZE, EventObjectType(), irp->RequestorMode,
                                       &event, NULL);
    if (NT_SUCCESS(status)) events[n] = (PKEVENT)event;
  }
  // A repeated enable keeps none of the events of the last one. After a
  // refused handle the references taken before it go in the slot all the
  // same.
  FillEventSlot(slot, events);
  if (!NT_SUCCESS(status)) {
    UnlockHardware(extension);
    request->Status = status;
    irp->IoStatus.Information = sizeof(DIO_EVENT_REQUEST);
    return status;
  }
  extension->InterruptWanted = 1;
  if (!stopped) status = ConnectBoardInterrupt(device, extension);
  UnlockHardware(extension);
  if (!NT_SUCCESS(status)) return status;
  request->Status = STATUS_SUCCESS;
  irp->IoStatus.Information = sizeof(DIO_EVENT_REQUEST);
  return STATUS_SUCCESS;
}

// Releases the handle's events. Called by the last handle's cleanup too
// (OpenCount already lowered to 0): the board's interrupts are then turned
// off and the interrupt disconnected.
_Use_decl_annotations_
NTSTATUS DisableEventNotification(PDEVICE_OBJECT device, PDEVICE_EXTENSION extension, PIRP irp,
                                  PIO_STACK_LOCATION stack) {
  UNREFERENCED_PARAMETER(device);
  LONG slot = SlotOf(stack);
  if (slot >= 0) EmptyEventSlot(slot);

  LockHardware(extension);
  if (ReadCount(&extension->OpenCount) == 0) {
    // A board that is not started (never, or no longer), or has no ports,
    // is not touched. One without power or stopped has its sources turned
    // off in what the power-up or the restart writes back.
    if (extension->ContextSaved) {
      for (ULONG i = DIO_SAVED_INTEN0; i < DIO_SAVED_REGISTERS; ++i) extension->SavedRegisters[i] = 0;
    } else if (DeviceIsStarted(extension) && extension->BoardReady && BoardHasPorts(extension)) {
      ResetInterruptRegisters(extension, TRUE);
    }
    extension->InterruptWanted = 0;
    DisconnectBoardInterrupt(extension);
  }
  UnlockHardware(extension);
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  return STATUS_SUCCESS;
}

// Stop and removal: the started board leaves service. Before a restart its
// registers are saved (a rebalance may power it down meanwhile), unless
// they were saved before its power went, and until the restart requests
// that need the board are held. With the interrupt connected its sources go
// off first, as at the last cleanup: on a shared level-sensitive line a
// source left on would assert the line with no routine of this driver there
// to quiet it. Called holding HardwareLock.
_Use_decl_annotations_
VOID StopBoardInterrupt(PDEVICE_EXTENSION extension, BOOLEAN restart) {
  if (extension->BoardReady && BoardHasPorts(extension)) {
    if (restart) {
      SaveBoardRegisters(extension);
      extension->ContextSaved = 1;
    }
    if (extension->InterruptObject != NULL) ResetInterruptRegisters(extension, TRUE);
  }
  extension->BoardReady = 0;
  DisconnectBoardInterrupt(extension);
}

// The layout's status registers, register k in byte k.
static LONG ReadStatus(PDEVICE_EXTENSION extension, const BOARD_REGISTER_MAP *map) {
  LONG status = 0;
  for (ULONG k = 0; k < DIO_STATUS_REGISTERS; ++k) {
    if (map->Status[k].Offset == DIO_NO_REGISTER) continue;
    status |= (LONG)ReadRegister(RegisterBase(extension), map->Status[k].Offset) << (8 * k);
  }
  return status;
}

// Acknowledges the status read by writing each register's bits back.
static VOID AcknowledgeStatus(PDEVICE_EXTENSION extension, const BOARD_REGISTER_MAP *map, LONG status) {
  for (ULONG k = 0; k < DIO_STATUS_REGISTERS; ++k) {
    if (map->Status[k].Offset == DIO_NO_REGISTER) continue;
    WriteRegister(RegisterBase(extension), map->Status[k].Offset, (UCHAR)(status >> (8 * k)));
  }
}

static BOOLEAN AllOnes(const BOARD_REGISTER_MAP *map, LONG status) {
  for (ULONG k = 0; k < DIO_STATUS_REGISTERS; ++k) {
    if (map->Status[k].Offset != DIO_NO_REGISTER && (UCHAR)(status >> (8 * k)) != 0xFF) return FALSE;
  }
  return TRUE;
}

// Runs at the board's interrupt level under the interrupt's lock, on a line
// the board may share. Decides whether the interrupt is the board's,
// acknowledges what is pending and adds it to what the DPC has still to
// deliver.
_Use_decl_annotations_
BOOLEAN InterruptService(PKINTERRUPT interrupt, PVOID context) {
  UNREFERENCED_PARAMETER(interrupt);
  PDEVICE_OBJECT device = (PDEVICE_OBJECT)context;
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)device->DeviceExtension;
  const BOARD_REGISTER_MAP *map = BoardRegisterMap();

  BOOLEAN diPending = TRUE;
  if (map->Summary != DIO_NO_REGISTER) {
    UCHAR summary = ReadRegister(InfoBase(extension), map->Summary);
    if (summary == 0) return FALSE;
    // Another source of the board: claimed, the status registers untouched.
    diPending = (summary & DIO_L24_SUMMARY_DI) != 0;
  }
  if (diPending) {
    LONG status = ReadStatus(extension, map);
    if (map->Summary == DIO_NO_REGISTER && status == 0) return FALSE;
    AcknowledgeStatus(extension, map, status);
    // A board pulled out or powered down reads all ones, and is not
    // interrupting. A live board reads all ones only with every source
    // pending at once, and the acknowledge has just cleared that: it reads
    // all ones again only if every source fired anew in between. So only a
    // second reading of all ones declines the interrupt, and a live board's
    // status is never taken for a missing board.
    if (AllOnes(map, status) && AllOnes(map, ReadStatus(extension, map))) return FALSE;
    InterlockedOr(&extension->IntStatus, status);
  }
  KeInsertQueueDpc(&device->Dpc, NULL, extension);
  return TRUE;
}

// The event numbers the status bytes name, as a mask.
static ULONG EventsOf(PDEVICE_EXTENSION extension, LONG status) {
  const BOARD_REGISTER_MAP *map = BoardRegisterMap();
  ULONG registers = DIO_STATUS_REGISTERS;
  if (map->StatusCountFromBoardInfo) {
    // The first information byte tells how many status bytes the board has;
    // the routine saves two, and only event numbers 0 to 8 exist.
    ULONG count = (ULONG)(extension->BoardInfo[0] >> 3) + 1;
    if (count < registers) registers = count;
  }
  ULONG events = 0;
  for (ULONG k = 0; k < registers; ++k) {
    const STATUS_REGISTER *reg = &map->Status[k];
    UCHAR bits = (UCHAR)(status >> (8 * k));
    if (reg->Offset == DIO_NO_REGISTER || bits == 0) continue;
    events |= reg->AnyBit ? 1u << reg->FirstEvent : (ULONG)(bits & reg->EventBits) << reg->FirstEvent;
  }
  return events;
}

// Signals, in every slot, the event of each event number whose status bit
// the interrupt service routine saved since the last time. The extension
// comes as the second argument; the first is unused.
_Use_decl_annotations_
VOID InterruptDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  UNREFERENCED_PARAMETER(dpc);
  UNREFERENCED_PARAMETER(context);
  UNREFERENCED_PARAMETER(argument1);
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)argument2;
  ULONG events = EventsOf(extension, InterlockedExchange(&extension->IntStatus, 0));
  if (events != 0) SignalEvents(events);
}
