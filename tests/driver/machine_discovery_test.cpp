// Discovery of whole machines through DriverEntry: the port driver offers every matching
// function and honours each build's answer through Again.

#include <gtest/gtest.h>

#include "driver/config/entry_points.h"
#include "driver/core/adapter.h"
#include "sim/machine/machine.h"
#include "tests/support/host_fixture.h"

namespace quell::test {
namespace {

struct LoadedMachine {
    explicit LoadedMachine(const sim::MachineDescription& description) : machine(description) {}
    ULONG Load() { return DriverEntry(nullptr, nullptr); }

    sim::Machine machine;
    sim::Machine::Bindings bindings{machine};
};

TEST(MachineDiscovery, DefaultMachineHasOneBusMasterAdapter) {
    LoadedMachine loaded(sim::DefaultMachineDescription());
    EXPECT_EQ(loaded.Load(), sim::kPortStatusSuccess);
    const auto found = loaded.machine.port.discovery().FoundAdapters();
    ASSERT_EQ(found.size(), 1u);
    const auto& adapter = *static_cast<const ADAPTER_EXTENSION*>(found[0]->extension);
    EXPECT_EQ(adapter.AdapterTransferMode, TRANSFER_MODE_BUS_MASTER);
    EXPECT_EQ(adapter.PciDeviceId, 0x8009u);
    EXPECT_EQ(loaded.machine.cards[0]->Controller().LatencyRegister(), 0x2000);
    // The run time took the adapter over, with the card's interrupt line.
    ASSERT_EQ(loaded.machine.port.AdapterCount(), 1u);
    EXPECT_EQ(loaded.machine.port.AdapterAt(0).DeviceExtension(), found[0]->extension);
}

TEST(MachineDiscovery, EveryBuildStopsWhereItsAgainSays) {
    sim::MachineDescription description = sim::DefaultMachineDescription();
    sim::AdapterDescription second;
    second.location = {2, 0, 0};
    second.io_base = 0xEC00;
    second.memory_window_base = 0xFEBFE000;
    sim::AdapterDescription wrong_revision = second;
    wrong_revision.location = {3, 0, 0};
    wrong_revision.io_base = 0xF000;
    wrong_revision.memory_window_base = 0xFEBFD000;
    wrong_revision.chip.revision = 0x6000;
    description.adapters = {description.adapters[0], wrong_revision, second};
    // Sorted by location the offers are bus 1, 2 (second), 3 (wrong revision).
    LoadedMachine loaded(description);
    loaded.Load();
    const auto& offers = loaded.machine.port.discovery().Offers();
    // quellmp answers FALSE: the port driver offers nothing after the first adapter. quellnt
    // answers TRUE, also for the candidate it refuses.
    ASSERT_EQ(offers.size(), kTestingMp ? 1u : 3u);
    EXPECT_EQ(loaded.machine.port.discovery().FoundAdapters().size(), kTestingMp ? 1u : 2u);
    if (!kTestingMp) {
        EXPECT_FALSE(offers[2]->Found());
        EXPECT_TRUE(offers[2]->again);
    }
}

TEST(MachineDiscovery, NoAdapterMeansTheLoadFails) {
    sim::MachineDescription description = sim::DefaultMachineDescription();
    description.adapters.clear();
    LoadedMachine loaded(description);
    EXPECT_EQ(loaded.Load(), sim::kPortStatusNoSuchDevice);
    EXPECT_TRUE(loaded.machine.port.discovery().Offers().empty());
}

TEST(MachineDiscovery, MachineFactsReachTheChecks) {
    sim::MachineDescription description = sim::DefaultMachineDescription();
    description.registry_pci_names.push_back("VEN_10B9&DEV_1521&SUBSYS_00000000&REV_00");
    description.firmware_signature = true;
    description.option_string = "SYNC=10";
    LoadedMachine loaded(description);
    loaded.Load();
    const auto& adapter = *static_cast<const ADAPTER_EXTENSION*>(
        loaded.machine.port.discovery().FoundAdapters().at(0)->extension);
    EXPECT_EQ(adapter.AdapterTransferMode, TRANSFER_MODE_FIFO_PORT);
    EXPECT_EQ(adapter.LegacyPortQuirk, 1u);
    EXPECT_EQ(adapter.SyncPeriodOption, 0x19);
    EXPECT_EQ(loaded.machine.pc.ports.Touched(0x50), kTestingMp);
}

// Discovery against the controller model itself: the chip answers every access the driver
// makes with the meaning the driver gives it, for every transfer mode an option string picks.
TEST(MachineDiscovery, TheModelledChipAcceptsDiscoveryInEveryMode) {
    struct Case {
        const char* options;
        UCHAR mode;
    } cases[] = {
        {"", TRANSFER_MODE_BUS_MASTER},
        {"pio", TRANSFER_MODE_FIFO_PORT},
        {"mmio", TRANSFER_MODE_FIFO_WINDOW},
        {"nosg latm=3", TRANSFER_MODE_BUS_MASTER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        sim::MachineDescription description = sim::DefaultMachineDescription();
        description.option_string = c.options;
        LoadedMachine loaded(description);
        ASSERT_EQ(loaded.Load(), sim::kPortStatusSuccess);
        const auto found = loaded.machine.port.discovery().FoundAdapters();
        ASSERT_EQ(found.size(), 1u);
        const auto& adapter = *static_cast<const ADAPTER_EXTENSION*>(found[0]->extension);
        EXPECT_EQ(adapter.AdapterTransferMode, c.mode);
        sim::AdapterHardware& card = *loaded.machine.cards[0];
        EXPECT_TRUE(card.Errors().Empty()) << card.Errors().Summary();
        EXPECT_FALSE(card.Controller().InterruptLine());  // everything masked after discovery
        EXPECT_TRUE(loaded.machine.port.Violations().empty());
    }
}

}  // namespace
}  // namespace quell::test
