// The adapter's device node, found through the 9x port driver's record around the extension,
// and the hardware ID of the device node above it.

#include "driver/platform9x/w9x_services.h"
#include "host/runtime.h"

namespace quell {
namespace {

constexpr ULONG kKeyNameBufferBytes = 128;
// "VEN_" is looked for at the first 64 positions of the key name only.
constexpr ULONG kVendorSearchPositions = 64;

// The adapter's device node from the port driver's record; 0 when the signature is missing.
ULONG RecordDevNode(PADAPTER_EXTENSION Adapter) {
    const PUCHAR Extension = reinterpret_cast<PUCHAR>(Adapter);
    USHORT Signature;
    memcpy(&Signature, Extension - kPortRecordSignatureOffset, sizeof(Signature));
    if (Signature != kPortRecordSignature) {
        return 0;
    }
    ULONG DevNode;
    memcpy(&DevNode, Extension - kPortRecordDevNodeOffset, sizeof(DevNode));
    return DevNode;
}

ULONG FindVendorText(const CHAR* KeyName) {
    for (ULONG Position = 0; Position < kVendorSearchPositions; ++Position) {
        if (KeyName[Position] == 'V' && KeyName[Position + 1] == 'E' &&
            KeyName[Position + 2] == 'N' && KeyName[Position + 3] == '_') {
            return Position;
        }
    }
    return kVendorSearchPositions;
}

}  // namespace

VOID FetchAdapterDevNode(PADAPTER_EXTENSION Adapter) {
    Adapter->AdapterDevNode = RecordDevNode(Adapter);
}

BOOLEAN ParentDeviceMatches(PADAPTER_EXTENSION Adapter, const CHAR* Pattern) {
    // Read from the record itself: discovery runs before AdapterDevNode is filled.
    const ULONG DevNode = RecordDevNode(Adapter);
    if (DevNode == 0) {
        return FALSE;
    }
    ULONG Parent = 0;
    const ULONG ParentArguments[] = {ServiceArgument(&Parent), DevNode, 0};
    if (VxdCall(VXD_DEVICE_CONFIGMG, CONFIGMG_GET_PARENT, ParentArguments, 3) != CR_SUCCESS) {
        return FALSE;
    }

    // Zero-filled, so that the comparison stops at the end of a short name.
    CHAR KeyName[kKeyNameBufferBytes];
    memset(KeyName, 0, sizeof(KeyName));
    const ULONG KeyArguments[] = {Parent, 0, ServiceArgument(KeyName), sizeof(KeyName), 0};
    if (VxdCall(VXD_DEVICE_CONFIGMG, CONFIGMG_GET_DEVNODE_KEY_NAME, KeyArguments, 5) !=
        CR_SUCCESS) {
        return FALSE;
    }
    KeyName[sizeof(KeyName) - 1] = '\0';

    const CHAR* HardwareId = KeyName + FindVendorText(KeyName);
    for (ULONG Index = 0; Index < kHardwareIdLength; ++Index) {
        if (HardwareId[Index] != Pattern[Index]) {
            return FALSE;
        }
    }
    return TRUE;
}

}  // namespace quell
