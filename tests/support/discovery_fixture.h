// A host for discovery tests without a whole machine: the port driver and both kernels, the PC
// platform with one controller function in configuration space, simulated memory, and the
// controller's registers played by a scripted register double.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "driver/core/adapter.h"
#include "sim/pc/device_bus.h"
#include "sim/pc/pc_platform.h"
#include "sim/pc/physical_memory.h"
#include "sim/w9x/w9x_kernel.h"
#include "tests/support/host_fixture.h"
#include "tests/support/scripted_registers.h"

namespace quell::test {

class DiscoveryFixture : public HostFixture {
protected:
    static constexpr ULONG kIoBase = 0xE800;
    static constexpr ULONG kIoLength = 0x100;
    static constexpr ULONG kWindowBase = 0xFEBFF000;
    static constexpr sim::PciLocation kAdapterAt{1, 0, 0};
    static constexpr USHORT kRevision = 0x5230;
    static constexpr char kDefaultParentKey[] =
        "PCI\\VEN_104C&DEV_AC1C&SUBSYS_00000000&REV_01\\BUS_00&DEV_04&FUNC_00";

    DiscoveryFixture() {
        BuildHost();
        // The registration default of the deliverable under test, as DriverEntry gives it.
        registration.data.MapBuffers = kTestingMp ? TRUE : FALSE;
    }

    // Offers the adapter function to MiniportFindAdapter once, with the option string given.
    const sim::OfferedAdapter& Discover(std::optional<std::string> options = std::nullopt);
    static ADAPTER_EXTENSION& Extension(const sim::OfferedAdapter& offer) {
        return *static_cast<ADAPTER_EXTENSION*>(offer.extension);
    }

    // Host facts: a name in both registries' PCI enumeration, the 9x parent's key name.
    void ListPciDevice(const std::string& name);
    void SetParentKeyName(const std::string& key_name);
    void RemovePortRecord() { port.discovery().Host().adapter_records.clear(); }

    // The command-register values written to a function, in order.
    std::vector<USHORT> CommandWrites(sim::PciLocation location) const;

    sim::PcPlatform pc;
    sim::W9xKernel w9x;
    sim::PhysicalMemory memory;
    sim::DeviceBus bus;
    ScriptedRegisters chip{0x04};
    sim::Registration registration;
    std::uint32_t adapter_devnode = 0;
    std::uint32_t parent_devnode = 0;

private:
    void BuildHost();

    sim::PcPlatform::Binding pc_binding_{pc};
    sim::W9xKernel::Binding w9x_binding_{w9x};
};

}  // namespace quell::test
