// Driver entry and device creation.
#include "driver.h"

ULONG gDeviceType;
ULONG gServiceDeviceType;
PDEVICE_OBJECT gBoardDevice;
EVENT_SLOT gEventSlots[DIO_EVENT_SLOT_COUNT];

const GUID DEVICE_INTERFACE_GUID = DIO_INTERFACE_GUID_VALUE;

DIO_INIT_ROUTINE
_Use_decl_annotations_
NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
  InitializeEventSlots();

  // The service key's board model, which a device without one of its own
  // takes. Nothing here can make loading fail: without a usable value it is
  // model 0.
  HANDLE serviceKey;
  NTSTATUS status = OpenRegistryKey(RegistryPath, &serviceKey);
  gDeviceType = 0;
  if (NT_SUCCESS(status)) {
    ReadRegistryValue(serviceKey, DIO_VALUE_NAME(DIO_VALUE_DEVICE_TYPE), &gDeviceType);
    ZwClose(serviceKey);
  }
  gServiceDeviceType = gDeviceType;
  gBoardDevice = NULL;

  DriverObject->DriverExtension->AddDevice = AddDevice;
  DriverObject->DriverUnload = DriverUnload;
  DriverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  DriverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  DriverObject->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
  DriverObject->MajorFunction[IRP_MJ_SHUTDOWN] = DispatchShutdown;
  DriverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  DriverObject->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  DriverObject->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DispatchSystemControl;
  return STATUS_SUCCESS;
}

// Undoes what AddDevice made of the device, whatever step failed, and
// returns the failure. Deleting the device object takes its shutdown
// registration too.
DIO_PAGED_ROUTINE
static NTSTATUS UndoAddDevice(PDEVICE_OBJECT device, NTSTATUS status) {
  PAGED_CODE();
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)device->DeviceExtension;
  DisableInterface(extension);
  RtlFreeUnicodeString(&extension->InterfaceName);
  if (extension->PowerUpWork != NULL) IoFreeWorkItem(extension->PowerUpWork);
  IoDeleteDevice(device);
  return status;
}

DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS AddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject) {
  PAGED_CODE();

  // The device's security descriptor covers every open of it, also one of a
  // name inside its namespace, which DispatchCreate refuses as well.
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(DriverObject, sizeof(DEVICE_EXTENSION), NULL,
                                   FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  RegisterForShutdown(device);

  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)device->DeviceExtension;
  extension->Self = device;
  extension->PhysicalDeviceObject = PhysicalDeviceObject;
  extension->DevicePowerState = PowerDeviceD0;
  extension->PnpState = DeviceAdded;
  extension->OnSystem = 1;
  extension->OutstandingIo = 1;
  KeInitializeEvent(&extension->RemoveEvent, NotificationEvent, FALSE);
  KeInitializeEvent(&extension->HardwareLock, SynchronizationEvent, TRUE);
  InitializeHeldRequests(extension);
  // Allocated now, so that bringing the board back after a loss of power
  // never waits for pool.
  extension->PowerUpWork = IoAllocateWorkItem(device);
  if (extension->PowerUpWork == NULL) return UndoAddDevice(device, STATUS_INSUFFICIENT_RESOURCES);

  // The device's own model, and a PCI board's bus position.
  extension->DeviceType = ReadDeviceModel(PhysicalDeviceObject);
  if (IsPciModel(extension->DeviceType)) {
    ULONG length;
    ULONG address = 0;
    IoGetDeviceProperty(PhysicalDeviceObject, DevicePropertyBusNumber, sizeof(ULONG),
                        &extension->BusNumber, &length);
    IoGetDeviceProperty(PhysicalDeviceObject, DevicePropertyAddress, sizeof(ULONG), &address,
                        &length);
    // (device << 16) | function: the slot is the PCI device number.
    extension->SlotNumber = address >> 16;
  }

  POWER_STATE state;
  state.DeviceState = PowerDeviceD0;
  PoSetPowerState(device, DevicePowerState, state);

  status = IoRegisterDeviceInterface(PhysicalDeviceObject, &DEVICE_INTERFACE_GUID, NULL,
                                     &extension->InterfaceName);
  if (!NT_SUCCESS(status)) return UndoAddDevice(device, status);
  EnableInterface(extension);

  // Every request the driver passes on goes to the device it attached to; a
  // stack that takes no new device (its top is still initialising or going
  // away) leaves nothing to pass requests to, so the device is undone.
  extension->NextLowerDriver = IoAttachDeviceToDeviceStack(device, PhysicalDeviceObject);
  if (extension->NextLowerDriver == NULL) return UndoAddDevice(device, STATUS_NO_SUCH_DEVICE);

  device->Flags |= DO_POWER_PAGABLE | DO_DIRECT_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

DIO_PAGED_ROUTINE
_Use_decl_annotations_
VOID DriverUnload(PDRIVER_OBJECT DriverObject) {
  PAGED_CODE();
  // Device objects go with their removal requests, never here.
  UNREFERENCED_PARAMETER(DriverObject);
}
