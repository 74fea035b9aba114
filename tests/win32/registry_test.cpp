// advapi32's registry functions: error codes, short buffers, missing values
// and REG_SZ terminators, and the rights of the process, over the registry
// the kernel shares.
#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>

#include "registry_store.h"
#include "win32_fixture.h"

namespace win32test {
namespace {

using Win32RegistryTest = Win32Test;

const char kPath[] = "SOFTWARE\\Test\\Sub";
const char kAbsolute[] = "\\REGISTRY\\MACHINE\\SOFTWARE\\Test\\Sub";
const char kUserPath[] = "S-1-5-21\\Software\\Test";

LSTATUS SetOne(HKEY key) {
  const DWORD one = 1;
  return RegSetValueExA(key, "V", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&one), 4);
}

TEST_F(Win32RegistryTest, OpenFindsOnlyExistingKeysAndCreateMakesTheWholePath) {
  HKEY key = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kPath, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  HKEY created, again, opened, same;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kPath, &created), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "software\\TEST\\sub", &again), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", &opened), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyA(opened, "", &same), ERROR_SUCCESS);
  EXPECT_EQ(same, opened) << "an empty path gives back the same handle";
  EXPECT_EQ(RegDeleteKeyA(opened, ""), ERROR_ACCESS_DENIED) << "it has a subkey";
  std::vector<LSTATUS> closes;
  for (HKEY handle : {created, created, HKEY(nullptr), HKEY_LOCAL_MACHINE, again, opened})
    closes.push_back(RegCloseKey(handle));
  EXPECT_EQ(closes, (std::vector<LSTATUS>{ERROR_SUCCESS, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE, ERROR_SUCCESS,
                                          ERROR_SUCCESS, ERROR_SUCCESS}));
  EXPECT_EQ(RegQueryValueExA(created, "x", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
}

// A REG_SZ "hello" stored by the kernel, with and without its terminator,
// and a value that is not there, read through buffers of several sizes.
TEST_F(Win32RegistryTest, QueriesHandleShortBuffersMissingTerminatorsAndMissingValues) {
  // The value ("Text" terminated, "Bare" not, "None" missing), the buffer's
  // size (-1: none, only the size asked), the answer, the size returned and
  // the buffer's first 7 bytes afterwards ('~' untouched; none: not usable).
  const std::tuple<const char *, int, LSTATUS, DWORD, const char *> cases[] = {
      {"Bare", -1, ERROR_SUCCESS, 5, "~~~~~~~"}, {"Bare", 4, ERROR_MORE_DATA, 5, nullptr},
      {"Bare", 5, ERROR_SUCCESS, 5, "hello~~"},  {"Bare", 6, ERROR_SUCCESS, 5, "hello\0~"},
      {"Text", 5, ERROR_MORE_DATA, 6, nullptr},  {"Text", 6, ERROR_SUCCESS, 6, "hello\0~"},
      {"None", 4, ERROR_FILE_NOT_FOUND, 4, "~~~~~~~"},
  };
  hostreg::SetValue(hostreg::Make(kAbsolute), u"Text", REG_SZ, u"hello", 12);
  hostreg::SetValue(hostreg::Make(kAbsolute), u"Bare", REG_SZ, u"hello", 10);
  HKEY key;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kPath, &key), ERROR_SUCCESS);
  for (const auto &[name, bufferSize, status, returned, bytes] : cases) {
    SCOPED_TRACE(std::string(name) + ", buffer " + std::to_string(bufferSize));
    char buffer[8];
    memset(buffer, '~', sizeof buffer);
    DWORD size = bufferSize < 0 ? 0 : DWORD(bufferSize), type = 0;
    BYTE *into = bufferSize < 0 ? nullptr : reinterpret_cast<BYTE *>(buffer);
    const LSTATUS answer = RegQueryValueExA(key, name, nullptr, &type, into, &size);
    EXPECT_EQ(std::make_tuple(answer, size, type),
              std::make_tuple(status, returned, status == ERROR_FILE_NOT_FOUND ? 0u : DWORD(REG_SZ)));
    if (bytes) EXPECT_EQ(std::string(buffer, 7), std::string(bytes, 7));
    else EXPECT_NE(std::string(buffer, 4), "hell") << "a short buffer holds no usable text";
  }
  char buffer[4];
  EXPECT_EQ(RegQueryValueExA(key, "None", nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), nullptr),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

// Exactly the bytes given, each in a buffer of its own size, so that a read
// past the end is caught: a text whose length leaves out its terminator is
// stored without one.
TEST_F(Win32RegistryTest, ValuesAreStoredAsTheBytesGiven) {
  // The value, its type, the bytes given and what the kernel reads.
  const std::tuple<const char *, DWORD, std::vector<uint8_t>, std::vector<uint8_t>> cases[] = {
      {"terminated", REG_SZ, {'a', 'b', 'c', 0}, {'a', 0, 'b', 0, 'c', 0, 0, 0}},
      {"length without the terminator", REG_SZ, {'a', 'b', 'c'}, {'a', 0, 'b', 0, 'c', 0}},
      {"number", REG_DWORD, {4, 3, 2, 1}, {4, 3, 2, 1}},
      {"empty", REG_SZ, {}, {}},
  };
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kPath, &key), ERROR_SUCCESS);
  for (const auto &[name, type, given, stored] : cases) {
    auto data = std::make_unique<uint8_t[]>(given.size());
    std::copy(given.begin(), given.end(), data.get());
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, given.empty() ? nullptr : data.get(), DWORD(given.size())),
              ERROR_SUCCESS);
    hostreg::Value value;
    ASSERT_TRUE(hostreg::GetValue(kAbsolute, name, &value)) << name;
    EXPECT_EQ(value.data, stored) << name;
  }
  RegCloseKey(key);
}

// A handle holds the access it was opened for: RegOpenKeyEx grants what it
// is asked for where the process's rights allow it, and refuses the rest. A
// standard user, and an administrator whose process is not elevated, may
// only read machine keys; the user's own keys stay writable.
TEST_F(Win32RegistryTest, OpenKeyExGrantsWhatItIsAskedForOrNothing) {
  // Who runs, the key (under HKEY_LOCAL_MACHINE, or the user's own), the
  // access asked, then what the open, a set and a query answer.
  const auto elevated = hostwin::Rights::ElevatedAdministrator, admin = hostwin::Rights::UnelevatedAdministrator,
             user = hostwin::Rights::StandardUser;
  const std::tuple<const char *, hostwin::Rights, const char *, REGSAM, LSTATUS, LSTATUS, LSTATUS> cases[] = {
      {"elevated, to write", elevated, kPath, KEY_SET_VALUE, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
      {"elevated, to read", elevated, kPath, KEY_QUERY_VALUE, ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_SUCCESS},
      {"elevated, 32-bit view", elevated, kPath, KEY_ALL_ACCESS | KEY_WOW64_32KEY, ERROR_SUCCESS, ERROR_SUCCESS,
       ERROR_SUCCESS},
      {"unelevated administrator, to write", admin, kPath, KEY_SET_VALUE, ERROR_ACCESS_DENIED, 0, 0},
      {"standard user, to write", user, kPath, KEY_SET_VALUE, ERROR_ACCESS_DENIED, 0, 0},
      {"standard user, all it may", user, kPath, MAXIMUM_ALLOWED, ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_SUCCESS},
      {"standard user, the user's own key", user, kUserPath, KEY_SET_VALUE, ERROR_SUCCESS, ERROR_SUCCESS,
       ERROR_ACCESS_DENIED},
      {"a key that is not there", elevated, "SOFTWARE\\None", KEY_READ, ERROR_FILE_NOT_FOUND, 0, 0},
  };
  hostreg::PutDword(kAbsolute, "V", 0);
  hostreg::PutDword(std::string("\\REGISTRY\\USER\\") + kUserPath, "V", 0);
  for (const auto &[what, rights, path, access, open, set, query] : cases) {
    SCOPED_TRACE(what);
    hostwin::RunAs(rights);
    HKEY key = reinterpret_cast<HKEY>(1);
    ASSERT_EQ(RegOpenKeyExA(path == kUserPath ? HKEY_USERS : HKEY_LOCAL_MACHINE, path, 0, access, &key), open);
    if (open != ERROR_SUCCESS) {
      EXPECT_EQ(key, nullptr);
      continue;
    }
    EXPECT_EQ(SetOne(key), set);
    DWORD size = 4, data;
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, reinterpret_cast<BYTE *>(&data), &size), query);
    RegCloseKey(key);
  }
}

// Without administrator rights RegOpenKey and RegCreateKey open a machine
// key for reading only, and nothing may be created or deleted there; rights
// are fixed when a handle is opened; every attempt to write is recorded.
TEST_F(Win32RegistryTest, WithoutAdministratorRightsMachineKeysAreReadOnly) {
  HKEY elevated, reading, opened, created, none = reinterpret_cast<HKEY>(1);
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kPath, &elevated), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, KEY_READ, &reading), ERROR_SUCCESS);
  EXPECT_EQ(RegCreateKeyA(reading, "Leaf", &none), ERROR_ACCESS_DENIED) << "creating takes KEY_CREATE_SUB_KEY";
  hostwin::RunAs(hostwin::Rights::StandardUser);
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other\\Deeper", &none), ERROR_ACCESS_DENIED);
  EXPECT_EQ(none, nullptr);
  EXPECT_FALSE(hostreg::Find("\\REGISTRY\\MACHINE\\SOFTWARE\\Other"));
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kPath, &opened), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kPath, &created), ERROR_SUCCESS) << "an existing key opens";
  std::vector<LSTATUS> sets;
  for (HKEY key : {HKEY_LOCAL_MACHINE, opened, created, elevated}) sets.push_back(SetOne(key));
  EXPECT_EQ(sets, (std::vector<LSTATUS>{ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
                                        ERROR_SUCCESS}))
      << "a handle keeps the rights it was opened with";
  EXPECT_EQ(RegCreateKeyA(opened, "Leaf", &none), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPath), ERROR_ACCESS_DENIED);
  std::vector<LSTATUS> recorded;
  for (const auto &write : hostwin::RegistryWrites()) recorded.push_back(write.result);
  EXPECT_EQ(recorded, sets) << "every attempt is recorded";
  for (HKEY key : {elevated, reading, opened, created}) RegCloseKey(key);
  hostwin::RunAs(hostwin::Rights::ElevatedAdministrator);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPath), ERROR_SUCCESS);
}

}  // namespace
}  // namespace win32test
