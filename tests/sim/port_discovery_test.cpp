// The port driver's discovery loop, driven by a miniport stand-in: which functions are offered,
// what the configuration holds, and how Again and the result are honoured.

#include <gtest/gtest.h>

#include <vector>

#include "sim/pc/physical_memory.h"
#include "sim/port/port_driver.h"

namespace quell::sim {
namespace {

// What the stand-in answers for each call, in order, and what it saw.
struct Script {
    std::vector<ULONG> results;
    std::vector<BOOLEAN> again;
    std::vector<PORT_CONFIGURATION_INFORMATION> seen;
    std::vector<std::string> strings;
    bool map_io = false;
};
thread_local Script* script = nullptr;

ULONG ScriptedFindAdapter(PVOID extension, PVOID, PVOID, PCHAR argument,
                          PPORT_CONFIGURATION_INFORMATION config, PBOOLEAN again) {
    const std::size_t call = script->seen.size();
    script->seen.push_back(*config);
    script->strings.push_back(argument == nullptr ? "(null)" : argument);
    if (argument != nullptr) argument[0] = 'X';  // the miniport may change its copy
    if (script->map_io) {
        ScsiPortGetDeviceBase(extension, PCIBus, 0, (*config->AccessRanges)[0].RangeStart,
                              (*config->AccessRanges)[0].RangeLength, TRUE);
    }
    *again = script->again.at(call);
    return script->results.at(call);
}

class PortDiscovery : public ::testing::Test {
protected:
    PortDiscovery() {
        script = &script_;
        for (std::uint32_t bus = 0; bus < 3; ++bus) {
            PciFunction& f = pci.Add({bus, 0, 0}, 0x1145, 0x8009);
            f.header.BaseAddresses[0] = 0xE001 + bus * 0x100;
            f.bar_sizes[0] = 0x100;
            f.header.BaseAddresses[1] = 0xFEB00000 + bus * 0x1000;
            f.bar_sizes[1] = 0x1000;
            f.header.InterruptLine = static_cast<UCHAR>(9 + bus);
        }
        pci.Add({0, 1, 0}, 0x1145, 0x8008);  // another device of the vendor
        port.AttachMemory(memory);
        port.discovery().AttachPci(pci);
        data.HwInitializationDataSize = sizeof(data);
        data.AdapterInterfaceType = PCIBus;
        data.HwFindAdapter = ScriptedFindAdapter;
        data.DeviceExtensionSize = 64;
        data.NumberOfAccessRanges = 3;
        data.VendorIdLength = 4;
        data.DeviceIdLength = 4;
        data.VendorId = vendor;
        data.DeviceId = device;
    }
    ~PortDiscovery() override { script = nullptr; }

    ULONG Initialize() { return port.Initialize(nullptr, nullptr, &data, nullptr); }

    PciConfigSpace pci;
    PhysicalMemory memory;
    PortDriver port;
    PortDriver::Binding binding{port};
    HW_INITIALIZATION_DATA data{};
    char vendor[4] = {'1', '1', '4', '5'};
    char device[4] = {'8', '0', '0', '9'};
    Script script_;
};

TEST_F(PortDiscovery, OffersMatchingFunctionsUntilAgainIsFalse) {
    script_.results = {SP_RETURN_NOT_FOUND, SP_RETURN_FOUND, SP_RETURN_FOUND};
    script_.again = {TRUE, FALSE, TRUE};
    EXPECT_EQ(Initialize(), kPortStatusSuccess);
    ASSERT_EQ(script_.seen.size(), 2u);  // the third function is never offered
    EXPECT_EQ(port.discovery().FoundAdapters().size(), 1u);
    EXPECT_EQ(port.discovery().FoundAdapters()[0]->location, (PciLocation{1, 0, 0}));
}

TEST_F(PortDiscovery, ConfigurationDescribesTheFunction) {
    script_.results = {SP_RETURN_FOUND, SP_RETURN_FOUND, SP_RETURN_FOUND};
    script_.again = {TRUE, TRUE, TRUE};
    port.discovery().Host().argument_string = "pio";
    vendor[0] = '1';
    device[3] = '9';
    Initialize();
    ASSERT_EQ(script_.seen.size(), 3u);
    const PORT_CONFIGURATION_INFORMATION& c = script_.seen[2];
    EXPECT_EQ(c.SystemIoBusNumber, 2u);
    EXPECT_EQ(c.SlotNumber, 0u);
    EXPECT_EQ(c.BusInterruptLevel, 11u);
    EXPECT_EQ(c.NumberOfAccessRanges, 3u);
    EXPECT_EQ(c.AdapterInterfaceType, PCIBus);
    EXPECT_EQ(c.DmaChannel, SP_UNINITIALIZED_VALUE);
    // Each call gets a fresh copy of the option string, whatever the previous call did to its.
    EXPECT_EQ(script_.strings, (std::vector<std::string>{"pio", "pio", "pio"}));
    const auto& ranges = port.discovery().Offers()[2]->claimed_ranges;
    EXPECT_EQ(ranges[0].RangeStart.QuadPart, 0xE200);
    EXPECT_FALSE(ranges[0].RangeInMemory);
    EXPECT_EQ(ranges[1].RangeStart.QuadPart, 0xFEB02000);
    EXPECT_TRUE(ranges[1].RangeInMemory);
    EXPECT_EQ(ranges[2].RangeLength, 0u);
}

TEST_F(PortDiscovery, RefusedAdapterGivesBackItsMappings) {
    script_.results = {SP_RETURN_NOT_FOUND};
    script_.again = {FALSE};
    script_.map_io = true;
    EXPECT_EQ(Initialize(), kPortStatusNoSuchDevice);
    const OfferedAdapter& offer = *port.discovery().Offers()[0];
    ASSERT_EQ(offer.bases.size(), 1u);
    EXPECT_EQ(offer.bases[0].mapped, reinterpret_cast<void*>(0xE000));
    EXPECT_EQ(offer.LiveBases(), 0u);
}

TEST_F(PortDiscovery, IoBasesOnlyInsideTheAdaptersRanges) {
    script_.results = {SP_RETURN_FOUND};
    script_.again = {FALSE};
    Initialize();
    void* extension = port.discovery().Offers()[0]->extension;
    DeviceMappings& mappings = port.Mappings();
    EXPECT_EQ(port.discovery().GetDeviceBase("test", extension, 0xE000, 0x100, true, mappings),
              reinterpret_cast<void*>(0xE000));
    EXPECT_EQ(port.discovery().GetDeviceBase("test", extension, 0xE100, 0x10, true, mappings),
              nullptr);
    // The uncached extension is handed out once.
    EXPECT_NE(port.discovery().GetUncachedExtension("test", extension, 100, memory), nullptr);
    EXPECT_EQ(port.discovery().GetUncachedExtension("test", extension, 100, memory), nullptr);
}

TEST_F(PortDiscovery, WithoutConfigurationSpaceOnlyTheRegistrationIsKept) {
    PortDriver bare;
    PortDriver::Binding bare_binding(bare);
    EXPECT_EQ(bare.Initialize(nullptr, nullptr, &data, nullptr), kPortStatusSuccess);
    EXPECT_TRUE(bare.discovery().Offers().empty());
}

}  // namespace
}  // namespace quell::sim
