// System shutdown: the device is marked as no longer running and the
// configured DO bit is driven to its shutdown level, at the shutdown request
// and at a system power request that ends the session (see power.cpp).
#include "driver.h"

#define DIO_SERVICE_PATH_BYTES 128
#define DIO_DEVICE_PATH_BYTES 150

// Marks the device as no longer running ("OnSystem" = 0) and drives the
// shutdown DO bit of a started board. Used by the shutdown request and by a
// system set-power request that ends the session.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS RecordSystemShutdown(PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  PUNICODE_STRING servicePath = AllocateCountedString(DIO_SERVICE_PATH_BYTES);
  PUNICODE_STRING devicePath = AllocateCountedString(DIO_DEVICE_PATH_BYTES);
  PUNICODE_STRING name = MakeDeviceKeyName(extension->DeviceNumber);
  NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
  if (servicePath != NULL && devicePath != NULL && name != NULL) {
    UNICODE_STRING serviceKey;
    RtlInitUnicodeString(&serviceKey, DIO_SERVICE_KEY_PATH);
    RtlCopyUnicodeString(servicePath, &serviceKey);
    RtlCopyUnicodeString(devicePath, servicePath);
    status = RtlAppendUnicodeStringToString(devicePath, name);
  }
  if (NT_SUCCESS(status)) {
    ULONG onSystem = 0;
    RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, devicePath->Buffer,
                          L"OnSystem", REG_DWORD, &onSystem, sizeof(onSystem));
    // Only a started board's registers are there to drive.
    if (extension->DO_Trigger_Shutdown && extension->Started && BoardHasPorts(extension)) {
      SetDoBit(extension, extension->DO_Channel_Shutdown, extension->DO_Level_Shutdown);
    }
  }
  FreeCountedString(servicePath);
  FreeCountedString(devicePath);
  FreeCountedString(name);
  return status;
}

DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS DispatchShutdown(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PAGED_CODE();
  NTSTATUS status = RecordSystemShutdown((PDEVICE_EXTENSION)DeviceObject->DeviceExtension);
  Irp->IoStatus.Status = status;
  Irp->IoStatus.Information = 0;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return status;
}
