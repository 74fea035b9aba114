#include "registry_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace hostreg {
namespace {

KeyRef MakeRoot() {
  auto root = std::make_shared<Key>();
  root->name = u"REGISTRY";
  for (const char16_t *name : {u"MACHINE", u"USER"}) {
    auto child = std::make_shared<Key>();
    child->name = name;
    child->parent = root.get();
    root->subkeys.push_back(child);
  }
  return root;
}

KeyRef &RootSlot() {
  static KeyRef root = MakeRoot();
  return root;
}

char16_t Fold(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

KeyRef FindChild(const Key &key, const std::u16string &name) {
  for (const auto &child : key.subkeys)
    if (EqualNoCase(child->name, name)) return child;
  return nullptr;
}

Value *FindValue(Key &key, const std::u16string &name) {
  for (auto &value : key.values)
    if (EqualNoCase(value.name, name)) return &value;
  return nullptr;
}

void MarkDeleted(Key &key) {
  key.deleted = true;
  key.parent = nullptr;
  for (auto &child : key.subkeys) MarkDeleted(*child);
  key.subkeys.clear();
  key.values.clear();
}

void DumpKey(const Key &key, int depth, std::ostringstream &out) {
  out << std::string(size_t(depth) * 2, ' ') << ToUtf8(key.name) << "\n";
  for (const auto &value : key.values) {
    out << std::string(size_t(depth) * 2 + 2, ' ') << '"' << ToUtf8(value.name) << "\" ";
    if (value.type == 4 && value.data.size() == 4) {
      uint32_t v;
      memcpy(&v, value.data.data(), 4);
      char text[40];
      snprintf(text, sizeof text, "REG_DWORD %u (0x%X)", v, v);
      out << text;
    } else if (value.type == 1 || value.type == 2) {
      std::u16string s(value.data.size() / 2, u'\0');
      if (!s.empty()) memcpy(&s[0], value.data.data(), s.size() * 2);
      bool terminated = !s.empty() && s.back() == u'\0';
      if (terminated) s.pop_back();
      out << "REG_SZ \"" << ToUtf8(s) << "\" (" << value.data.size() << " bytes"
          << (terminated ? "" : ", no terminator") << ")";
    } else {
      out << "type " << value.type << ", " << value.data.size() << " bytes:";
      for (uint8_t b : value.data) {
        char hex[4];
        snprintf(hex, sizeof hex, " %02X", b);
        out << hex;
      }
    }
    out << "\n";
  }
  for (const auto &child : key.subkeys) DumpKey(*child, depth + 1, out);
}

}  // namespace

std::recursive_mutex &Lock() {
  static std::recursive_mutex mutex;
  return mutex;
}

KeyRef Root() {
  std::lock_guard<std::recursive_mutex> hold(Lock());
  return RootSlot();
}

void Reset() {
  std::lock_guard<std::recursive_mutex> hold(Lock());
  MarkDeleted(*RootSlot());
  RootSlot() = MakeRoot();
}

bool EqualNoCase(const std::u16string &a, const std::u16string &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

std::u16string FromUtf8(const std::string &text) {
  // The registry texts of this system are ASCII; other bytes map one to one.
  std::u16string out;
  for (unsigned char c : text) out.push_back(char16_t(c));
  return out;
}

std::string ToUtf8(const std::u16string &text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out.push_back(char(c));
    } else {
      char escaped[12];
      snprintf(escaped, sizeof escaped, "\\u%04X", unsigned(c));
      out += escaped;
    }
  }
  return out;
}

std::vector<std::u16string> SplitPath(const std::u16string &path) {
  std::vector<std::u16string> parts;
  std::u16string current;
  for (char16_t c : path) {
    if (c == u'\\') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

Result Open(const KeyRef &start, const std::vector<std::u16string> &components, KeyRef *out) {
  std::lock_guard<std::recursive_mutex> hold(Lock());
  if (start->deleted) return Result::KeyDeleted;
  KeyRef key = start;
  for (const auto &name : components) {
    key = FindChild(*key, name);
    if (!key) return Result::NotFound;
  }
  *out = key;
  return Result::Ok;
}

Result CreateLeaf(const KeyRef &start, const std::vector<std::u16string> &components, KeyRef *out,
                  bool *created) {
  std::lock_guard<std::recursive_mutex> hold(Lock());
  if (components.empty()) return Result::BadName;
  std::vector<std::u16string> parentPath(components.begin(), components.end() - 1);
  KeyRef parent;
  Result result = Open(start, parentPath, &parent);
  if (result == Result::NotFound) return Result::PathNotFound;
  if (result != Result::Ok) return result;
  if (KeyRef existing = FindChild(*parent, components.back())) {
    *out = existing;
    *created = false;
    return Result::Ok;
  }
  auto key = std::make_shared<Key>();
  key->name = components.back();
  key->parent = parent.get();
  parent->subkeys.push_back(key);
  *out = key;
  *created = true;
  return Result::Ok;
}

Result CreateAll(const KeyRef &start, const std::vector<std::u16string> &components, KeyRef *out) {
  std::lock_guard<std::recursive_mutex> hold(Lock());
  if (start->deleted) return Result::KeyDeleted;
  KeyRef key = start;
  for (const auto &name : components) {
    KeyRef child = FindChild(*key, name);
    if (!child) {
      child = std::make_shared<Key>();
      child->name = name;
      child->parent = key.get();
      key->subkeys.push_back(child);
    }
    key = child;
  }
  *out = key;
  return Result::Ok;
}

Result DeleteKey(const KeyRef &key) {
  std::lock_guard<std::recursive_mutex> hold(Lock());
  if (key->deleted) return Result::Ok;  // deleting again succeeds
  if (!key->subkeys.empty()) return Result::HasSubkeys;
  Key *parent = key->parent;
  if (parent) {
    auto &siblings = parent->subkeys;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), key), siblings.end());
  }
  MarkDeleted(*key);
  return Result::Ok;
}

Result SetValue(const KeyRef &key, const std::u16string &name, uint32_t type, const void *data,
                size_t size) {
  std::lock_guard<std::recursive_mutex> hold(Lock());
  if (key->deleted) return Result::KeyDeleted;
  Value *value = FindValue(*key, name);
  if (!value) {
    key->values.push_back(Value{name, 0, {}});
    value = &key->values.back();
  }
  value->type = type;
  const auto *bytes = static_cast<const uint8_t *>(data);
  value->data.assign(bytes, bytes + size);
  ++value->writes;
  return Result::Ok;
}

Result QueryValue(const KeyRef &key, const std::u16string &name, Value *out) {
  std::lock_guard<std::recursive_mutex> hold(Lock());
  if (key->deleted) return Result::KeyDeleted;
  Value *value = FindValue(*key, name);
  if (!value) return Result::NotFound;
  *out = *value;
  return Result::Ok;
}

Result DeleteValue(const KeyRef &key, const std::u16string &name) {
  std::lock_guard<std::recursive_mutex> hold(Lock());
  if (key->deleted) return Result::KeyDeleted;
  auto &values = key->values;
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (EqualNoCase(it->name, name)) {
      values.erase(it);
      return Result::Ok;
    }
  }
  return Result::NotFound;
}

std::u16string PathOf(const Key &key) {
  std::lock_guard<std::recursive_mutex> hold(Lock());
  std::u16string path;
  for (const Key *k = &key; k; k = k->parent) path = u"\\" + k->name + path;
  return path;
}

bool WritableByAdministratorsOnly(const Key &key) {
  const std::u16string machine = u"\\REGISTRY\\MACHINE";
  std::u16string path = PathOf(key);
  return EqualNoCase(path.substr(0, machine.size()), machine) &&
         (path.size() == machine.size() || path[machine.size()] == u'\\');
}

namespace {
std::vector<std::u16string> BelowRoot(const std::string &absolutePath) {
  auto parts = SplitPath(FromUtf8(absolutePath));
  if (!parts.empty() && EqualNoCase(parts[0], u"REGISTRY")) parts.erase(parts.begin());
  return parts;
}
}  // namespace

KeyRef Find(const std::string &absolutePath) {
  KeyRef key;
  return Open(Root(), BelowRoot(absolutePath), &key) == Result::Ok ? key : nullptr;
}

KeyRef Make(const std::string &absolutePath) {
  KeyRef key;
  CreateAll(Root(), BelowRoot(absolutePath), &key);
  return key;
}

void PutDword(const std::string &absolutePath, const std::string &name, uint32_t value) {
  SetValue(Make(absolutePath), FromUtf8(name), 4, &value, sizeof value);
}

bool GetValue(const std::string &absolutePath, const std::string &name, Value *out) {
  KeyRef key = Find(absolutePath);
  return key && QueryValue(key, FromUtf8(name), out) == Result::Ok;
}

std::string Dump(const std::string &absolutePath) {
  std::lock_guard<std::recursive_mutex> hold(Lock());
  KeyRef key = Find(absolutePath);
  if (!key) return absolutePath + " (missing)\n";
  std::ostringstream out;
  DumpKey(*key, 0, out);
  return out.str();
}

}  // namespace hostreg
