// Power for the driver under test, which Wine 8 never sends: no system power
// request and no shutdown request arrives, its PoRequestPowerIrp is a stub
// that ends the process, IoRegisterShutdownNotification keeps nothing, and
// the root bus's PDO has no power routine (Wine's default completes the
// request with STATUS_INVALID_DEVICE_REQUEST).
//
// - The driver's device power requests (PoRequestPowerIrp): a set-power or
//   query-power request for the device state, sent to the top of the
//   device's stack, starting as STATUS_NOT_SUPPORTED; the driver's callback
//   runs when it completes, with the device object it named; the call
//   returns STATUS_PENDING.
// - The bus: set-power and query-power requests succeed, as the root bus of
//   Windows answers them; a device set-power request changes the device
//   state the bus gives the board.
// - The board has power while the machine does and, on a PCI board, while
//   its device state is D0 (a PCI board in D3 is off too).
// - The system's transitions (docs/power-transitions.md): sleep, hibernation
//   and the hybrid shutdown are a query-power and a set-power request for
//   the state, after which the machine loses power; the way back gives the
//   machine power and sends the S0 request. The shutdown is IRP_MJ_SHUTDOWN
//   to the top of the stack of every device registered for it, most recent
//   registration first, then the S5 set-power request.
#include "helper.h"

namespace {

const ULONG kMaxRegistrations = 8;

KSPIN_LOCK gLock;
PDEVICE_OBJECT gRegistrations[kMaxRegistrations];  // most recent first, each referenced
ULONG gRegistrationCount;
PDRIVER_OBJECT gBus;
PDRIVER_DISPATCH gBusPower;  // the bus driver's own power routine
BOOLEAN gMachineOn = TRUE;
DEVICE_POWER_STATE gDeviceState = PowerDeviceD0;

struct Transition {
  ULONG id;
  SYSTEM_POWER_STATE state;
  POWER_ACTION action;
  SYSTEM_POWER_STATE current, target, effective;
  BOOLEAN queried;  // the power manager queries first
  BOOLEAN leaves;   // an S0 request ends it, from `leftFrom`
  SYSTEM_POWER_STATE leftFrom;
};

const Transition kTransitions[] = {
    {WINE_HELPER_SLEEP, PowerSystemSleeping3, PowerActionSleep, PowerSystemWorking, PowerSystemSleeping3,
     PowerSystemSleeping3, TRUE, TRUE, PowerSystemSleeping3},
    {WINE_HELPER_HIBERNATE, PowerSystemHibernate, PowerActionHibernate, PowerSystemWorking,
     PowerSystemHibernate, PowerSystemHibernate, TRUE, TRUE, PowerSystemHibernate},
    {WINE_HELPER_HYBRID_SHUTDOWN, PowerSystemHibernate, PowerActionHibernate, PowerSystemWorking,
     PowerSystemShutdown, PowerSystemHibernate, TRUE, TRUE, PowerSystemHibernate},
    {WINE_HELPER_SHUTDOWN_OFF, PowerSystemShutdown, PowerActionShutdownOff, PowerSystemWorking,
     PowerSystemShutdown, PowerSystemShutdown, FALSE, FALSE, PowerSystemShutdown},
};

VOID UpdateBoardPower(void) {
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  BOOLEAN powered = gMachineOn && (!BoardIsPci() || gDeviceState == PowerDeviceD0);
  KeReleaseSpinLock(&gLock, irql);
  SetBoardPower(powered);
}

NTSTATUS NTAPI BusPower(PDEVICE_OBJECT device, PIRP irp) {
  UNREFERENCED_PARAMETER(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  RecordAccess(WINE_HELPER_BUS_POWER, stack->MinorFunction, (USHORT)stack->Parameters.Power.Type,
               (ULONG)stack->Parameters.Power.State.SystemState);
  NTSTATUS status = irp->IoStatus.Status;
  if (stack->MinorFunction == IRP_MN_SET_POWER || stack->MinorFunction == IRP_MN_QUERY_POWER) {
    if (stack->MinorFunction == IRP_MN_SET_POWER && stack->Parameters.Power.Type == DevicePowerState) {
      KIRQL irql;
      KeAcquireSpinLock(&gLock, &irql);
      gDeviceState = stack->Parameters.Power.State.DeviceState;
      KeReleaseSpinLock(&gLock, irql);
      UpdateBoardPower();
    }
    status = STATUS_SUCCESS;
  }
  PoStartNextPowerIrp(irp);
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

struct PowerRequest {
  PREQUEST_POWER_COMPLETE complete;
  PVOID context;
  PDEVICE_OBJECT device;
  UCHAR minor;
  POWER_STATE state;
};

NTSTATUS NTAPI PowerRequestDone(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  UNREFERENCED_PARAMETER(device);
  PowerRequest *request = (PowerRequest *)context;
  if (request->complete != NULL)
    request->complete(request->device, request->minor, request->state, request->context, &irp->IoStatus);
  IoFreeIrp(irp);
  ExFreePoolWithTag(request, HELPER_POOL_TAG);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// A system power request, sent to the top of the stack and waited for.
NTSTATUS SendSystemPower(PDEVICE_OBJECT top, UCHAR minor, SYSTEM_POWER_STATE state, POWER_ACTION action,
                         SYSTEM_POWER_STATE current, SYSTEM_POWER_STATE target, SYSTEM_POWER_STATE effective) {
  IO_STACK_LOCATION location = {};
  location.MajorFunction = IRP_MJ_POWER;
  location.MinorFunction = minor;
  location.Parameters.Power.Type = SystemPowerState;
  location.Parameters.Power.State.SystemState = state;
  location.Parameters.Power.ShutdownType = action;
  SYSTEM_POWER_STATE_CONTEXT context = {};
  context.CurrentSystemState = current;
  context.TargetSystemState = target;
  context.EffectiveSystemState = effective;
  location.Parameters.Power.SystemPowerStateContext = context;
  return SendRequest(top, &location, STATUS_NOT_SUPPORTED, KernelMode);
}

VOID DeliverShutdown(void) {
  PDEVICE_OBJECT devices[kMaxRegistrations];
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  ULONG count = gRegistrationCount;
  for (ULONG i = 0; i < count; ++i) {
    devices[i] = gRegistrations[i];
    ObReferenceObject(devices[i]);
  }
  KeReleaseSpinLock(&gLock, irql);
  for (ULONG i = 0; i < count; ++i) {
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(devices[i]);
    IO_STACK_LOCATION location = {};
    location.MajorFunction = IRP_MJ_SHUTDOWN;
    NTSTATUS status = SendRequest(top, &location, STATUS_SUCCESS, KernelMode);
    RecordAccess(WINE_HELPER_SHUTDOWN, 0, 0, (ULONG)status);
    ObDereferenceObject(top);
    ObDereferenceObject(devices[i]);
  }
}

}  // namespace

NTSTATUS NTAPI HelperRequestPowerIrp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                                     PREQUEST_POWER_COMPLETE complete, PVOID context, PIRP *irpOut) {
  RecordAccess(WINE_HELPER_POWER_REQUEST, minor, 0, (ULONG)state.DeviceState);
  // A wait-wake request would need a wake source, which the board has not.
  if (minor != IRP_MN_SET_POWER && minor != IRP_MN_QUERY_POWER) {
    RecordAccess(WINE_HELPER_VIOLATION, 0, 0, WINE_HELPER_RULE_POWER_MINOR);
    return STATUS_INVALID_PARAMETER_2;
  }
  PDEVICE_OBJECT top = IoGetAttachedDeviceReference(device);
  PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
  PowerRequest *request = (PowerRequest *)ExAllocatePoolWithTag(NonPagedPool, sizeof(PowerRequest), HELPER_POOL_TAG);
  if (irp == NULL || request == NULL) {
    if (irp != NULL) IoFreeIrp(irp);
    if (request != NULL) ExFreePoolWithTag(request, HELPER_POOL_TAG);
    ObDereferenceObject(top);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  request->complete = complete;
  request->context = context;
  request->device = device;
  request->minor = minor;
  request->state = state;
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  irp->IoStatus.Information = 0;
  irp->RequestorMode = KernelMode;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_POWER;
  next->MinorFunction = minor;
  next->Parameters.Power.Type = DevicePowerState;
  next->Parameters.Power.State = state;
  IoSetCompletionRoutine(irp, PowerRequestDone, request, TRUE, TRUE, TRUE);
  // The request may be gone by the time the call returns.
  if (irpOut != NULL) *irpOut = irp;
  PoCallDriver(top, irp);
  ObDereferenceObject(top);
  return STATUS_PENDING;
}

NTSTATUS NTAPI HelperRegisterShutdown(PDEVICE_OBJECT device) {
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  BOOLEAN room = gRegistrationCount < kMaxRegistrations;
  if (room) {
    for (ULONG i = gRegistrationCount; i > 0; --i) gRegistrations[i] = gRegistrations[i - 1];
    gRegistrations[0] = device;
    ++gRegistrationCount;
  }
  KeReleaseSpinLock(&gLock, irql);
  if (!room) return STATUS_INSUFFICIENT_RESOURCES;
  ObReferenceObject(device);
  return STATUS_SUCCESS;
}

// Every registration of the device goes.
VOID NTAPI HelperUnregisterShutdown(PDEVICE_OBJECT device) {
  ULONG removed = 0;
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  ULONG kept = 0;
  for (ULONG i = 0; i < gRegistrationCount; ++i) {
    if (gRegistrations[i] == device) {
      ++removed;
    } else {
      gRegistrations[kept++] = gRegistrations[i];
    }
  }
  gRegistrationCount = kept;
  KeReleaseSpinLock(&gLock, irql);
  for (ULONG i = 0; i < removed; ++i) ObDereferenceObject(device);
}

// Windows' IoDeleteDevice removes the shutdown registrations of a device that
// has DO_SHUTDOWN_REGISTERED [ROS:ntoskrnl/io/iomgr/device.c]; the ones the
// helper keeps would otherwise outlive the device.
VOID NTAPI HelperDeleteDevice(PDEVICE_OBJECT device) {
  HelperUnregisterShutdown(device);
  IoDeleteDevice(device);
}

VOID InitializePower(void) { KeInitializeSpinLock(&gLock); }

// Wine's Plug and Play manager is the driver of every root-enumerated PDO.
NTSTATUS AnswerBusPower(void) {
  if (gBus != NULL) return STATUS_SUCCESS;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"\\Driver\\PnpManager");
  NTSTATUS status =
      ObReferenceObjectByName(&name, OBJ_CASE_INSENSITIVE, NULL, 0, NULL, KernelMode, NULL, (PVOID *)&gBus);
  if (!NT_SUCCESS(status)) return status;
  gBusPower = gBus->MajorFunction[IRP_MJ_POWER];
  gBus->MajorFunction[IRP_MJ_POWER] = BusPower;
  return STATUS_SUCCESS;
}

VOID StopBusPower(void) {
  if (gBus == NULL) return;
  gBus->MajorFunction[IRP_MJ_POWER] = gBusPower;
  ObDereferenceObject(gBus);
  gBus = NULL;
}

NTSTATUS SystemPower(PDEVICE_OBJECT top, const WINE_HELPER_TRANSITION *transition,
                     WINE_HELPER_TRANSITION_RESULT *result) {
  const Transition *row = NULL;
  for (ULONG i = 0; i < sizeof(kTransitions) / sizeof(kTransitions[0]); ++i)
    if (kTransitions[i].id == transition->Transition) row = &kTransitions[i];
  if (row == NULL || (transition->Step == WINE_HELPER_LEAVE && !row->leaves)) return STATUS_INVALID_PARAMETER;
  result->QueryStatus = STATUS_SUCCESS;
  KIRQL irql;
  if (transition->Step == WINE_HELPER_ENTER) {
    if (row->state == PowerSystemShutdown) DeliverShutdown();
    if (row->queried) {
      result->QueryStatus = SendSystemPower(top, IRP_MN_QUERY_POWER, row->state, row->action, row->current,
                                            row->target, row->effective);
    }
    result->SetStatus = SendSystemPower(top, IRP_MN_SET_POWER, row->state, row->action, row->current,
                                        row->target, row->effective);
    KeAcquireSpinLock(&gLock, &irql);
    gMachineOn = FALSE;
    KeReleaseSpinLock(&gLock, irql);
    UpdateBoardPower();
    return STATUS_SUCCESS;
  }
  if (transition->Step != WINE_HELPER_LEAVE) return STATUS_INVALID_PARAMETER;
  // Every way back to S0 is a sleep action from the state left.
  KeAcquireSpinLock(&gLock, &irql);
  gMachineOn = TRUE;
  KeReleaseSpinLock(&gLock, irql);
  UpdateBoardPower();
  result->SetStatus = SendSystemPower(top, IRP_MN_SET_POWER, PowerSystemWorking, PowerActionSleep, row->leftFrom,
                                      PowerSystemWorking, PowerSystemWorking);
  return STATUS_SUCCESS;
}
