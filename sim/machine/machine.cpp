#include "sim/machine/machine.h"

#include <string>

namespace quell::sim {
namespace {

std::u16string Widen(const std::string& text) { return {text.begin(), text.end()}; }

constexpr std::uint32_t kMemoryWindowSize = 4096;
constexpr std::uint8_t kMassStorageClass = 0x01;
constexpr std::uint8_t kScsiSubclass = 0x00;

}  // namespace

Machine::Machine(const MachineDescription& description) : description_(description) {
    PciConfigSpace& pci = pc.pci;
    for (const PciDeviceDescription& device : description.pci_devices) {
        pci.Add(device.location, device.vendor, device.device);
    }
    if (description.pci_buses) pci.SetBusCount(*description.pci_buses);

    pc.firmware.SetLegacyPortSignature(description.firmware_signature);
    pc.processor = description.processor;
    pc.ports.SetPowerOnValue(0x35, description.legacy_status_port);

    nt.AttachPci(pci);
    nt.registry().CreateKeyPath(kNtPciEnumerationPath);
    w9x.AttachPci(pci);
    w9x.registry().CreateKeyPath(kW9xPciEnumerationPath);
    for (const std::string& name : description.registry_pci_names) {
        nt.registry().CreateKeyPath(std::u16string(kNtPciEnumerationPath) + u"\\" + Widen(name));
        w9x.registry().CreateKeyPath(std::string(kW9xPciEnumerationPath) + "\\" + name);
    }
    // The 9x system maps device memory as the port driver does: an address only the register
    // routines can use.
    w9x.SetPhysicalMapper([this](std::uint64_t physical, std::uint32_t length) {
        return port.Mappings().MapMemory(physical, length);
    });

    port.AttachBus(bus);
    port.AttachMemory(memory);
    port.AttachClock(clock);
    port.discovery().AttachPci(pci);
    port.discovery().AttachFirmware(pc.firmware);
    DiscoveryHost& host = port.discovery().Host();
    host.argument_string = description.option_string;
    host.refuse_uncached_extension = description.refuse_uncached_extension;

    for (const AdapterDescription& adapter : description.adapters) AddAdapter(adapter);

    // Every adapter the driver claims runs with its card's interrupt line, in the personality
    // of the system the driver was built for.
    port.SetAdapterSetupProvider([this](const OfferedAdapter& found) {
        AdapterSetup setup;
        setup.personality = personality_;
        setup.refuse_uncached_extension = description_.refuse_uncached_extension;
        if (AdapterHardware* card = HardwareAt(found.location)) {
            const chip::Controller* controller = &card->Controller();
            setup.interrupt = [controller] { return controller->InterruptLine(); };
            for (const AdapterDescription& adapter : description_.adapters) {
                if (adapter.location == found.location)
                    setup.interrupt_wired = adapter.interrupt_wired;
            }
        }
        return setup;
    });
}

AdapterHardware* Machine::HardwareAt(PciLocation location) {
    for (std::size_t i = 0; i < description_.adapters.size() && i < cards.size(); ++i) {
        if (description_.adapters[i].location == location) return cards[i].get();
    }
    return nullptr;
}

void Machine::AddAdapter(const AdapterDescription& adapter) {
    PciFunction& function = pc.pci.Add(adapter.location, kControllerVendorId, adapter.device_id);
    function.header.Command = adapter.command;
    function.header.BaseClass = kMassStorageClass;
    function.header.SubClass = kScsiSubclass;
    function.header.InterruptLine = adapter.interrupt_line;
    function.header.InterruptPin = 1;
    function.header.BaseAddresses[0] = adapter.io_base | 0x1;  // I/O space
    function.bar_sizes[0] = adapter.io_length;
    function.header.BaseAddresses[1] = adapter.memory_window_base;
    function.bar_sizes[1] = kMemoryWindowSize;

    cards.push_back(std::make_unique<AdapterHardware>(clock, memory, adapter));
    chip::Controller& controller = cards.back()->Controller();
    bus.Map(AddressSpace::Io, adapter.io_base, adapter.io_length, controller.IoRegisters(),
            "controller");
    bus.Map(AddressSpace::Memory, adapter.memory_window_base, kMemoryWindowSize,
            controller.MemoryWindow(), "controller window");

    // The 9x device tree: the bridge above the adapter, and the adapter's own node, which the
    // port driver's record names.
    const std::uint32_t parent = w9x.AddDevNode(DevNode{0, adapter.parent_key_name, {}});
    const std::uint32_t node = w9x.AddDevNode(
        DevNode{parent, "PCI\\" + EnumerationName(kControllerVendorId, adapter.device_id), {}});
    w9x.SetDevNodeString(node, "Driver", adapter.driver_value);
    w9x.registry().CreateKeyPath(kW9xClassKeyPrefix + adapter.driver_value);
    if (description_.w9x_adapter_record) {
        port.discovery().Host().adapter_records[adapter.location] = AdapterRecord{node};
    }
}

}  // namespace quell::sim
