// TesZEPDIOWineHelper: entry, unload and the control device through which the
// Wine kernel test program reaches the port emulator and the rebalance.
#include "helper.h"

static PDEVICE_OBJECT gControl;

static NTSTATUS Finish(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS DispatchOpenClose(PDEVICE_OBJECT device, PIRP irp) {
  UNREFERENCED_PARAMETER(device);
  return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  UNREFERENCED_PARAMETER(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_WINE_HELPER_SET_PORTS:
      if (in < sizeof(WINE_HELPER_PORTS)) return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
      SetPorts((const WINE_HELPER_PORTS *)buffer);
      return Finish(irp, STATUS_SUCCESS, 0);
    case IOCTL_WINE_HELPER_TAKE_TRACE:
      if (out < sizeof(WINE_HELPER_TRACE)) return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
      TakeTrace((WINE_HELPER_TRACE *)buffer);
      return Finish(irp, STATUS_SUCCESS, sizeof(WINE_HELPER_TRACE));
    case IOCTL_WINE_HELPER_REBALANCE: {
      if (in < sizeof(WINE_HELPER_RESOURCES) || out < sizeof(WINE_HELPER_REBALANCE_RESULT))
        return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
      WINE_HELPER_RESOURCES resources = *(const WINE_HELPER_RESOURCES *)buffer;
      WINE_HELPER_REBALANCE_RESULT *result = (WINE_HELPER_REBALANCE_RESULT *)buffer;
      NTSTATUS status = Rebalance(&resources, result);
      return Finish(irp, status, NT_SUCCESS(status) ? sizeof(*result) : 0);
    }
    default:
      return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

static VOID HelperUnload(PDRIVER_OBJECT driver) {
  UNREFERENCED_PARAMETER(driver);
  StopCleanupDelivery();
  StopPortEmulator();
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, WINE_HELPER_LINK_NAME);
  IoDeleteSymbolicLink(&link);
  IoDeleteDevice(gControl);
}

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
  UNREFERENCED_PARAMETER(RegistryPath);
  UNICODE_STRING name, link;
  RtlInitUnicodeString(&name, WINE_HELPER_DEVICE_NAME);
  RtlInitUnicodeString(&link, WINE_HELPER_LINK_NAME);
  NTSTATUS status =
      IoCreateDevice(DriverObject, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &gControl);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateSymbolicLink(&link, &name);
  if (NT_SUCCESS(status)) status = StartPortEmulator();
  if (!NT_SUCCESS(status)) {
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(gControl);
    return status;
  }
  DriverObject->MajorFunction[IRP_MJ_CREATE] = DispatchOpenClose;
  DriverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchOpenClose;
  DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  DriverObject->DriverUnload = HelperUnload;
  return STATUS_SUCCESS;
}
