#include "sim/machine/machine_description.h"

#include <cstdio>

namespace quell::sim {

std::string EnumerationName(std::uint16_t vendor, std::uint16_t device) {
    char name[48];
    std::snprintf(name, sizeof(name), "VEN_%04X&DEV_%04X&SUBSYS_00000000&REV_00", vendor, device);
    return name;
}

MachineDescription DefaultMachineDescription() {
    MachineDescription machine;
    machine.pci_devices = {
        {{0, 0, 0}, 0x8086, 0x7190},  // host bridge
        {{0, 7, 0}, 0x8086, 0x7110},  // bus bridge
        {{0, 4, 0}, 0x104C, 0xAC1C},  // PCI-to-CardBus bridge above the adapter's bus
    };
    for (const PciDeviceDescription& device : machine.pci_devices) {
        machine.registry_pci_names.push_back(EnumerationName(device.vendor, device.device));
    }
    machine.registry_pci_names.push_back(
        EnumerationName(kControllerVendorId, machine.adapters.front().device_id));
    // A disk, a CD-ROM and a scanner on the adapter's bus.
    const auto target = [](int id, TargetKind kind, const char* product, std::uint64_t blocks) {
        TargetDescription description;
        description.id = id;
        description.kind = kind;
        description.product = product;
        description.blocks = blocks;
        return description;
    };
    machine.adapters.front().targets = {
        target(0, TargetKind::Disk, "SIMDISK", 16384),
        target(2, TargetKind::CdRom, "SIMCDROM", 4096),
        target(4, TargetKind::Scanner, "SIMSCAN", 0),
    };
    return machine;
}

}  // namespace quell::sim
