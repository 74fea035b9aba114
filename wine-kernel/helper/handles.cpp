// A user-mode caller's handles for the driver under test. Wine 8's
// ObReferenceObjectByHandle refuses every lookup for a user-mode request
// ("UserMode access not implemented", STATUS_NOT_IMPLEMENTED); it looks up
// handles of winedevice itself, in kernel mode, only. During a request
// Wine's current thread is the requesting program's, so the handle is found
// where Windows finds it: in the caller's process. It is duplicated from
// there into winedevice with the access it was granted, looked up by Wine
// as a kernel-mode handle, and the access the caller asked for is checked
// against the granted one, as Windows checks it for user mode. A kernel
// handle value (negative) is never a user-mode caller's.
#include "helper.h"

extern "C" {
__declspec(dllimport) NTSTATUS NTAPI ZwDuplicateObject(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess,
                                                       PHANDLE target, ACCESS_MASK access, ULONG attributes,
                                                       ULONG options);
__declspec(dllimport) NTSTATUS NTAPI ZwQueryObject(HANDLE handle, ULONG informationClass, PVOID information,
                                                   ULONG length, PULONG returned);
}

namespace {

const ULONG kObjectBasicInformation = 0;

// ObjectBasicInformation's record, as the kernel returns it.
struct ObjectBasic {
  ULONG Attributes;
  ACCESS_MASK GrantedAccess;
  ULONG HandleCount;
  ULONG PointerCount;
  ULONG Reserved[10];
};

}  // namespace

NTSTATUS NTAPI HelperReferenceObjectByHandle(HANDLE handle, ACCESS_MASK access, POBJECT_TYPE type,
                                             KPROCESSOR_MODE mode, PVOID *object,
                                             POBJECT_HANDLE_INFORMATION information) {
  if (mode == KernelMode) return ObReferenceObjectByHandle(handle, access, type, mode, object, information);
  *object = NULL;
  if ((LONG_PTR)handle <= 0) return STATUS_INVALID_HANDLE;

  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, NULL, 0, NULL, NULL);
  CLIENT_ID caller = {PsGetCurrentProcessId(), NULL};
  HANDLE process;
  NTSTATUS status = ZwOpenProcess(&process, PROCESS_DUP_HANDLE, &attributes, &caller);
  if (!NT_SUCCESS(status)) return status;
  HANDLE local = NULL;
  status = ZwDuplicateObject(process, handle, NtCurrentProcess(), &local, 0, 0, DUPLICATE_SAME_ACCESS);
  ZwClose(process);
  if (!NT_SUCCESS(status)) return STATUS_INVALID_HANDLE;

  ObjectBasic basic = {};
  status = ZwQueryObject(local, kObjectBasicInformation, &basic, sizeof(basic), NULL);
  // The type first, then the access, as Windows checks them.
  if (NT_SUCCESS(status)) status = ObReferenceObjectByHandle(local, access, type, KernelMode, object, NULL);
  if (NT_SUCCESS(status) && (basic.GrantedAccess & access) != access) {
    ObDereferenceObject(*object);
    *object = NULL;
    status = STATUS_ACCESS_DENIED;
  }
  if (NT_SUCCESS(status) && information != NULL) {
    information->GrantedAccess = basic.GrantedAccess;
    information->HandleAttributes = 0;
  }
  ZwClose(local);
  return status;
}
