// Power: a PCI board follows the system into sleep (D3) and back (D0); a
// system request that ends the session first records the shutdown as the
// shutdown request does. Every board loses its power when the system leaves
// S0, and a PCI board also in D3: before the power goes the driver saves
// the registers it knows, and once the board has power again a work item
// writes them back (after a sleep or a hibernation) or brings the board up
// as a start does (after a hybrid shutdown, which a fast startup resumes).
// Every power request counts in OutstandingIo until it has completed, so
// that no removal deletes the device under a completion routine, a
// callback or the power-up work.
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

// For a request that goes down uncounted: while StopDevice drains, or
// after the removal's drain.
_Use_decl_annotations_
NTSTATUS PassPowerDown(PDEVICE_EXTENSION extension, PIRP irp) {
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(extension->NextLowerDriver, irp);
}

// Sends a counted power request down with a completion routine, which
// hands the request on with PoStartNextPowerIrp and releases its count.
static NTSTATUS PassPowerDownCounted(PDEVICE_EXTENSION extension, PIRP irp,
                                     PIO_COMPLETION_ROUTINE completion) {
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, completion, NULL, TRUE, TRUE, TRUE);
  return PoCallDriver(extension->NextLowerDriver, irp);
}

// The end of a counted request that needs nothing more.
_Use_decl_annotations_
NTSTATUS PowerRequestDone(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  UNREFERENCED_PARAMETER(context);
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  PoStartNextPowerIrp(irp);
  ReleaseRequest((PDEVICE_EXTENSION)device->DeviceExtension);
  return STATUS_CONTINUE_COMPLETION;
}

// Before the board's power goes: its registers are taken and it is no
// longer used until BoardPowerUp has brought it back. Its interrupt sources
// go off meanwhile: the board keeps its power a while longer (the system
// request comes before the machine's power goes), and the last handle's
// cleanup, which does not touch a board in this state, may disconnect the
// interrupt in between. A board that has lost its power already, or that is
// not started, keeps what it has.
_Use_decl_annotations_
VOID SaveBoardContext(PDEVICE_EXTENSION extension) {
  LockHardware(extension);
  if (DeviceIsStarted(extension) && extension->BoardReady) {
    if (BoardHasPorts(extension)) {
      SaveBoardRegisters(extension);
      ResetInterruptRegisters(extension, FALSE);
      extension->ContextSaved = 1;
    }
    extension->BoardReady = 0;
  }
  UnlockHardware(extension);
}

// Power is back: the board is brought back at PASSIVE_LEVEL, where the
// hardware lock can be taken, by the device's one work item, which holds a
// request count until it is done; what it finds under the lock decides
// what it does.
_Use_decl_annotations_
VOID QueueBoardPowerUp(PDEVICE_EXTENSION extension) {
  if (InterlockedCompareExchange(&extension->PowerUpQueued, 1, 0) != 0) return;
  if (!AcquireRequest(extension)) {
    // A removal drains: the board is leaving service anyway.
    InterlockedExchange(&extension->PowerUpQueued, 0);
    return;
  }
  IoQueueWorkItem(extension->PowerUpWork, BoardPowerUp, DelayedWorkQueue, extension);
}

_Use_decl_annotations_
VOID BoardPowerUp(PDEVICE_OBJECT DeviceObject, PVOID Context) {
  UNREFERENCED_PARAMETER(DeviceObject);
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)Context;
  InterlockedExchange(&extension->PowerUpQueued, 0);
  BOOLEAN freshSession = FALSE;
  LockHardware(extension);
  if (DeviceIsStarted(extension) && !extension->BoardReady && extension->DevicePowerState == PowerDeviceD0) {
    if (extension->SessionEnded) {
      // A fast startup: the board is configured as at a cold start.
      BringBoardUp(extension);
      freshSession = TRUE;
    } else if (extension->ContextSaved) {
      RestoreBoardRegisters(extension);
    }
    extension->SessionEnded = 0;
    extension->ContextSaved = 0;
    extension->BoardReady = 1;
  }
  UnlockHardware(extension);
  if (freshSession) WriteOnSystem(extension, 1);
  ReleaseRequest(extension);
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
// has gone through the stack. Called by a counted request, which outlasts it.
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
// at DISPATCH_LEVEL and nobody waits for it. The request may have met a
// device held by a stop or removal query on its way, which passed it down
// untouched: the state is recorded and the board brought back here as
// well. It ends the count the request was made with.
_Use_decl_annotations_
VOID DevicePowerUpRequested(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state, PVOID context,
                            PIO_STATUS_BLOCK ioStatus) {
  UNREFERENCED_PARAMETER(device);
  UNREFERENCED_PARAMETER(minor);
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)context;
  if (NT_SUCCESS(ioStatus->Status)) {
    if (state.DeviceState != extension->DevicePowerState) RecordDeviceState(extension, state.DeviceState);
    if (extension->DevicePowerState == PowerDeviceD0) QueueBoardPowerUp(extension);
  }
  ReleaseRequest(extension);
}

// The system is back in S0 through the lower drivers. A PCI board that
// followed the system down asks for D0, without waiting: this may run at
// DISPATCH_LEVEL. It does so also when a query has held the device
// meanwhile, which would otherwise stay in D3 after the cancel. A board that
// stayed in D0 (a latched board, which has no device power states, or one
// whose D3 was refused or could not be asked for) has had its power back
// with the system's: it is brought back now.
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
    // Read once: the D0 request may change it on another thread.
    DEVICE_POWER_STATE current = extension->DevicePowerState;
    if (IsPciBoard() && target.DeviceState < current && AcquireRequest(extension)) {
      NTSTATUS request = PoRequestPowerIrp(extension->PhysicalDeviceObject, IRP_MN_SET_POWER,
                                           target, DevicePowerUpRequested, extension, NULL);
      if (request != STATUS_PENDING) {
        ReleaseRequest(extension);
        status = request;
      }
    } else if (current == PowerDeviceD0) {
      QueueBoardPowerUp(extension);
    }
  }
  PoStartNextPowerIrp(irp);
  ReleaseRequest(extension);
  return status;
}

// The lower drivers have powered the device: it records the new state, and
// in D0 the board is brought back.
_Use_decl_annotations_
NTSTATUS DevicePowerUpComplete(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  UNREFERENCED_PARAMETER(context);
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)device->DeviceExtension;
  if (NT_SUCCESS(irp->IoStatus.Status)) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    RecordDeviceState(extension, stack->Parameters.Power.State.DeviceState);
    if (extension->DevicePowerState == PowerDeviceD0) QueueBoardPowerUp(extension);
  }
  PoStartNextPowerIrp(irp);
  ReleaseRequest(extension);
  return irp->IoStatus.Status;
}

// A PCI board's set-power requests, counted. A system request is never
// failed: "a driver must not fail a request to set the system power state",
// and a device that cannot reach D3 does not stop the system's transition.
_Use_decl_annotations_
NTSTATUS HandleSetPower(PDEVICE_EXTENSION extension, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  POWER_STATE state = stack->Parameters.Power.State;

  if (stack->Parameters.Power.Type == SystemPowerState) {
    DEVICE_POWER_STATE target = DeviceStateFor(state.SystemState);
    // Going down: the device first, then the system request, whatever the
    // device's outcome, even a D3 request that could not be made. Only the
    // way back to S0 brings the board back.
    if (target > extension->DevicePowerState) RequestDevicePower(extension, target);
    return PassPowerDownCounted(extension, irp,
                                target == PowerDeviceD0 ? SystemPowerUpComplete : PowerRequestDone);
  }

  if (stack->Parameters.Power.Type == DevicePowerState) {
    if (state.DeviceState < extension->DevicePowerState) {
      return PassPowerDownCounted(extension, irp, DevicePowerUpComplete);
    }
    if (state.DeviceState > extension->DevicePowerState) {
      SaveBoardContext(extension);
      RecordDeviceState(extension, state.DeviceState);
    }
  }
  return PassPowerDownCounted(extension, irp, PowerRequestDone);
}

// Whether a system request's context names S5, as its target or its
// effective state: Microsoft's pages give a hybrid shutdown's two fields both
// ways round (docs/power-transitions.md).
static BOOLEAN ContextNamesShutdown(PIO_STACK_LOCATION stack) {
  SYSTEM_POWER_STATE_CONTEXT context = stack->Parameters.Power.SystemPowerStateContext;
  return context.TargetSystemState == PowerSystemShutdown || context.EffectiveSystemState == PowerSystemShutdown;
}

// Whether a system set-power request ends the session: a shutdown or restart
// (S5), or the hybrid shutdown that "Shut down" is under Fast Startup, an S4
// request whose context names S5. The system sends no shutdown request before
// a hybrid shutdown. A hibernation or a sleep goes on the session.
static BOOLEAN EndsSession(PIO_STACK_LOCATION stack) {
  if (stack->MinorFunction != IRP_MN_SET_POWER || stack->Parameters.Power.Type != SystemPowerState)
    return FALSE;
  SYSTEM_POWER_STATE state = stack->Parameters.Power.State.SystemState;
  return state == PowerSystemShutdown || (state == PowerSystemHibernate && ContextNamesShutdown(stack));
}

// A fast startup's S0 request, where Windows says so: its context, which
// describes the transition before it, names S5 with S4. The table of
// transitions gives the S0 request a context that names neither; the S4
// request's reading stands then.
static VOID NoteFastStartup(PDEVICE_EXTENSION extension, PIO_STACK_LOCATION stack) {
  SYSTEM_POWER_STATE_CONTEXT context = stack->Parameters.Power.SystemPowerStateContext;
  if (!ContextNamesShutdown(stack) || (context.TargetSystemState != PowerSystemHibernate &&
                                       context.EffectiveSystemState != PowerSystemHibernate))
    return;
  LockHardware(extension);
  extension->SessionEnded = 1;
  UnlockHardware(extension);
}

// Whether it is a system set-power request, and to which side of S0.
static BOOLEAN SystemSetPower(PIO_STACK_LOCATION stack, BOOLEAN working) {
  if (stack->MinorFunction != IRP_MN_SET_POWER || stack->Parameters.Power.Type != SystemPowerState)
    return FALSE;
  BOOLEAN toWorking = stack->Parameters.Power.State.SystemState <= PowerSystemWorking;
  return toWorking == working;
}

_Use_decl_annotations_
NTSTATUS DispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
  // Draining: the request goes down untouched and uncounted.
  if (!AcquireRequest(extension)) return PassPowerDown(extension, Irp);

  // The shutdown output comes before anything goes down, while the board
  // is still powered; then, as the system leaves S0, every board's
  // registers are taken before its power goes; as it comes back, the
  // power-up learns whether it is a fast startup.
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  if (EndsSession(stack)) RecordSystemShutdown(extension);
  if (SystemSetPower(stack, FALSE)) SaveBoardContext(extension);
  if (SystemSetPower(stack, TRUE)) NoteFastStartup(extension, stack);

  // Not started, or held by a query: the request goes down, with nothing
  // else done.
  if (DeviceTakesPower(extension) && IsPciBoard() && stack->MinorFunction == IRP_MN_SET_POWER) {
    return HandleSetPower(extension, Irp);
  }
  if (SystemSetPower(stack, TRUE)) return PassPowerDownCounted(extension, Irp, SystemPowerUpComplete);
  return PassPowerDownCounted(extension, Irp, PowerRequestDone);
}
