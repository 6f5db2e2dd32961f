// The 9x registry through the virtual machine manager: the PCI enumeration lookup, and the
// adapter status values in the adapter's class key.

#include "driver/platform9x/w9x_services.h"
#include "host/runtime.h"

namespace quell {
namespace {

constexpr CHAR kPciEnumerationKey[] = "Enum\\PCI";
constexpr ULONG kSubkeyNameBytes = 64;

// The class key path: the prefix, then the adapter's "Driver" value, which replaces the
// default class key that the buffer starts with.
constexpr CHAR kDefaultClassKeyPath[] =
    "system\\CurrentControlSet\\Services\\Class\\ScsiAdapter\\0000";
constexpr ULONG kClassKeyPrefixLength = 40;  // "system\CurrentControlSet\Services\Class\"
constexpr ULONG kClassKeyPathBytes = 58;
static_assert(sizeof(kDefaultClassKeyPath) <= kClassKeyPathBytes, "the default path fits");

constexpr ULONG kRegistryValueString = 1;  // REG_SZ
constexpr ULONG kRegistryValueBinary = 3;  // REG_BINARY

ULONG CallVmm(USHORT Service, const ULONG* Arguments, ULONG Count) {
    return VxdCall(VXD_DEVICE_VMM, Service, Arguments, Count);
}

ULONG OpenKey(const CHAR* Path, ULONG* Key) {
    const ULONG Arguments[] = {VXD_HKEY_LOCAL_MACHINE, ServiceArgument(Path), ServiceArgument(Key)};
    return CallVmm(VMM_REG_OPEN_KEY, Arguments, 3);
}

VOID CloseKey(ULONG Key) {
    const ULONG Arguments[] = {Key};
    CallVmm(VMM_REG_CLOSE_KEY, Arguments, 1);
}

ULONG SubkeyCount(ULONG Key) {
    ULONG Count = 0;
    // The subkey count is the fifth argument; every other result is not wanted.
    const ULONG Arguments[12] = {Key, 0, 0, 0, ServiceArgument(&Count), 0, 0, 0, 0, 0, 0, 0};
    if (CallVmm(VMM_REG_QUERY_INFO_KEY, Arguments, 12) != VMM_ERROR_SUCCESS) {
        return 0;
    }
    return Count;
}

// "?" matches any character of the name but not its end: a name shorter than a hardware ID
// never matches.
BOOLEAN HardwareIdMatches(const CHAR* Name, const CHAR* Pattern) {
    for (ULONG Index = 0; Index < kHardwareIdLength; ++Index) {
        if (Name[Index] == '\0') {
            return FALSE;
        }
        if (Pattern[Index] != '?' && Pattern[Index] != Name[Index]) {
            return FALSE;
        }
    }
    return TRUE;
}

VOID SetBinaryValue(ULONG Key, const CHAR* Name, const UCHAR* Data, ULONG Size) {
    const ULONG Arguments[] = {
        Key, ServiceArgument(Name), 0, kRegistryValueBinary, ServiceArgument(Data), Size};
    CallVmm(VMM_REG_SET_VALUE_EX, Arguments, 6);
}

// StatXferMode: a letter for the mode and a space; "?" and a zero byte for any other value.
struct MODE_TEXT {
    UCHAR Mode;
    UCHAR Text[2];
};
constexpr MODE_TEXT kModeTexts[] = {
    {TRANSFER_MODE_FIFO_PORT, {'I', ' '}},
    {TRANSFER_MODE_BUS_MASTER, {'D', ' '}},
    {TRANSFER_MODE_FIFO_WINDOW, {'M', ' '}},
};
constexpr UCHAR kUnknownModeText[2] = {'?', 0};

const UCHAR* TransferModeText(UCHAR Mode) {
    for (const MODE_TEXT& Entry : kModeTexts) {
        if (Entry.Mode == Mode) {
            return Entry.Text;
        }
    }
    return kUnknownModeText;
}

}  // namespace

BOOLEAN RegistryPciDevicePresent(PADAPTER_EXTENSION Adapter, const CHAR* Pattern) {
    (void)Adapter;
    ULONG Key = 0;
    if (OpenKey(kPciEnumerationKey, &Key) != VMM_ERROR_SUCCESS) {
        return FALSE;
    }
    const ULONG Count = SubkeyCount(Key);
    BOOLEAN Found = FALSE;
    for (ULONG Index = 0; Index < Count && !Found; ++Index) {
        CHAR Name[kSubkeyNameBytes];
        memset(Name, 0, sizeof(Name));
        const ULONG Arguments[] = {Key, Index, ServiceArgument(Name), sizeof(Name)};
        // A name that does not fit the buffer, like any failed enumeration, is no match.
        if (CallVmm(VMM_REG_ENUM_KEY, Arguments, 4) != VMM_ERROR_SUCCESS) {
            continue;
        }
        Name[sizeof(Name) - 1] = '\0';
        Found = HardwareIdMatches(Name, Pattern);
    }
    CloseKey(Key);
    return Found;
}

VOID PublishAdapterStatus(PADAPTER_EXTENSION Adapter) {
    FetchAdapterDevNode(Adapter);
    if (Adapter->AdapterDevNode == 0) {
        return;
    }

    CHAR Path[kClassKeyPathBytes];
    memset(Path, 0, sizeof(Path));
    memcpy(Path, kDefaultClassKeyPath, sizeof(kDefaultClassKeyPath));
    ULONG Room = kClassKeyPathBytes - kClassKeyPrefixLength;
    CHAR ValueName[] = "Driver";
    const ULONG ReadArguments[] = {Adapter->AdapterDevNode,
                                   0,
                                   ServiceArgument(ValueName),
                                   kRegistryValueString,
                                   ServiceArgument(Path + kClassKeyPrefixLength),
                                   ServiceArgument(&Room),
                                   0};
    // A value that does not fit the room after the prefix is refused by the service.
    if (VxdCall(VXD_DEVICE_CONFIGMG, CONFIGMG_READ_REGISTRY_VALUE, ReadArguments, 7) !=
        CR_SUCCESS) {
        return;
    }
    Path[sizeof(Path) - 1] = '\0';

    ULONG Key = 0;
    if (OpenKey(Path, &Key) != VMM_ERROR_SUCCESS) {
        return;
    }
    SetBinaryValue(Key, "StatTermPower", &Adapter->TermPowerStatus, 1);
    SetBinaryValue(Key, "StatCable", &Adapter->CableStatus, 1);
    SetBinaryValue(Key, "StatXferMode", TransferModeText(Adapter->AdapterTransferMode),
                   sizeof(kUnknownModeText));
    CloseKey(Key);
}

}  // namespace quell
