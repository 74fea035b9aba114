// The kernel's registry routines over the machine's one registry.
#include "../registry/registry_store.h"
#include "objects.h"

namespace hostk {
namespace {

struct KeyObject : HandleObject {
  hostreg::KeyRef key;
  POBJECT_TYPE Type() const override { return &KeyObjectType; }
  std::string Describe() const override {
    return "registry key " + hostreg::ToUtf8(key->deleted ? key->name + u" (deleted)"
                                                          : hostreg::PathOf(*key));
  }
};

NTSTATUS StatusOf(hostreg::Result result) {
  switch (result) {
    case hostreg::Result::Ok: return STATUS_SUCCESS;
    case hostreg::Result::NotFound: return STATUS_OBJECT_NAME_NOT_FOUND;
    case hostreg::Result::PathNotFound: return STATUS_OBJECT_NAME_NOT_FOUND;
    case hostreg::Result::BadName: return STATUS_OBJECT_NAME_INVALID;
    case hostreg::Result::KeyDeleted: return STATUS_KEY_DELETED;
    case hostreg::Result::HasSubkeys: return STATUS_CANNOT_DELETE;
  }
  return STATUS_UNSUCCESSFUL;
}

std::u16string NameOf(PCUNICODE_STRING name) {
  if (!name || !name->Buffer) return std::u16string();
  if (name->Length & 1 || name->Length > name->MaximumLength) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, "a counted string with a malformed length");
  }
  return Text(name);
}

// Resolves the object attributes to a start key and the components below it.
NTSTATUS Resolve(POBJECT_ATTRIBUTES attributes, hostreg::KeyRef *start,
                 std::vector<std::u16string> *components) {
  if (!attributes || attributes->Length != sizeof(OBJECT_ATTRIBUTES) || !attributes->ObjectName)
    return STATUS_INVALID_PARAMETER;
  std::u16string path = NameOf(attributes->ObjectName);
  if (attributes->RootDirectory) {
    NTSTATUS status;
    auto object = std::dynamic_pointer_cast<KeyObject>(
        LookupHandle(attributes->RootDirectory, KernelMode, nullptr, &status));
    if (!object) return STATUS_INVALID_HANDLE;
    if (!path.empty() && path[0] == u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
    *start = object->key;
    *components = hostreg::SplitPath(path);
    return STATUS_SUCCESS;
  }
  if (path.empty() || path[0] != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
  auto parts = hostreg::SplitPath(path);
  if (parts.empty() || !hostreg::EqualNoCase(parts[0], u"REGISTRY"))
    return STATUS_OBJECT_NAME_NOT_FOUND;
  parts.erase(parts.begin());
  *start = hostreg::Root();
  *components = parts;
  return STATUS_SUCCESS;
}

hostreg::KeyRef KeyOf(HANDLE handle, const char *routine, ACCESS_MASK needed, NTSTATUS *status) {
  ACCESS_MASK granted = 0;
  NTSTATUS lookup;
  auto object = std::dynamic_pointer_cast<KeyObject>(LookupHandle(handle, KernelMode, &granted, &lookup));
  if (!object) {
    // Kernel-mode callers that pass a bad handle bring the machine down.
    BugCheck(INVALID_KERNEL_HANDLE, std::string(routine) + " with a handle that is not an open key");
  }
  if ((granted & needed) != needed) {
    *status = STATUS_ACCESS_DENIED;
    return nullptr;
  }
  *status = STATUS_SUCCESS;
  return object->key;
}

HANDLE NewKeyHandle(const hostreg::KeyRef &key, ACCESS_MASK access) {
  auto object = std::make_shared<KeyObject>();
  object->key = key;
  return InsertKernelHandle(object, access);
}

// The handle-less routines take a null-terminated absolute path.
NTSTATUS AbsoluteAttributes(ULONG relativeTo, PCWSTR path, UNICODE_STRING *name,
                            OBJECT_ATTRIBUTES *attributes) {
  if ((relativeTo & ~RTL_REGISTRY_OPTIONAL) != RTL_REGISTRY_ABSOLUTE) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "registry routine relative to a key the stand-in does not provide");
  }
  if (!path) return STATUS_INVALID_PARAMETER;
  RtlInitUnicodeString(name, path);
  InitializeObjectAttributes(attributes, name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  return STATUS_SUCCESS;
}

}  // namespace
}  // namespace hostk

using namespace hostk;

extern "C" {

NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwOpenKey");
  *keyHandle = nullptr;
  hostreg::KeyRef start, key;
  std::vector<std::u16string> components;
  NTSTATUS status = Resolve(attributes, &start, &components);
  if (!NT_SUCCESS(status)) return status;
  status = StatusOf(hostreg::Open(start, components, &key));
  if (!NT_SUCCESS(status)) return status;
  *keyHandle = NewKeyHandle(key, access);
  return STATUS_SUCCESS;
}

NTSTATUS ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                     ULONG titleIndex, PUNICODE_STRING keyClass, ULONG options,
                     PULONG disposition) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwCreateKey");
  (void)titleIndex;
  (void)keyClass;
  (void)options;
  *keyHandle = nullptr;
  hostreg::KeyRef start, key;
  std::vector<std::u16string> components;
  NTSTATUS status = Resolve(attributes, &start, &components);
  if (!NT_SUCCESS(status)) return status;
  bool created = false;
  if (components.empty()) {
    status = StatusOf(hostreg::Open(start, components, &key));
  } else {
    status = StatusOf(hostreg::CreateLeaf(start, components, &key, &created));
  }
  if (!NT_SUCCESS(status)) return status;
  *keyHandle = NewKeyHandle(key, access);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                         KEY_VALUE_INFORMATION_CLASS infoClass, PVOID information, ULONG length,
                         PULONG resultLength) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwQueryValueKey");
  NTSTATUS status;
  hostreg::KeyRef key = KeyOf(keyHandle, "ZwQueryValueKey", KEY_QUERY_VALUE, &status);
  if (!key) return status;
  if (infoClass != KeyValueFullInformation && infoClass != KeyValuePartialInformation)
    return STATUS_INVALID_PARAMETER;
  hostreg::Value value;
  status = StatusOf(hostreg::QueryValue(key, NameOf(valueName), &value));
  if (!NT_SUCCESS(status)) return status;

  // Build the whole record, then hand over what fits.
  std::vector<uint8_t> record;
  ULONG header;
  ULONG dataLength = ULONG(value.data.size());
  if (infoClass == KeyValueFullInformation) {
    header = FIELD_OFFSET(KEY_VALUE_FULL_INFORMATION, Name);
    ULONG nameLength = ULONG(value.name.size() * sizeof(WCHAR));
    // The data follows the name at the next 4-byte boundary; a value without
    // data has no data offset.
    ULONG dataOffset = dataLength ? ((header + nameLength + 3) & ~3u) : 0xFFFFFFFFu;
    ULONG total = dataLength ? dataOffset + dataLength : header + nameLength;
    record.assign(total, 0);
    KEY_VALUE_FULL_INFORMATION fixed = {};
    fixed.Type = value.type;
    fixed.DataOffset = dataOffset;
    fixed.DataLength = dataLength;
    fixed.NameLength = nameLength;
    memcpy(record.data(), &fixed, header);
    memcpy(record.data() + header, value.name.data(), nameLength);
    if (dataLength) memcpy(record.data() + dataOffset, value.data.data(), dataLength);
  } else {
    header = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
    record.assign(header + dataLength, 0);
    KEY_VALUE_PARTIAL_INFORMATION fixed = {};
    fixed.Type = value.type;
    fixed.DataLength = dataLength;
    memcpy(record.data(), &fixed, header);
    if (dataLength) memcpy(record.data() + header, value.data.data(), dataLength);
  }
  *resultLength = ULONG(record.size());
  if (length < header) return STATUS_BUFFER_TOO_SMALL;  // nothing written
  if (length < record.size()) {
    memcpy(information, record.data(), length);
    return STATUS_BUFFER_OVERFLOW;
  }
  memcpy(information, record.data(), record.size());
  return STATUS_SUCCESS;
}

NTSTATUS ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG titleIndex, ULONG type,
                       PVOID data, ULONG dataSize) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwSetValueKey");
  (void)titleIndex;
  NTSTATUS status;
  hostreg::KeyRef key = KeyOf(keyHandle, "ZwSetValueKey", KEY_SET_VALUE, &status);
  if (!key) return status;
  if (dataSize && !data) return STATUS_INVALID_PARAMETER;
  return StatusOf(hostreg::SetValue(key, NameOf(valueName), type, data, dataSize));
}

NTSTATUS ZwDeleteKey(HANDLE keyHandle) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwDeleteKey");
  NTSTATUS status;
  hostreg::KeyRef key = KeyOf(keyHandle, "ZwDeleteKey", DELETE, &status);
  if (!key) return status;
  return StatusOf(hostreg::DeleteKey(key));
}

NTSTATUS RtlWriteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR valueName, ULONG valueType,
                               PVOID valueData, ULONG valueLength) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "RtlWriteRegistryValue");
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES attributes;
  NTSTATUS status = AbsoluteAttributes(relativeTo, path, &name, &attributes);
  if (!NT_SUCCESS(status)) return status;
  HANDLE key;
  status = ZwCreateKey(&key, KEY_SET_VALUE, &attributes, 0, nullptr, 0, nullptr);
  if (!NT_SUCCESS(status)) return status;
  UNICODE_STRING value;
  RtlInitUnicodeString(&value, valueName);
  status = ZwSetValueKey(key, &value, 0, valueType, valueData, valueLength);
  ZwClose(key);
  return status;
}

NTSTATUS RtlCheckRegistryKey(ULONG relativeTo, PWSTR path) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "RtlCheckRegistryKey");
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES attributes;
  NTSTATUS status = AbsoluteAttributes(relativeTo, path, &name, &attributes);
  if (!NT_SUCCESS(status)) return status;
  HANDLE key;
  status = ZwOpenKey(&key, KEY_READ, &attributes);
  if (NT_SUCCESS(status)) ZwClose(key);
  return status;
}

}  // extern "C"
