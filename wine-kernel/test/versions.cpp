// The version resources of the installed driver and applet and of the tool,
// read as Explorer's Properties and Device Manager's Driver Details read them
// (GetFileVersionInfoW, VerQueryValueW), against the [Version] section of the
// INF the package was installed from: DriverVer's version and the provider.
#include "checks.h"

#include <setupapi.h>

#include <cwchar>

namespace winetest {

namespace {

// A field of an INF line, with its %strings% resolved.
std::wstring InfField(HINF inf, const wchar_t *section, const wchar_t *key, DWORD field) {
  INFCONTEXT line;
  wchar_t text[256] = {};
  if (!SetupFindFirstLineW(inf, section, key, &line) || !SetupGetStringFieldW(&line, field, text, 256, NULL))
    return std::wstring();
  return text;
}

std::wstring Dotted(DWORD ms, DWORD ls) {
  wchar_t text[32];
  swprintf(text, 32, L"%lu.%lu.%lu.%lu", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
  return text;
}

// The value of a version resource's string in its first translation.
std::wstring VersionString(const std::vector<BYTE> &info, const wchar_t *name) {
  struct Translation {
    WORD language, codepage;
  } *translation;
  UINT size = 0;
  if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", (LPVOID *)&translation, &size) ||
      size < sizeof *translation) {
    return L"(no translation)";
  }
  wchar_t path[96];
  swprintf(path, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language, translation->codepage, name);
  wchar_t *value;
  if (!VerQueryValueW(info.data(), path, (LPVOID *)&value, &size) || size == 0) return L"(none)";
  return value;
}

void CheckVersion(const std::wstring &file, const std::wstring &version, const std::wstring &provider) {
  std::string name = Narrow(file.substr(file.find_last_of(L'\\') + 1));
  DWORD handle = 0;
  std::vector<BYTE> info(GetFileVersionInfoSizeW(file.c_str(), &handle));
  if (!Check(!info.empty() && GetFileVersionInfoW(file.c_str(), 0, DWORD(info.size()), info.data()),
             "%s: a version resource (error %lu)", name.c_str(), info.empty() ? GetLastError() : 0)) {
    return;
  }
  VS_FIXEDFILEINFO *fixed;
  UINT size = 0;
  if (!Check(VerQueryValueW(info.data(), L"\\", (LPVOID *)&fixed, &size) && size >= sizeof *fixed,
             "%s: VS_FIXEDFILEINFO", name.c_str())) {
    return;
  }
  std::wstring fileVersion = Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  std::wstring productVersion = Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  Check(fileVersion == version && productVersion == version &&
            VersionString(info, L"FileVersion") == version && VersionString(info, L"ProductVersion") == version,
        "%s: file and product version %s, %s (\"%s\", \"%s\"), DriverVer's %s", name.c_str(),
        Narrow(fileVersion).c_str(), Narrow(productVersion).c_str(),
        Narrow(VersionString(info, L"FileVersion")).c_str(), Narrow(VersionString(info, L"ProductVersion")).c_str(),
        Narrow(version).c_str());
  std::wstring original = VersionString(info, L"OriginalFilename");
  Check(_wcsicmp(original.c_str(), file.substr(file.find_last_of(L'\\') + 1).c_str()) == 0 &&
            VersionString(info, L"CompanyName") == provider && VersionString(info, L"FileDescription").size() > 6,
        "%s: \"%s\" by \"%s\", original name %s", name.c_str(), Narrow(VersionString(info, L"FileDescription")).c_str(),
        Narrow(VersionString(info, L"CompanyName")).c_str(), Narrow(original).c_str());
}

}  // namespace

void CheckVersions(const std::wstring &infPath, const std::vector<std::wstring> &files) {
  HINF inf = SetupOpenInfFileW(infPath.c_str(), NULL, INF_STYLE_WIN4, NULL);
  if (!Check(inf != INVALID_HANDLE_VALUE, "INF opened for its [Version] (error %lu)", GetLastError())) return;
  std::wstring version = InfField(inf, L"Version", L"DriverVer", 2);
  std::wstring provider = InfField(inf, L"Version", L"Provider", 1);
  SetupCloseInfFile(inf);
  Check(!version.empty() && !provider.empty(), "DriverVer %s, provider %s", Narrow(version).c_str(),
        Narrow(provider).c_str());
  for (const std::wstring &file : files) CheckVersion(file, version, provider);
}

}  // namespace winetest
