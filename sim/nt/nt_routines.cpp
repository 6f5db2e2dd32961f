// The NT kernel and hardware-layer routines a miniport calls, each handed to the NT kernel
// bound to the calling thread.

#include "host/ntkernel.h"
#include "sim/nt/nt_kernel.h"

using quell::sim::NtKernel;

extern "C" {

BOOLEAN PsGetVersion(PULONG MajorVersion, PULONG MinorVersion, PULONG BuildNumber,
                     PUNICODE_STRING CSDVersion) {
    const NtKernel& kernel = NtKernel::Current(__func__);
    if (MajorVersion != nullptr) *MajorVersion = kernel.MajorVersion();
    if (MinorVersion != nullptr) *MinorVersion = kernel.MinorVersion();
    if (BuildNumber != nullptr) *BuildNumber = kernel.BuildNumber();
    if (CSDVersion != nullptr) CSDVersion->Length = 0;
    return FALSE;  // a free build, not a checked one
}

KIRQL KeGetCurrentIrql(VOID) { return NtKernel::Current(__func__).Irql(); }

}  // extern "C"

// ---- Registry ----------------------------------------------------------------------------------

extern "C" {

NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES ObjectAttributes) {
    return NtKernel::Current(__func__).registry().OpenKey(KeyHandle, ObjectAttributes);
}

NTSTATUS ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES ObjectAttributes, ULONG,
                     PUNICODE_STRING, ULONG, PULONG Disposition) {
    return NtKernel::Current(__func__).registry().CreateKey(KeyHandle, ObjectAttributes,
                                                            Disposition);
}

NTSTATUS ZwClose(HANDLE Handle) { return NtKernel::Current(__func__).registry().Close(Handle); }

NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG, ULONG Type, PVOID Data,
                       ULONG DataSize) {
    return NtKernel::Current(__func__).registry().SetValueKey(KeyHandle, ValueName, Type, Data,
                                                              DataSize);
}

NTSTATUS ZwQueryKey(HANDLE KeyHandle, KEY_INFORMATION_CLASS KeyInformationClass,
                    PVOID KeyInformation, ULONG Length, PULONG ResultLength) {
    return NtKernel::Current(__func__).registry().QueryKey(KeyHandle, KeyInformationClass,
                                                           KeyInformation, Length, ResultLength);
}

NTSTATUS ZwEnumerateKey(HANDLE KeyHandle, ULONG Index, KEY_INFORMATION_CLASS KeyInformationClass,
                        PVOID KeyInformation, ULONG Length, PULONG ResultLength) {
    return NtKernel::Current(__func__).registry().EnumerateKey(
        KeyHandle, Index, KeyInformationClass, KeyInformation, Length, ResultLength);
}

}  // extern "C"
