// PCI configuration space: the adapter's own function, and the scans that look for other
// devices of the host.

#include "driver/config/pci_config.h"

#include "driver/core/build.h"
#include "host/ntkernel.h"
#include "host/pci.h"
#include "host/runtime.h"

namespace quell {
namespace {

constexpr ULONG kHeaderBytes = sizeof(PCI_COMMON_CONFIG);
// How far a read must reach for its function to be used: past the first base address for the
// adapter's own function, past the vendor ID for a vendor scan.
constexpr ULONG kAdapterFieldsUsed = offsetof(PCI_COMMON_CONFIG, BaseAddresses) + sizeof(ULONG);
constexpr ULONG kVendorFieldsUsed = offsetof(PCI_COMMON_CONFIG, DeviceID);
// The low four bits of a base address are type bits, not address bits.
constexpr ULONG kBaseAddressMask = ~0xFu;

enum class FUNCTION_READ { NOTHING, EMPTY, PRESENT };

ULONG SlotNumber(ULONG Device, ULONG Function) {
    PCI_SLOT_NUMBER Slot;
    Slot.u.AsULONG = 0;
    Slot.u.bits.DeviceNumber = Device;
    Slot.u.bits.FunctionNumber = Function;
    return Slot.u.AsULONG;
}

// Classifies one configuration read. The buffer is filled with ones first, so that a short
// read can never show what an earlier function left in it; a function whose header did not
// arrive as far as the fields used is treated as an empty slot.
FUNCTION_READ Classify(ULONG BytesRead, ULONG BytesNeeded, const PCI_COMMON_CONFIG& Header) {
    if (BytesRead == 0) {
        return FUNCTION_READ::NOTHING;
    }
    if (BytesRead < BytesNeeded || Header.VendorID == PCI_INVALID_VENDORID) {
        return FUNCTION_READ::EMPTY;
    }
    return FUNCTION_READ::PRESENT;
}

FUNCTION_READ ReadFunction(PADAPTER_EXTENSION Adapter, ULONG Bus, ULONG Slot,
                           PCI_COMMON_CONFIG& Header) {
    memset(&Header, 0xFF, sizeof(Header));
    const ULONG BytesRead =
        ScsiPortGetBusData(Adapter, PCIConfiguration, Bus, Slot, &Header, kHeaderBytes);
    return Classify(BytesRead, kAdapterFieldsUsed, Header);
}

VOID WriteCommand(PADAPTER_EXTENSION Adapter, ULONG Bus, ULONG Slot, USHORT Command) {
    // The port driver's result is not needed: a function that refuses the write keeps working
    // with its previous decoding.
    ScsiPortSetBusDataByOffset(Adapter, PCIConfiguration, Bus, Slot, &Command, PCI_OFFSET_COMMAND,
                               sizeof(Command));
}

BOOLEAN IsAdapterFunction(const PCI_COMMON_CONFIG& Header, ULONG Target) {
    return (Header.BaseAddresses[0] & kBaseAddressMask) == Target;
}

// The function whose first base address is Target: slot 0 of the adapter's own bus first (a
// card is normally alone on its bus), then every function of buses 0 to 15.
BOOLEAN FindAdapterFunction(PADAPTER_EXTENSION Adapter, ULONG OwnBus, ULONG Target,
                            PCI_COMMON_CONFIG& Header, ULONG& Bus, ULONG& Slot) {
    Bus = OwnBus;
    Slot = SlotNumber(0, 0);
    if (ReadFunction(Adapter, Bus, Slot, Header) == FUNCTION_READ::PRESENT &&
        IsAdapterFunction(Header, Target)) {
        return TRUE;
    }
    for (Bus = 0; Bus < kPciScanBuses; ++Bus) {
        for (ULONG Device = 0; Device < PCI_MAX_DEVICES; ++Device) {
            for (ULONG Function = 0; Function < PCI_MAX_FUNCTION; ++Function) {
                Slot = SlotNumber(Device, Function);
                if (ReadFunction(Adapter, Bus, Slot, Header) != FUNCTION_READ::PRESENT) {
                    break;  // nothing more behind this device
                }
                if (IsAdapterFunction(Header, Target)) {
                    return TRUE;
                }
            }
        }
    }
    return FALSE;
}

}  // namespace

BOOLEAN LocatePciFunction(PADAPTER_EXTENSION Adapter, PPORT_CONFIGURATION_INFORMATION ConfigInfo) {
    // The port driver's mapped base of an I/O range is the range's bus address, so the probe's
    // write-back of access range 0 is the value the function's first base address decodes.
    const ULONG Target = (*ConfigInfo->AccessRanges)[0].RangeStart.u.LowPart;

    PCI_COMMON_CONFIG Header;
    ULONG Bus = 0;
    ULONG Slot = 0;
    if (!FindAdapterFunction(Adapter, ConfigInfo->SystemIoBusNumber, Target, Header, Bus, Slot)) {
        return FALSE;
    }

    Adapter->PciDeviceId = Header.DeviceID;
    // Memory decoding follows the transfer mode: only the memory-window FIFO needs it. It is
    // set again in that mode, because the first call of discovery (mode still 0) took it away.
    USHORT Command = static_cast<USHORT>(Header.Command | PCI_ENABLE_BUS_MASTER);
    if (Adapter->AdapterTransferMode == TRANSFER_MODE_FIFO_WINDOW) {
        Command = static_cast<USHORT>(Command | PCI_ENABLE_MEMORY_SPACE);
    } else {
        Command = static_cast<USHORT>(Command & ~PCI_ENABLE_MEMORY_SPACE);
    }
    WriteCommand(Adapter, Bus, Slot, Command);
    return TRUE;
}

VOID EnableCardDecoding(PADAPTER_EXTENSION Adapter, PPORT_CONFIGURATION_INFORMATION ConfigInfo) {
    PCI_COMMON_CONFIG Header;
    const ULONG Bus = ConfigInfo->SystemIoBusNumber;
    const ULONG Slot = SlotNumber(0, 0);
    if (ReadFunction(Adapter, Bus, Slot, Header) != FUNCTION_READ::PRESENT) {
        return;
    }
    WriteCommand(Adapter, Bus, Slot,
                 static_cast<USHORT>(Header.Command | PCI_ENABLE_IO_SPACE |
                                     PCI_ENABLE_MEMORY_SPACE | PCI_ENABLE_BUS_MASTER));
}

BOOLEAN PciVendorPresent(PADAPTER_EXTENSION Adapter, USHORT VendorId) {
    (void)Adapter;
    // Configuration space may not be scanned above APC_LEVEL; the vendor is taken as present.
    if (KeGetCurrentIrql() > APC_LEVEL) {
        return TRUE;
    }
    PCI_COMMON_CONFIG Header;
    // The scan ends at the first bus that does not exist, and in any case at the last bus
    // number a configuration address can name.
    for (ULONG Bus = 0; Bus < kPciBusNumbers; ++Bus) {
        for (ULONG Device = 0; Device < PCI_MAX_DEVICES; ++Device) {
            for (ULONG Function = 0; Function < PCI_MAX_FUNCTION; ++Function) {
                memset(&Header, 0xFF, sizeof(Header));
                const ULONG BytesRead = HalGetBusData(
                    PCIConfiguration, Bus, SlotNumber(Device, Function), &Header, kHeaderBytes);
                const FUNCTION_READ Read = Classify(BytesRead, kVendorFieldsUsed, Header);
                if (Read == FUNCTION_READ::NOTHING) {
                    return FALSE;
                }
                if (Read == FUNCTION_READ::EMPTY) {
                    break;
                }
                if (Header.VendorID == VendorId) {
                    return TRUE;
                }
            }
        }
    }
    return FALSE;
}

}  // namespace quell
