// Libraries: LoadLibraryA maps a host shared object, finds the resources
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

// The path a module was loaded from (the program's for none). A buffer too
// small gets as much as fits with a terminator, the answer is its size and
// the error ERROR_INSUFFICIENT_BUFFER, as since Windows Vista
// [MS:libloaderapi/nf-libloaderapi-getmodulefilenamea].
DWORD WINAPI GetModuleFileNameA(HMODULE instance, LPSTR buffer, DWORD size) {
  std::string path;
  if (!instance) {
    char program[4096];
    ssize_t length = readlink("/proc/self/exe", program, sizeof program);
    path.assign(program, length > 0 ? size_t(length) : 0);
  } else if (Module *module = ModuleOf(instance)) {
    path = module->name;
  } else {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  memcpy(buffer, path.c_str(), path.size() + 1);
  return DWORD(path.size());
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
