// Host-system checks made at discovery.

#include "driver/config/host_checks.h"

#include "driver/config/pci_config.h"
#include "driver/core/build.h"
#include "driver/platform9x/w9x_services.h"
#include "driver/platformnt/nt_registry.h"
#include "host/pc.h"

namespace quell {
namespace {

// The firmware area: 16 bytes at the top of the first megabyte; bytes 3 and 4 carry the
// signature of the firmware that needs the legacy port writes.
constexpr ULONG kFirmwareAreaAddress = 0xFFFF0;
constexpr ULONG kFirmwareAreaLength = 16;
constexpr UCHAR kSignatureByte3 = 0x80;
constexpr UCHAR kSignatureByte4 = 0xFD;

// The host bridge whose presence in the PCI BIOS rules out bus mastering behind that firmware.
constexpr USHORT kFirmwareBridgeVendor = 0x8086;
constexpr USHORT kFirmwareBridgeDevice = 0x1235;

constexpr USHORT kAmdChipsetVendor = 0x1022;
constexpr ULONG kFirstAmdFamilyWithoutBusMaster = 6;

constexpr CHAR kAmdChipsetPattern[] = "VEN_1022&DEV_????";
constexpr CHAR kBusMasterBridgePattern[] = "VEN_10B9&DEV_1521";
constexpr CHAR kLatencyBridgePattern[] = "VEN_1180&DEV_0478";
constexpr CHAR kDataOutBridgePattern[] = "VEN_1179&DEV_060A";

// Behind the latency bridge quellmp uses 3 (which also makes scatter/gather segments multiples
// of 8 bytes), quellnt 4.
constexpr UCHAR kLatencyBehindBridge = kBuildMp ? 3 : 4;

BOOLEAN FirmwareSignaturePresent(PADAPTER_EXTENSION Adapter,
                                 PPORT_CONFIGURATION_INFORMATION ConfigInfo) {
    PVOID Area = ScsiPortGetDeviceBase(
        Adapter, ConfigInfo->AdapterInterfaceType, ConfigInfo->SystemIoBusNumber,
        ScsiPortConvertUlongToPhysicalAddress(kFirmwareAreaAddress), kFirmwareAreaLength, FALSE);
    if (Area == nullptr) {
        return FALSE;
    }
    // The area is read-only firmware memory, read as memory.
    const volatile UCHAR* Bytes = static_cast<const volatile UCHAR*>(Area);
    const BOOLEAN Present = Bytes[3] == kSignatureByte3 && Bytes[4] == kSignatureByte4;
    ScsiPortFreeDeviceBase(Adapter, Area);
    return Present;
}

// The family value of an AMD processor (bits 8 to 15 of the version information), or 0 for any
// other processor and for one without the identification instruction.
ULONG AmdProcessorFamily() {
    if (!PcCpuIdentificationAvailable()) {
        return 0;
    }
    PC_CPUID_RESULT Result;
    PcCpuIdentify(0, &Result);
    // The vendor string is Ebx, Edx, Ecx; its last three characters are the top three bytes of
    // Ecx ("AuthenticAMD" ends in "cAMD").
    const ULONG Tail = Result.Ecx >> 8;
    if (Tail != ('A' | ('M' << 8) | ('D' << 16))) {
        return 0;
    }
    PcCpuIdentify(1, &Result);
    return (Result.Eax >> 8) & 0xFF;
}

BOOLEAN AmdChipsetPresent(PADAPTER_EXTENSION Adapter) {
    if constexpr (kBuildMp) {
        return RegistryPciDevicePresent(Adapter, kAmdChipsetPattern);
    } else {
        return PciVendorPresent(Adapter, kAmdChipsetVendor);
    }
}

}  // namespace

VOID CheckFirmwareSignature(PADAPTER_EXTENSION Adapter, PPORT_CONFIGURATION_INFORMATION ConfigInfo,
                            PUCHAR Mode) {
    const BOOLEAN Present = FirmwareSignaturePresent(Adapter, ConfigInfo);
    Adapter->LegacyPortQuirk = Present ? 1 : 0;
    if constexpr (kBuildMp) {
        if (Present) {
            PcWriteSystemPortByte(kLegacyControlPort, kLegacyControlDriverActive);
            if (PciBiosDevicePresent(kFirmwareBridgeVendor, kFirmwareBridgeDevice)) {
                *Mode = TRANSFER_MODE_FIFO_PORT;
            }
        }
    } else {
        (void)Mode;
    }
}

VOID CheckProcessorAndBridges(PADAPTER_EXTENSION Adapter, PUCHAR Mode) {
    if (Adapter->PciDeviceId >= kFirstDeviceIdWithoutHostChecks) {
        return;
    }
    if (AmdProcessorFamily() >= kFirstAmdFamilyWithoutBusMaster && AmdChipsetPresent(Adapter)) {
        *Mode = TRANSFER_MODE_FIFO_PORT;
    }
    if (RegistryPciDevicePresent(Adapter, kBusMasterBridgePattern)) {
        *Mode = TRANSFER_MODE_FIFO_PORT;
    }
}

UCHAR DefaultLatencySetting(PADAPTER_EXTENSION Adapter) {
    BOOLEAN BehindBridge;
    if constexpr (kBuildMp) {
        // quellmp asks only whether the adapter sits directly behind the bridge.
        BehindBridge = ParentDeviceMatches(Adapter, kLatencyBridgePattern);
    } else {
        BehindBridge = RegistryPciDevicePresent(Adapter, kLatencyBridgePattern);
    }
    return BehindBridge ? kLatencyBehindBridge : kDefaultLatmSetting;
}

VOID CheckBusMasterBridge(PADAPTER_EXTENSION Adapter) {
    if constexpr (kBuildMp) {
        if (RegistryPciDevicePresent(Adapter, kDataOutBridgePattern)) {
            Adapter->OptionFlags |= OPTION_DMA_OUT_NO_DISCONNECT;
        }
    } else {
        (void)Adapter;
    }
}

}  // namespace quell
