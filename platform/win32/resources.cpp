// Modules and their resources: the .res file that the resource compiler
// makes from a module's script, looked up by type and name as
// FindResource does, and LoadStringA over the string tables.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "desktop.h"

namespace hostwin {
namespace {

std::map<uintptr_t, std::unique_ptr<Module>> &Table() {
  static std::map<uintptr_t, std::unique_ptr<Module>> table;
  return table;
}
uintptr_t &NextBase() {
  static uintptr_t next = 0x10000000;
  return next;
}

struct Reader {
  const std::vector<uint8_t> &bytes;
  size_t at;
  bool ok = true;
  WORD Word() {
    if (at + 2 > bytes.size()) return ok = false, 0;
    WORD w = WORD(bytes[at] | bytes[at + 1] << 8);
    at += 2;
    return w;
  }
  DWORD Dword() {
    DWORD low = Word();
    return low | DWORD(Word()) << 16;
  }
  // A number (0xFFFF then the number) or a NUL-terminated UTF-16 name.
  void NameOrId(WORD *id, std::u16string *name) {
    WORD first = Word();
    if (first == 0xFFFF) {
      *id = Word();
      return;
    }
    *id = 0;
    for (WORD c = first; ok && c; c = Word()) name->push_back(char16_t(c));
  }
  void AlignDword() { at = (at + 3) & ~size_t(3); }
};

bool NameMatches(const Resource &resource, LPCSTR name) {
  if (IS_INTRESOURCE(name)) return resource.nameId == WORD(uintptr_t(name));
  if (name[0] == '#') return resource.nameId == WORD(atoi(name + 1));
  if (resource.nameId) return false;
  std::u16string wanted;
  for (const char *c = name; *c; ++c) wanted.push_back(char16_t(toupper(static_cast<unsigned char>(*c))));
  std::u16string have;
  for (char16_t c : resource.name) have.push_back(c < 0x80 ? char16_t(toupper(int(c))) : c);
  return have == wanted;
}

}  // namespace

bool ParseResFile(const std::vector<uint8_t> &bytes, std::vector<Resource> *out) {
  Reader reader{bytes, 0};
  while (reader.at < bytes.size()) {
    size_t start = reader.at;
    DWORD dataSize = reader.Dword();
    DWORD headerSize = reader.Dword();
    Resource resource;
    reader.NameOrId(&resource.typeId, &resource.typeName);
    reader.NameOrId(&resource.nameId, &resource.name);
    reader.AlignDword();
    reader.Dword();  // data version
    reader.Word();   // memory flags
    resource.language = reader.Word();
    if (!reader.ok || headerSize < 32 || start + headerSize + dataSize > bytes.size()) return false;
    size_t data = start + headerSize;
    resource.data.assign(bytes.begin() + long(data), bytes.begin() + long(data + dataSize));
    reader.at = data + dataSize;
    reader.AlignDword();
    // The file starts with an empty entry that marks it as a 32-bit .res.
    if (dataSize == 0 && resource.typeId == 0 && resource.typeName.empty()) continue;
    out->push_back(std::move(resource));
  }
  return true;
}

HINSTANCE AddModule(std::unique_ptr<Module> module) {
  uintptr_t base = NextBase();
  NextBase() += 0x100000;
  Table()[base] = std::move(module);
  return reinterpret_cast<HINSTANCE>(base);
}

Module *ModuleOf(HINSTANCE instance) {
  auto it = Table().find(reinterpret_cast<uintptr_t>(instance));
  return it == Table().end() ? nullptr : it->second.get();
}

void RemoveModule(HINSTANCE instance) { Table().erase(reinterpret_cast<uintptr_t>(instance)); }

std::vector<HINSTANCE> Modules() {
  std::vector<HINSTANCE> out;
  for (const auto &entry : Table()) out.push_back(reinterpret_cast<HINSTANCE>(entry.first));
  return out;
}

const Resource *FindResourceOf(HINSTANCE instance, WORD type, LPCSTR name) {
  Module *module = ModuleOf(instance);
  if (!module || !name) return nullptr;
  for (const Resource &resource : module->resources)
    if (resource.typeId == type && NameMatches(resource, name)) return &resource;
  return nullptr;
}

HINSTANCE RegisterResourceModule(const std::string &name, const std::vector<uint8_t> &res) {
  auto module = std::make_unique<Module>();
  module->name = name;
  if (!ParseResFile(res, &module->resources)) Fault("malformed resource file for " + name);
  return AddModule(std::move(module));
}

void UnregisterResourceModule(HINSTANCE module) { RemoveModule(module); }

std::vector<uint8_t> ReadBinaryFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fault("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace hostwin

using namespace hostwin;

extern "C" int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  if (!buffer) return 0;
  // Strings come in tables of 16: table (id / 16) + 1 holds id % 16.
  const Resource *table = FindResourceOf(instance, kRtString, MAKEINTRESOURCEA((id >> 4) + 1));
  std::u16string text;
  bool found = false;
  if (table) {
    size_t at = 0;
    const auto &d = table->data;
    for (UINT index = 0; index <= (id & 15) && at + 2 <= d.size(); ++index) {
      WORD length = WORD(d[at] | d[at + 1] << 8);
      at += 2;
      if (index == (id & 15)) {
        for (WORD i = 0; i < length && at + 2 <= d.size(); ++i, at += 2)
          text.push_back(char16_t(d[at] | d[at + 1] << 8));
        found = length != 0;
      } else {
        at += size_t(length) * 2;
      }
    }
  }
  if (size <= 0) return 0;
  if (!found) {
    buffer[0] = '\0';
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  // The text is cut to fit, always with its terminator.
  int count = 0;
  for (; count < int(text.size()) && count < size - 1; ++count)
    buffer[count] = text[size_t(count)] < 0x100 ? char(text[size_t(count)]) : '?';
  buffer[count] = '\0';
  return count;
}
