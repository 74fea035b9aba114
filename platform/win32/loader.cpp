// Libraries: LoadLibraryA maps a host shared object (named in UTF-8, as the
// Control Panel's LoadLibraryW names it in UTF-16), finds the resources
// packed into it and calls its DllMain, as the Windows loader does; the last
// FreeLibrary detaches and unmaps it, so that a reload starts from fresh data.
#include <dlfcn.h>
#include <unistd.h>

#include "desktop.h"

namespace hostwin {
namespace {

typedef BOOL(WINAPI *DllEntry)(HINSTANCE, DWORD, LPVOID);

// Where a host library keeps its compiled resources (the .res file).
constexpr const char kResources[] = "HostModuleResources";
constexpr const char kResourcesSize[] = "HostModuleResourcesSize";

HINSTANCE LoadedFrom(const std::string &path) {
  for (HINSTANCE instance : Modules())
    if (Module *m = ModuleOf(instance); m && m->library && m->name == path) return instance;
  return nullptr;
}

void Unmap(HINSTANCE instance, Module *module) {
  void *library = module->library;
  std::string path = module->name;
  RemoveModule(instance);
  dlclose(library);
  if (void *still = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    dlclose(still);
    Fault("library " + path + " stayed mapped after its last FreeLibrary");
  }
}

// A module's path as Windows gives it, from the UTF-8 name it was loaded by.
bool ModulePath(HINSTANCE instance, std::u16string *path) {
  if (!instance) {
    char program[4096];
    ssize_t length = readlink("/proc/self/exe", program, sizeof program);
    *path = Utf16(std::string(program, length > 0 ? size_t(length) : 0));
  } else if (Module *module = ModuleOf(instance)) {
    *path = Utf16(module->name);
  } else {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return false;
  }
  return true;
}

template <typename Text, typename Char>
DWORD CopyPath(const Text &path, Char *buffer, DWORD size) {
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  DWORD length = path.size() >= size ? size - 1 : DWORD(path.size());
  for (DWORD i = 0; i < length; ++i) buffer[i] = Char(path[i]);
  buffer[length] = 0;
  if (path.size() >= size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  return length;
}

}  // namespace

std::vector<std::string> LoadedLibraries() {
  std::vector<std::string> out;
  for (HINSTANCE instance : Modules())
    if (Module *m = ModuleOf(instance); m && m->library) out.push_back("library " + m->name + " still loaded");
  return out;
}

void ForgetLibraries() {
  for (HINSTANCE instance : Modules())
    if (Module *m = ModuleOf(instance); m && m->library) Unmap(instance, m);
}

}  // namespace hostwin

using namespace hostwin;

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (HINSTANCE already = LoadedFrom(fileName)) {
    ++ModuleOf(already)->references;
    return already;
  }
  void *library = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  auto module = std::make_unique<Module>();
  module->name = fileName;
  module->library = library;
  module->references = 1;
  auto *bytes = static_cast<const uint8_t *>(dlsym(library, kResources));
  auto *size = static_cast<const size_t *>(dlsym(library, kResourcesSize));
  if (bytes && size && !ParseResFile(std::vector<uint8_t>(bytes, bytes + *size), &module->resources))
    Fault(std::string("malformed resources in ") + fileName);
  HINSTANCE instance = AddModule(std::move(module));
  auto entry = reinterpret_cast<DllEntry>(dlsym(library, "DllMain"));
  if (entry && !entry(instance, DLL_PROCESS_ATTACH, nullptr)) {
    Unmap(instance, ModuleOf(instance));
    SetLastError(1114);  // ERROR_DLL_INIT_FAILED
    return nullptr;
  }
  return instance;
}

BOOL WINAPI FreeLibrary(HMODULE instance) {
  Module *module = ModuleOf(instance);
  if (!module || !module->library) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--module->references > 0) return TRUE;
  auto entry = reinterpret_cast<DllEntry>(dlsym(module->library, "DllMain"));
  if (entry) entry(instance, DLL_PROCESS_DETACH, nullptr);
  Unmap(instance, ModuleOf(instance));
  return TRUE;
}

// The path a module was loaded from (the program's for none), in UTF-16. A
// buffer too small gets as much as fits with a terminator, the answer is
// its size and the error ERROR_INSUFFICIENT_BUFFER, as since Windows Vista
// [MS:libloaderapi/nf-libloaderapi-getmodulefilenamea].
DWORD WINAPI GetModuleFileNameW(HMODULE instance, LPWSTR buffer, DWORD size) {
  std::u16string path;
  if (!ModulePath(instance, &path)) return 0;
  return CopyPath(path, buffer, size);
}

// The ANSI form converts the path to the process's code page, here 1252
// (Western European): a character it has no place for becomes "?", so
// that the path names no file [MS:intl/code-pages]
// [MS:stringapiset/nf-stringapiset-widechartomultibyte].
DWORD WINAPI GetModuleFileNameA(HMODULE instance, LPSTR buffer, DWORD size) {
  std::u16string path;
  if (!ModulePath(instance, &path)) return 0;
  std::string ansi;
  for (char16_t c : path) ansi.push_back(c < 0x80 || (c >= 0xA0 && c <= 0xFF) ? char(c) : '?');
  return CopyPath(ansi, buffer, size);
}

FARPROC WINAPI GetProcAddress(HMODULE instance, LPCSTR name) {
  Module *module = ModuleOf(instance);
  if (!module || !module->library || !name) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void *symbol = dlsym(module->library, name);
  if (!symbol) SetLastError(ERROR_PROC_NOT_FOUND);
  return reinterpret_cast<FARPROC>(symbol);
}

}  // extern "C"
