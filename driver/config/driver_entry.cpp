// Driver entry: describe the driver to the SCSI port driver in one registration record.

#include "driver/config/entry_points.h"
#include "driver/core/adapter.h"
#include "driver/core/build.h"
#include "driver/platformnt/nt_registry.h"
#include "host/runtime.h"

namespace quell {
namespace {

// The PCI identity the port driver matches: vendor 0x1145, device 0x8009 as hexadecimal text,
// four characters each without a terminator.
constexpr CHAR kVendorId[4] = {'1', '1', '4', '5'};
constexpr CHAR kDeviceId[4] = {'8', '0', '0', '9'};

// Systems from major version 5 on know the adapter-control routine and the 80-byte record.
constexpr ULONG kFirstVersionWithAdapterControl = 5;

constexpr ULONG kRecordSizeWithAdapterControl = sizeof(HW_INITIALIZATION_DATA);
constexpr ULONG kRecordSizeWithoutAdapterControl =
    HW_INITIALIZATION_DATA_SIZE_WITHOUT_ADAPTER_CONTROL;

// Fills the fields both builds share. The record is already zeroed over its size.
VOID FillRegistration(HW_INITIALIZATION_DATA& Data, CHAR (&VendorId)[4], CHAR (&DeviceId)[4]) {
    Data.AdapterInterfaceType = PCIBus;
    Data.HwInitialize = MiniportInitialize;
    Data.HwStartIo = MiniportStartIo;
    Data.HwInterrupt = MiniportInterrupt;
    Data.HwFindAdapter = MiniportFindAdapter;
    Data.HwResetBus = MiniportResetBus;
    Data.HwDmaStarted = nullptr;
    Data.HwAdapterState = MiniportAdapterState;
    Data.DeviceExtensionSize = sizeof(ADAPTER_EXTENSION);
    Data.SpecificLuExtensionSize = sizeof(LU_EXTENSION);
    Data.SrbExtensionSize = kSrbExtensionSize;
    Data.NumberOfAccessRanges = 3;
    // Only the registration default: discovery sets the adapter's value per transfer mode.
    Data.MapBuffers = kBuildMp ? TRUE : FALSE;
    Data.NeedPhysicalAddresses = TRUE;
    Data.TaggedQueuing = FALSE;
    Data.AutoRequestSense = FALSE;
    Data.MultipleRequestPerLu = FALSE;
    Data.ReceiveEvent = FALSE;
    Data.VendorIdLength = sizeof(kVendorId);
    Data.VendorId = VendorId;
    Data.DeviceIdLength = sizeof(kDeviceId);
    Data.DeviceId = DeviceId;
}

}  // namespace

}  // namespace quell

extern "C" __attribute__((visibility("default"))) ULONG DriverEntry(PVOID Argument1,
                                                                    PVOID Argument2) {
    using namespace quell;

    // The record and the identifier texts live in this frame for the duration of the call;
    // the port driver consumes them before ScsiPortInitialize returns.
    HW_INITIALIZATION_DATA Data;
    CHAR VendorId[4];
    CHAR DeviceId[4];
    memcpy(VendorId, kVendorId, sizeof(VendorId));
    memcpy(DeviceId, kDeviceId, sizeof(DeviceId));

    // quellmp registers the same record on every system.
    BOOLEAN WithAdapterControl = FALSE;
    if constexpr (!kBuildMp) {
        WithAdapterControl = GetOsMajorVersion() >= kFirstVersionWithAdapterControl;
    }
    const ULONG Size =
        WithAdapterControl ? kRecordSizeWithAdapterControl : kRecordSizeWithoutAdapterControl;

    memset(&Data, 0, Size);
    Data.HwInitializationDataSize = Size;
    FillRegistration(Data, VendorId, DeviceId);

    if (WithAdapterControl) {
        Data.HwAdapterControl = MiniportAdapterControl;
        // Written before registration, so the setting is in the registry when the port
        // driver starts looking for adapters.
        if constexpr (!kBuildMp) {
            RegisterPnpInterface(PCIBus);
        }
    }

    return ScsiPortInitialize(Argument1, Argument2, &Data, nullptr);
}
