// Checks a driver package's version-2 catalog with Windows' own catalog
// functions (as Wine's wintrust has them), run under Wine by
// tools/check-package.sh:
//
//   catalog_check.exe PACKAGE_DIRECTORY
//
// Each file of the package but its one catalog (*.cat) must be exactly one of
// the catalog's members (CryptCATOpen, CryptCATEnumerateMember), by the
// SHA-256 hash Windows computes for it, its indirect data naming SHA-256,
// with the subject type of its kind; no member may be left over, and none may
// be the hash of a file changed by one byte. (Not
// CryptCATAdminEnumCatalogFromHash: Wine 8's provider there has no SHA-256
// and cannot read a catalog signed with it.)
//
// Windows computes the hash with CryptCATAdminCalcHashFromFileHandle2 in a
// SHA-256 context (CryptCATAdminAcquireContext2): the Authenticode hash of a
// PE image (without its checksum and signature), the hash of all the bytes
// of any other file. Wine 8's wintrust has no CryptCATAdminCalcHashFromFileHandle2;
// there the program computes the hash the same way with CryptHashData, and
// says so.
#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>
#include <wintrust.h>

#include "../../wine-kernel/test/wine_program.h"

using namespace winetest;

namespace {

using Bytes = std::vector<BYTE>;

// mssip.h's subject types, as CAT_MEMBERINFO names them.
const GUID kPeImage = {0xC689AAB8, 0x8E78, 0x11D0, {0x8C, 0x47, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
const GUID kFlatImage = {0xDE351A42, 0x8E59, 0x11D0, {0x8C, 0x47, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

std::string Hex(const Bytes &bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (BYTE b : bytes) text += {kDigits[b >> 4], kDigits[b & 0xF]};
  return text;
}

constexpr DWORD kSha256Size = 32;

Bytes Sha256(const std::vector<std::pair<const BYTE *, size_t>> &ranges) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  Bytes digest(kSha256Size);
  DWORD length = kSha256Size;
  if (!CryptAcquireContextW(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return Bytes();
  bool ok = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash);
  for (const auto &range : ranges) ok = ok && CryptHashData(hash, range.first, DWORD(range.second), 0);
  ok = ok && CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &length, 0);
  if (hash) CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  return ok ? digest : Bytes();
}

bool IsPeImage(const Bytes &data) {
  if (data.size() < 0x40 || data[0] != 'M' || data[1] != 'Z') return false;
  DWORD pe = *reinterpret_cast<const DWORD *>(&data[0x3C]);
  return pe + sizeof(IMAGE_NT_HEADERS64) <= data.size() && memcmp(&data[pe], "PE\0\0", 4) == 0;
}

// The Authenticode hash of a PE image: all of it but the checksum, the
// certificate-table directory entry and the certificate table; an unsigned
// image as if padded with zeros to 8 bytes.
Bytes ImageHash(const Bytes &data) {
  DWORD pe = *reinterpret_cast<const DWORD *>(&data[0x3C]);
  const BYTE *base = data.data();
  size_t optional = pe + 4 + sizeof(IMAGE_FILE_HEADER);
  bool pe64 = *reinterpret_cast<const WORD *>(base + optional) == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
  static_assert(offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum) == offsetof(IMAGE_OPTIONAL_HEADER32, CheckSum), "");
  size_t checksum = optional + offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum);
  size_t security = optional +
                    (pe64 ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                          : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory)) +
                    IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
  const IMAGE_DATA_DIRECTORY *table = reinterpret_cast<const IMAGE_DATA_DIRECTORY *>(base + security);
  size_t end = table->Size ? table->VirtualAddress : data.size();
  if (end > data.size() || end < security + sizeof(IMAGE_DATA_DIRECTORY)) return Bytes();
  static const BYTE zeros[8] = {};
  size_t pad = !table->Size && data.size() % 8 ? 8 - data.size() % 8 : 0;
  return Sha256({{base, checksum},
               {base + checksum + 4, security - checksum - 4},
               {base + security + sizeof(IMAGE_DATA_DIRECTORY), end - security - sizeof(IMAGE_DATA_DIRECTORY)},
               {zeros, pad}});
}

// The hash the file's member must have, as Windows computes it for a
// version-2 catalog.
Bytes WindowsHash(const std::wstring &path, const Bytes &data) {
  // Looked up by name: Windows 8 and later have them, mingw-w64's import
  // library does not.
  using Acquire2 = BOOL(WINAPI *)(HCATADMIN *, const GUID *, const WCHAR *, const CERT_STRONG_SIGN_PARA *, DWORD);
  using CalcHash2 = BOOL(WINAPI *)(HCATADMIN, HANDLE, DWORD *, BYTE *, DWORD);
  HMODULE wintrust = GetModuleHandleW(L"wintrust.dll");
  auto acquire = reinterpret_cast<Acquire2>(
      reinterpret_cast<void *>(GetProcAddress(wintrust, "CryptCATAdminAcquireContext2")));
  auto calc = reinterpret_cast<CalcHash2>(
      reinterpret_cast<void *>(GetProcAddress(wintrust, "CryptCATAdminCalcHashFromFileHandle2")));
  HCATADMIN admin = NULL;
  if (acquire != NULL && calc != NULL && acquire(&admin, NULL, BCRYPT_SHA256_ALGORITHM, NULL, 0)) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    Bytes hash(kSha256Size);
    DWORD length = DWORD(hash.size());
    bool ok = file != INVALID_HANDLE_VALUE && calc(admin, file, &length, hash.data(), 0);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    CryptCATAdminReleaseContext(admin, 0);
    Check(ok && length == kSha256Size, "%s: CryptCATAdminCalcHashFromFileHandle2 gives a SHA-256 hash (error %lu)",
          Narrow(path).c_str(), ok ? 0 : GetLastError());
    return ok ? hash : Bytes();
  }
  Bytes hash = IsPeImage(data) ? ImageHash(data) : Sha256({{data.data(), data.size()}});
  Note("note: %s: no CryptCATAdminCalcHashFromFileHandle2 here; the %s SHA-256, as Windows computes it, is %s",
       Narrow(path).c_str(), IsPeImage(data) ? "image's" : "file's", Hex(hash).c_str());
  return hash;
}

struct Member {
  Bytes digest;
  std::string digestAlgorithm;
  GUID subject;
  std::string dataType;
  bool matched = false;
};

std::vector<Member> Members(const std::wstring &catalog) {
  std::vector<Member> members;
  std::wstring name = catalog;
  HANDLE handle = CryptCATOpen(&name[0], CRYPTCAT_OPEN_EXISTING, 0, CRYPTCAT_VERSION_2, 0);
  if (!Check(handle != INVALID_HANDLE_VALUE && handle != NULL, "CryptCATOpen opens %s (error %lu)",
             Narrow(catalog).c_str(), GetLastError())) {
    return members;
  }
  for (CRYPTCATMEMBER *m = CryptCATEnumerateMember(handle, NULL); m; m = CryptCATEnumerateMember(handle, m)) {
    Member member;
    if (m->pIndirectData) {
      member.digest.assign(m->pIndirectData->Digest.pbData,
                           m->pIndirectData->Digest.pbData + m->pIndirectData->Digest.cbData);
      member.dataType = m->pIndirectData->Data.pszObjId ? m->pIndirectData->Data.pszObjId : "";
      const char *algorithm = m->pIndirectData->DigestAlgorithm.pszObjId;
      member.digestAlgorithm = algorithm ? algorithm : "";
    }
    member.subject = m->gSubjectType;
    Check(m->pwszReferenceTag && Narrow(m->pwszReferenceTag).size() == 2 * member.digest.size(),
          "member %s has its hash as reference tag", Hex(member.digest).c_str());
    members.push_back(member);
  }
  CryptCATClose(handle);
  return members;
}

// The package's one catalog.
std::wstring CatalogOf(const std::wstring &directory) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory + L"\\*.cat").c_str(), &found);
  std::wstring name = search != INVALID_HANDLE_VALUE ? found.cFileName : L"";
  bool one = search != INVALID_HANDLE_VALUE && !FindNextFileW(search, &found);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  Check(one, "the package has one catalog (%s)", Narrow(name).c_str());
  return name;
}

void Run(const std::wstring &directory) {
  const std::wstring catalogName = CatalogOf(directory);
  std::vector<Member> members = Members(directory + L"\\" + catalogName);
  int files = 0;
  Bytes changed;

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    std::wstring name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || _wcsicmp(name.c_str(), catalogName.c_str()) == 0)
      continue;
    std::wstring path = directory + L"\\" + name;
    Bytes data;
    if (!Check(ReadWholeFile(path, &data), "%s reads", Narrow(name).c_str())) continue;
    Bytes hash = WindowsHash(path, data);
    if (hash.empty()) continue;
    bool pe = IsPeImage(data);
    int matches = 0;
    for (Member &member : members) {
      if (member.digest != hash) continue;
      ++matches;
      member.matched = true;
      Check(IsEqualGUID(member.subject, pe ? kPeImage : kFlatImage) &&
                member.dataType == (pe ? SPC_PE_IMAGE_DATA_OBJID : SPC_CAB_DATA_OBJID) &&
                member.digestAlgorithm == szOID_NIST_sha256,
            "%s: its member is a %s (%s), hashed with SHA-256 (%s)", Narrow(name).c_str(),
            pe ? "PE image" : "flat file", member.dataType.c_str(), member.digestAlgorithm.c_str());
    }
    Check(matches == 1, "%s: %d member(s) of hash %s", Narrow(name).c_str(), matches, Hex(hash).c_str());
    ++files;
    if (changed.empty()) {
      data[data.size() / 2] ^= 0x01;
      changed = pe ? ImageHash(data) : Sha256({{data.data(), data.size()}});
    }
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  Check(files > 0, "the package holds files besides the catalog");
  for (const Member &member : members) {
    Check(member.matched, "member %s is a file of the package", Hex(member.digest).c_str());
    Check(member.digest != changed, "member %s is not the hash of a file changed by one byte",
          Hex(member.digest).c_str());
  }
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: catalog_check.exe PACKAGE_DIRECTORY\n");
    return 2;
  }
  Run(argv[1]);
  Note("catalog %s: %d failed checks", gFailures ? "FAILED" : "passed", gFailures);
  return gFailures ? 1 : 0;
}
