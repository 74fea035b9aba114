// The one registry of the host machine, shared by the kernel stand-in (Zw and
// Rtl routines) and the Win32 stand-in (advapi32), as on Windows, where both
// reach the same configuration manager.
//
// Keys form a tree under the root "\REGISTRY". Names of keys and values are
// compared without regard to case and keep the case they were created with.
// Values keep their insertion order. A deleted key stays alive while a handle
// refers to it, and every operation on it then reports the deletion.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hostreg {

struct Value {
  std::u16string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  uint32_t writes = 0;  // how often it was set since it was made: what tests count
};

struct Key {
  std::u16string name;
  Key *parent = nullptr;  // none for the root and for a deleted key
  bool deleted = false;
  std::vector<std::shared_ptr<Key>> subkeys;
  std::vector<Value> values;
};
using KeyRef = std::shared_ptr<Key>;

enum class Result {
  Ok,
  NotFound,       // a component of the path, or the value, does not exist
  PathNotFound,   // an intermediate component is missing (create)
  BadName,        // an empty path or a relative path where an absolute one is needed
  KeyDeleted,     // the key was deleted while still open
  HasSubkeys,     // a key with subkeys cannot be deleted
};

// Serialises every access to the tree. Held only inside the routines below and
// by callers that read a Key's fields directly.
std::recursive_mutex &Lock();

// The root key "\REGISTRY" with "MACHINE" and "USER" below it.
KeyRef Root();

// Removes every key below MACHINE and USER, for a fresh machine in each test.
void Reset();

bool EqualNoCase(const std::u16string &a, const std::u16string &b);
std::u16string FromUtf8(const std::string &text);
std::string ToUtf8(const std::u16string &text);

// Splits a path at backslashes. Empty components (a leading, doubled or
// trailing separator) are dropped, as the configuration manager's parser does.
std::vector<std::u16string> SplitPath(const std::u16string &path);

// Walks components below `start`. Fails with NotFound when any is missing.
Result Open(const KeyRef &start, const std::vector<std::u16string> &components, KeyRef *out);

// Opens the key, or creates it when only its last component is missing
// (NT semantics). `created` tells which happened.
Result CreateLeaf(const KeyRef &start, const std::vector<std::u16string> &components, KeyRef *out,
                  bool *created);

// Opens the key, creating every missing component (Win32 RegCreateKey).
Result CreateAll(const KeyRef &start, const std::vector<std::u16string> &components, KeyRef *out);

Result DeleteKey(const KeyRef &key);

// Values. Lookups of a deleted key report KeyDeleted.
Result SetValue(const KeyRef &key, const std::u16string &name, uint32_t type, const void *data,
                size_t size);
Result QueryValue(const KeyRef &key, const std::u16string &name, Value *out);
Result DeleteValue(const KeyRef &key, const std::u16string &name);

// The key's full path from the root, for listings: "\REGISTRY\MACHINE\...".
std::u16string PathOf(const Key &key);

// Who may change a key, as an installed system's security descriptors say:
// the machine's keys (HKEY_LOCAL_MACHINE, the driver's service key among
// them) can be written by Administrators and SYSTEM only; users can read
// them. A user's own keys are writable by that user. Kernel-mode callers are
// not checked at all.
bool WritableByAdministratorsOnly(const Key &key);

// Convenience for tests and the simulator, on absolute paths
// ("\REGISTRY\MACHINE\SYSTEM\..."). Create makes every missing component.
KeyRef Find(const std::string &absolutePath);
KeyRef Make(const std::string &absolutePath);
void PutDword(const std::string &absolutePath, const std::string &name, uint32_t value);
bool GetValue(const std::string &absolutePath, const std::string &name, Value *out);

// A readable listing of a subtree, one line per key and value, for the
// simulator's output and for test failure messages.
std::string Dump(const std::string &absolutePath);

}  // namespace hostreg
