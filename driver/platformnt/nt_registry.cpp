// quellnt's registry work: the plug-and-play interface setting and the PCI enumeration lookup.
// Both may run only at APC_LEVEL or below, and both end quietly on every failure.

#include "driver/platformnt/nt_registry.h"

#include "host/ntkernel.h"
#include "host/runtime.h"

namespace quell {
namespace {

// The control set is named explicitly rather than taken from the loader's registry path.
constexpr WCHAR kServiceParametersPath[] =
    u"\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001\\Services\\quellnt\\Parameters";
constexpr WCHAR kPnpInterfaceSubkey[] = u"\\PnpInterface";
constexpr WCHAR kPciEnumerationPath[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\PCI";

// Room for the parameters path with "\PnpInterface" appended in place.
constexpr ULONG kPathCharacters = 128;
constexpr ULONG kHardwareIdCharacters = 17;
constexpr ULONG kFullInformationBytes = 48;
constexpr ULONG kBasicInformationBytes = 256;

VOID InitAttributes(OBJECT_ATTRIBUTES& Attributes, PUNICODE_STRING Name) {
    Attributes.Length = sizeof(OBJECT_ATTRIBUTES);
    Attributes.RootDirectory = nullptr;
    Attributes.ObjectName = Name;
    Attributes.Attributes = OBJ_CASE_INSENSITIVE;
    Attributes.SecurityDescriptor = nullptr;
    Attributes.SecurityQualityOfService = nullptr;
}

// Opens the key, or creates it when it cannot be opened.
NTSTATUS OpenOrCreateKey(PHANDLE Key, PUNICODE_STRING Path) {
    OBJECT_ATTRIBUTES Attributes;
    InitAttributes(Attributes, Path);
    NTSTATUS Status = ZwOpenKey(Key, KEY_ALL_ACCESS, &Attributes);
    if (!NT_SUCCESS(Status)) {
        Status = ZwCreateKey(Key, KEY_ALL_ACCESS, &Attributes, 0, nullptr, 0, nullptr);
    }
    return Status;
}

}  // namespace

VOID RegisterPnpInterface(ULONG InterfaceType) {
    (void)InterfaceType;  // the value name is the text of PCIBus, the only type registered
    if (KeGetCurrentIrql() > APC_LEVEL) {
        return;
    }

    WCHAR PathBuffer[kPathCharacters];
    UNICODE_STRING Path;
    Path.Buffer = PathBuffer;
    Path.Length = 0;
    Path.MaximumLength = sizeof(PathBuffer);
    if (!NT_SUCCESS(RtlAppendUnicodeToString(&Path, kServiceParametersPath))) {
        return;
    }

    HANDLE Key = nullptr;
    if (!NT_SUCCESS(OpenOrCreateKey(&Key, &Path))) {
        return;
    }
    ZwClose(Key);

    if (!NT_SUCCESS(RtlAppendUnicodeToString(&Path, kPnpInterfaceSubkey))) {
        return;
    }
    OBJECT_ATTRIBUTES Attributes;
    InitAttributes(Attributes, &Path);
    // An existing key is left as it is, whatever values it holds.
    if (NT_SUCCESS(ZwOpenKey(&Key, KEY_ALL_ACCESS, &Attributes))) {
        ZwClose(Key);
        return;
    }
    if (!NT_SUCCESS(ZwCreateKey(&Key, KEY_ALL_ACCESS, &Attributes, 0, nullptr, 0, nullptr))) {
        return;
    }

    WCHAR ValueNameText[] = u"5";  // the text of the bus interface type PCIBus
    UNICODE_STRING ValueName;
    RtlInitUnicodeString(&ValueName, ValueNameText);
    ULONG Enabled = 1;
    ZwSetValueKey(Key, &ValueName, 0, REG_DWORD, &Enabled, sizeof(Enabled));
    ZwClose(Key);
}

BOOLEAN RegistryPciDevicePresent(PADAPTER_EXTENSION Adapter, const CHAR* Pattern) {
    (void)Adapter;
    // Above APC_LEVEL the registry may not be used; the device is taken as present.
    if (KeGetCurrentIrql() > APC_LEVEL) {
        return TRUE;
    }

    // The pattern in 16-bit characters, in a buffer of our own: the driver allocates nothing.
    WCHAR PatternBuffer[kHardwareIdCharacters + 1];
    ANSI_STRING AnsiPattern;
    RtlInitString(&AnsiPattern, Pattern);
    UNICODE_STRING WidePattern;
    WidePattern.Buffer = PatternBuffer;
    WidePattern.Length = 0;
    WidePattern.MaximumLength = sizeof(PatternBuffer);
    if (!NT_SUCCESS(RtlAnsiStringToUnicodeString(&WidePattern, &AnsiPattern, FALSE)) ||
        WidePattern.Length < kHardwareIdCharacters * sizeof(WCHAR)) {
        return FALSE;
    }

    UNICODE_STRING EnumPath;
    RtlInitUnicodeString(&EnumPath, kPciEnumerationPath);
    OBJECT_ATTRIBUTES Attributes;
    InitAttributes(Attributes, &EnumPath);
    HANDLE Key = nullptr;
    if (!NT_SUCCESS(ZwOpenKey(&Key, KEY_ALL_ACCESS, &Attributes))) {
        return FALSE;
    }

    alignas(8) UCHAR FullInformation[kFullInformationBytes];
    ULONG ResultLength = 0;
    ULONG SubKeys = 0;
    if (NT_SUCCESS(ZwQueryKey(Key, KeyFullInformation, FullInformation, sizeof(FullInformation),
                              &ResultLength))) {
        SubKeys = reinterpret_cast<PKEY_FULL_INFORMATION>(FullInformation)->SubKeys;
    }

    BOOLEAN Found = FALSE;
    for (ULONG Index = 0; Index < SubKeys && !Found; ++Index) {
        alignas(8) UCHAR BasicInformation[kBasicInformationBytes];
        memset(BasicInformation, 0, sizeof(BasicInformation));
        if (!NT_SUCCESS(ZwEnumerateKey(Key, Index, KeyBasicInformation, BasicInformation,
                                       sizeof(BasicInformation), &ResultLength))) {
            continue;  // a failed read counts as no match
        }
        const auto* Basic = reinterpret_cast<PKEY_BASIC_INFORMATION>(BasicInformation);
        // The name is not terminated: a name shorter than the pattern never matches.
        if (Basic->NameLength >= kHardwareIdCharacters * sizeof(WCHAR) &&
            _wcsnicmp(Basic->Name, PatternBuffer, kHardwareIdCharacters) == 0) {
            Found = TRUE;
        }
    }
    ZwClose(Key);
    return Found;
}

}  // namespace quell
