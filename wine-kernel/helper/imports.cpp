// The driver image's import table: where Wine 8's kernel has a stub or a
// refusal for a routine the driver imports from ntoskrnl.exe, the helper's
// routine takes its place in that image's import address table, and in no
// other module. Wine tells the drivers of a winedevice process of each
// driver image it loads, after resolving its imports and before calling its
// entry point (PsSetLoadImageNotifyRoutine), so the driver runs with the
// substitutes from its first instruction. Every other import stays Wine's.
#include "helper.h"

#include <ntimage.h>

extern "C" __declspec(dllimport) BOOLEAN NTAPI VirtualProtect(PVOID address, SIZE_T size, ULONG protect,
                                                              PULONG old);

namespace {

const ULONG kReadWrite = 0x04;  // PAGE_READWRITE

struct Substitute {
  const char *name;
  PVOID routine;
  ULONG bit;
};

const Substitute kSubstitutes[] = {
    {"IoConnectInterrupt", (PVOID)HelperConnectInterrupt, WINE_HELPER_SUBSTITUTE_CONNECT},
    {"IoDisconnectInterrupt", (PVOID)HelperDisconnectInterrupt, WINE_HELPER_SUBSTITUTE_DISCONNECT},
    {"KeSynchronizeExecution", (PVOID)HelperSynchronizeExecution, WINE_HELPER_SUBSTITUTE_SYNCHRONIZE},
    {"KeInsertQueueDpc", (PVOID)HelperInsertQueueDpc, WINE_HELPER_SUBSTITUTE_QUEUE_DPC},
    {"KeFlushQueuedDpcs", (PVOID)HelperFlushQueuedDpcs, WINE_HELPER_SUBSTITUTE_FLUSH_DPCS},
    {"PoRequestPowerIrp", (PVOID)HelperRequestPowerIrp, WINE_HELPER_SUBSTITUTE_POWER_IRP},
    {"ObReferenceObjectByHandle", (PVOID)HelperReferenceObjectByHandle, WINE_HELPER_SUBSTITUTE_HANDLE},
    {"IoRegisterShutdownNotification", (PVOID)HelperRegisterShutdown, WINE_HELPER_SUBSTITUTE_SHUTDOWN},
    {"IoUnregisterShutdownNotification", (PVOID)HelperUnregisterShutdown, WINE_HELPER_SUBSTITUTE_NO_SHUTDOWN},
    {"IoDeleteDevice", (PVOID)HelperDeleteDevice, WINE_HELPER_SUBSTITUTE_DELETE},
    {"IoAllocateErrorLogEntry", (PVOID)HelperAllocateErrorLogEntry, WINE_HELPER_SUBSTITUTE_LOG_ENTRY},
    {"IoWriteErrorLogEntry", (PVOID)HelperWriteErrorLogEntry, WINE_HELPER_SUBSTITUTE_WRITE_LOG},
    {"IoFreeErrorLogEntry", (PVOID)HelperFreeErrorLogEntry, WINE_HELPER_SUBSTITUTE_FREE_LOG},
};
const ULONG kCount = sizeof(kSubstitutes) / sizeof(kSubstitutes[0]);

PVOID gImage;        // the image under test, once loaded
ULONG gSubstituted;  // WINE_HELPER_SUBSTITUTE_... bits

char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

BOOLEAN SameName(const char *a, const char *b, BOOLEAN anyCase) {
  for (; *a != 0 && *b != 0; ++a, ++b)
    if (anyCase ? Lower(*a) != Lower(*b) : *a != *b) return FALSE;
  return *a == *b;
}

// The file name of the path is the image under test's.
BOOLEAN IsImageUnderTest(PUNICODE_STRING path) {
  static const WCHAR kName[] = WINE_HELPER_IMAGE_UNDER_TEST;
  ULONG nameChars = sizeof(kName) / sizeof(WCHAR) - 1;
  ULONG chars = path->Length / sizeof(WCHAR);
  if (chars < nameChars) return FALSE;
  const WCHAR *tail = path->Buffer + chars - nameChars;
  if (chars > nameChars && tail[-1] != L'\\' && tail[-1] != L'/') return FALSE;
  for (ULONG i = 0; i < nameChars; ++i) {
    WCHAR a = tail[i], b = kName[i];
    if (a >= L'A' && a <= L'Z') a = (WCHAR)(a - L'A' + L'a');
    if (b >= L'A' && b <= L'Z') b = (WCHAR)(b - L'A' + L'a');
    if (a != b) return FALSE;
  }
  return TRUE;
}

VOID Replace(PVOID *slot, PVOID routine) {
  ULONG old;
  VirtualProtect(slot, sizeof(*slot), kReadWrite, &old);
  *slot = routine;
  VirtualProtect(slot, sizeof(*slot), old, &old);
}

VOID SubstituteIn(PUCHAR base) {
  PIMAGE_DOS_HEADER dos = (PIMAGE_DOS_HEADER)base;
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
  PIMAGE_NT_HEADERS64 nt = (PIMAGE_NT_HEADERS64)(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return;
  IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return;
  for (PIMAGE_IMPORT_DESCRIPTOR d = (PIMAGE_IMPORT_DESCRIPTOR)(base + directory.VirtualAddress); d->Name != 0; ++d) {
    if (!SameName((const char *)(base + d->Name), "ntoskrnl.exe", TRUE)) continue;
    ULONG lookup = d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk;
    PIMAGE_THUNK_DATA64 names = (PIMAGE_THUNK_DATA64)(base + lookup);
    PVOID *slots = (PVOID *)(base + d->FirstThunk);
    for (ULONG n = 0; names[n].u1.AddressOfData != 0; ++n) {
      if (IMAGE_SNAP_BY_ORDINAL64(names[n].u1.Ordinal)) continue;
      PIMAGE_IMPORT_BY_NAME byName = (PIMAGE_IMPORT_BY_NAME)(base + names[n].u1.AddressOfData);
      for (ULONG i = 0; i < kCount; ++i) {
        if (!SameName((const char *)byName->Name, kSubstitutes[i].name, FALSE)) continue;
        Replace(&slots[n], kSubstitutes[i].routine);
        gSubstituted |= kSubstitutes[i].bit;
      }
    }
  }
}

VOID NTAPI ImageLoaded(PUNICODE_STRING path, HANDLE process, PIMAGE_INFO info) {
  UNREFERENCED_PARAMETER(process);
  if (gImage != NULL || path == NULL || !IsImageUnderTest(path)) return;
  gImage = info->ImageBase;
  SubstituteIn((PUCHAR)gImage);
}

}  // namespace

NTSTATUS StartImportSubstitution(void) { return PsSetLoadImageNotifyRoutine(ImageLoaded); }

// The substitutes stay in the image: it is unloaded before the helper, or
// goes with the process.
VOID StopImportSubstitution(void) { PsRemoveLoadImageNotifyRoutine(ImageLoaded); }

ULONG SubstitutedImports(void) { return gSubstituted; }
