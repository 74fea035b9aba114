// Internal to the kernel stand-in: how its parts reach one another.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host_kernel.h"

namespace hostk {

// Pool blocks made by the kernel on a driver's behalf count like the driver's.
void *AllocateSystem(POOL_TYPE type, size_t bytes, ULONG tag);
void FreeSystem(void *p, ULONG tag);
// While one lives on a thread, its allocations come from a reserve that
// failure injection never empties; they are counted all the same. For what
// the components around the driver make and Windows never fails at the
// driver's expense: the bus driver's PDOs, the Plug and Play and power
// managers' requests, and the cleanup and close of a handle (the I/O manager
// allocates those as must-succeed).
class PoolReserve {
 public:
  explicit PoolReserve(bool active = true);
  ~PoolReserve();
  PoolReserve(const PoolReserve &) = delete;
  PoolReserve &operator=(const PoolReserve &) = delete;

 private:
  bool active_;
};
// Sends a request as SendIrp does, its IRP taken from the reserve when
// `fromReserve`. `track`, when given, is told of the IRP (true) before it is
// sent and (false) before it is freed, so that it can be cancelled between.
IrpResult SendRequest(PDEVICE_OBJECT device, UCHAR major, UCHAR minor,
                      const std::function<void(PIRP, PIO_STACK_LOCATION)> &setup, bool fromReserve,
                      const std::function<void(PIRP, bool)> &track = {});

// Each part lists what it still holds and forgets it on a reset.
void ListPoolLeaks(std::vector<std::string> *out);
void ListHandleLeaks(std::vector<std::string> *out);
void ListDeviceLeaks(std::vector<std::string> *out);
void ListIrpLeaks(std::vector<std::string> *out);
void ResetPool();
void ResetHandles();
void ResetDevices();
void ResetPorts();
void ResetIrps();
void ResetBus();
void ResetPower();
void ResetInterrupts();
void ResetProcesses();
void ResetDpcs();
// Runs the queued DPCs at DISPATCH_LEVEL unless they are held.
void RunPendingDpcs();
// Spin locks the calling thread holds.
int SpinLocksHeld();
// KeEnterCriticalRegion nesting of the calling thread.
int CriticalRegionDepth();
// Runs the test's action for a routine's entry, if one is set (AtNextEntry).
void RunEntryHook(const char *routine);
void ResetEntryHooks();
// Delivers interrupts that waited for the calling thread's IRQL to drop.
void DeliverDeferredInterrupts();
// The device object's memory [begin, begin + bytes) holds a DPC that is queued
// or running, or is the service context of a connected interrupt.
bool DpcPendingWithin(const void *begin, size_t bytes);
bool InterruptContextWithin(const void *begin, size_t bytes);
// Stops the processor threads of the interrupts and of the DPCs.
void StopInterruptThread();
void StopDpcThread();
void StartDpcThread();
// Error log entries (errorlog.cpp): those allocated and neither written nor
// freed; a reset drops them, and the written ones unless `keepWritten`.
void ListErrorLogLeaks(std::vector<std::string> *out);
void ResetErrorLog(bool keepWritten);
void ResetDebugMessages();
void ListProcessLeaks(std::vector<std::string> *out);
void ListInterruptLeaks(std::vector<std::string> *out);
void ResetDrivers();
// Work items (workitems.cpp): waits until every queued one has run.
void DrainWorkItems();
void ResetWorkItems();
// The holds of HoldPowerWork (power.cpp): work at that point waits here
// while it is held. ReleasePowerWork lets everything go, for a reset.
void PassPowerWork(PowerWork what);
void ReleasePowerWork();
// A reference on a device object (a queued or running work item holds one):
// IoDeleteDevice frees the object only once the last one is dropped.
void ReferenceDevice(PDEVICE_OBJECT device);
void DereferenceDevice(PDEVICE_OBJECT device);

// Blocks until `done`, evaluated under the dispatcher lock, is true; woken
// by NotifyWaiters and by every event set.
void WaitUntil(const std::function<bool()> &done);
// As WaitUntil, for a thread that waits for its pended request: it counts
// as a thread blocked in the kernel (BlockedThreadCount) meanwhile.
void WaitForCompletion(const std::function<bool()> &done);
// As WaitUntil, but gives up after `milliseconds`: false when `done` never
// held.
bool WaitUntilFor(const std::function<bool()> &done, unsigned milliseconds);
// Makes `change` (if any) under the dispatcher lock, then wakes the waiters.
void NotifyWaiters(const std::function<void()> &change = {});

// The device whose dispatch routine is handling `irp` on this thread, or
// none when the request is not inside a dispatch routine here.
PDEVICE_OBJECT DispatchingDevice(PIRP irp);
// Power bookkeeping of the verifier (power.cpp).
void CheckPowerPassedDown(PIRP irp);
void CheckPowerLeft(PIRP irp, PIO_STACK_LOCATION location);
void ForgetPowerIrp(PIRP irp);
// Whether PoCallDriver is passing `irp` on this thread; the answer is given
// once, to the IofCallDriver call it makes.
bool TakePoCall(PIRP irp);

// The text of a wide string that may lack its terminator.
std::u16string TextOf(const WCHAR *text, size_t characters);
// Length in characters of a terminated wide string.
size_t WideLength(const WCHAR *text);

}  // namespace hostk
