// Power: a PCI board follows the system into sleep (D3) and back (D0); every
// other power request, and all of them on other boards, go down untouched,
// except that a system request that ends the session first records the
// shutdown as the shutdown request does.
// Resident code: the completion routines may run at DISPATCH_LEVEL.
#include "driver.h"

// What RequestDevicePower waits on.
typedef struct _POWER_WAIT {
  KEVENT Event;
  NTSTATUS Status;
} POWER_WAIT, *PPOWER_WAIT;

// The device state that matches a system state: D0 while working, D3 for
// sleep, hibernation and off.
static DEVICE_POWER_STATE DeviceStateFor(SYSTEM_POWER_STATE system) {
  return system <= PowerSystemWorking ? PowerDeviceD0 : PowerDeviceD3;
}

// Records a new device state and tells the power manager; at DISPATCH_LEVEL
// only D0 may be reported.
static VOID RecordDeviceState(PDEVICE_EXTENSION extension, DEVICE_POWER_STATE state) {
  extension->DevicePowerState = state;
  if (KeGetCurrentIrql() != DISPATCH_LEVEL || state == PowerDeviceD0) {
    POWER_STATE reported;
    reported.DeviceState = state;
    PoSetPowerState(extension->Self, DevicePowerState, reported);
  }
}

_Use_decl_annotations_
NTSTATUS PassPowerDown(PDEVICE_EXTENSION extension, PIRP irp) {
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(extension->NextLowerDriver, irp);
}

// Sends a power request down with a completion routine that finishes the
// change once the lower drivers have powered the device up. The routine
// hands the request on with PoStartNextPowerIrp, once, whatever the outcome.
static NTSTATUS PassPowerUp(PDEVICE_EXTENSION extension, PIRP irp,
                            PIO_COMPLETION_ROUTINE completion) {
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, completion, NULL, TRUE, TRUE, TRUE);
  return PoCallDriver(extension->NextLowerDriver, irp);
}

_Use_decl_annotations_
VOID DevicePowerRequestComplete(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                                PVOID context, PIO_STATUS_BLOCK ioStatus) {
  UNREFERENCED_PARAMETER(device);
  UNREFERENCED_PARAMETER(minor);
  UNREFERENCED_PARAMETER(state);
  PPOWER_WAIT wait = (PPOWER_WAIT)context;
  wait->Status = ioStatus->Status;
  KeSetEvent(&wait->Event, 0, FALSE);
}

// Requests a device power state for this device and waits until the request
// has gone through the stack.
_Use_decl_annotations_
NTSTATUS RequestDevicePower(PDEVICE_EXTENSION extension, DEVICE_POWER_STATE state) {
  POWER_WAIT wait;
  KeInitializeEvent(&wait.Event, NotificationEvent, FALSE);
  wait.Status = STATUS_SUCCESS;
  POWER_STATE requested;
  requested.DeviceState = state;
  NTSTATUS status = PoRequestPowerIrp(extension->PhysicalDeviceObject, IRP_MN_SET_POWER,
                                      requested, DevicePowerRequestComplete, &wait, NULL);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&wait.Event, Executive, KernelMode, FALSE, NULL);
    status = wait.Status;
  }
  // The request came through DispatchPower, which normally recorded it.
  if (NT_SUCCESS(status) && state != extension->DevicePowerState) {
    RecordDeviceState(extension, state);
  }
  return status;
}

// The callback of the D0 request made on the way back from sleep; it may run
// at DISPATCH_LEVEL and nobody waits for it.
_Use_decl_annotations_
VOID DevicePowerUpRequested(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state, PVOID context,
                            PIO_STATUS_BLOCK ioStatus) {
  UNREFERENCED_PARAMETER(device);
  UNREFERENCED_PARAMETER(minor);
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)context;
  if (NT_SUCCESS(ioStatus->Status) && state.DeviceState != extension->DevicePowerState) {
    RecordDeviceState(extension, state.DeviceState);
  }
}

// The system has come back up through the lower drivers: ask for the
// device state that goes with it. This may run at DISPATCH_LEVEL, where
// nothing may wait, so the request is made without waiting for it; its
// callback and the device request's own path record the new state.
_Use_decl_annotations_
NTSTATUS SystemPowerUpComplete(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  UNREFERENCED_PARAMETER(context);
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)device->DeviceExtension;
  NTSTATUS status = irp->IoStatus.Status;
  if (NT_SUCCESS(status)) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    POWER_STATE target;
    target.DeviceState = DeviceStateFor(stack->Parameters.Power.State.SystemState);
    if (target.DeviceState < extension->DevicePowerState) {
      NTSTATUS request = PoRequestPowerIrp(extension->PhysicalDeviceObject, IRP_MN_SET_POWER,
                                           target, DevicePowerUpRequested, extension, NULL);
      if (request != STATUS_PENDING) status = request;
    }
  }
  PoStartNextPowerIrp(irp);
  return status;
}

_Use_decl_annotations_
NTSTATUS DevicePowerUpComplete(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  UNREFERENCED_PARAMETER(context);
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)device->DeviceExtension;
  if (NT_SUCCESS(irp->IoStatus.Status)) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    RecordDeviceState(extension, stack->Parameters.Power.State.DeviceState);
  }
  PoStartNextPowerIrp(irp);
  return irp->IoStatus.Status;
}

_Use_decl_annotations_
NTSTATUS HandleSetPower(PDEVICE_EXTENSION extension, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  POWER_STATE state = stack->Parameters.Power.State;

  if (stack->Parameters.Power.Type == SystemPowerState) {
    DEVICE_POWER_STATE target = DeviceStateFor(state.SystemState);
    if (target > extension->DevicePowerState) {
      // Going down: the device first, then the system request.
      NTSTATUS status = RequestDevicePower(extension, target);
      if (!NT_SUCCESS(status)) {
        PoStartNextPowerIrp(irp);
        return CompleteRequest(irp, status, 0);
      }
      return PassPowerDown(extension, irp);
    }
    if (target < extension->DevicePowerState) {
      // Coming up: the system request first, the device in its completion.
      return PassPowerUp(extension, irp, SystemPowerUpComplete);
    }
    return PassPowerDown(extension, irp);
  }

  if (stack->Parameters.Power.Type == DevicePowerState) {
    if (state.DeviceState < extension->DevicePowerState) {
      return PassPowerUp(extension, irp, DevicePowerUpComplete);
    }
    if (state.DeviceState > extension->DevicePowerState) {
      RecordDeviceState(extension, state.DeviceState);
    }
  }
  return PassPowerDown(extension, irp);
}

// Whether a system set-power request ends the session: a shutdown or restart
// (S5), or the hybrid shutdown that "Shut down" is under Fast Startup, an S4
// request whose target is S5. The system sends no shutdown request before a
// hybrid shutdown. A hibernation or a sleep goes on the session.
static BOOLEAN EndsSession(PIO_STACK_LOCATION stack) {
  if (stack->MinorFunction != IRP_MN_SET_POWER || stack->Parameters.Power.Type != SystemPowerState)
    return FALSE;
  SYSTEM_POWER_STATE state = stack->Parameters.Power.State.SystemState;
  return state == PowerSystemShutdown ||
         (state == PowerSystemHibernate &&
          stack->Parameters.Power.SystemPowerStateContext.TargetSystemState == PowerSystemShutdown);
}

_Use_decl_annotations_
NTSTATUS DispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
  // Draining: the request goes down untouched and uncounted.
  if (!AcquireRequest(extension)) return PassPowerDown(extension, Irp);

  // The shutdown output comes before anything goes down, while the board
  // is still powered; a system request must not fail, whatever its outcome.
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  if (EndsSession(stack)) RecordSystemShutdown(extension);

  // Held: the request goes down untouched.
  NTSTATUS status;
  if (!extension->HoldRequests && IsPciBoard() && stack->MinorFunction == IRP_MN_SET_POWER) {
    status = HandleSetPower(extension, Irp);
  } else {
    status = PassPowerDown(extension, Irp);
  }
  ReleaseRequest(extension);
  return status;
}
