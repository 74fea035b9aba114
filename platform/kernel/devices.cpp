// Device objects, device stacks, the simulated bus's PDOs and their
// properties, device interfaces, shutdown registrations and reported power
// states.
#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

#include "devices.h"
#include "registry_store.h"

namespace hostk {
namespace {

struct DeviceRecord {
  bool isPdo = false;
  PdoConfig pdo;                      // for PDOs
  PDEVICE_OBJECT attachedTo = nullptr;  // the lower device this one sits on
  DEVICE_POWER_STATE reportedPower = PowerDeviceUnspecified;
  // For PDOs, what the PnP manager knows of the device on them.
  bool started = false;          // a start has succeeded since it was added
  bool surpriseRemoved = false;  // its removal waits for the last close
  int openFiles = 0;
};

struct Interface {
  std::u16string link;
  PDEVICE_OBJECT pdo;
  bool enabled;
};

struct ShutdownEntry {
  PDEVICE_OBJECT device;
  void *block;  // the kernel's pool block for the entry
};

struct Devices {
  std::recursive_mutex mutex;
  std::map<PDEVICE_OBJECT, DeviceRecord> records;
  std::map<PDEVICE_OBJECT, int> references;  // held by work items
  std::vector<PDEVICE_OBJECT> deletedReferenced;  // deleted, freed at the last reference
  std::vector<Interface> interfaces;
  std::vector<ShutdownEntry> shutdown;  // most recent first
};

Devices &State() {
  static Devices state;
  return state;
}

constexpr CSHORT kIoTypeDevice = 3;
constexpr ULONG kShutdownEntryTag = 0x74756853;  // "Shut"

DeviceRecord *RecordOf(PDEVICE_OBJECT device) {
  auto it = State().records.find(device);
  return it == State().records.end() ? nullptr : &it->second;
}

std::u16string GuidText(const GUID &guid) {
  char text[40];
  snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1,
           guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
           guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  std::u16string out;
  for (const char *p = text; *p; ++p) out.push_back(char16_t(*p));
  return out;
}

std::string Name(PDEVICE_OBJECT device) {
  char text[64];
  snprintf(text, sizeof text, "device object %p", static_cast<void *>(device));
  return text;
}

void FreeDevice(PDEVICE_OBJECT device) { FreeSystem(device, 0); }

}  // namespace

PDEVICE_OBJECT CreatePdo(const PdoConfig &config) {
  Devices &state = State();
  std::lock_guard<std::recursive_mutex> hold(state.mutex);
  PDEVICE_OBJECT pdo = nullptr;
  PoolReserve reserve;
  NTSTATUS status = IoCreateDevice(BusDriver(), 0, nullptr, FILE_DEVICE_BUS_EXTENDER,
                                   FILE_DEVICE_SECURE_OPEN, FALSE, &pdo);
  if (!NT_SUCCESS(status)) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "no pool for a PDO");
  pdo->Flags |= DO_BUS_ENUMERATED_DEVICE;
  pdo->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
  DeviceRecord &record = state.records[pdo];
  record.isPdo = true;
  record.pdo = config;
  return pdo;
}

std::string HardwareKeyPath(const PdoConfig &config) {
  return "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" + Utf8(config.instancePath) +
         "\\Device Parameters";
}

void DeletePdo(PDEVICE_OBJECT pdo) {
  Devices &state = State();
  std::lock_guard<std::recursive_mutex> hold(state.mutex);
  DeviceRecord *record = RecordOf(pdo);
  if (!record || !record->isPdo) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "DeletePdo of a non-PDO");
  if (pdo->AttachedDevice) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "PDO deleted while a function driver is still attached to it");
  }
  auto &list = state.interfaces;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [pdo](const Interface &i) { return i.pdo == pdo; }),
             list.end());
  IoDeleteDevice(pdo);
}

bool IsPdo(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  DeviceRecord *record = RecordOf(device);
  return record && record->isPdo;
}

PdoConfig ConfigOf(PDEVICE_OBJECT pdo) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  DeviceRecord *record = RecordOf(pdo);
  return record ? record->pdo : PdoConfig{};
}

PDEVICE_OBJECT LowerDeviceOf(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  DeviceRecord *record = RecordOf(device);
  return record ? record->attachedTo : nullptr;
}

std::vector<PDEVICE_OBJECT> PdosWithStacks() {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  std::vector<PDEVICE_OBJECT> out;
  for (const auto &entry : State().records)
    if (entry.second.isPdo && entry.first->AttachedDevice) out.push_back(entry.first);
  return out;
}

namespace {

DeviceRecord &PdoRecord(PDEVICE_OBJECT pdo) {
  DeviceRecord *record = RecordOf(pdo);
  if (!record || !record->isPdo) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "not a PDO");
  return *record;
}

}  // namespace

bool HasStarted(PDEVICE_OBJECT pdo) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  return PdoRecord(pdo).started;
}

void NoteStarted(PDEVICE_OBJECT pdo) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  PdoRecord(pdo).started = true;
}

void NoteSurpriseRemoved(PDEVICE_OBJECT pdo) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  PdoRecord(pdo).surpriseRemoved = true;
}

bool SurpriseRemoved(PDEVICE_OBJECT pdo) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  return PdoRecord(pdo).surpriseRemoved;
}

// The device node goes back to its first state: a new function device may
// be added and started on the PDO.
void NoteRemoved(PDEVICE_OBJECT pdo) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  DeviceRecord &record = PdoRecord(pdo);
  record.started = false;
  record.surpriseRemoved = false;
}

bool NoteFileOpened(PDEVICE_OBJECT pdo) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  DeviceRecord &record = PdoRecord(pdo);
  if (!record.started || (record.surpriseRemoved && record.openFiles == 0)) return false;
  ++record.openFiles;
  return true;
}

bool NoteFileClosed(PDEVICE_OBJECT pdo) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  DeviceRecord &record = PdoRecord(pdo);
  return --record.openFiles == 0 && record.surpriseRemoved && pdo->AttachedDevice;
}

int OpenFiles(PDEVICE_OBJECT pdo) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  return PdoRecord(pdo).openFiles;
}

std::vector<InterfaceInfo> Interfaces() {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  std::vector<InterfaceInfo> out;
  for (const auto &i : State().interfaces) out.push_back(InterfaceInfo{i.link, i.pdo, i.enabled});
  return out;
}

std::vector<PDEVICE_OBJECT> ShutdownRegistrations() {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  std::vector<PDEVICE_OBJECT> out;
  for (const auto &entry : State().shutdown) out.push_back(entry.device);
  return out;
}

DEVICE_POWER_STATE ReportedPowerState(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  DeviceRecord *record = RecordOf(device);
  return record ? record->reportedPower : PowerDeviceUnspecified;
}

std::vector<PDEVICE_OBJECT> DevicesOf(PDRIVER_OBJECT driver) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  std::vector<PDEVICE_OBJECT> out;
  for (PDEVICE_OBJECT d = driver->DeviceObject; d; d = d->NextDevice) out.push_back(d);
  return out;
}

void ReferenceDevice(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  ++State().references[device];
}

void DereferenceDevice(PDEVICE_OBJECT device) {
  Devices &state = State();
  std::lock_guard<std::recursive_mutex> hold(state.mutex);
  auto it = state.references.find(device);
  if (it == state.references.end()) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "device dereferenced too often");
  if (--it->second > 0) return;
  state.references.erase(it);
  auto &deleted = state.deletedReferenced;
  auto gone = std::find(deleted.begin(), deleted.end(), device);
  if (gone != deleted.end()) {
    deleted.erase(gone);
    FreeDevice(device);
  }
}

void ListDeviceLeaks(std::vector<std::string> *out) {
  Devices &state = State();
  std::lock_guard<std::recursive_mutex> hold(state.mutex);
  for (PDEVICE_OBJECT device : state.deletedReferenced)
    out->push_back(Name(device) + " deleted but still referenced");
  for (const auto &entry : state.records) {
    out->push_back(std::string(entry.second.isPdo ? "PDO " : "") + Name(entry.first) +
                   " not deleted");
  }
  for (const auto &entry : state.shutdown)
    out->push_back("shutdown registration of " + Name(entry.device) + " not removed");
  for (const auto &i : state.interfaces)
    if (i.enabled) out->push_back("interface " + Utf8(i.link) + " left enabled");
}

void ResetDevices() {
  Devices &state = State();
  std::lock_guard<std::recursive_mutex> hold(state.mutex);
  state.records.clear();
  state.interfaces.clear();
  state.shutdown.clear();
  state.references.clear();
  state.deletedReferenced.clear();
}

}  // namespace hostk

using namespace hostk;

extern "C" {

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                        ULONG type, ULONG characteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT *deviceObject) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoCreateDevice");
  *deviceObject = nullptr;
  if (name) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "named device objects are not simulated");
  }
  size_t extension = (size_t(extensionSize) + 7) & ~size_t(7);
  size_t size = sizeof(DEVICE_OBJECT) + extension;
  auto *device = static_cast<PDEVICE_OBJECT>(AllocateSystem(NonPagedPool, size, 0));
  if (!device) return STATUS_INSUFFICIENT_RESOURCES;
  memset(device, 0, size);
  device->Type = kIoTypeDevice;
  device->Size = USHORT(size);
  device->DriverObject = driver;
  device->DeviceExtension = extensionSize ? device + 1 : nullptr;
  device->DeviceType = type;
  device->Characteristics = characteristics;
  device->StackSize = 1;
  device->Flags = DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0);
  device->DeviceQueue.DeviceListHead.Flink = device->DeviceQueue.DeviceListHead.Blink =
      &device->DeviceQueue.DeviceListHead;

  Devices &state = State();
  std::lock_guard<std::recursive_mutex> hold(state.mutex);
  state.records[device] = DeviceRecord{};
  device->NextDevice = driver->DeviceObject;
  driver->DeviceObject = device;
  *deviceObject = device;
  return STATUS_SUCCESS;
}

VOID IoDeleteDevice(PDEVICE_OBJECT device) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoDeleteDevice");
  // The device object's memory goes: nothing may still use it.
  if (DpcPendingWithin(device, device->Size)) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "IoDeleteDevice of a device whose DPC is still queued or running");
  }
  if (InterruptContextWithin(device, device->Size)) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "IoDeleteDevice of a device that is the service context of a connected interrupt");
  }
  Devices &state = State();
  std::lock_guard<std::recursive_mutex> hold(state.mutex);
  DeviceRecord *record = RecordOf(device);
  if (!record) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "IoDeleteDevice of an unknown object");
  if (record->attachedTo) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "IoDeleteDevice of a device still attached to a lower device (IoDetachDevice first)");
  }
  if (device->AttachedDevice) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "IoDeleteDevice of a device with another device attached above it");
  }
  if (device->Flags & DO_SHUTDOWN_REGISTERED) IoUnregisterShutdownNotification(device);
  PDEVICE_OBJECT *link = &device->DriverObject->DeviceObject;
  while (*link && *link != device) link = &(*link)->NextDevice;
  if (*link) *link = device->NextDevice;
  state.records.erase(device);
  // A work item's reference keeps the memory until its routine returns.
  if (state.references.count(device)) {
    state.deletedReferenced.push_back(device);
  } else {
    FreeDevice(device);
  }
}

PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  while (device->AttachedDevice) device = device->AttachedDevice;
  return device;
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoAttachDeviceToDeviceStack");
  Devices &state = State();
  std::lock_guard<std::recursive_mutex> hold(state.mutex);
  DeviceRecord *record = RecordOf(source);
  if (!record || !RecordOf(target)) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "IoAttachDeviceToDeviceStack of unknown objects");
  }
  if (record->attachedTo) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "a device object attached twice");
  }
  PDEVICE_OBJECT top = IoGetAttachedDevice(target);
  if (top->Flags & DO_DEVICE_INITIALIZING) return nullptr;
  top->AttachedDevice = source;
  source->StackSize = CHAR(top->StackSize + 1);
  source->AlignmentRequirement = top->AlignmentRequirement;
  source->SectorSize = top->SectorSize;
  record->attachedTo = top;
  return top;
}

VOID IoDetachDevice(PDEVICE_OBJECT lower) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoDetachDevice");
  Devices &state = State();
  std::lock_guard<std::recursive_mutex> hold(state.mutex);
  PDEVICE_OBJECT upper = lower->AttachedDevice;
  DeviceRecord *record = upper ? RecordOf(upper) : nullptr;
  if (!record || record->attachedTo != lower) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "IoDetachDevice of a device with nothing attached (pass the lower device)");
  }
  lower->AttachedDevice = nullptr;
  record->attachedTo = nullptr;
}

NTSTATUS IoGetDeviceProperty(PDEVICE_OBJECT device, DEVICE_REGISTRY_PROPERTY property,
                             ULONG bufferLength, PVOID buffer, PULONG resultLength) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoGetDeviceProperty");
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  DeviceRecord *record = RecordOf(device);
  if (!record || !record->isPdo) return STATUS_INVALID_DEVICE_REQUEST;
  ULONG value;
  switch (property) {
    case DevicePropertyBusNumber:
      if (!record->pdo.hasBusNumber) return STATUS_OBJECT_NAME_NOT_FOUND;
      value = record->pdo.busNumber;
      break;
    case DevicePropertyAddress:
      if (!record->pdo.hasAddress) return STATUS_OBJECT_NAME_NOT_FOUND;
      value = record->pdo.address;
      break;
    default:
      return STATUS_INVALID_PARAMETER_2;
  }
  *resultLength = sizeof value;
  if (bufferLength < sizeof value) return STATUS_BUFFER_TOO_SMALL;
  memcpy(buffer, &value, sizeof value);
  return STATUS_SUCCESS;
}

// The hardware key of the PDO's device [MS:nf-wdm-ioopendeviceregistrykey]:
// the "Device Parameters" subkey of its instance key, made at the first open
// (the instance key exists from the device's enumeration on). One of the
// hardware and the software key must be named, not both; a device object
// that is not a PDO stops the run as Windows stops it (PNP_DETECTED_FATAL_ERROR,
// "Invalid PDO"). The caller closes the handle, which grants what it asked for.
NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT device, ULONG keyType, ACCESS_MASK access, PHANDLE key) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoOpenDeviceRegistryKey");
  PdoConfig config;
  {
    std::lock_guard<std::recursive_mutex> hold(State().mutex);
    DeviceRecord *record = RecordOf(device);
    if (!record || !record->isPdo) {
      BugCheck(PNP_DETECTED_FATAL_ERROR, "IoOpenDeviceRegistryKey of " + Name(device) + ", which is not a PDO");
    }
    config = record->pdo;
  }
  const ULONG known = PLUGPLAY_REGKEY_DEVICE | PLUGPLAY_REGKEY_DRIVER | PLUGPLAY_REGKEY_CURRENT_HWPROFILE;
  ULONG kind = keyType & (PLUGPLAY_REGKEY_DEVICE | PLUGPLAY_REGKEY_DRIVER);
  if ((keyType & ~known) || kind == 0 || kind == (PLUGPLAY_REGKEY_DEVICE | PLUGPLAY_REGKEY_DRIVER))
    return STATUS_INVALID_PARAMETER;
  if (keyType != PLUGPLAY_REGKEY_DEVICE) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "IoOpenDeviceRegistryKey: only the hardware key of the current configuration is simulated");
  }
  std::string path = HardwareKeyPath(config);
  hostreg::Make(path.substr(0, path.rfind('\\')));
  std::u16string wide = hostreg::FromUtf8(path);
  UNICODE_STRING name;
  name.Buffer = reinterpret_cast<PWSTR>(&wide[0]);
  name.Length = name.MaximumLength = USHORT(wide.size() * sizeof(WCHAR));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  return ZwCreateKey(key, access, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE, nullptr);
}

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT pdo, const GUID *classGuid,
                                   PUNICODE_STRING referenceString,
                                   PUNICODE_STRING symbolicLinkName) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoRegisterDeviceInterface");
  Devices &state = State();
  std::lock_guard<std::recursive_mutex> hold(state.mutex);
  DeviceRecord *record = RecordOf(pdo);
  if (!record || !record->isPdo) return STATUS_INVALID_DEVICE_REQUEST;
  std::u16string reference = Text(referenceString);
  if (reference.find_first_of(u"\\/") != std::u16string::npos) return STATUS_INVALID_DEVICE_REQUEST;

  // "\??\" + the instance path with '#' for '\' + "#{class}" [+ "\" + reference]
  std::u16string link = u"\\??\\" + record->pdo.instancePath + u"#" + GuidText(*classGuid);
  std::replace(link.begin() + 4, link.end(), u'\\', u'#');
  if (!reference.empty()) link += u"\\" + reference;

  size_t bytes = (link.size() + 1) * sizeof(WCHAR);
  auto *buffer = static_cast<PWSTR>(AllocateSystem(PagedPool, bytes, 0));
  if (!buffer) return STATUS_INSUFFICIENT_RESOURCES;
  for (size_t i = 0; i < link.size(); ++i) buffer[i] = link[i];
  buffer[link.size()] = 0;
  symbolicLinkName->Buffer = buffer;
  symbolicLinkName->Length = USHORT(link.size() * sizeof(WCHAR));
  symbolicLinkName->MaximumLength = USHORT(bytes);

  for (const auto &i : state.interfaces)
    if (hostreg::EqualNoCase(i.link, link)) return STATUS_SUCCESS;  // registered before
  state.interfaces.push_back(Interface{link, pdo, false});
  return STATUS_SUCCESS;
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING symbolicLinkName, BOOLEAN enable) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoSetDeviceInterfaceState");
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  std::u16string link = Text(symbolicLinkName);
  for (auto &i : State().interfaces) {
    if (!hostreg::EqualNoCase(i.link, link)) continue;
    if (enable && i.enabled) return STATUS_OBJECT_NAME_EXISTS;
    // Windows reports STATUS_OBJECT_NAME_NOT_FOUND, and forbids it: a driver
    // that disabled an interface at surprise removal must not disable it
    // again at removal.
    if (!enable && !i.enabled) {
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
               "IoSetDeviceInterfaceState disables interface " + Utf8(link) + ", which is not enabled");
    }
    i.enabled = enable != 0;
    return STATUS_SUCCESS;
  }
  return STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS IoRegisterShutdownNotification(PDEVICE_OBJECT device) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoRegisterShutdownNotification");
  void *block = AllocateSystem(NonPagedPool, 32, kShutdownEntryTag);
  if (!block) return STATUS_INSUFFICIENT_RESOURCES;
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  auto &list = State().shutdown;
  list.insert(list.begin(), ShutdownEntry{device, block});
  device->Flags |= DO_SHUTDOWN_REGISTERED;
  return STATUS_SUCCESS;
}

VOID IoUnregisterShutdownNotification(PDEVICE_OBJECT device) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoUnregisterShutdownNotification");
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  auto &list = State().shutdown;
  for (auto it = list.begin(); it != list.end();) {
    if (it->device == device) {
      FreeSystem(it->block, kShutdownEntryTag);
      it = list.erase(it);
    } else {
      ++it;
    }
  }
  device->Flags &= ~ULONG(DO_SHUTDOWN_REGISTERED);
}

POWER_STATE PoSetPowerState(PDEVICE_OBJECT device, POWER_STATE_TYPE type, POWER_STATE state) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "PoSetPowerState");
  std::lock_guard<std::recursive_mutex> hold(State().mutex);
  DeviceRecord *record = RecordOf(device);
  if (!record) BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "PoSetPowerState of an unknown object");
  POWER_STATE previous;
  previous.DeviceState = record->reportedPower;
  if (type == DevicePowerState) record->reportedPower = state.DeviceState;
  return previous;
}

}  // extern "C"
