#include "tests/support/discovery_fixture.h"

#include "driver/config/entry_points.h"

namespace quell::test {
namespace {

constexpr char16_t kNtPciEnumeration[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\PCI";
constexpr char kW9xPciEnumeration[] = "Enum\\PCI";

}  // namespace

void DiscoveryFixture::BuildHost() {
    sim::PciFunction& function = pc.pci.Add(kAdapterAt, 0x1145, 0x8009);
    function.header.Command = PCI_ENABLE_IO_SPACE;
    function.header.InterruptLine = 11;
    function.header.BaseAddresses[0] = kIoBase | 1;
    function.bar_sizes[0] = kIoLength;
    function.header.BaseAddresses[1] = kWindowBase;
    function.bar_sizes[1] = 4096;

    bus.Map(sim::AddressSpace::Io, kIoBase, kIoLength, chip, "scripted controller");
    port.AttachBus(bus);
    port.AttachMemory(memory);
    port.discovery().AttachPci(pc.pci);
    port.discovery().AttachFirmware(pc.firmware);
    kernel.AttachPci(pc.pci);
    w9x.AttachPci(pc.pci);
    w9x.SetPhysicalMapper([this](std::uint64_t physical, std::uint32_t length) {
        return port.Mappings().MapMemory(physical, length);
    });

    // What the chip reports before it is initialised.
    chip.Answer(0x04, sim::AccessWidth::Word, kRevision);
    chip.AnswerIndexed(0x13, 0x0A, sim::AccessWidth::Word, kWindowBase >> 16);
    chip.AnswerIndexed(0x13, 0x08, sim::AccessWidth::Word, kWindowBase & 0xFFFF);
    chip.AnswerIndexed(0x11, 0x08, sim::AccessWidth::Word, 0x0000);
    chip.AnswerIndexed(0x11, 0x0A, sim::AccessWidth::Byte, 0x00);

    kernel.registry().CreateKeyPath(kNtPciEnumeration);
    w9x.registry().CreateKeyPath(kW9xPciEnumeration);
    parent_devnode = w9x.AddDevNode(sim::DevNode{0, kDefaultParentKey, {}});
    adapter_devnode = w9x.AddDevNode(sim::DevNode{parent_devnode, "PCI\\VEN_1145&DEV_8009", {}});
    port.discovery().Host().adapter_records[kAdapterAt] = sim::AdapterRecord{adapter_devnode};

    HW_INITIALIZATION_DATA& data = registration.data;
    data.HwInitializationDataSize = sizeof(HW_INITIALIZATION_DATA);
    data.AdapterInterfaceType = PCIBus;
    data.HwFindAdapter = MiniportFindAdapter;
    data.DeviceExtensionSize = sizeof(ADAPTER_EXTENSION);
    data.SpecificLuExtensionSize = sizeof(LU_EXTENSION);
    data.SrbExtensionSize = kSrbExtensionSize;
    data.NumberOfAccessRanges = 3;
    data.NeedPhysicalAddresses = TRUE;
    registration.declared_size = sizeof(HW_INITIALIZATION_DATA);
    registration.vendor_id = "1145";
    registration.device_id = "8009";
}

const sim::OfferedAdapter& DiscoveryFixture::Discover(std::optional<std::string> options) {
    port.discovery().Host().argument_string = std::move(options);
    return port.discovery().Offer(registration, kAdapterAt, memory, port.Mappings());
}

void DiscoveryFixture::ListPciDevice(const std::string& name) {
    kernel.registry().CreateKeyPath(std::u16string(kNtPciEnumeration) + u"\\" +
                                    std::u16string(name.begin(), name.end()));
    w9x.registry().CreateKeyPath(std::string(kW9xPciEnumeration) + "\\" + name);
}

void DiscoveryFixture::SetParentKeyName(const std::string& key_name) {
    w9x.FindDevNode(parent_devnode)->key_name = key_name;
}

std::vector<USHORT> DiscoveryFixture::CommandWrites(sim::PciLocation location) const {
    std::vector<USHORT> values;
    for (const sim::PciConfigWrite& write : pc.pci.Writes()) {
        if (write.location == location) {
            if (const auto value = write.Word(PCI_OFFSET_COMMAND)) values.push_back(*value);
        }
    }
    return values;
}

}  // namespace quell::test
