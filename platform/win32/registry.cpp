// advapi32's ANSI registry functions over the machine's one registry, with
// the error codes and buffer handling of Windows. Texts are stored in UTF-16,
// as the kernel writes them, and converted at the ANSI boundary.
#include "../registry/registry_store.h"
#include "desktop.h"

namespace hostwin {
namespace {

constexpr LSTATUS kErrorNoAccess = 998;

// A handle carries the access it was granted when it was opened. RegOpenKeyA
// and RegCreateKeyA ask for MAXIMUM_ALLOWED, so their handles get whatever
// the caller's rights allow: read only, for a process without administrator
// rights on a machine key [WINE:dlls/advapi32/registry.c RegOpenKeyW,
// RegCreateKeyW] [MS:secauthz/access-mask]; RegOpenKeyExA asks for what its
// caller names and is refused anything the rights do not allow
// [MS:winreg/nf-winreg-regopenkeyexa] [MS:sysinfo/registry-key-security-and-access-rights].
struct OpenKey {
  hostreg::KeyRef key;
  REGSAM granted = 0;
};

std::map<uintptr_t, OpenKey> &Handles() {
  static std::map<uintptr_t, OpenKey> handles;
  return handles;
}
uintptr_t &NextHandle() {
  static uintptr_t next = 0x1000;
  return next;
}
std::vector<RegistryWrite> &Writes() {
  static std::vector<RegistryWrite> writes;
  return writes;
}
Rights &ProcessRights() {
  static Rights rights = Rights::ElevatedAdministrator;
  return rights;
}
std::vector<std::pair<std::u16string, LSTATUS>> &Refusals() {
  static std::vector<std::pair<std::u16string, LSTATUS>> refusals;
  return refusals;
}

LSTATUS RefusalOf(const hostreg::KeyRef &key) {
  for (const auto &refusal : Refusals())
    if (hostreg::EqualNoCase(refusal.first, hostreg::PathOf(*key))) return refusal.second;
  return ERROR_SUCCESS;
}

// What the process may do to a key with its token: an administrator's
// unelevated token holds no more rights than a standard user's.
REGSAM Allowed(const hostreg::KeyRef &key) {
  bool writable = ProcessRights() == Rights::ElevatedAdministrator || !hostreg::WritableByAdministratorsOnly(*key);
  return writable ? REGSAM(KEY_ALL_ACCESS) : REGSAM(KEY_READ);
}

bool IsPredefined(HKEY key) { return (uintptr_t(key) & 0xFFFFFFFFu) >= 0x80000000u && uintptr_t(key) >> 32 != 0; }

// The key a handle names, a predefined root or an open handle, and the
// access the handle holds.
LSTATUS Resolve(HKEY handle, hostreg::KeyRef *out, REGSAM *granted = nullptr) {
  if (handle == HKEY_LOCAL_MACHINE || handle == HKEY_USERS) {
    const char16_t *root = handle == HKEY_LOCAL_MACHINE ? u"MACHINE" : u"USER";
    if (hostreg::Open(hostreg::Root(), {root}, out) != hostreg::Result::Ok) return ERROR_INVALID_HANDLE;
    if (granted) *granted = Allowed(*out);
    return ERROR_SUCCESS;
  }
  auto it = Handles().find(reinterpret_cast<uintptr_t>(handle));
  if (it == Handles().end()) return ERROR_INVALID_HANDLE;
  *out = it->second.key;
  if (granted) *granted = it->second.granted;
  return ERROR_SUCCESS;
}

HKEY NewHandle(const hostreg::KeyRef &key, REGSAM granted) {
  uintptr_t value = NextHandle();
  NextHandle() += 4;
  Handles()[value] = OpenKey{key, granted};
  return reinterpret_cast<HKEY>(value);
}

LSTATUS StatusOf(hostreg::Result result) {
  switch (result) {
    case hostreg::Result::Ok: return ERROR_SUCCESS;
    case hostreg::Result::NotFound:
    case hostreg::Result::PathNotFound: return ERROR_FILE_NOT_FOUND;
    case hostreg::Result::KeyDeleted: return ERROR_KEY_DELETED;
    case hostreg::Result::HasSubkeys: return ERROR_ACCESS_DENIED;
    case hostreg::Result::BadName: return ERROR_INVALID_PARAMETER;
  }
  return ERROR_INVALID_PARAMETER;
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::u16string Name(LPCSTR text) { return hostreg::FromUtf8(text ? text : ""); }

}  // namespace

std::vector<std::string> OpenKeys() {
  std::vector<std::string> out;
  for (const auto &entry : Handles()) {
    const auto &key = entry.second.key;
    out.push_back("registry key " + hostreg::ToUtf8(key->deleted ? key->name : hostreg::PathOf(*key)) +
                  " still open");
  }
  return out;
}

void ForgetKeys() {
  Handles().clear();
  Writes().clear();
  Refusals().clear();
  ProcessRights() = Rights::ElevatedAdministrator;
}

const std::vector<RegistryWrite> &RegistryWrites() { return Writes(); }
void RunAs(Rights rights) { ProcessRights() = rights; }
void RefuseWrites(const std::string &key, LSTATUS status) { Refusals().push_back({hostreg::FromUtf8(key), status}); }
Rights CurrentRights() { return ProcessRights(); }

}  // namespace hostwin

using namespace hostwin;

extern "C" {

LSTATUS WINAPI RegOpenKeyA(HKEY handle, LPCSTR subKey, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  hostreg::KeyRef base, key;
  LSTATUS status = Resolve(handle, &base);
  if (status != ERROR_SUCCESS) return status;
  if (!subKey || !*subKey) {
    *result = handle;  // the same handle, not a new one
    return ERROR_SUCCESS;
  }
  status = StatusOf(hostreg::Open(base, hostreg::SplitPath(Name(subKey)), &key));
  if (status == ERROR_SUCCESS) *result = NewHandle(key, Allowed(key));
  return status;
}

// Opens the key for the access asked for (MAXIMUM_ALLOWED: whatever the
// rights allow), or refuses it; an empty path opens a new handle to the key
// itself. The 32- and 64-bit views are one registry for the keys the
// applet uses, as HKLM\SYSTEM is on 64-bit Windows.
LSTATUS WINAPI RegOpenKeyExA(HKEY handle, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (options) {
    Fault("RegOpenKeyEx with options: not simulated");
    return ERROR_INVALID_PARAMETER;
  }
  hostreg::KeyRef base, key;
  LSTATUS status = Resolve(handle, &base);
  if (status != ERROR_SUCCESS) return status;
  status = subKey && *subKey ? StatusOf(hostreg::Open(base, hostreg::SplitPath(Name(subKey)), &key))
                             : (key = base, ERROR_SUCCESS);
  if (status != ERROR_SUCCESS) return status;
  REGSAM allowed = Allowed(key);
  REGSAM wanted = access & ~REGSAM(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
  if (wanted & MAXIMUM_ALLOWED) wanted = (wanted & ~REGSAM(MAXIMUM_ALLOWED)) | allowed;
  if (wanted & ~allowed) return ERROR_ACCESS_DENIED;
  *result = NewHandle(key, wanted);
  return ERROR_SUCCESS;
}

// Opens the key, creating every missing component of the path. Creating a
// key takes the right to add subkeys to the handle it is made under.
LSTATUS WINAPI RegCreateKeyA(HKEY handle, LPCSTR subKey, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  hostreg::KeyRef base, key;
  REGSAM granted = 0;
  LSTATUS status = Resolve(handle, &base, &granted);
  if (status != ERROR_SUCCESS) return status;
  if (!subKey || !*subKey) {
    *result = handle;
    return ERROR_SUCCESS;
  }
  auto components = hostreg::SplitPath(Name(subKey));
  status = StatusOf(hostreg::Open(base, components, &key));
  if (status == ERROR_FILE_NOT_FOUND) {
    if (!(granted & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    status = StatusOf(hostreg::CreateAll(base, components, &key));
  }
  if (status == ERROR_SUCCESS) *result = NewHandle(key, Allowed(key));
  return status;
}

LSTATUS WINAPI RegQueryValueExA(HKEY handle, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD dataSize) {
  if (reserved || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
  hostreg::KeyRef key;
  REGSAM granted = 0;
  LSTATUS status = Resolve(handle, &key, &granted);
  if (status != ERROR_SUCCESS) return status;
  if (!(granted & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  hostreg::Value value;
  status = StatusOf(hostreg::QueryValue(key, Name(valueName), &value));
  if (status != ERROR_SUCCESS) return status;  // buffer and size untouched

  std::vector<uint8_t> bytes;
  if (IsText(value.type)) {
    for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
      char16_t c = char16_t(value.data[i] | value.data[i + 1] << 8);
      bytes.push_back(c < 0x100 ? uint8_t(c) : uint8_t('?'));
    }
  } else {
    bytes = value.data;
  }
  DWORD size = DWORD(bytes.size());
  if (type) *type = value.type;
  if (!dataSize) return ERROR_SUCCESS;
  if (!data) {
    *dataSize = size;
    return ERROR_SUCCESS;
  }
  if (*dataSize < size) {
    // The documented contents are undefined: make a caller that reads them
    // see rubbish.
    memset(data, 0xA5, *dataSize);
    *dataSize = size;
    return ERROR_MORE_DATA;
  }
  if (size) memcpy(data, bytes.data(), size);
  // A text stored without its terminator gets one when there is room; the
  // size returned still leaves it out.
  if (IsText(value.type) && (size == 0 || bytes.back() != 0) && *dataSize > size) data[size] = 0;
  *dataSize = size;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY handle, LPCSTR valueName, DWORD reserved, DWORD type,
                              const BYTE *data, DWORD dataSize) {
  (void)reserved;
  hostreg::KeyRef key;
  REGSAM granted = 0;
  LSTATUS status = Resolve(handle, &key, &granted);
  RegistryWrite write{status == ERROR_SUCCESS ? hostreg::ToUtf8(hostreg::PathOf(*key)) : "(bad handle)",
                      valueName ? valueName : "", type, {}, 0};
  if (data) write.data.assign(data, data + dataSize);
  if (status == ERROR_SUCCESS && dataSize && !data) status = kErrorNoAccess;
  if (status == ERROR_SUCCESS && !(granted & KEY_SET_VALUE)) status = ERROR_ACCESS_DENIED;
  if (status == ERROR_SUCCESS) status = RefusalOf(key);
  if (status == ERROR_SUCCESS) {
    std::vector<uint8_t> stored;
    if (IsText(type)) {
      // Exactly the bytes given, terminator or not: a text's length must
      // count its terminator [MS:winreg/nf-winreg-regsetvalueexa]. Wine (and,
      // by its comment, Windows) silently counts one that lies just past the
      // length, reading a byte beyond the caller's data; the stand-in does
      // not, so a caller that forgets the terminator stores a text without
      // one.
      for (DWORD i = 0; i < dataSize; ++i) stored.insert(stored.end(), {data[i], 0});
    } else if (data) {
      stored.assign(data, data + dataSize);
    }
    status = StatusOf(hostreg::SetValue(key, Name(valueName), type, stored.data(), stored.size()));
  }
  write.result = status;
  Writes().push_back(write);
  return status;
}

LSTATUS WINAPI RegCloseKey(HKEY handle) {
  if (IsPredefined(handle)) return ERROR_SUCCESS;
  return Handles().erase(reinterpret_cast<uintptr_t>(handle)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// Refuses a key that has subkeys.
LSTATUS WINAPI RegDeleteKeyA(HKEY handle, LPCSTR subKey) {
  hostreg::KeyRef base, key;
  LSTATUS status = Resolve(handle, &base);
  if (status != ERROR_SUCCESS) return status;
  if (!subKey) return ERROR_INVALID_PARAMETER;
  status = StatusOf(hostreg::Open(base, hostreg::SplitPath(Name(subKey)), &key));
  if (status != ERROR_SUCCESS) return status;
  if (!(Allowed(key) & DELETE)) return ERROR_ACCESS_DENIED;
  return StatusOf(hostreg::DeleteKey(key));
}

}  // extern "C"
