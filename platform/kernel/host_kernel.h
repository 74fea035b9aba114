// The host side of the kernel stand-in: what tests, the loader and the
// simulator use to set up a machine, drive it and check that the driver left
// it balanced. The driver never includes this header; it sees only <wdm.h>.
#pragma once

#include <wdm.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hostk {

// ---------------------------------------------------------------------------
// Verifier. A broken calling rule stops the run with the bug check the real
// kernel would raise ("*** STOP 0x...: what"), so a test cannot pass over it.
[[noreturn]] void BugCheck(ULONG code, const std::string &what);

// Bug check codes used by the stand-ins.
constexpr ULONG IRQL_NOT_LESS_OR_EQUAL = 0x0A;
constexpr ULONG INVALID_KERNEL_HANDLE = 0x93;
constexpr ULONG NO_MORE_IRP_STACK_LOCATIONS = 0x35;
constexpr ULONG MULTIPLE_IRP_COMPLETE_REQUESTS = 0x44;
constexpr ULONG BAD_POOL_CALLER = 0xC2;
constexpr ULONG PNP_DETECTED_FATAL_ERROR = 0xCA;
constexpr ULONG DRIVER_VERIFIER_DETECTED_VIOLATION = 0xC4;

// Stops the run unless the current IRQL is at most `max`.
void RequireIrqlAtMost(KIRQL max, const char *routine);

// Everything a test must leave behind as it found it: pool blocks, kernel
// handles, device objects of loaded drivers, shutdown registrations, enabled
// interfaces. Empty when balanced; otherwise one line per leaked item.
std::vector<std::string> Outstanding();

// Puts the machine back in its first state: empty registry, no drivers, no
// devices, no port devices, pool counters cleared. Outstanding items are
// dropped without being freed (call Outstanding() first to report them).
void ResetMachine();
// The machine boots again after a shutdown or restart: as ResetMachine, but
// the registry keeps what was stored. Nothing is sent to any driver; what
// the last boot had loaded is simply gone.
void Reboot();

// Blocks until at least `count` threads wait, without a time limit, in
// KeWaitForSingleObject or for a pended request of theirs: for tests that
// must know a thread is parked inside the driver, or its request held there.
void WaitForBlockedThreads(size_t count);
// The blocking waits (KeWaitForSingleObject without a timeout, and the
// stand-in's own Wait... helpers) stop the run, as a deadlock, when they last
// longer than this; 60 s unless a death test shortens it.
void SetWaitLimit(unsigned milliseconds);

// ---------------------------------------------------------------------------
// Pool
struct PoolStats {
  uint64_t allocations = 0;  // successful allocations since the reset
  uint64_t attempts = 0;     // allocations asked for since the reset, failed ones too
  uint64_t blocksInUse = 0;
  uint64_t bytesInUse = 0;
};
PoolStats Pool();
// Makes the n-th allocation from now fail (1 = the next one), whoever makes it:
// the driver through ExAllocatePool, the kernel for the driver (a device
// object, an interface name, an interrupt object, a power request), or the
// I/O manager for a program's open or device-control request (file object,
// buffer, request). Allocations Windows never fails at the driver's expense
// come from a reserve and are only counted: the bus driver's PDOs, the Plug
// and Play and power managers' requests, and the cleanup and close of a
// handle. 0 switches injection off.
void FailAllocationAt(uint64_t n);
// Makes every allocation from the n-th one on fail (the reserve's excepted).
void FailAllocationsFrom(uint64_t n);

// ---------------------------------------------------------------------------
// Port I/O. A port device claims a range of the 16-bit port space; accesses
// outside every claimed range read all ones and go nowhere. Every access is
// traced, claimed or not.
class PortDevice {
 public:
  virtual ~PortDevice() = default;
  // `port` is the first port of the access; `width` is 1, 2 or 4 bytes.
  virtual uint32_t Read(uint16_t port, int width) = 0;
  virtual void Write(uint16_t port, int width, uint32_t value) = 0;
};
void ClaimPorts(uint16_t first, uint32_t count, PortDevice *device);
void ReleasePorts(PortDevice *device);

struct PortAccess {
  bool write;
  int width;  // bytes
  uint16_t port;
  uint32_t value;
};
const std::vector<PortAccess> &PortTrace();

// The port ranges of a device's translated start resources, which the PnP
// manager gives it for as long as it is started (StartDevice and SendPnp do
// this). Once any range has been given out, an access with a byte outside
// every range devices hold stops the run; before, none is checked.
void AssignPorts(PDEVICE_OBJECT pdo, PCM_RESOURCE_LIST translated);
void ReleaseAssignedPorts(PDEVICE_OBJECT pdo);
void ClearPortTrace();
std::string Describe(const PortAccess &access);

// ---------------------------------------------------------------------------
// Requests. SendIrp builds a request for the device's stack as a kernel-mode
// originator would, fills its first location (`setup` may add parameters),
// calls the device and captures how it completed. It stops the run when the
// dispatch routine neither completed nor pended the request, or returned a
// status other than the one it completed with. A pended request is waited
// for; a power request goes through PoCallDriver. Without pool for the
// request nothing is sent, and the result carries
// STATUS_INSUFFICIENT_RESOURCES with `completed` false.
struct IrpResult {
  NTSTATUS returned = STATUS_PENDING;  // what IoCallDriver returned
  bool completed = false;
  bool pendingReturned = false;
  IO_STATUS_BLOCK ioStatus = {};
};
IrpResult SendIrp(PDEVICE_OBJECT device, UCHAR major, UCHAR minor,
                  const std::function<void(PIRP, PIO_STACK_LOCATION)> &setup = {});

// ---------------------------------------------------------------------------
// Simulated bus. Its driver owns the physical device objects (PDOs) handed to
// a function driver's AddDevice.
struct PdoConfig {
  // Device-instance path, as Plug and Play names the device.
  std::u16string instancePath = u"PCI\\VEN_1D5A&DEV_2400&SUBSYS_00000000&REV_01\\4&1A2B3C4D&0&0018";
  ULONG busNumber = 0;
  ULONG address = 0x00030000;  // (device << 16) | function
  bool hasBusNumber = true;    // false: the property query fails
  bool hasAddress = true;
};
PDEVICE_OBJECT CreatePdo(const PdoConfig &config);
// The device's hardware key, which IoOpenDeviceRegistryKey opens for
// PLUGPLAY_REGKEY_DEVICE and an INF's [DDInstall.HW] section writes with HKR:
// "\REGISTRY\MACHINE\SYSTEM\CurrentControlSet\Enum\<instance path>\Device Parameters".
std::string HardwareKeyPath(const PdoConfig &config);
// Removes a PDO once nothing is attached to it any more.
void DeletePdo(PDEVICE_OBJECT pdo);
// What reached the bus driver at the bottom of a stack, oldest first.
struct BusRequest {
  PDEVICE_OBJECT pdo;
  UCHAR major;
  UCHAR minor;
  PVOID arguments[4];  // Parameters.Others as the bus driver received them
};
std::vector<BusRequest> BusRequests();

// How the bus driver answers a kind of request. By default it succeeds the
// start and capabilities requests and set-power and query-power requests,
// and completes everything else (the queries, cancels, stop, surprise
// removal and removal among them) with the status the request carries, as
// a bus driver does with codes it does not handle.
struct BusReply {
  NTSTATUS status = STATUS_SUCCESS;
  ULONG_PTR information = 0;
  bool hold = false;  // pend the request until CompleteHeldRequests
};
void SetBusReply(PDEVICE_OBJECT pdo, UCHAR major, UCHAR minor, const BusReply &reply);
// Requests the bus driver pended, in arrival order.
size_t HeldRequestCount();
// Blocks until at least `count` requests are held.
void WaitForHeldRequests(size_t count);
// Completes every held request from another thread running at `irql`, with
// the reply's status, and returns once they are completed.
void CompleteHeldRequests(KIRQL irql = PASSIVE_LEVEL);
// Calls `hook` each time the bus driver succeeds a device set-power request
// for the PDO: the bus has just put the hardware into that state.
void OnDevicePower(PDEVICE_OBJECT pdo, std::function<void(DEVICE_POWER_STATE)> hook);

// ---------------------------------------------------------------------------
// Plug and Play manager. Resource lists are built as the PnP manager hands
// them to a driver: one full descriptor holding the partial descriptors.
struct Resource {
  UCHAR type = CmResourceTypeNull;
  UCHAR share = CmResourceShareDeviceExclusive;
  USHORT flags = 0;
  uint64_t start = 0;  // port and memory
  ULONG length = 0;
  ULONG level = 0;     // interrupt
  ULONG vector = 0;
  KAFFINITY affinity = 0;
};
Resource PortResource(uint64_t start, ULONG length);
Resource InterruptResource(ULONG level, ULONG vector, KAFFINITY affinity = 1);
Resource OtherResource(UCHAR type);
std::vector<uint8_t> ResourceList(const std::vector<Resource> &descriptors);
inline PCM_RESOURCE_LIST AsList(std::vector<uint8_t> &bytes) {
  return bytes.empty() ? nullptr : reinterpret_cast<PCM_RESOURCE_LIST>(bytes.data());
}

// Sends a Plug and Play request to the top of the PDO's stack, with the
// status STATUS_NOT_SUPPORTED preset as the PnP manager does. The PnP
// manager's own rules hold (docs/device-fundamentals.md): a removal request
// for a surprise-removed device while a handle of it is open stops the run,
// since the PnP manager waits for the last close; while the machine sleeps
// (between EnterSystemTransition and LeaveSystemTransition) the request
// waits until it is back in S0, as every Plug and Play operation does.
IrpResult SendPnp(PDEVICE_OBJECT pdo, UCHAR minor,
                  const std::function<void(PIRP, PIO_STACK_LOCATION)> &setup = {});
// A start request with these resource lists. Until a start has succeeded,
// the I/O manager refuses opens of the device with STATUS_NO_SUCH_DEVICE.
IrpResult StartDevice(PDEVICE_OBJECT pdo, PCM_RESOURCE_LIST raw, PCM_RESOURCE_LIST translated);
// The device is gone without warning: IRP_MN_SURPRISE_REMOVAL now, and
// IRP_MN_REMOVE_DEVICE once the last handle of the device is closed (from
// the thread whose close is the last), or at once when none is open.
// Returns the surprise removal's result.
IrpResult SurpriseRemove(PDEVICE_OBJECT pdo);
// Whether a removal is still waiting for the device's handles to close.
bool RemovalWaiting(PDEVICE_OBJECT pdo);
// Rebalance: the stop query; when it succeeds, the stop, then `whileStopped`
// (what moves with the new resources: the board's interrupt line), then a
// start with the new lists. A restart that fails is followed by a surprise
// removal [MS:handling-an-irp-mn-surprise-removal-request]. Returns the
// query's result when it was refused, otherwise the start's.
IrpResult Rebalance(PDEVICE_OBJECT pdo, PCM_RESOURCE_LIST raw, PCM_RESOURCE_LIST translated,
                    const std::function<void()> &whileStopped = {});
// The files opened on the device's stack and not yet closed.
int OpenFiles(PDEVICE_OBJECT pdo);

// ---------------------------------------------------------------------------
// Power manager.
IrpResult SendSetPower(PDEVICE_OBJECT pdo, POWER_STATE_TYPE type, POWER_STATE state);
IrpResult SendPower(PDEVICE_OBJECT pdo, UCHAR minor, POWER_STATE_TYPE type, POWER_STATE state);
inline POWER_STATE SystemState(SYSTEM_POWER_STATE s) {
  POWER_STATE state;
  state.SystemState = s;
  return state;
}
inline POWER_STATE DeviceState(DEVICE_POWER_STATE d) {
  POWER_STATE state;
  state.DeviceState = d;
  return state;
}
// The system power transitions, each entered with one system set-power
// request whose State, ShutdownType and SystemPowerStateContext (current,
// target and effective state) are those of IRP_MN_SET_POWER's table of
// system power transitions (docs/power-transitions.md).
enum class SystemTransition {
  Sleep,           // S3
  HybridSleep,     // S4 with a target of S3: sleep with a hibernation file
  Hibernate,       // S4
  HybridShutdown,  // S4 with a target of S5: "Shut down" under Fast Startup
  Shutdown,        // S5, powering off
  Restart,         // S5, resetting
};
struct SystemPowerRequest {
  SYSTEM_POWER_STATE state;
  POWER_ACTION shutdownType;
  SYSTEM_POWER_STATE current, target, effective;
};
// The request that enters a transition.
SystemPowerRequest Entering(SystemTransition transition);
// The S0 request that ends it: the wake, or after a hybrid shutdown the fast
// startup. A shutdown or restart ends in a boot, with no such request: false.
bool Leaving(SystemTransition transition, SystemPowerRequest *request);
// Sends a system set-power request to the top of the PDO's stack. Before a
// shutdown or restart the system delivers IRP_MJ_SHUTDOWN (ShutdownSystem);
// a hybrid shutdown does not.
IrpResult SendSystemPower(PDEVICE_OBJECT pdo, const SystemPowerRequest &request);
std::string Describe(SystemTransition transition);

// The machine's own power, which every board takes: a board loses it when
// the machine leaves S0 for S3, S4 or S5 and finds its registers at their
// power-on values when it returns. Only memory keeps power in S3
// [MS:irp-mn-set-power]. Listeners are told with no lock of the kernel held.
class MachinePowerListener {
 public:
  virtual ~MachinePowerListener() = default;
  virtual void MachinePowerChanged(bool on) = 0;
};
void AttachMachinePower(MachinePowerListener *listener);
void DetachMachinePower(MachinePowerListener *listener);
bool MachinePowered();

// A transition of the whole machine as Windows runs it. Its system requests
// are never sent during a Plug and Play operation: each side takes the PnP
// manager's lock of the device tree while it sends them, as SendPnp,
// StartDevice, SurpriseRemove and Rebalance do, and while the machine is
// off (from the end of entering to the start of leaving) those wait for it
// to be back in S0. Entering: before a shutdown or restart the shutdown
// requests (ShutdownSystem); the entering system request to every device
// stack, one after the other; the work they queued; then the machine's
// power goes. Leaving: power
// returns and the S0 request goes to every stack. The device requests
// drivers ask for meanwhile go out from the power manager's worker threads,
// so that an S0 request completes before its device is back in D0 (a fast
// resume); once every S0 request has gone the lock is released, and the
// device requests and work items are drained while Plug and Play goes on
// beside them [MS:irp-mn-set-power]. A shutdown or restart has no way back
// but a boot (Reboot). Each returns the system requests' results, one per
// stack.
std::vector<IrpResult> EnterSystemTransition(SystemTransition transition);
std::vector<IrpResult> LeaveSystemTransition(SystemTransition transition);

// Power requests the power manager sent for drivers (PoRequestPowerIrp), in
// order: the device, minor function and state asked for, and the status they
// completed with (STATUS_PENDING while in flight).
struct PowerRequestRecord {
  PDEVICE_OBJECT device;
  UCHAR minor;
  POWER_STATE state;
  NTSTATUS status;
};
std::vector<PowerRequestRecord> PowerRequests();
// Waits until every request the power manager queued to its worker threads
// has been delivered and every work item a driver queued has run, held ones
// included: another thread must release them (a hold nobody releases stops
// the run at the wait limit).
void DrainPowerWork();
// What a test can hold in order to act while it waits, and release later:
// a power request a driver asked for (PoRequestPowerIrp) before it reaches
// the top of the stack; such a request's callback, once the request has
// completed; a work item before its routine runs. While held, each goes to
// a worker thread and waits there; released, they go on. A machine reset
// releases them all.
enum class PowerWork { Request, Callback, WorkItem };
void HoldPowerWork(PowerWork what, bool hold);
// How many wait at that point now, and a wait until at least `count` do.
size_t HeldPowerWork(PowerWork what);
void WaitForHeldPowerWork(PowerWork what, size_t count);

// ---------------------------------------------------------------------------
// Interrupts, as a PC delivers them. A device drives the line of a vector;
// several may share one line, which is asserted while any of them asserts it
// (a PCI line is wired-OR). A line is masked while no service routine is
// connected to its vector. The connected routines' mode decides delivery:
//  - Latched (ISA): one interrupt per rising edge of the line.
//  - LevelSensitive (PCI, shared): delivered again and again while the line
//    is asserted. Each delivery runs the connected service routines in the
//    order they were connected, each at its IRQL under its interrupt lock,
//    until one claims it. A line that stays asserted through
//    kInterruptStormDeliveries deliveries in a row, claimed or not, stops the
//    run with HARDWARE_INTERRUPT_STORM: a routine that claims an interrupt
//    without quieting its device, or an asserted line nobody claims.
// IoDisconnectInterrupt of a level-sensitive interrupt stops the run while
// its line is asserted: the device must be quiet first. (The stand-in cannot
// tell which device of a shared line asserts it; a test keeps other devices
// quiet while a driver disconnects.)
constexpr ULONG HARDWARE_INTERRUPT_STORM = 0xF2;
constexpr int kInterruptStormDeliveries = 64;

class InterruptSource {
 public:
  virtual ~InterruptSource() = default;
  // Whether the device asserts its interrupt line now. Called by the kernel,
  // which never holds one of the device's own locks while it calls.
  virtual bool InterruptAsserted() const = 0;
};
// Puts a device on a vector's line, or takes it off all lines (after which
// the kernel no longer calls it).
void AttachInterruptSource(ULONG vector, InterruptSource *source);
void DetachInterruptSource(InterruptSource *source);
// A device tells the kernel, holding none of its locks, each time the level
// of its line may have changed.
void InterruptLineChanged(ULONG vector);

// One delivery on a vector now, whatever its line: a spurious interrupt, or
// one from a device that has no line of its own here. Runs the connected
// routines on the calling thread until one claims it; returns whether one did.
bool RaiseInterrupt(ULONG vector);
struct InterruptInfo {
  ULONG vector;
  KIRQL irql;
  KINTERRUPT_MODE mode;
  bool shared;
  KAFFINITY affinity;
};
std::vector<InterruptInfo> ConnectedInterrupts();
// While held, lines change but nothing is delivered, as if every processor
// ran at or above the interrupts' IRQL; releasing delivers what is pending.
void HoldInterrupts(bool hold);

// DPCs run as soon as the IRQL drops below DISPATCH_LEVEL. While held they
// stay queued, so a test can raise several interrupts before they run;
// KeFlushQueuedDpcs runs them all the same.
void HoldDpcs(bool hold);
void RunDpcs();
size_t QueuedDpcCount();

// Processors. By default interrupts and DPCs run inline, for deterministic
// tests: an interrupt on the thread whose port access or line change raises
// it (once its IRQL is below the interrupt's), a DPC on the thread whose IRQL
// drops below DISPATCH_LEVEL. With processor threads, interrupts are
// delivered on a thread of their own and DPCs run on another, concurrently
// with the threads that send requests, as on a multiprocessor PC.
// ResetMachine returns to inline delivery.
void UseProcessorThreads(bool use);

// Runs `action` once, on the calling thread, the next time a driver enters
// `routine` ("IoConnectInterrupt", "IoDisconnectInterrupt",
// "KeSynchronizeExecution", "KeFlushQueuedDpcs", "KeEnterCriticalRegion" or
// "__outbyte", a byte written to a port), before the routine does
// anything, or the next time a program's device-control request has taken
// its reference on the file and is about to reach the driver
// ("NtDeviceIoControlFile"), or a program's open has resolved the device's
// path and its create is about to reach the driver ("NtCreateFile"): for
// tests that need another processor to act at that moment.
void AtNextEntry(const std::string &routine, std::function<void()> action);
// Threads waiting, without a time limit, in KeWaitForSingleObject now, or
// for a request of theirs that is pending.
size_t BlockedThreadCount();

// ---------------------------------------------------------------------------
// Loader. Runs DriverEntry at PASSIVE_LEVEL with the service key path, as the
// I/O manager does when it loads a driver, and lets tests call the driver's
// AddDevice for a PDO of the simulated bus.
PDRIVER_OBJECT LoadDriver(PDRIVER_INITIALIZE entry, const std::u16string &serviceKeyPath,
                          NTSTATUS *status);
NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);
// Calls DriverUnload (when set) and frees the driver object. Fails the run if
// the driver still owns device objects.
void UnloadDriver(PDRIVER_OBJECT driver);

// ---------------------------------------------------------------------------
// What the I/O manager and power manager keep, for tests to look at.
struct InterfaceInfo {
  std::u16string symbolicLink;  // "\??\..."
  PDEVICE_OBJECT pdo;
  bool enabled;
};
std::vector<InterfaceInfo> Interfaces();
// Registrations for IRP_MJ_SHUTDOWN, most recent first; a device appears once
// per registration.
std::vector<PDEVICE_OBJECT> ShutdownRegistrations();
// The device power state last reported with PoSetPowerState, or
// PowerDeviceUnspecified when none was.
DEVICE_POWER_STATE ReportedPowerState(PDEVICE_OBJECT device);
// Device objects of a driver, newest first.
std::vector<PDEVICE_OBJECT> DevicesOf(PDRIVER_OBJECT driver);

// ---------------------------------------------------------------------------
// The System event log: the entries drivers wrote (IoWriteErrorLogEntry),
// oldest first, as the event log service receives them (errorlog.cpp). It
// lasts across a Reboot, as the log file does; ResetMachine empties it.
struct ErrorLogRecord {
  PDEVICE_OBJECT device;  // null for an entry of a driver object
  PDRIVER_OBJECT driver;
  NTSTATUS errorCode;     // the message's number
  NTSTATUS finalStatus;
  ULONG uniqueErrorValue;
  UCHAR majorFunction;
  std::vector<ULONG> dumpData;
  std::vector<std::u16string> strings;  // the insertion strings, %2 on
};
std::vector<ErrorLogRecord> ErrorLog();

// ---------------------------------------------------------------------------
// The kernel debugger's output: the messages drivers sent (DbgPrintEx,
// KdPrintEx), oldest first, each as the debugger receives it
// (debugprint.cpp). ResetMachine and Reboot empty it.
struct DebugMessage {
  ULONG component;
  ULONG level;
  std::string text;
};
std::vector<DebugMessage> DebugMessages();

// ---------------------------------------------------------------------------
// Text helpers for tests and the simulator.
std::u16string Text(PCUNICODE_STRING string);
std::string Utf8(const std::u16string &text);

}  // namespace hostk
