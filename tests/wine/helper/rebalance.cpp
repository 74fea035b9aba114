// What the Plug and Play and I/O managers of Windows would do for the device
// under test and Wine does not: a restart with resources, as a resource
// rebalance does (stop, then start with the new lists), and the cleanup
// request before the close of a file object's last handle.
#include "helper.h"

// Exported by the kernel; declared in a header a driver of this kind does
// not include.
extern "C" __declspec(dllimport) NTSTATUS NTAPI ObReferenceObjectByName(
    PUNICODE_STRING name, ULONG attributes, PACCESS_STATE accessState, ACCESS_MASK access,
    POBJECT_TYPE type, KPROCESSOR_MODE mode, PVOID parseContext, PVOID *object);

#define HELPER_POOL_TAG 0x74576944u  // "DiWt"

static PDRIVER_OBJECT gDriverUnderTest;
static PDRIVER_DISPATCH gClose;  // the driver's own close routine

static NTSTATUS SignalDone(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  UNREFERENCED_PARAMETER(device);
  UNREFERENCED_PARAMETER(irp);
  KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// Sends a request to the top of the driver's stack and waits for it; returns
// its status. A Plug and Play request starts as STATUS_NOT_SUPPORTED, as the
// Plug and Play manager sends it; a cleanup comes from user mode.
static NTSTATUS SendRequest(PDEVICE_OBJECT device, UCHAR major, UCHAR minor, PFILE_OBJECT file,
                            PCM_RESOURCE_LIST raw, PCM_RESOURCE_LIST translated) {
  PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  irp->IoStatus.Status = major == IRP_MJ_PNP ? STATUS_NOT_SUPPORTED : STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  irp->RequestorMode = major == IRP_MJ_PNP ? KernelMode : UserMode;
  irp->Tail.Overlay.OriginalFileObject = file;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = major;
  next->MinorFunction = minor;
  next->FileObject = file;
  if (minor == IRP_MN_START_DEVICE && major == IRP_MJ_PNP) {
    next->Parameters.StartDevice.AllocatedResources = raw;
    next->Parameters.StartDevice.AllocatedResourcesTranslated = translated;
  }
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

// Windows sends the cleanup request when the last handle of a file object
// is closed, before the close request; Wine sends only the close.
static NTSTATUS CloseWithCleanup(PDEVICE_OBJECT device, PIRP irp) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  NTSTATUS status = SendRequest(device, IRP_MJ_CLEANUP, 0, file, NULL, NULL);
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
// interrupt. Descriptors past the first are addressed by bytes: the header
// declares a one-element array, and an optimiser may drop stores made
// through an index beyond it.
static PCM_RESOURCE_LIST BuildResourceList(const WINE_HELPER_RESOURCES *r, BOOLEAN translated) {
  ULONG count = r->PortRangeCount + 1;
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

// The top of the stack of the first device the driver under test created,
// referenced; none when the driver is not loaded or has no device.
static PDEVICE_OBJECT DeviceUnderTest(PDRIVER_OBJECT *driver) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, WINE_HELPER_DRIVER_UNDER_TEST);
  if (!NT_SUCCESS(ObReferenceObjectByName(&name, OBJ_CASE_INSENSITIVE, NULL, 0, NULL, KernelMode,
                                          NULL, (PVOID *)driver))) {
    return NULL;
  }
  PDEVICE_OBJECT device = (*driver)->DeviceObject;
  if (device == NULL) {
    ObDereferenceObject(*driver);
    return NULL;
  }
  return IoGetAttachedDeviceReference(device);
}

NTSTATUS Rebalance(const WINE_HELPER_RESOURCES *resources, WINE_HELPER_REBALANCE_RESULT *result) {
  if (resources->PortRangeCount > WINE_HELPER_PORT_RANGES) return STATUS_INVALID_PARAMETER;
  PDRIVER_OBJECT driver;
  PDEVICE_OBJECT device = DeviceUnderTest(&driver);
  if (device == NULL) return STATUS_NO_SUCH_DEVICE;
  StartCleanupDelivery(driver);

  NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
  PCM_RESOURCE_LIST raw = BuildResourceList(resources, FALSE);
  PCM_RESOURCE_LIST translated = BuildResourceList(resources, TRUE);
  if (raw != NULL && translated != NULL) {
    result->StopStatus = SendRequest(device, IRP_MJ_PNP, IRP_MN_STOP_DEVICE, NULL, NULL, NULL);
    result->StartStatus = SendRequest(device, IRP_MJ_PNP, IRP_MN_START_DEVICE, NULL, raw, translated);
    status = STATUS_SUCCESS;
  }
  if (raw != NULL) ExFreePoolWithTag(raw, HELPER_POOL_TAG);
  if (translated != NULL) ExFreePoolWithTag(translated, HELPER_POOL_TAG);
  ObDereferenceObject(device);
  ObDereferenceObject(driver);
  return status;
}
