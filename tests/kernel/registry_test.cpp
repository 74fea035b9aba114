// The kernel's registry routines: opening and creating keys, the value query
// buffer protocol, deletion with open handles, and the Rtl helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "host_kernel.h"
#include "registry_store.h"

#define VENDOR L"\\Registry\\Machine\\Software\\Vendor"
#define STORED "\\REGISTRY\\MACHINE\\SOFTWARE\\Vendor"  // as the store spells it

namespace {

std::string U8(const wchar_t *text) { return hostk::Utf8(std::u16string(reinterpret_cast<const char16_t *>(text))); }

UNICODE_STRING Name(const wchar_t *text) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, text);
  return name;
}

// Opens a key, or creates it when `disposition` is given.
NTSTATUS Key(HANDLE *key, const wchar_t *path, HANDLE root = nullptr, ULONG *disposition = nullptr,
             ACCESS_MASK access = KEY_ALL_ACCESS) {
  UNICODE_STRING name = Name(path);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, root, nullptr);
  if (!disposition) return ZwOpenKey(key, access, &attributes);
  return ZwCreateKey(key, access, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE, disposition);
}

NTSTATUS SetValue(HANDLE key, const wchar_t *value, ULONG type, const void *data, ULONG size) {
  UNICODE_STRING name = Name(value);
  return ZwSetValueKey(key, &name, 0, type, const_cast<void *>(data), size);
}

NTSTATUS Query(HANDLE key, const wchar_t *value, KEY_VALUE_INFORMATION_CLASS info, void *buffer, ULONG length,
               ULONG *result) {
  UNICODE_STRING name = Name(value);
  return ZwQueryValueKey(key, &name, info, buffer, length, result);
}

TEST(Registry, OpenAndCreateKeys) {
  hostreg::Make(STORED);
  HANDLE vendor;
  ASSERT_EQ(STATUS_SUCCESS, Key(&vendor, VENDOR));
  const NTSTATUS kNotFound = STATUS_OBJECT_NAME_NOT_FOUND;
  // Create or open, below the Vendor handle or not, the path, the status, a
  // successful create's disposition, then a key that must afterwards exist,
  // spelt just so, or not exist.
  const std::tuple<bool, bool, const wchar_t *, NTSTATUS, ULONG, const char *, bool> cases[] = {
      {false, false, VENDOR, STATUS_SUCCESS, 0, STORED, true},
      {false, false, VENDOR L"\\Missing", kNotFound, 0, STORED "\\Missing", false},
      {false, false, L"\\Registry\\Machine\\Nowhere\\Vendor", kNotFound, 0, "\\REGISTRY\\MACHINE\\Nowhere", false},
      {true, false, VENDOR L"\\Missing\\Leaf", kNotFound, 0, STORED "\\Missing", false},
      {true, false, VENDOR L"\\MixedCase", STATUS_SUCCESS, REG_CREATED_NEW_KEY, STORED "\\MixedCase", true},
      {true, false, L"\\REGISTRY\\MACHINE\\SOFTWARE\\VENDOR\\MIXEDCASE\\", STATUS_SUCCESS, REG_OPENED_EXISTING_KEY,
       STORED "\\MixedCase", true},
      {false, false, L"\\registry\\machine\\software\\vendor\\mixedcase\\", STATUS_SUCCESS, 0, STORED "\\MixedCase",
       true},
      {true, true, L"Child", STATUS_SUCCESS, REG_CREATED_NEW_KEY, STORED "\\Child", true},
      {true, true, L"CHILD", STATUS_SUCCESS, REG_OPENED_EXISTING_KEY, STORED "\\Child", true},
      {true, true, L"Two\\Levels", kNotFound, 0, STORED "\\Two", false},
  };
  for (const auto &[create, relative, path, expected, created, check, exists] : cases) {
    SCOPED_TRACE(U8(path));
    HANDLE key = reinterpret_cast<HANDLE>(1);
    ULONG disposition = 0xDEADBEEF;
    NTSTATUS status = Key(&key, path, relative ? vendor : nullptr, create ? &disposition : nullptr);
    EXPECT_EQ(expected, status);
    EXPECT_EQ(create && NT_SUCCESS(status) ? created : 0xDEADBEEF, disposition) << "written on success only";
    if (NT_SUCCESS(status)) {
      EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
    } else {
      EXPECT_EQ(nullptr, key);
    }
    hostreg::KeyRef found = hostreg::Find(check);
    ASSERT_EQ(exists, found != nullptr) << hostreg::Dump(STORED);
    if (found) {
      EXPECT_EQ(check, hostreg::ToUtf8(hostreg::PathOf(*found)));
    }
  }
  ZwClose(vendor);
}

// The record ZwQueryValueKey must return, built from the documented layout.
std::vector<uint8_t> Record(bool full, const std::u16string &name, ULONG type, const std::vector<uint8_t> &data,
                            ULONG dataOffset) {
  std::vector<uint8_t> out;
  auto put = [&out](ULONG v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
  };
  put(0);
  put(type);
  if (full) {
    put(dataOffset);
    put(ULONG(data.size()));
    put(ULONG(name.size() * 2));
    for (char16_t c : name) out.insert(out.end(), {uint8_t(c), uint8_t(c >> 8)});
    if (!data.empty()) out.resize(dataOffset, 0);
  } else {
    put(ULONG(data.size()));
  }
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

TEST(Registry, QueryValueBufferProtocol) {
  hostreg::Make(STORED);
  HANDLE key;
  ASSERT_EQ(STATUS_SUCCESS, Key(&key, VENDOR));
  // A value's name, type and data, and its data's offset in the full record
  // (4-aligned after the name).
  const std::tuple<const wchar_t *, ULONG, std::vector<uint8_t>, ULONG> values[] = {
      {L"Abc", REG_SZ, {'x', 0, 'y', 0, 'z', 0}, 28},  // REG_SZ without terminator
      {L"Even", REG_DWORD, {1, 2, 3, 4}, 28},
      {L"X", REG_BINARY, {0x5A}, 24},
      {L"Empty", REG_BINARY, {}, 0xFFFFFFFF},
  };
  const UCHAR kFill = 0xCC;
  for (const auto &[valueName, type, data, dataOffset] : values) {
    // Set twice, the second time under another case: one value, first spelling,
    // exactly the bytes given (no terminator added to REG_SZ), as the records show.
    const std::u16string name(reinterpret_cast<const char16_t *>(valueName));
    std::u16string upper = name;
    for (char16_t &c : upper) c = (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
    ASSERT_EQ(STATUS_SUCCESS, SetValue(key, valueName, REG_NONE, "previous", 9));
    ASSERT_EQ(STATUS_SUCCESS, SetValue(key, reinterpret_cast<const wchar_t *>(upper.c_str()), type, data.data(),
                                       ULONG(data.size())));
    for (bool full : {true, false}) {
      const ULONG header = full ? 20 : 12;
      const std::vector<uint8_t> expected = Record(full, name, type, data, dataOffset);
      const ULONG exact = ULONG(expected.size());
      const ULONG padding = header + ULONG(name.size() * 2);  // up to dataOffset
      for (ULONG length : {0u, header - 1, header, header + 1, exact - 1, exact, exact + 1}) {
        SCOPED_TRACE(U8(valueName) + (full ? " full, length " : " partial, length ") + std::to_string(length));
        std::vector<UCHAR> buffer(exact + 8, kFill);
        ULONG result = 0;
        NTSTATUS status = Query(key, valueName, full ? KeyValueFullInformation : KeyValuePartialInformation,
                                buffer.data(), length, &result);
        EXPECT_EQ(exact, result);
        EXPECT_EQ(length < header  ? STATUS_BUFFER_TOO_SMALL
                  : length < exact ? STATUS_BUFFER_OVERFLOW
                                   : STATUS_SUCCESS,
                  status);
        // Below the header nothing is written; from there on the record as far
        // as the length allows (padding may hold anything), and nothing beyond.
        ULONG written = status == STATUS_BUFFER_TOO_SMALL ? 0 : std::min(length, exact);
        for (ULONG i = 0; i < buffer.size(); ++i) {
          if (i >= written) {
            EXPECT_EQ(kFill, buffer[i]) << "byte " << i << " written";
          } else if (!full || data.empty() || i < padding || i >= dataOffset) {
            EXPECT_EQ(expected[i], buffer[i]) << "byte " << i;
          }
        }
      }
    }
  }
  ULONG result = 0;
  UCHAR buffer[64];
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
            Query(key, L"Missing", KeyValuePartialInformation, buffer, sizeof buffer, &result));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, Query(key, L"abc", KeyValueBasicInformation, buffer, sizeof buffer, &result));
  ZwClose(key);
}

TEST(Registry, DeleteKeyWithOpenHandles) {
  hostreg::Make(STORED "\\Parent\\Child");
  HANDLE parent, child, readOnly, other;
  ULONG disposition, result;
  UCHAR buffer[32];
  const ULONG one = 1;
  ASSERT_EQ(STATUS_SUCCESS, Key(&parent, VENDOR L"\\Parent"));
  ASSERT_EQ(STATUS_SUCCESS, Key(&child, VENDOR L"\\Parent\\Child"));
  ASSERT_EQ(STATUS_SUCCESS, Key(&readOnly, VENDOR L"\\Parent\\Child", nullptr, nullptr, KEY_READ));
  auto set = [&](HANDLE h) { return SetValue(h, L"V", REG_DWORD, &one, 4); };
  auto query = [&](HANDLE h) { return Query(h, L"V", KeyValuePartialInformation, buffer, sizeof buffer, &result); };
  // A step, its status, and whether the child key exists after it.
  const std::tuple<const char *, std::function<NTSTATUS()>, NTSTATUS, bool> steps[] = {
      {"delete the parent", [&] { return ZwDeleteKey(parent); }, STATUS_CANNOT_DELETE, true},
      {"delete without access", [&] { return ZwDeleteKey(readOnly); }, STATUS_ACCESS_DENIED, true},
      {"set without access", [&] { return set(readOnly); }, STATUS_ACCESS_DENIED, true},
      {"set a value", [&] { return set(child); }, STATUS_SUCCESS, true},
      {"delete the child and its value", [&] { return ZwDeleteKey(child); }, STATUS_SUCCESS, false},
      {"set on the deleted key", [&] { return set(child); }, STATUS_KEY_DELETED, false},
      {"query via the other handle", [&] { return query(readOnly); }, STATUS_KEY_DELETED, false},
      {"open below it", [&] { return Key(&other, L"", child); }, STATUS_KEY_DELETED, false},
      {"create below it", [&] { return Key(&other, L"Sub", child, &disposition); }, STATUS_KEY_DELETED, false},
      {"delete again", [&] { return ZwDeleteKey(child); }, STATUS_SUCCESS, false},
      {"delete the emptied parent", [&] { return ZwDeleteKey(parent); }, STATUS_SUCCESS, false},
  };
  for (const auto &[what, call, status, kept] : steps) {
    SCOPED_TRACE(what);
    EXPECT_EQ(status, call());
    EXPECT_EQ(kept, hostreg::Find(STORED "\\Parent\\Child") != nullptr);
  }
  EXPECT_EQ(nullptr, hostreg::Find(STORED "\\Parent"));
  // The name is free again, while the old handle still names the deleted key.
  ASSERT_EQ(STATUS_SUCCESS, Key(&other, VENDOR L"\\Parent", nullptr, &disposition));
  EXPECT_EQ(ULONG(REG_CREATED_NEW_KEY), disposition);
  EXPECT_EQ(STATUS_KEY_DELETED, set(parent));
  for (HANDLE h : {other, parent, child, readOnly}) EXPECT_EQ(STATUS_SUCCESS, ZwClose(h));
}

TEST(Registry, RtlWriteAndCheck) {
  hostreg::Make(STORED);
  const ULONG optional = RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL;
  ULONG seven = 7;
  wchar_t vendor[] = VENDOR, leaf[] = VENDOR L"\\Leaf", deep[] = VENDOR L"\\Missing\\Leaf";
  // A write (or a check), where its path is relative to, the path, the status.
  const std::tuple<bool, ULONG, wchar_t *, NTSTATUS> cases[] = {
      {false, RTL_REGISTRY_ABSOLUTE, vendor, STATUS_SUCCESS},
      {false, optional, leaf, STATUS_OBJECT_NAME_NOT_FOUND},  // checking creates nothing
      {true, optional, deep, STATUS_OBJECT_NAME_NOT_FOUND},
      {false, RTL_REGISTRY_ABSOLUTE, deep, STATUS_OBJECT_NAME_NOT_FOUND},
      {true, optional, leaf, STATUS_SUCCESS},  // the missing leaf is created
      {false, optional, leaf, STATUS_SUCCESS},
      {true, RTL_REGISTRY_ABSOLUTE, vendor, STATUS_SUCCESS},
  };
  for (const auto &[write, relativeTo, path, status] : cases) {
    SCOPED_TRACE(U8(path) + (write ? " write" : " check"));
    EXPECT_EQ(status, write ? RtlWriteRegistryValue(relativeTo, path, L"Count", REG_DWORD, &seven, 4)
                            : RtlCheckRegistryKey(relativeTo, path));
  }
  EXPECT_EQ(nullptr, hostreg::Find(STORED "\\Missing"));
  for (const char *path : {STORED, STORED "\\Leaf"}) {
    hostreg::Value stored;
    ASSERT_TRUE(hostreg::GetValue(path, "Count", &stored)) << path;
    EXPECT_EQ(std::vector<uint8_t>({7, 0, 0, 0}), stored.data);
  }
}

TEST(RegistryDeathTest, RefusedAbovePassiveLevel) {
  KIRQL old;
  HANDLE key;
  EXPECT_DEATH((KeRaiseIrql(DISPATCH_LEVEL, &old), Key(&key, VENDOR)), "STOP 0x0000000A: ZwOpenKey");
}

}  // namespace
