// TesZEPDIO: private declarations of the DIO board's function driver.
//
// Prototypes are grouped under the file that defines them.
#pragma once

// mingw's <wdm.h> in C++ redeclares these intrinsics unless told they exist.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <wdm.h>
#include <wchar.h>  // _snwprintf, which the kernel exports

#include "dio_ioctl.h"
#include "dio_registers.h"
#include "dio_registry.h"
#include "messages.h"  // the event log's messages, made by windmc from messages.mc

// Routines carry the kernel's source annotations: their role type (with
// _Dispatch_type_ for dispatch routines), the IRQL they may run at and the
// locks they need, for static analysis; the definitions take them from here
// (_Use_decl_annotations_). They compile to nothing. mingw-w64's
// driverspecs.h stubs the others but has no _Dispatch_type_.
#ifndef _Dispatch_type_
#define _Dispatch_type_(type)
#endif

// Pageable code, and code dropped once the driver is initialised.
#if defined(_WIN32)
#define DIO_PAGED_ROUTINE __attribute__((section("PAGE")))
#define DIO_INIT_ROUTINE __attribute__((section("INIT")))
#else
#define DIO_PAGED_ROUTINE
#define DIO_INIT_ROUTINE
#endif

// The tag of every pool block the driver allocates: "ZDIO" in pool listings.
#define DIO_POOL_TAG 0x4F49445Au

// The 9 event numbers a handle can hold an event for, and the driver-wide
// table of event slots shared by every device.
#define DIO_EVENTS_PER_SLOT 9
#define DIO_EVENT_SLOT_COUNT 100

typedef struct _EVENT_SLOT {
  PKEVENT Events[DIO_EVENTS_PER_SLOT];  // referenced event objects, or none
} EVENT_SLOT, *PEVENT_SLOT;

// The per-handle record, hung on the file object's FsContext2.
typedef struct _OPEN_CONTEXT {
  LONG SlotIndex;  // the handle's entry of gEventSlots, its own until close
  // Set by the cleanup. A request another thread started on the handle
  // before its close can reach the driver after the cleanup; the close
  // waits for it.
  LONG CleanedUp;
} OPEN_CONTEXT, *POPEN_CONTEXT;

// Where the device is in its Plug and Play life (state.cpp, which alone
// changes it and says what each state means for requests).
typedef enum _DEVICE_PNP_STATE {
  DeviceAdded,            // not started: never, or its start failed
  DeviceStarted,
  DeviceStopPending,      // a stop query succeeded
  DeviceStopped,          // stopped to be started again: port requests wait
  DeviceRemovePending,    // a removal query succeeded
  DeviceSurpriseRemoved,
  DeviceRemoved,
} DEVICE_PNP_STATE;

// The per-device record, allocated zero-filled with the device object.
typedef struct _DEVICE_EXTENSION {
  PDEVICE_OBJECT PhysicalDeviceObject;
  PDEVICE_OBJECT Self;
  PDEVICE_OBJECT NextLowerDriver;
  UNICODE_STRING InterfaceName;
  ULONG InterfaceEnabled;  // the interface is on; it is switched off once only
  DEVICE_POWER_STATE DevicePowerState;
  // A DEVICE_PNP_STATE, and the one a cancel goes back to: changed under
  // HardwareLock with interlocked exchanges, read with ReadCount (power
  // requests read it on other threads).
  LONG PnpState;
  LONG PreviousPnpState;
  LONG OpenCount;
  // Plug and Play and power requests inside, plus 1: a power request counts
  // until it has completed (its completion routine, the callback of the
  // device request it made and the power-up work it queued included).
  LONG OutstandingIo;
  LONG Removing;  // a stop or removal drains the count: new requests are not counted
  KEVENT RemoveEvent;  // signalled when OutstandingIo drops to 0
  // A synchronization event used as a mutex (LockHardware): the device's
  // state, the board's powered state, its port ranges, its saved registers
  // and the interrupt connection change only under it, and port requests,
  // enables and creates see them under it.
  KEVENT HardwareLock;
  // The port requests that wait while the device is stopped (held.cpp),
  // and the lock they are held under.
  LIST_ENTRY HeldRequests;
  KSPIN_LOCK HeldLock;
  // The board has power and holds what the driver last left in it. Cleared
  // before its power goes (D3, or the system leaving S0) and by a stop, set
  // once its registers are back (BoardPowerUp) or at a start.
  ULONG BoardReady;
  // The board's registers as they were before its power went or it was
  // stopped, to be written back; valid while ContextSaved is set.
  ULONG ContextSaved;
  UCHAR SavedRegisters[3];  // DO, INTEN0, INTEN1, in the order of BOARD_REGISTER_MAP.Saved
  // A system request ended the session (a hybrid shutdown): when power
  // returns, the board is brought up as at a start instead of restored.
  ULONG SessionEnded;
  // A handle enabled events and the last cleanup has not come yet: the
  // interrupt is connected whenever the board is started.
  ULONG InterruptWanted;
  // The work that brings the board back once it has power again, at
  // PASSIVE_LEVEL; allocated with the device, queued at most once at a time.
  PIO_WORKITEM PowerUpWork;
  LONG PowerUpQueued;
  ULONG OnSystem;
  ULONG DeviceNumber;
  // The device's board model: "DeviceType" of its hardware key, which its
  // INF model line writes, or else the service key's (ReadDeviceModel).
  ULONG DeviceType;

  // The board's port ranges and what was read from it at start.
  UCHAR BoardInfo[8];
  PHYSICAL_ADDRESS Range1Start;  // layout 24: board information and summary
  PHYSICAL_ADDRESS Range2Start;  // the register block
  PHYSICAL_ADDRESS Range3Start;  // layout 24: recorded only
  ULONG Range1Length;
  ULONG PortCount;  // ports in the register block
  ULONG Range3Length;
  ULONG InterruptLevel;  // the raw list's level, which the registry records
  ULONG InterruptGiven;  // the start's translated list held an interrupt
  UCHAR RefusedResource;  // the first resource type of the list the board never has

  ULONG BusNumber;
  ULONG SlotNumber;
  PKINTERRUPT InterruptObject;

  UCHAR InterruptIrql;
  KAFFINITY InterruptAffinity;
  ULONG InterruptVector;
  // Status bytes the ISR saved for the DPC, byte k of the layout's status
  // registers in bits 8k to 8k + 7; the ISR adds to them and the DPC takes
  // them, both with interlocked operations.
  LONG IntStatus;

  // What to drive on the DO register when the board starts and when the
  // system shuts down: the "DO" key's at each start, replaced by
  // IOCTL_DIO_DO_SYS_CONFIG.
  DIO_DO_CONFIG DoConfig;

  // The causes of the event log entries written for this board, one bit
  // each (errorlog.cpp); set with interlocked operations.
  LONG LoggedCauses;
} DEVICE_EXTENSION, *PDEVICE_EXTENSION;

// The port bases of the board's ranges: the 16-bit port space takes the
// low 32 bits of each, cut to 16 (board.cpp).
FORCEINLINE ULONG RegisterBase(PDEVICE_EXTENSION extension) { return extension->Range2Start.LowPart; }
FORCEINLINE ULONG InfoBase(PDEVICE_EXTENSION extension) { return extension->Range1Start.LowPart; }

// ---------------------------------------------------------------------------
// entry.cpp
// The model of the board the driver drives: the service key's at load, then
// that of the device in service (TakeBoard).
extern ULONG gDeviceType;
// The service key's "DeviceType", read at load: the model of a device whose
// hardware key names none (what installations before the per-device model
// wrote).
extern ULONG gServiceDeviceType;
// The device in service: the event slots and the registry's Device000 serve
// one board. None until a device's first start, again after its removal.
extern PDEVICE_OBJECT gBoardDevice;
extern EVENT_SLOT gEventSlots[DIO_EVENT_SLOT_COUNT];
extern const GUID DEVICE_INTERFACE_GUID;

extern "C" DRIVER_INITIALIZE DriverEntry;
DRIVER_ADD_DEVICE AddDevice;
DRIVER_UNLOAD DriverUnload;

// Reads a count that other processors change with interlocked operations.
FORCEINLINE LONG ReadCount(LONG volatile *count) { return InterlockedCompareExchange(count, 0, 0); }

// The kernel's event object type. The kernel exports the variable that holds
// it; the DDK declares it as `POBJECT_TYPE *ExEventObjectType`, which names
// the import's slot, so one dereference gives the type. mingw-w64's <wdm.h>
// declares it dllimport as well: the declared variable is then the kernel's
// variable itself, its value the type, and a dereference would read the
// type object's first field instead.
FORCEINLINE POBJECT_TYPE EventObjectType(void) {
#if defined(_WIN32)
  return (POBJECT_TYPE)ExEventObjectType;
#else
  return *ExEventObjectType;
#endif
}

// ---------------------------------------------------------------------------
// board.cpp: board models and their register maps
typedef enum _BOARD_LAYOUT { BoardLayoutGeneral, BoardLayout22, BoardLayout24 } BOARD_LAYOUT;

#define DIO_NO_REGISTER 0xFFFFFFFF
#define DIO_STATUS_REGISTERS 2  // status registers a layout has at most
#define DIO_RESET_STEPS 6

// A status register: bit i set means event source i of the register pending.
typedef struct _STATUS_REGISTER {
  ULONG Offset;      // from RegisterBase, or DIO_NO_REGISTER
  UCHAR EventBits;   // the bits that name events: bit i names FirstEvent + i
  UCHAR FirstEvent;
  BOOLEAN AnyBit;    // any bit set names FirstEvent alone
} STATUS_REGISTER;

// How the interrupt reset treats a register.
typedef enum _RESET_ACTION {
  ResetWriteZero,
  ResetWriteBack,          // write back what it reads (acknowledges a status)
  ResetWriteZeroAtDisable  // write 0 when the last handle's events go
} RESET_ACTION;

typedef struct _RESET_STEP {
  ULONG Offset;  // from RegisterBase
  RESET_ACTION Action;
} RESET_STEP;

// One register layout as the interrupt service routine, the DPC and the
// interrupt reset all use it.
#define DIO_SAVED_REGISTERS 3
#define DIO_SAVED_DO 0
#define DIO_SAVED_INTEN0 1  // the enables follow

typedef struct _BOARD_REGISTER_MAP {
  ULONG Do;  // digital outputs, from RegisterBase
  // Layout 24: the interrupt summary, from InfoBase: 0 when the interrupt is
  // not the board's, bit 0 when a DI status is pending.
  ULONG Summary;
  STATUS_REGISTER Status[DIO_STATUS_REGISTERS];
  // Layout 24: (BoardInfo[0] >> 3) + 1 of the status registers name events.
  BOOLEAN StatusCountFromBoardInfo;
  // Turning the board's interrupt sources off, in order.
  RESET_STEP Reset[DIO_RESET_STEPS];
  ULONG ResetSteps;
  // What a loss of power or a stop takes and the driver writes back: the DO
  // register and the interrupt enables, or DIO_NO_REGISTER.
  ULONG Saved[DIO_SAVED_REGISTERS];
} BOARD_REGISTER_MAP;


BOARD_LAYOUT BoardLayout(void);
const BOARD_REGISTER_MAP *BoardRegisterMap(void);
BOOLEAN IsPciModel(ULONG model);
BOOLEAN IsPciBoard(void);
KINTERRUPT_MODE BoardInterruptMode(void);
BOOLEAN BoardInterruptShared(void);
BOOLEAN BoardHasPorts(PDEVICE_EXTENSION extension);
UCHAR ReadRegister(ULONG base, ULONG offset);
VOID WriteRegister(ULONG base, ULONG offset, UCHAR value);
VOID SetDoBit(PDEVICE_EXTENSION extension, ULONG channel, ULONG level);
VOID ResetInterruptRegisters(PDEVICE_EXTENSION extension, BOOLEAN atDisable);
VOID ClearPendingStatus(PDEVICE_EXTENSION extension);
VOID SaveBoardRegisters(PDEVICE_EXTENSION extension);
VOID RestoreBoardRegisters(PDEVICE_EXTENSION extension);
BOOLEAN BoardAnswers(PDEVICE_EXTENSION extension);

// ---------------------------------------------------------------------------
// registry.cpp: the service key, the DeviceNNN subkeys, the device map and
// the DO settings
// The kernel's paths of the keys (dio_registry.h); the service key and the
// device map end in a separator, for a subkey's name to follow.
#define DIO_SERVICE_KEY_PATH L"" DIO_KEY_MACHINE DIO_KEY_SERVICE "\\"
#define DIO_DEVICE_MAP_PATH L"" DIO_KEY_MACHINE DIO_KEY_DEVICE_MAP "\\"
#define DIO_MAP_KEY_PATH L"" DIO_KEY_MACHINE DIO_KEY_MAP_ENTRY
// A value's wide name and its size with the terminator, as ReadRegistryValue
// takes them, from the name of dio_registry.h.
#define DIO_VALUE_NAME(name) L"" name, sizeof(L"" name)
#define DIO_DEVICE_NUMBER_LIMIT 1000
#define DIO_DEVICE_PATH_CHARS 256

// Pageable: every routine here runs at PASSIVE_LEVEL.
_IRQL_requires_max_(PASSIVE_LEVEL) PUNICODE_STRING AllocateCountedString(USHORT capacity);
_IRQL_requires_max_(PASSIVE_LEVEL) VOID FreeCountedString(PUNICODE_STRING string);
_IRQL_requires_max_(PASSIVE_LEVEL) PUNICODE_STRING MakeDeviceKeyName(ULONG deviceNumber);
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS OpenRegistryKey(PUNICODE_STRING path, PHANDLE key);
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS CreateRegistryKey(PUNICODE_STRING path, PHANDLE key);
_IRQL_requires_max_(PASSIVE_LEVEL)
NTSTATUS ReadRegistryValue(HANDLE key, PCWSTR name, USHORT nameSize, PVOID destination);
_IRQL_requires_max_(PASSIVE_LEVEL)
NTSTATUS WriteDeviceKeys(ULONG deviceNumber, PDEVICE_EXTENSION extension);
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS WriteMapEntry(ULONG deviceNumber, PUNICODE_STRING linkName);
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS ReadDoSettings(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS WriteOnSystem(PDEVICE_EXTENSION extension, ULONG onSystem);
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS DeleteDeviceKeys(ULONG deviceNumber);
_IRQL_requires_max_(PASSIVE_LEVEL) ULONG ReadDeviceModel(PDEVICE_OBJECT physicalDevice);

// ---------------------------------------------------------------------------
// device.cpp: the services every dispatch routine of a device uses
_IRQL_requires_max_(PASSIVE_LEVEL) _Acquires_lock_(extension->HardwareLock)
VOID LockHardware(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(PASSIVE_LEVEL) _Releases_lock_(extension->HardwareLock)
VOID UnlockHardware(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(DISPATCH_LEVEL) BOOLEAN AcquireRequest(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(DISPATCH_LEVEL) VOID ReleaseRequest(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(PASSIVE_LEVEL) VOID DrainRequests(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(DISPATCH_LEVEL)
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG information);
_IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS PassDown(PDEVICE_EXTENSION extension, PIRP irp);
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS ForwardAndWait(PDEVICE_OBJECT device, PIRP irp);
IO_COMPLETION_ROUTINE ForwardCompletion;
_IRQL_requires_max_(PASSIVE_LEVEL) VOID EnableInterface(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(PASSIVE_LEVEL) VOID DisableInterface(PDEVICE_EXTENSION extension);

// ---------------------------------------------------------------------------
// state.cpp: the device's Plug and Play state, its transitions and what it
// means for requests
// Moves the device to `to` when that is a transition its state allows
// (staying is one); FALSE, with the state unchanged, when not. Called by
// Plug and Play holding HardwareLock.
_IRQL_requires_max_(PASSIVE_LEVEL) _Requires_lock_held_(extension->HardwareLock)
BOOLEAN SetPnpState(PDEVICE_EXTENSION extension, DEVICE_PNP_STATE to);
_IRQL_requires_max_(PASSIVE_LEVEL) _Requires_lock_held_(extension->HardwareLock)
BOOLEAN PnpStateAllows(PDEVICE_EXTENSION extension, DEVICE_PNP_STATE to);
// A cancel: back to the state before `pending` when that is the state.
_IRQL_requires_max_(PASSIVE_LEVEL) _Requires_lock_held_(extension->HardwareLock)
VOID CancelPnpState(PDEVICE_EXTENSION extension, DEVICE_PNP_STATE pending);
_IRQL_requires_max_(DISPATCH_LEVEL) DEVICE_PNP_STATE PnpStateOf(PDEVICE_EXTENSION extension);
// The board is started: its resources are the device's and it may be
// driven (a query pending changes nothing of that).
_IRQL_requires_max_(DISPATCH_LEVEL) BOOLEAN DeviceIsStarted(PDEVICE_EXTENSION extension);
// Stopped to be started again: requests that need the board wait.
_IRQL_requires_max_(DISPATCH_LEVEL) BOOLEAN DeviceIsStopped(PDEVICE_EXTENSION extension);
// A removal is pending or under way: no new handle is opened.
_IRQL_requires_max_(DISPATCH_LEVEL) BOOLEAN DeviceRefusesOpens(PDEVICE_EXTENSION extension);
// Started with no query pending: set-power requests are acted on.
_IRQL_requires_max_(DISPATCH_LEVEL) BOOLEAN DeviceTakesPower(PDEVICE_EXTENSION extension);

// ---------------------------------------------------------------------------
// inservice.cpp: which device has the board in service
// The status of a start refused because another board is in service.
#define DIO_STATUS_BOARD_IN_SERVICE STATUS_RESOURCE_IN_USE
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS TakeBoard(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS RefuseBoard(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(DISPATCH_LEVEL) BOOLEAN RecordsBoard(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(PASSIVE_LEVEL) VOID GiveUpBoard(PDEVICE_EXTENSION extension);

// ---------------------------------------------------------------------------
// pnp.cpp: Plug and Play
_Dispatch_type_(IRP_MJ_PNP) DRIVER_DISPATCH DispatchPnp;

// ---------------------------------------------------------------------------
// startup.cpp: bringing the board into service at start
_IRQL_requires_max_(PASSIVE_LEVEL) _Requires_lock_held_(extension->HardwareLock)
NTSTATUS StartHardware(PDEVICE_EXTENSION extension, PCM_RESOURCE_LIST translated,
                       PCM_RESOURCE_LIST raw);
_IRQL_requires_max_(PASSIVE_LEVEL)
NTSTATUS ParseResources(PDEVICE_EXTENSION extension, PCM_RESOURCE_LIST translated,
                        PCM_RESOURCE_LIST raw);
_IRQL_requires_max_(PASSIVE_LEVEL) _Requires_lock_held_(extension->HardwareLock)
VOID BringBoardUp(PDEVICE_EXTENSION extension);

// ---------------------------------------------------------------------------
// power.cpp
_Dispatch_type_(IRP_MJ_POWER) DRIVER_DISPATCH DispatchPower;
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS HandleSetPower(PDEVICE_EXTENSION extension, PIRP irp);
_IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS PassPowerDown(PDEVICE_EXTENSION extension, PIRP irp);
IO_COMPLETION_ROUTINE SystemPowerUpComplete;
IO_COMPLETION_ROUTINE DevicePowerUpComplete;
_IRQL_requires_max_(PASSIVE_LEVEL)
NTSTATUS RequestDevicePower(PDEVICE_EXTENSION extension, DEVICE_POWER_STATE state);
REQUEST_POWER_COMPLETE DevicePowerRequestComplete;
REQUEST_POWER_COMPLETE DevicePowerUpRequested;
IO_COMPLETION_ROUTINE PowerRequestDone;
_IRQL_requires_max_(PASSIVE_LEVEL) VOID SaveBoardContext(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(DISPATCH_LEVEL) VOID QueueBoardPowerUp(PDEVICE_EXTENSION extension);
IO_WORKITEM_ROUTINE BoardPowerUp;

// ---------------------------------------------------------------------------
// held.cpp: the port requests that wait while the device is stopped, the
// one place that holds and carries out a request besides devctl.cpp
_IRQL_requires_max_(PASSIVE_LEVEL) VOID InitializeHeldRequests(PDEVICE_EXTENSION extension);
_IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS HoldRequest(PDEVICE_EXTENSION extension, PIRP irp);
DRIVER_CANCEL CancelHeldRequest;
// Carries the held requests out, in order, or fails them with `failure`
// when that is not a success.
_IRQL_requires_max_(PASSIVE_LEVEL)
VOID ReleaseHeldRequests(PDEVICE_OBJECT device, NTSTATUS failure);
// Cancels the held requests of one handle.
_IRQL_requires_max_(PASSIVE_LEVEL)
VOID CancelHandleRequests(PDEVICE_EXTENSION extension, PFILE_OBJECT file);

// ---------------------------------------------------------------------------
// createclose.cpp: handles
_Dispatch_type_(IRP_MJ_CREATE) DRIVER_DISPATCH DispatchCreate;
_Dispatch_type_(IRP_MJ_CLEANUP) DRIVER_DISPATCH DispatchCleanup;
_Dispatch_type_(IRP_MJ_CLOSE) DRIVER_DISPATCH DispatchClose;
_Dispatch_type_(IRP_MJ_SYSTEM_CONTROL) DRIVER_DISPATCH DispatchSystemControl;

// ---------------------------------------------------------------------------
// slots.cpp: the driver-wide table of event slots
extern KSPIN_LOCK gEventSlotLock;  // serialises the table and the signalling
_IRQL_requires_max_(PASSIVE_LEVEL) VOID InitializeEventSlots(void);
_IRQL_requires_max_(DISPATCH_LEVEL) LONG ClaimEventSlot(void);
// Gives the slot up at the handle's close, its events released.
_IRQL_requires_max_(DISPATCH_LEVEL) VOID ReleaseEventSlot(LONG slot);
// Releases the slot's events (a disable, a cleanup).
_IRQL_requires_max_(DISPATCH_LEVEL) VOID EmptyEventSlot(LONG slot);
// The nine entries of `events` (referenced, or null) replace all of the
// slot's events.
_IRQL_requires_max_(DISPATCH_LEVEL) VOID FillEventSlot(LONG slot, PKEVENT const *events);
_IRQL_requires_(DISPATCH_LEVEL) VOID SignalEvents(ULONG eventMask);

// ---------------------------------------------------------------------------
// events.cpp: DI interrupt notification
_IRQL_requires_max_(PASSIVE_LEVEL)
NTSTATUS EnableEventNotification(PDEVICE_OBJECT device, PDEVICE_EXTENSION extension, PIRP irp,
                                 PIO_STACK_LOCATION stack);
_IRQL_requires_max_(PASSIVE_LEVEL)
NTSTATUS DisableEventNotification(PDEVICE_OBJECT device, PDEVICE_EXTENSION extension, PIRP irp,
                                  PIO_STACK_LOCATION stack);
_IRQL_requires_max_(PASSIVE_LEVEL) _Requires_lock_held_(extension->HardwareLock)
VOID StopBoardInterrupt(PDEVICE_EXTENSION extension, BOOLEAN restart);
_IRQL_requires_max_(PASSIVE_LEVEL) _Requires_lock_held_(extension->HardwareLock)
NTSTATUS ConnectBoardInterrupt(PDEVICE_OBJECT device, PDEVICE_EXTENSION extension);
KSERVICE_ROUTINE InterruptService;
KDEFERRED_ROUTINE InterruptDpc;

// ---------------------------------------------------------------------------
// devctl.cpp: the device-control interface
_Dispatch_type_(IRP_MJ_DEVICE_CONTROL) DRIVER_DISPATCH DispatchDeviceControl;
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS CarryOutRequest(PDEVICE_OBJECT device, PIRP irp);

// ---------------------------------------------------------------------------
// errorlog.cpp: the board's entries in the System event log. `message` is
// one of messages.h's DIO_LOG_...; `what` names what failed, or is NULL.
// Each cause is written once per device object.
_IRQL_requires_max_(PASSIVE_LEVEL)
VOID LogBoardEvent(PDEVICE_EXTENSION extension, NTSTATUS message, NTSTATUS status, PCWSTR what);
// Writes the entry only when `status` is a failure.
_IRQL_requires_max_(PASSIVE_LEVEL)
VOID LogFailure(PDEVICE_EXTENSION extension, NTSTATUS message, NTSTATUS status, PCWSTR what);

// ---------------------------------------------------------------------------
// shutdown.cpp
_Dispatch_type_(IRP_MJ_SHUTDOWN) DRIVER_DISPATCH DispatchShutdown;
_IRQL_requires_max_(PASSIVE_LEVEL) VOID RegisterForShutdown(PDEVICE_OBJECT device);
_IRQL_requires_max_(PASSIVE_LEVEL) NTSTATUS RecordSystemShutdown(PDEVICE_EXTENSION extension);
