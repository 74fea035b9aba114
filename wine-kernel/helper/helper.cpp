// TesZEPDIOWineHelper: entry, unload and the control device through which the
// Wine kernel test program reaches the board, the rebalance, the interrupts,
// the power transitions and the event log.
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

static NTSTATUS SendSystemPower(const WINE_HELPER_TRANSITION *transition, WINE_HELPER_TRANSITION_RESULT *result) {
  PDEVICE_OBJECT top = DeviceUnderTest();
  if (top == NULL) return STATUS_NO_SUCH_DEVICE;
  NTSTATUS status = SystemPower(top, transition, result);
  ObDereferenceObject(top);
  return status;
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
    case IOCTL_WINE_HELPER_SET_BOARD:
      if (in < sizeof(WINE_HELPER_BOARD)) return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
      SetBoard((const WINE_HELPER_BOARD *)buffer);
      return Finish(irp, STATUS_SUCCESS, 0);
    case IOCTL_WINE_HELPER_FIRE: {
      if (in < sizeof(WINE_HELPER_FIRE)) return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
      const WINE_HELPER_FIRE *fire = (const WINE_HELPER_FIRE *)buffer;
      RearmBoardLine();
      for (ULONG i = 0; i < fire->Count && i < WINE_HELPER_FIRE_LINES; ++i) PulseDiLine(fire->Lines[i]);
      return Finish(irp, STATUS_SUCCESS, 0);
    }
    case IOCTL_WINE_HELPER_SETTLE:
      if (out < sizeof(ULONG)) return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
      *(PULONG)buffer = Settle();
      return Finish(irp, STATUS_SUCCESS, sizeof(ULONG));
    case IOCTL_WINE_HELPER_INTERRUPTS:
      if (out < sizeof(WINE_HELPER_INTERRUPTS)) return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
      ReadInterrupts((WINE_HELPER_INTERRUPTS *)buffer);
      return Finish(irp, STATUS_SUCCESS, sizeof(WINE_HELPER_INTERRUPTS));
    case IOCTL_WINE_HELPER_SYSTEM_POWER: {
      if (in < sizeof(WINE_HELPER_TRANSITION) || out < sizeof(WINE_HELPER_TRANSITION_RESULT))
        return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
      WINE_HELPER_TRANSITION transition = *(const WINE_HELPER_TRANSITION *)buffer;
      WINE_HELPER_TRANSITION_RESULT *result = (WINE_HELPER_TRANSITION_RESULT *)buffer;
      NTSTATUS status = SendSystemPower(&transition, result);
      return Finish(irp, status, NT_SUCCESS(status) ? sizeof(*result) : 0);
    }
    case IOCTL_WINE_HELPER_TAKE_ERROR_LOG:
      if (out < sizeof(WINE_HELPER_ERROR_LOG)) return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
      TakeErrorLog((WINE_HELPER_ERROR_LOG *)buffer);
      return Finish(irp, STATUS_SUCCESS, sizeof(WINE_HELPER_ERROR_LOG));
    case IOCTL_WINE_HELPER_BOARD_STATE:
      if (out < sizeof(WINE_HELPER_BOARD_STATE)) return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
      ReadBoardState((WINE_HELPER_BOARD_STATE *)buffer);
      return Finish(irp, STATUS_SUCCESS, sizeof(WINE_HELPER_BOARD_STATE));
    default:
      return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

static VOID Stop(void) {
  StopImportSubstitution();
  StopBusPower();
  StopCleanupDelivery();
  StopInterrupts();
  StopPortEmulator();
}

static VOID HelperUnload(PDRIVER_OBJECT driver) {
  UNREFERENCED_PARAMETER(driver);
  Stop();
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, WINE_HELPER_LINK_NAME);
  IoDeleteSymbolicLink(&link);
  IoDeleteDevice(gControl);
}

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
  UNREFERENCED_PARAMETER(RegistryPath);
  InitializeBoardModel();
  InitializePower();
  InitializeErrorLog();
  UNICODE_STRING name, link;
  RtlInitUnicodeString(&name, WINE_HELPER_DEVICE_NAME);
  RtlInitUnicodeString(&link, WINE_HELPER_LINK_NAME);
  NTSTATUS status =
      IoCreateDevice(DriverObject, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &gControl);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateSymbolicLink(&link, &name);
  if (NT_SUCCESS(status)) status = StartPortEmulator();
  if (NT_SUCCESS(status)) status = StartInterrupts();
  if (NT_SUCCESS(status)) status = StartImportSubstitution();
  if (!NT_SUCCESS(status)) {
    Stop();
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
