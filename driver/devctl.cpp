// The device-control interface: port access relative to the register block,
// DI event notification, the DO configuration and the board information.
// Every request is finished here.
#include "driver.h"

// The width of a port request's access.
static ULONG WidthOf(ULONG code) {
  switch (code) {
    case IOCTL_DIO_READ_PORT_USHORT:
    case IOCTL_DIO_WRITE_PORT_USHORT:
      return 2;
    case IOCTL_DIO_READ_PORT_ULONG:
    case IOCTL_DIO_WRITE_PORT_ULONG:
      return 4;
    default:
      return 1;
  }
}

// An access must lie wholly inside the register block of a started board
// that has power: no port outside the board's range is ever touched; a
// board started without its ports has a block of 0 ports. Called holding
// HardwareLock, which the access keeps: a stop cannot come between the
// check and the access and find the board's sources switched on after its
// reset, nor a loss of power between the check and the access.
static NTSTATUS CheckPortAccess(PDEVICE_EXTENSION extension, ULONG offset, ULONG width) {
  if (!DeviceIsStarted(extension)) return STATUS_INVALID_DEVICE_STATE;
  if (!extension->BoardReady) return STATUS_DEVICE_NOT_READY;
  if (!BoardHasPorts(extension) || offset >= extension->PortCount ||
      width > extension->PortCount - offset)
    return STATUS_ACCESS_VIOLATION;
  return STATUS_SUCCESS;
}

static USHORT PortOf(PDEVICE_EXTENSION extension, ULONG offset) {
  return (USHORT)(RegisterBase(extension) + offset);
}

static NTSTATUS ReadPort(PDEVICE_EXTENSION extension, PIRP irp, PIO_STACK_LOCATION stack, ULONG code) {
  ULONG width = WidthOf(code);
  if (stack->Parameters.DeviceIoControl.InputBufferLength != sizeof(ULONG) ||
      stack->Parameters.DeviceIoControl.OutputBufferLength < width) {
    return STATUS_INVALID_PARAMETER;
  }
  PDIO_PORT_IO request = (PDIO_PORT_IO)irp->AssociatedIrp.SystemBuffer;
  NTSTATUS status = CheckPortAccess(extension, request->Offset, width);
  if (!NT_SUCCESS(status)) return status;
  USHORT port = PortOf(extension, request->Offset);
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  switch (width) {
    case 1: *(PUCHAR)buffer = READ_PORT_UCHAR((PUCHAR)(ULONG_PTR)port); break;
    case 2: *(PUSHORT)buffer = READ_PORT_USHORT((PUSHORT)(ULONG_PTR)port); break;
    default: *(PULONG)buffer = READ_PORT_ULONG((PULONG)(ULONG_PTR)port); break;
  }
  irp->IoStatus.Information = width;
  return STATUS_SUCCESS;
}

static NTSTATUS WritePort(PDEVICE_EXTENSION extension, PIRP irp, PIO_STACK_LOCATION stack,
                          ULONG code) {
  ULONG width = WidthOf(code);
  if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(ULONG) + width)
    return STATUS_INVALID_PARAMETER;
  PDIO_PORT_IO request = (PDIO_PORT_IO)irp->AssociatedIrp.SystemBuffer;
  NTSTATUS status = CheckPortAccess(extension, request->Offset, width);
  if (!NT_SUCCESS(status)) return status;
  USHORT port = PortOf(extension, request->Offset);
  switch (width) {
    case 1: WRITE_PORT_UCHAR((PUCHAR)(ULONG_PTR)port, request->Value.Byte); break;
    case 2: WRITE_PORT_USHORT((PUSHORT)(ULONG_PTR)port, request->Value.Word); break;
    default: WRITE_PORT_ULONG((PULONG)(ULONG_PTR)port, request->Value.Dword); break;
  }
  return STATUS_SUCCESS;
}

// Replaces the DO configuration; the next start and the shutdown request
// (for which the device is registered from its creation) use it. Neither
// the board nor the registry changes.
static NTSTATUS ConfigureDo(PDEVICE_EXTENSION extension, PIRP irp, PIO_STACK_LOCATION stack) {
  if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(DIO_DO_CONFIG))
    return STATUS_BUFFER_TOO_SMALL;
  extension->DoConfig = *(PDIO_DO_CONFIG)irp->AssociatedIrp.SystemBuffer;
  return STATUS_SUCCESS;
}

// The board-information bytes in the order user mode expects them.
static NTSTATUS GetBoardInfo(PDEVICE_EXTENSION extension, PIRP irp, PIO_STACK_LOCATION stack) {
  static const UCHAR order[8] = {0, 1, 2, 5, 3, 4, 6, 7};
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(DIO_BOARD_INFO))
    return STATUS_BUFFER_TOO_SMALL;
  PDIO_BOARD_INFO info = (PDIO_BOARD_INFO)irp->AssociatedIrp.SystemBuffer;
  for (ULONG i = 0; i < sizeof(order); ++i) info->Bytes[i] = extension->BoardInfo[order[i]];
  irp->IoStatus.Information = sizeof(DIO_BOARD_INFO);
  return STATUS_SUCCESS;
}

// A port request: carried out under HardwareLock, or held while the device
// is stopped (held.cpp) until the restart carries it out. Holding and
// carrying out call each other, the one circle between the driver's files:
// the restart carries the held requests out through CarryOutRequest, which
// holds a request again should the device have stopped once more.
static NTSTATUS PortRequest(PDEVICE_EXTENSION extension, PIRP irp, PIO_STACK_LOCATION stack, ULONG code,
                            BOOLEAN write) {
  LockHardware(extension);
  NTSTATUS status;
  if (DeviceIsStopped(extension)) {
    status = HoldRequest(extension, irp);
  } else {
    status = write ? WritePort(extension, irp, stack, code) : ReadPort(extension, irp, stack, code);
  }
  UnlockHardware(extension);
  return status;
}

// Works on a device-control request and completes it, unless it is held:
// then it stays pending.
_Use_decl_annotations_
NTSTATUS CarryOutRequest(PDEVICE_OBJECT device, PIRP irp) {
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  irp->IoStatus.Information = 0;

  NTSTATUS status = STATUS_NOT_IMPLEMENTED;
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
    switch (code) {
      case IOCTL_DIO_READ_PORT_UCHAR:
      case IOCTL_DIO_READ_PORT_USHORT:
      case IOCTL_DIO_READ_PORT_ULONG:
        status = PortRequest(extension, irp, stack, code, FALSE);
        break;
      case IOCTL_DIO_WRITE_PORT_UCHAR:
      case IOCTL_DIO_WRITE_PORT_USHORT:
      case IOCTL_DIO_WRITE_PORT_ULONG:
        status = PortRequest(extension, irp, stack, code, TRUE);
        break;
      case IOCTL_DIO_ENABLE_EVENT:
        if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(DIO_EVENT_REQUEST) ||
            stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(DIO_EVENT_REQUEST)) {
          status = STATUS_BUFFER_TOO_SMALL;
        } else {
          status = EnableEventNotification(device, extension, irp, stack);
        }
        break;
      case IOCTL_DIO_DISABLE_EVENT:
        status = DisableEventNotification(device, extension, irp, stack);
        break;
      case IOCTL_DIO_DO_SYS_CONFIG:
        status = ConfigureDo(extension, irp, stack);
        break;
      case IOCTL_DIO_GET_BOARD_INFO:
        status = GetBoardInfo(extension, irp, stack);
        break;
    }
  }
  // Held: the restart, a removal, the cleanup or a cancel completes it.
  if (status == STATUS_PENDING) return status;
  // Only an enable whose handle was refused reports its request back.
  if (!NT_SUCCESS(status) && code != IOCTL_DIO_ENABLE_EVENT) irp->IoStatus.Information = 0;
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

_Use_decl_annotations_
NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  return CarryOutRequest(DeviceObject, Irp);
}
