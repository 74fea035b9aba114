// The driver's registry layout (dio_registry.h): the board model in the
// service key, the DeviceNNN subkeys and the device map written at start, and
// the DO settings read at start. Every routine frees what it allocates and
// closes what it opens on every path.
#include "driver.h"

// Room for the longest key path built here: the service or device-map key,
// a DeviceNNN name or "DO", and a terminator.
#define DIO_PATH_BYTES 256

// A full value record's fixed part with a few bytes of data to spare.
#define DIO_QUERY_SLACK 28

static const WCHAR kDriverName[] = L"" DIO_DATA_LIBRARY;
static const WCHAR kServiceKernelKey[] = L"" DIO_DATA_KERNEL_KEY;
static const WCHAR kMapKernelKey[] = L"" DIO_SERVICE_NAME;
static const ULONG kAllowConflicts = 1;

// One zero-filled block: the header, then a buffer of `capacity` bytes.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
PUNICODE_STRING AllocateCountedString(USHORT capacity) {
  PAGED_CODE();
  SIZE_T size = sizeof(UNICODE_STRING) + capacity;
  PUNICODE_STRING string = (PUNICODE_STRING)ExAllocatePoolWithTag(PagedPool, size, DIO_POOL_TAG);
  if (string == NULL) return NULL;
  RtlZeroMemory(string, size);
  string->Length = 0;
  string->MaximumLength = capacity;
  string->Buffer = (PWSTR)(string + 1);
  return string;
}

DIO_PAGED_ROUTINE
_Use_decl_annotations_
VOID FreeCountedString(PUNICODE_STRING string) {
  PAGED_CODE();
  if (string != NULL) ExFreePoolWithTag(string, DIO_POOL_TAG);
}

// "Device%03d" for numbers 0 to 1000.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
PUNICODE_STRING MakeDeviceKeyName(ULONG deviceNumber) {
  PAGED_CODE();
  if (deviceNumber > DIO_DEVICE_NUMBER_LIMIT) return NULL;
  PUNICODE_STRING name = AllocateCountedString(11 * sizeof(WCHAR));
  if (name == NULL) return NULL;
  int length = _snwprintf(name->Buffer, 11, L"" DIO_KEY_DEVICE_FORMAT, (int)deviceNumber);
  name->Length = (USHORT)(length * sizeof(WCHAR));
  return name;
}

DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS OpenRegistryKey(PUNICODE_STRING path, PHANDLE key) {
  PAGED_CODE();
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                             NULL);
  return ZwOpenKey(key, KEY_ALL_ACCESS, &attributes);
}

DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS CreateRegistryKey(PUNICODE_STRING path, PHANDLE key) {
  PAGED_CODE();
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                             NULL);
  return ZwCreateKey(key, KEY_ALL_ACCESS, &attributes, 0, NULL, REG_OPTION_NON_VOLATILE, NULL);
}

// Reads a value of at most 4 bytes, whatever its type. A value that is
// missing, longer, or does not fit the query buffer leaves the destination
// as it was; a shorter one overwrites only its own bytes.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS ReadRegistryValue(HANDLE key, PCWSTR name, USHORT nameSize, PVOID destination) {
  PAGED_CODE();
  ULONG bufferSize = (ULONG)nameSize + DIO_QUERY_SLACK;
  PKEY_VALUE_FULL_INFORMATION record =
      (PKEY_VALUE_FULL_INFORMATION)ExAllocatePoolWithTag(PagedPool, bufferSize, DIO_POOL_TAG);
  if (record == NULL) return STATUS_INSUFFICIENT_RESOURCES;

  UNICODE_STRING valueName;
  valueName.Buffer = (PWSTR)name;
  valueName.Length = (USHORT)(nameSize - sizeof(WCHAR));
  valueName.MaximumLength = nameSize;
  ULONG resultLength;
  NTSTATUS status =
      ZwQueryValueKey(key, &valueName, KeyValueFullInformation, record, bufferSize, &resultLength);
  if (NT_SUCCESS(status) && record->DataLength <= sizeof(ULONG) &&
      record->DataOffset <= bufferSize && record->DataLength <= bufferSize - record->DataOffset) {
    RtlCopyMemory(destination, (PUCHAR)record + record->DataOffset, record->DataLength);
  }
  ExFreePoolWithTag(record, DIO_POOL_TAG);
  return status;
}

// `path` = `keyPath` followed by `name`, terminated.
DIO_PAGED_ROUTINE
static NTSTATUS BuildKeyPath(PUNICODE_STRING path, PCWSTR keyPath, PCUNICODE_STRING name) {
  PAGED_CODE();
  NTSTATUS status = RtlAppendUnicodeToString(path, keyPath);
  if (NT_SUCCESS(status)) status = RtlAppendUnicodeStringToString(path, name);
  if (NT_SUCCESS(status) && path->Length + sizeof(WCHAR) > path->MaximumLength)
    status = STATUS_BUFFER_TOO_SMALL;  // no room left for the terminator
  return status;
}

DIO_PAGED_ROUTINE
static NTSTATUS WriteDword(PUNICODE_STRING keyPath, PCWSTR name, ULONG value) {
  PAGED_CODE();
  return RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, keyPath->Buffer, name,
                               REG_DWORD, &value, sizeof(value));
}

DIO_PAGED_ROUTINE
static NTSTATUS WriteText(PUNICODE_STRING keyPath, PCWSTR name, const WCHAR *text, ULONG size) {
  PAGED_CODE();
  return RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, keyPath->Buffer, name,
                               REG_SZ, (PVOID)text, size);
}

// The first failure of writes that are each made whatever came before.
static NTSTATUS FirstFailure(NTSTATUS sofar, NTSTATUS next) { return NT_SUCCESS(sofar) ? next : sofar; }

// The service key's DeviceNNN subkey path for a device number.
DIO_PAGED_ROUTINE
static NTSTATUS MakeServiceSubkeyPath(ULONG deviceNumber, PUNICODE_STRING *path) {
  PAGED_CODE();
  *path = NULL;
  PUNICODE_STRING name = MakeDeviceKeyName(deviceNumber);
  PUNICODE_STRING servicePath = AllocateCountedString(DIO_PATH_BYTES);
  if (name == NULL || servicePath == NULL) {
    FreeCountedString(name);
    FreeCountedString(servicePath);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = BuildKeyPath(servicePath, DIO_SERVICE_KEY_PATH, name);
  FreeCountedString(name);
  if (!NT_SUCCESS(status)) {
    FreeCountedString(servicePath);
    return status;
  }
  *path = servicePath;
  return STATUS_SUCCESS;
}

// The board's record: the device map's subkey, then the service's, each
// value written once, in the order of dio_registry.h. A failure of the
// names or paths writes nothing; the values are each written whatever came
// before, and the first failure is returned.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS WriteDeviceKeys(ULONG deviceNumber, PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  PUNICODE_STRING name = MakeDeviceKeyName(deviceNumber);
  PUNICODE_STRING servicePath = AllocateCountedString(DIO_PATH_BYTES);
  PUNICODE_STRING mapPath = AllocateCountedString(DIO_PATH_BYTES);
  NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
  if (name == NULL || servicePath == NULL || mapPath == NULL) goto done;

  status = BuildKeyPath(servicePath, DIO_SERVICE_KEY_PATH, name);
  if (!NT_SUCCESS(status)) goto done;

  // The device map may not exist yet; the map entry written next needs it.
  {
    UNICODE_STRING deviceMap;
    HANDLE key;
    RtlInitUnicodeString(&deviceMap, DIO_DEVICE_MAP_PATH);
    if (NT_SUCCESS(CreateRegistryKey(&deviceMap, &key))) ZwClose(key);
  }

  status = BuildKeyPath(mapPath, DIO_DEVICE_MAP_PATH, name);
  if (!NT_SUCCESS(status)) goto done;

  status = WriteText(mapPath, L"" DIO_VALUE_DRIVER_NAME, kDriverName, sizeof(kDriverName));
  status = FirstFailure(status, WriteText(mapPath, L"" DIO_VALUE_KERNEL_KEY, kMapKernelKey, sizeof(kMapKernelKey)));
  status = FirstFailure(status, WriteDword(servicePath, L"" DIO_VALUE_ON_SYSTEM, extension->OnSystem));
  status = FirstFailure(status, WriteText(servicePath, L"" DIO_VALUE_DRIVER_NAME, kDriverName, sizeof(kDriverName)));
  status = FirstFailure(status, WriteText(servicePath, L"" DIO_VALUE_KERNEL_KEY, kServiceKernelKey,
                                          sizeof(kServiceKernelKey)));
  status = FirstFailure(status, WriteDword(servicePath, L"" DIO_VALUE_BASE_ADDRESS, RegisterBase(extension)));
  status = FirstFailure(status, WriteDword(servicePath, L"" DIO_VALUE_INTERRUPT, extension->InterruptLevel));
  status = FirstFailure(status, WriteDword(servicePath, L"" DIO_VALUE_ALLOW_CONFLICTS, kAllowConflicts));
  status = FirstFailure(status, WriteDword(servicePath, L"" DIO_VALUE_DEVICE_TYPE, gDeviceType));
  status = FirstFailure(status, WriteDword(servicePath, L"" DIO_VALUE_BUS_NUMBER, extension->BusNumber));
  status = FirstFailure(status, WriteDword(servicePath, L"" DIO_VALUE_SLOT_NUMBER, extension->SlotNumber));

done:
  FreeCountedString(name);
  FreeCountedString(servicePath);
  FreeCountedString(mapPath);
  return status;
}

// Publishes the path user mode opens the device by: "\\." followed by the
// interface link name from its fourth character on (the link begins with the
// three-character prefix of global names and a backslash). The text is stored
// without a terminator. A link too short to have that prefix, or a path that
// would not fit its buffer, writes nothing.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS WriteMapEntry(ULONG deviceNumber, PUNICODE_STRING linkName) {
  PAGED_CODE();
  const ULONG prefixChars = 3;
  ULONG linkChars = linkName->Length / sizeof(WCHAR);
  if (linkName->Buffer == NULL || linkChars < prefixChars + 1) return STATUS_INVALID_PARAMETER;
  // "\\." replaces the prefix; the result and its terminator must fit.
  if (linkChars + 1 > DIO_DEVICE_PATH_CHARS) return STATUS_BUFFER_TOO_SMALL;

  PUNICODE_STRING valueName = AllocateCountedString(10);
  if (valueName == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = RtlIntegerToUnicodeString(deviceNumber, 10, valueName);
  if (!NT_SUCCESS(status)) {
    FreeCountedString(valueName);
    return status;
  }

  UNICODE_STRING mapKeyPath;
  HANDLE mapKey;
  RtlInitUnicodeString(&mapKeyPath, DIO_MAP_KEY_PATH);
  status = CreateRegistryKey(&mapKeyPath, &mapKey);
  if (!NT_SUCCESS(status)) {
    FreeCountedString(valueName);
    return status;
  }

  WCHAR devicePath[DIO_DEVICE_PATH_CHARS];
  int length = _snwprintf(devicePath, DIO_DEVICE_PATH_CHARS, L"\\\\.%.*ws",
                          (int)(linkChars - prefixChars), linkName->Buffer + prefixChars);
  status = ZwSetValueKey(mapKey, valueName, 0, REG_SZ, devicePath, (ULONG)length * sizeof(WCHAR));
  ZwClose(mapKey);
  FreeCountedString(valueName);
  return status;
}

// "OnSystem" in the device's service subkey: 1 while the board serves the
// session, 0 once the session has ended. The path's failure is returned;
// the write's is not.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS WriteOnSystem(PDEVICE_EXTENSION extension, ULONG onSystem) {
  PAGED_CODE();
  if (!RecordsBoard(extension)) return STATUS_SUCCESS;  // another board's record
  PUNICODE_STRING servicePath;
  NTSTATUS status = MakeServiceSubkeyPath(extension->DeviceNumber, &servicePath);
  if (!NT_SUCCESS(status)) return status;
  extension->OnSystem = onSystem;
  WriteDword(servicePath, L"" DIO_VALUE_ON_SYSTEM, onSystem);
  FreeCountedString(servicePath);
  return STATUS_SUCCESS;
}

// Fills the DO configuration from the "DO" key; fields whose value is
// missing or unusable keep what they held, and so do all of them without the
// key.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS ReadDoSettings(PDEVICE_EXTENSION extension) {
  PAGED_CODE();
  PUNICODE_STRING doPath = AllocateCountedString(DIO_PATH_BYTES);
  if (doPath == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  UNICODE_STRING doName;
  RtlInitUnicodeString(&doName, L"" DIO_KEY_DO_NAME);
  NTSTATUS status = BuildKeyPath(doPath, DIO_SERVICE_KEY_PATH, &doName);
  if (!NT_SUCCESS(status)) {
    FreeCountedString(doPath);
    return status;
  }

  HANDLE doKey;
  if (!NT_SUCCESS(RtlCheckRegistryKey(RTL_REGISTRY_ABSOLUTE, doPath->Buffer)) ||
      !NT_SUCCESS(OpenRegistryKey(doPath, &doKey))) {
    FreeCountedString(doPath);
    return STATUS_SUCCESS;
  }
  DIO_DO_CONFIG *config = &extension->DoConfig;
  ReadRegistryValue(doKey, DIO_VALUE_NAME(DIO_VALUE_DO_TRIGGER_START), &config->TriggerStart);
  ReadRegistryValue(doKey, DIO_VALUE_NAME(DIO_VALUE_DO_TRIGGER_SHUTDOWN), &config->TriggerShutdown);
  ReadRegistryValue(doKey, DIO_VALUE_NAME(DIO_VALUE_DO_CHANNEL_START), &config->ChannelStart);
  ReadRegistryValue(doKey, DIO_VALUE_NAME(DIO_VALUE_DO_CHANNEL_SHUTDOWN), &config->ChannelShutdown);
  ReadRegistryValue(doKey, DIO_VALUE_NAME(DIO_VALUE_DO_LEVEL_START), &config->LevelStart);
  ReadRegistryValue(doKey, DIO_VALUE_NAME(DIO_VALUE_DO_LEVEL_SHUTDOWN), &config->LevelShutdown);
  ZwClose(doKey);
  FreeCountedString(doPath);
  return STATUS_SUCCESS;
}

// Deletes the map's and the service's DeviceNNN subkeys of a device, in
// that order. Returns the first failure; a subkey that is missing or cannot
// be deleted does not keep the other from being tried.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
NTSTATUS DeleteDeviceKeys(ULONG deviceNumber) {
  PAGED_CODE();
  PUNICODE_STRING name = MakeDeviceKeyName(deviceNumber);
  PUNICODE_STRING path = AllocateCountedString(DIO_PATH_BYTES);
  NTSTATUS result = STATUS_INSUFFICIENT_RESOURCES;
  if (name != NULL && path != NULL) {
    PCWSTR parents[] = {DIO_DEVICE_MAP_PATH, DIO_SERVICE_KEY_PATH};
    result = STATUS_SUCCESS;
    for (ULONG i = 0; i < sizeof(parents) / sizeof(parents[0]); ++i) {
      path->Length = 0;
      HANDLE key;
      NTSTATUS status = BuildKeyPath(path, parents[i], name);
      if (NT_SUCCESS(status)) status = OpenRegistryKey(path, &key);
      if (NT_SUCCESS(status)) {
        status = ZwDeleteKey(key);
        ZwClose(key);
      }
      if (NT_SUCCESS(result)) result = status;
    }
  }
  FreeCountedString(name);
  FreeCountedString(path);
  return result;
}

// The board model of a device: "DeviceType" of its hardware key, where its
// INF model line puts it, when that is a REG_DWORD of 4 bytes; otherwise the
// service key's, as installations before the per-device model wrote it.
DIO_PAGED_ROUTINE
_Use_decl_annotations_
ULONG ReadDeviceModel(PDEVICE_OBJECT physicalDevice) {
  PAGED_CODE();
  ULONG model = gServiceDeviceType;
  HANDLE key;
  if (!NT_SUCCESS(IoOpenDeviceRegistryKey(physicalDevice, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key))) return model;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"" DIO_VALUE_DEVICE_TYPE);
  union {
    KEY_VALUE_PARTIAL_INFORMATION record;
    UCHAR bytes[FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) + sizeof(ULONG)];
  } buffer;
  ULONG length;
  NTSTATUS status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, &buffer, sizeof(buffer), &length);
  if (NT_SUCCESS(status) && buffer.record.Type == REG_DWORD && buffer.record.DataLength == sizeof(ULONG))
    RtlCopyMemory(&model, buffer.record.Data, sizeof(ULONG));
  ZwClose(key);
  return model;
}
