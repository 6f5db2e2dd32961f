// A machine, described as plain facts: every host fact a driver check reads, and what the
// controller reports. Building a Machine from a description assembles its host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/chip/chip_config.h"
#include "sim/pc/pci_config_space.h"
#include "sim/pc/processor.h"
#include "sim/scsi/target_knobs.h"

namespace quell::sim {

inline constexpr std::uint16_t kControllerVendorId = 0x1145;
inline constexpr std::uint16_t kControllerDeviceId = 0x8009;

// What the controller answers before it is initialised, and its faults.
struct ChipDescription {
    std::uint16_t revision = 0x5230;          // CHIP_REVISION
    std::uint16_t latency_register = 0x0000;  // IDX_11 as the chip holds it at power-on
    // Everything else of the controller model: timing, reporting choices, faults. Its
    // revision, latency and window base are taken from the fields above.
    chip::ChipConfig model;
};

enum class TargetKind : std::uint8_t { Disk, CdRom, Optical, Scanner, Processor };

// A device on the adapter's SCSI bus.
struct TargetDescription {
    int id = 0;
    TargetKind kind = TargetKind::Disk;
    std::string vendor = "QUELL";
    std::string product = "SIMDISK";
    std::uint64_t blocks = 8192;  // of the kind's block size; ignored with an image
    std::string image;            // a raw image file holds the data instead of memory
    int luns = 1;
    scsi::TargetKnobs knobs;
};

struct AdapterDescription {
    PciLocation location{1, 0, 0};  // a card alone on the bus behind its bridge
    std::uint16_t device_id = kControllerDeviceId;
    std::uint32_t io_base = 0xE800;
    std::uint32_t io_length = 0x100;
    std::uint32_t memory_window_base = 0xFEBFF000;  // also reported by the chip (IDX_13)
    std::uint8_t interrupt_line = 11;
    std::uint16_t command = PCI_ENABLE_IO_SPACE;  // as the firmware left it
    ChipDescription chip;
    // 9x: the registry key name of the device node above the adapter, which carries the
    // hardware ID of the bridge the adapter sits behind.
    std::string parent_key_name =
        "PCI\\VEN_104C&DEV_AC1C&SUBSYS_00000000&REV_01\\BUS_00&DEV_04&FUNC_00";
    // 9x: the adapter device node's "Driver" value, its class key.
    std::string driver_value = "ScsiAdapter\\0001";
    bool interrupt_wired = true;
    std::vector<TargetDescription> targets;
};

// Another PCI function of the host (a bridge, a chipset part).
struct PciDeviceDescription {
    PciLocation location;
    std::uint16_t vendor = 0;
    std::uint16_t device = 0;
};

struct MachineDescription {
    std::vector<AdapterDescription> adapters{AdapterDescription{}};
    std::vector<PciDeviceDescription> pci_devices;
    std::optional<std::uint32_t> pci_buses;  // default: up to the highest bus in use
    // The subkey names of the registry's PCI enumeration (both systems).
    std::vector<std::string> registry_pci_names;
    ProcessorIdentity processor;
    bool firmware_signature = false;
    std::uint8_t legacy_status_port = 0x5F;  // power-on value of system port 0x35
    std::optional<std::string> option_string;
    bool refuse_uncached_extension = false;
    // 9x: the port driver's record around each extension carries the signature and node.
    bool w9x_adapter_record = true;
};

// The enumeration name a system gives a PCI function: "VEN_vvvv&DEV_dddd&SUBSYS_...&REV_..".
std::string EnumerationName(std::uint16_t vendor, std::uint16_t device);

// The default machine: an ordinary host bridge and PCI-to-CardBus bridge, one adapter behind
// the bridge, nothing that needs special treatment.
MachineDescription DefaultMachineDescription();

}  // namespace quell::sim
