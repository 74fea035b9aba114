// The machine as a whole: loading drivers, the simulated bus driver, and the
// balance sheet a test checks when it ends.
#include <algorithm>
#include <mutex>
#include <vector>

#include "../registry/registry_store.h"
#include "devices.h"

namespace hostk {
namespace {

struct LoadedDriver {
  PDRIVER_OBJECT object;
  DRIVER_EXTENSION extension;
  std::u16string serviceKey;  // keeps the registry path's buffer alive
};

std::recursive_mutex driversMutex;
std::vector<LoadedDriver *> drivers;
LoadedDriver *busDriver = nullptr;

// Entries of a driver object that its DriverEntry did not fill.
NTSTATUS InvalidDeviceRequest(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

LoadedDriver *NewDriverObject(const std::u16string &serviceKey) {
  auto *driver = new LoadedDriver{};
  driver->object = new DRIVER_OBJECT{};
  driver->serviceKey = serviceKey;
  driver->object->Type = 4;
  driver->object->Size = sizeof(DRIVER_OBJECT);
  driver->object->DriverExtension = &driver->extension;
  driver->extension.DriverObject = driver->object;
  for (auto &entry : driver->object->MajorFunction) entry = InvalidDeviceRequest;
  return driver;
}

void FreeDriverObject(LoadedDriver *driver) {
  delete driver->object;
  delete driver;
}

}  // namespace

PDRIVER_OBJECT BusDriver() {
  std::lock_guard<std::recursive_mutex> hold(driversMutex);
  if (!busDriver) {
    busDriver = NewDriverObject(u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\simbus");
    for (auto &entry : busDriver->object->MajorFunction) entry = BusDispatch;
  }
  return busDriver->object;
}

PDRIVER_OBJECT LoadDriver(PDRIVER_INITIALIZE entry, const std::u16string &serviceKeyPath,
                          NTSTATUS *status) {
  LoadedDriver *driver = NewDriverObject(serviceKeyPath);
  UNICODE_STRING path;
  path.Buffer = reinterpret_cast<PWSTR>(&driver->serviceKey[0]);
  path.Length = USHORT(serviceKeyPath.size() * sizeof(WCHAR));
  path.MaximumLength = path.Length;
  RequireIrqlAtMost(PASSIVE_LEVEL, "LoadDriver");
  NTSTATUS result = entry(driver->object, &path);
  if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
    BugCheck(IRQL_NOT_LESS_OR_EQUAL, "DriverEntry returned above PASSIVE_LEVEL");
  }
  if (status) *status = result;
  if (!NT_SUCCESS(result)) {
    // A driver whose entry fails is unloaded without its unload routine.
    if (driver->object->DeviceObject) {
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "DriverEntry failed and left device objects");
    }
    FreeDriverObject(driver);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> hold(driversMutex);
  drivers.push_back(driver);
  return driver->object;
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  if (!IsPdo(pdo)) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "AddDevice needs a PDO");
  PDRIVER_ADD_DEVICE addDevice = driver->DriverExtension->AddDevice;
  if (!addDevice) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "the driver has no AddDevice");
  NTSTATUS status = addDevice(driver, pdo);
  if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
    BugCheck(IRQL_NOT_LESS_OR_EQUAL, "AddDevice returned above PASSIVE_LEVEL");
  }
  if (NT_SUCCESS(status)) {
    PDEVICE_OBJECT top = IoGetAttachedDevice(pdo);
    if (top->DriverObject == driver && (top->Flags & DO_DEVICE_INITIALIZING)) {
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
               "AddDevice returned with DO_DEVICE_INITIALIZING still set");
    }
  }
  return status;
}

void UnloadDriver(PDRIVER_OBJECT object) {
  // The system unloads a driver only once no work item of it is left.
  DrainPowerWork();
  std::lock_guard<std::recursive_mutex> hold(driversMutex);
  auto it = std::find_if(drivers.begin(), drivers.end(),
                         [object](LoadedDriver *d) { return d->object == object; });
  if (it == drivers.end()) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "UnloadDriver of an unknown driver");
  if (object->DeviceObject) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "driver unloaded while it still owns device objects");
  }
  if (object->DriverUnload) object->DriverUnload(object);
  FreeDriverObject(*it);
  drivers.erase(it);
}

std::vector<std::string> Outstanding() {
  std::vector<std::string> out;
  {
    std::lock_guard<std::recursive_mutex> hold(driversMutex);
    for (LoadedDriver *driver : drivers)
      out.push_back("driver " + Utf8(driver->serviceKey) + " still loaded");
  }
  ListProcessLeaks(&out);
  ListDeviceLeaks(&out);
  ListIrpLeaks(&out);
  ListInterruptLeaks(&out);
  ListErrorLogLeaks(&out);
  ListHandleLeaks(&out);
  ListPoolLeaks(&out);
  return out;
}

void ResetDrivers() {
  std::lock_guard<std::recursive_mutex> hold(driversMutex);
  for (LoadedDriver *driver : drivers) FreeDriverObject(driver);
  drivers.clear();
  if (busDriver) FreeDriverObject(busDriver);
  busDriver = nullptr;
}

namespace {

void ResetAllButRegistry(bool keepErrorLog) {
  // The processor threads stop first: nothing runs behind the reset.
  ResetInterrupts();
  ResetDpcs();
  ResetEntryHooks();
  ResetProcesses();
  ResetWorkItems();
  ResetPower();
  ResetBus();
  ResetDrivers();
  ResetErrorLog(keepErrorLog);
  ResetDebugMessages();
  ResetDevices();
  ResetIrps();
  ResetHandles();
  ResetPorts();
  ResetPool();
}

}  // namespace

void ResetMachine() {
  ResetAllButRegistry(false);
  hostreg::Reset();
}

void Reboot() { ResetAllButRegistry(true); }

}  // namespace hostk
