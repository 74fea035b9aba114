// Bringing a board into service when Plug and Play starts the device.
#include "driver.h"

#define DIO_DEFAULT_PORT_COUNT 32

// The offsets of layout 24's board-information bytes from InfoBase.
static const ULONG kBoardInfoOffsets[DIO_L24_INFO_BYTES] = DIO_L24_INFO_OFFSETS;

// The partial descriptors of a resource list's first full descriptor, or none.
static PCM_PARTIAL_RESOURCE_LIST PartialList(PCM_RESOURCE_LIST list) {
  if (list == NULL || list->Count == 0) return NULL;
  return &list->List[0].PartialResourceList;
}

// Takes the port ranges and the interrupt, in one pass over both lists of
// the start request, which the PnP manager builds alike: from the translated
// list what the device is programmed with; from the raw descriptor at the
// same place the interrupt level the registry records. Each start takes only
// its own resources. Every translated descriptor is read; one of a type the
// board never has fails the pass afterwards, with what was read kept. The
// raw list is not judged.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS ParseResources(PDEVICE_EXTENSION extension, PCM_RESOURCE_LIST translated,
                        PCM_RESOURCE_LIST raw) {
  PAGED_CODE();
  extension->Range1Start.QuadPart = 0;
  extension->Range2Start.QuadPart = 0;
  extension->Range3Start.QuadPart = 0;
  extension->Range1Length = 0;
  extension->PortCount = 0;
  extension->Range3Length = 0;
  extension->InterruptLevel = 0;
  extension->InterruptIrql = 0;
  extension->InterruptVector = 0;
  extension->InterruptAffinity = 0;
  extension->InterruptGiven = 0;
  extension->RefusedResource = CmResourceTypeNull;
  PCM_PARTIAL_RESOURCE_LIST partial = PartialList(translated);
  PCM_PARTIAL_RESOURCE_LIST rawPartial = PartialList(raw);
  if (partial == NULL) return STATUS_SUCCESS;

  BOOLEAN layout24 = BoardLayout() == BoardLayout24;
  ULONG ports = 0;
  BOOLEAN unrecognised = FALSE;
  for (ULONG i = 0; i < partial->Count; ++i) {
    PCM_PARTIAL_RESOURCE_DESCRIPTOR d = &partial->PartialDescriptors[i];
    switch (d->Type) {
      case CmResourceTypePort:
        if (layout24) {
          // Information block, register block, then a range only recorded.
          if (ports == 0) {
            extension->Range1Start.QuadPart = d->u.Port.Start.QuadPart;
            extension->Range1Length = d->u.Port.Length;
          } else if (ports == 1) {
            extension->Range2Start.QuadPart = d->u.Port.Start.QuadPart;
            extension->PortCount = d->u.Port.Length;
          } else if (ports == 2) {
            extension->Range3Start.QuadPart = d->u.Port.Start.QuadPart;
            extension->Range3Length = d->u.Port.Length;
          }
        } else {
          // The first range is the register block; the last gives its length.
          if (ports == 0) extension->Range2Start.QuadPart = d->u.Port.Start.QuadPart;
          extension->PortCount = d->u.Port.Length != 0 ? d->u.Port.Length : DIO_DEFAULT_PORT_COUNT;
        }
        ++ports;
        break;

      case CmResourceTypeInterrupt: {
        PCM_PARTIAL_RESOURCE_DESCRIPTOR r =
            rawPartial != NULL && i < rawPartial->Count ? &rawPartial->PartialDescriptors[i] : NULL;
        extension->InterruptGiven = 1;
        extension->InterruptIrql = (UCHAR)d->u.Interrupt.Level;
        extension->InterruptVector = d->u.Interrupt.Vector;
        extension->InterruptAffinity = d->u.Interrupt.Affinity;
        extension->InterruptLevel = r != NULL && r->Type == CmResourceTypeInterrupt
                                        ? r->u.Interrupt.Level
                                        : d->u.Interrupt.Level;
        break;
      }

      case CmResourceTypeMemory:
      case CmResourceTypeDeviceSpecific:
      case CmResourceTypeBusNumber:
      case CmResourceTypeDevicePrivate:
        break;

      default:
        if (!unrecognised) extension->RefusedResource = d->Type;
        unrecognised = TRUE;
        break;
    }
  }
  return unrecognised ? STATUS_DEVICE_CONFIGURATION_ERROR : STATUS_SUCCESS;
}

// What a start does to the board once it is recorded: the start DO bit,
// then its interrupts off. A fast startup does the same. Called holding
// HardwareLock.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
VOID BringBoardUp(PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  if (!BoardHasPorts(extension)) return;
  if (extension->DoConfig.TriggerStart) {
    SetDoBit(extension, extension->DoConfig.ChannelStart, extension->DoConfig.LevelStart);
  }
  ResetInterruptRegisters(extension, FALSE);
}

// Records the device in the registry, loads its DO configuration, drives the
// start DO bit and turns the board's interrupts off. The interrupt itself is
// connected at the first enable request. Registry failures do not stop it.
// A restart after a stop (a rebalance, with the same resources or new ones)
// connects the interrupt again for the handles that hold events, then
// writes back the registers the stop saved. Called holding HardwareLock;
// the caller makes the device started.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS StartHardware(PDEVICE_EXTENSION extension, PCM_RESOURCE_LIST translated,
                       PCM_RESOURCE_LIST raw) {
  PAGED_CODE();
  if (DeviceIsStarted(extension)) return STATUS_SUCCESS;

  NTSTATUS status = TakeBoard(extension);
  if (!NT_SUCCESS(status)) return status;
  status = ParseResources(extension, translated, raw);
  if (!NT_SUCCESS(status)) {
    KdPrintEx((DPFLTR_IHVDRIVER_ID, DPFLTR_WARNING_LEVEL,
               "TesZEPDIO: start refused, its resources hold type %u, which the board never has\n",
               (unsigned)extension->RefusedResource));
    LogBoardEvent(extension, DIO_LOG_RESOURCES_REFUSED, status, NULL);
    return status;
  }
  extension->InterruptObject = NULL;
  extension->SessionEnded = 0;
  extension->OnSystem = 1;
  extension->DeviceNumber = 0;

  // The registry's failures do not stop the start; the first is logged.
  LogFailure(extension, DIO_LOG_REGISTRY_FAILED, WriteDeviceKeys(extension->DeviceNumber, extension),
             L"writing " DIO_KEY_DEVICE000_NAME);
  LogFailure(extension, DIO_LOG_REGISTRY_FAILED, WriteMapEntry(extension->DeviceNumber, &extension->InterfaceName),
             L"writing " DIO_KEY_MAP_ENTRY_NAME);
  LogFailure(extension, DIO_LOG_REGISTRY_FAILED, ReadDoSettings(extension), L"reading " DIO_KEY_DO_NAME);

  BOOLEAN ports = BoardHasPorts(extension);
  if (ports && BoardLayout() == BoardLayout24) {
    for (ULONG i = 0; i < sizeof(kBoardInfoOffsets) / sizeof(kBoardInfoOffsets[0]); ++i)
      extension->BoardInfo[i] = ReadRegister(InfoBase(extension), kBoardInfoOffsets[i]);
    extension->BoardInfo[7] = 1;
  }
  BringBoardUp(extension);
  if (!ports) LogBoardEvent(extension, DIO_LOG_NO_PORTS, STATUS_ACCESS_VIOLATION, NULL);
  else if (!extension->InterruptGiven) LogBoardEvent(extension, DIO_LOG_NO_INTERRUPT, STATUS_SUCCESS, NULL);
  if (ports && !BoardAnswers(extension)) LogBoardEvent(extension, DIO_LOG_BOARD_ABSENT, STATUS_SUCCESS, NULL);
  extension->BoardReady = 1;
  if (extension->InterruptWanted && ports) ConnectBoardInterrupt(extension->Self, extension);
  if (extension->ContextSaved) {
    if (ports) RestoreBoardRegisters(extension);
    extension->ContextSaved = 0;
  }
  return STATUS_SUCCESS;
}
