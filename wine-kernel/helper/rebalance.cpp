// What the Plug and Play and I/O managers of Windows would do for the device
// under test and Wine does not: a restart with resources, as a resource
// rebalance does (stop, then start with the new lists), and the cleanup
// request before the close of a file object's last handle; and the sending
// of requests to the device's stack, which the power transitions use too.
#include "helper.h"

static PDRIVER_OBJECT gDriverUnderTest;
static PDRIVER_DISPATCH gClose;  // the driver's own close routine

static NTSTATUS SignalDone(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  UNREFERENCED_PARAMETER(device);
  UNREFERENCED_PARAMETER(irp);
  KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS SendRequest(PDEVICE_OBJECT device, const IO_STACK_LOCATION *location, NTSTATUS initialStatus,
                     KPROCESSOR_MODE mode) {
  PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  irp->IoStatus.Status = initialStatus;
  irp->IoStatus.Information = 0;
  irp->RequestorMode = mode;
  irp->Tail.Overlay.OriginalFileObject = location->FileObject;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = location->MajorFunction;
  next->MinorFunction = location->MinorFunction;
  next->FileObject = location->FileObject;
  next->Parameters = location->Parameters;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
  if (IoCallDriver(device, irp) == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
  }
  NTSTATUS status = irp->IoStatus.Status;
  IoFreeIrp(irp);
  return status;
}

// A Plug and Play request starts as STATUS_NOT_SUPPORTED, as the Plug and
// Play manager sends it.
static NTSTATUS SendPnp(PDEVICE_OBJECT device, UCHAR minor, PCM_RESOURCE_LIST raw,
                        PCM_RESOURCE_LIST translated) {
  IO_STACK_LOCATION location = {};
  location.MajorFunction = IRP_MJ_PNP;
  location.MinorFunction = minor;
  if (minor == IRP_MN_START_DEVICE) {
    location.Parameters.StartDevice.AllocatedResources = raw;
    location.Parameters.StartDevice.AllocatedResourcesTranslated = translated;
  }
  return SendRequest(device, &location, STATUS_NOT_SUPPORTED, KernelMode);
}

// Windows sends the cleanup request when the last handle of a file object
// is closed, before the close request; Wine sends only the close.
static NTSTATUS CloseWithCleanup(PDEVICE_OBJECT device, PIRP irp) {
  IO_STACK_LOCATION cleanup = {};
  cleanup.MajorFunction = IRP_MJ_CLEANUP;
  cleanup.FileObject = IoGetCurrentIrpStackLocation(irp)->FileObject;
  NTSTATUS status = SendRequest(device, &cleanup, STATUS_SUCCESS, UserMode);
  RecordAccess(WINE_HELPER_CLEANUP, 0, 0, (ULONG)status);
  RecordAccess(WINE_HELPER_CLOSE, 0, 0, 0);
  return gClose(device, irp);
}

static VOID StartCleanupDelivery(PDRIVER_OBJECT driver) {
  if (gDriverUnderTest != NULL) return;
  ObReferenceObject(driver);
  gDriverUnderTest = driver;
  gClose = driver->MajorFunction[IRP_MJ_CLOSE];
  driver->MajorFunction[IRP_MJ_CLOSE] = CloseWithCleanup;
}

VOID StopCleanupDelivery(void) {
  if (gDriverUnderTest == NULL) return;
  gDriverUnderTest->MajorFunction[IRP_MJ_CLOSE] = gClose;
  ObDereferenceObject(gDriverUnderTest);
  gDriverUnderTest = NULL;
}

// A resource list of one full descriptor: the port ranges, then the
// interrupt, then a descriptor of another type if one is asked for (its
// union left zero). Descriptors past the first are addressed by bytes: the header
// declares a one-element array, and an optimiser may drop stores made
// through an index beyond it.
static PCM_RESOURCE_LIST BuildResourceList(const WINE_HELPER_RESOURCES *r, BOOLEAN translated) {
  ULONG count = r->PortRangeCount + 1 + (r->OtherType != 0);
  SIZE_T size = FIELD_OFFSET(CM_RESOURCE_LIST, List[0].PartialResourceList.PartialDescriptors) +
                count * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR);
  PCM_RESOURCE_LIST list = (PCM_RESOURCE_LIST)ExAllocatePoolWithTag(PagedPool, size, HELPER_POOL_TAG);
  if (list == NULL) return NULL;
  RtlZeroMemory(list, size);
  list->Count = 1;
  list->List[0].InterfaceType = (INTERFACE_TYPE)r->InterfaceType;
  list->List[0].PartialResourceList.Version = 1;
  list->List[0].PartialResourceList.Revision = 1;
  list->List[0].PartialResourceList.Count = count;
  PUCHAR descriptors = (PUCHAR)&list->List[0].PartialResourceList.PartialDescriptors[0];
  for (ULONG i = 0; i < count; ++i) {
    PCM_PARTIAL_RESOURCE_DESCRIPTOR d =
        (PCM_PARTIAL_RESOURCE_DESCRIPTOR)(descriptors + i * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR));
    if (i < r->PortRangeCount) {
      d->Type = CmResourceTypePort;
      d->ShareDisposition = CmResourceShareDeviceExclusive;
      d->Flags = CM_RESOURCE_PORT_IO | CM_RESOURCE_PORT_16_BIT_DECODE;
      d->u.Port.Start.QuadPart = r->Ports[i].Start;
      d->u.Port.Length = r->Ports[i].Length;
    } else if (i > r->PortRangeCount) {
      d->Type = r->OtherType;
    } else {
      d->Type = CmResourceTypeInterrupt;
      d->ShareDisposition = r->InterruptShare;
      d->Flags = r->InterruptFlags;
      d->u.Interrupt.Level = translated ? r->TranslatedLevel : r->RawLevel;
      d->u.Interrupt.Vector = translated ? r->TranslatedVector : r->RawVector;
      d->u.Interrupt.Affinity = (KAFFINITY)r->Affinity;
    }
  }
  return list;
}

// The driver under test, referenced; none when it is not loaded.
static PDRIVER_OBJECT DriverUnderTest(void) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, WINE_HELPER_DRIVER_UNDER_TEST);
  PDRIVER_OBJECT driver;
  if (!NT_SUCCESS(ObReferenceObjectByName(&name, OBJ_CASE_INSENSITIVE, NULL, 0, NULL, KernelMode, NULL,
                                          (PVOID *)&driver))) {
    return NULL;
  }
  return driver;
}

PDEVICE_OBJECT DeviceUnderTest(void) {
  PDRIVER_OBJECT driver = DriverUnderTest();
  if (driver == NULL) return NULL;
  PDEVICE_OBJECT device = driver->DeviceObject != NULL ? IoGetAttachedDeviceReference(driver->DeviceObject) : NULL;
  ObDereferenceObject(driver);
  return device;
}

NTSTATUS Rebalance(const WINE_HELPER_RESOURCES *resources, WINE_HELPER_REBALANCE_RESULT *result) {
  if (resources->PortRangeCount > WINE_HELPER_PORT_RANGES) return STATUS_INVALID_PARAMETER;
  PDRIVER_OBJECT driver = DriverUnderTest();
  if (driver == NULL) return STATUS_NO_SUCH_DEVICE;
  PDEVICE_OBJECT device = DeviceUnderTest();
  if (device == NULL) {
    ObDereferenceObject(driver);
    return STATUS_NO_SUCH_DEVICE;
  }
  StartCleanupDelivery(driver);
  ObDereferenceObject(driver);
  NTSTATUS bus = AnswerBusPower();
  if (!NT_SUCCESS(bus)) {
    ObDereferenceObject(device);
    return bus;
  }
  SetBoardVector(resources->TranslatedVector);
  result->Substituted = SubstitutedImports();

  NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
  PCM_RESOURCE_LIST raw = BuildResourceList(resources, FALSE);
  PCM_RESOURCE_LIST translated = BuildResourceList(resources, TRUE);
  if (raw != NULL && translated != NULL) {
    result->StopStatus = SendPnp(device, IRP_MN_STOP_DEVICE, NULL, NULL);
    result->StartStatus = SendPnp(device, IRP_MN_START_DEVICE, raw, translated);
    status = STATUS_SUCCESS;
  }
  if (raw != NULL) ExFreePoolWithTag(raw, HELPER_POOL_TAG);
  if (translated != NULL) ExFreePoolWithTag(translated, HELPER_POOL_TAG);
  ObDereferenceObject(device);
  return status;
}
