// The host checks of discovery: locating the adapter's PCI function, the firmware signature
// and its legacy ports, the processor and bridge checks that force programmed I/O, the latency
// default and the bus-master bridge.

#include <gtest/gtest.h>

#include <string>

#include "driver/config/pci_config.h"
#include "tests/support/discovery_fixture.h"

namespace quell::test {
namespace {

class HostChecks : public DiscoveryFixture {
protected:
    // A copy of the adapter's function at another place; the offered candidate itself then
    // reads nothing, so that the driver has to search for the copy.
    void HideAdapterAt(sim::PciLocation at, USHORT device_id) {
        sim::PciFunction copy = *pc.pci.Find(kAdapterAt);
        copy.header.DeviceID = device_id;
        pc.pci.Add(at, 0, 0) = copy;
        pc.pci.FailReads(kAdapterAt);
    }

    void SetDeviceId(USHORT device_id) { pc.pci.Find(kAdapterAt)->header.DeviceID = device_id; }

    void UseProcessor(const char* vendor, std::uint32_t family) {
        pc.processor.vendor = vendor;
        pc.processor.family = family;
    }

    // A PCI device of the host in both systems' views: configuration space and registry.
    void AddHostDevice(sim::PciLocation at, USHORT vendor, USHORT device) {
        pc.pci.Add(at, vendor, device);
        char name[64];
        std::snprintf(name, sizeof(name), "VEN_%04X&DEV_%04X&SUBSYS_00000000&REV_00", vendor,
                      device);
        ListPciDevice(name);
    }

    UCHAR Mode(const sim::OfferedAdapter& offer) { return Extension(offer).AdapterTransferMode; }
};

TEST_F(HostChecks, AdapterAtSlotZeroOfItsBusIsNotSearchedForElsewhere) {
    const sim::OfferedAdapter& offer = Discover();
    EXPECT_EQ(Extension(offer).PciDeviceId, 0x8009u);
    EXPECT_EQ(pc.pci.BusesRead(), std::set<std::uint32_t>{kAdapterAt.bus});
}

TEST_F(HostChecks, ScanFindsTheFunctionThatDecodesTheIoWindow) {
    pc.pci.Add({2, 9, 0}, 0x8086, 0x1234);  // a multi-function device
    HideAdapterAt({2, 9, 1}, 0xF001);
    const sim::OfferedAdapter& offer = Discover();
    EXPECT_EQ(Extension(offer).PciDeviceId, 0xF001u);
    EXPECT_EQ(CommandWrites({2, 9, 1}).size(), 2u);
    EXPECT_EQ(*pc.pci.BusesRead().rbegin(), 2u);  // the scan stopped where it found it
}

TEST_F(HostChecks, ScanNeverReachesBusSixteen) {
    HideAdapterAt({16, 0, 0}, 0x8009);
    const sim::OfferedAdapter& offer = Discover();
    EXPECT_TRUE(offer.Found());  // not finding the function does not fail discovery
    EXPECT_EQ(Extension(offer).PciDeviceId, 0u);
    EXPECT_TRUE(CommandWrites({16, 0, 0}).empty());
    EXPECT_EQ(*pc.pci.BusesRead().rbegin(), 15u);
}

TEST_F(HostChecks, DeviceWithoutFunctionZeroIsSkippedWhole) {
    HideAdapterAt({0, 5, 1}, 0x8009);  // function 1, and nothing at function 0
    EXPECT_EQ(Extension(Discover()).PciDeviceId, 0u);
    EXPECT_TRUE(CommandWrites({0, 5, 1}).empty());
}

TEST_F(HostChecks, DeviceIdThresholdDecidesWhetherHostChecksRun) {
    ListPciDevice("VEN_10B9&DEV_1521&SUBSYS_00000000&REV_00");
    SetDeviceId(0xF012);
    EXPECT_EQ(Mode(Discover()), TRANSFER_MODE_FIFO_PORT);
    SetDeviceId(0xF013);
    EXPECT_EQ(Mode(Discover()), TRANSFER_MODE_BUS_MASTER);
}

TEST_F(HostChecks, AmdProcessorsFromFamilySixWithAnAmdChipsetUseProgrammedIo) {
    AddHostDevice({0, 0, 0}, 0x1022, 0x7006);
    struct Case {
        const char* vendor;
        std::uint32_t family;
        bool identification;
        UCHAR mode;
    };
    for (const Case c : {Case{"AuthenticAMD", 5, true, 3}, Case{"AuthenticAMD", 6, true, 0},
                         Case{"AuthenticAMD", 15, true, 0}, Case{"AuthenticAMD", 23, true, 0},
                         Case{"GenuineIntel", 6, true, 3}, Case{"AuthenticAMD", 6, false, 3}}) {
        SCOPED_TRACE(std::string(c.vendor) + " " + std::to_string(c.family));
        UseProcessor(c.vendor, c.family);
        pc.processor.identification_available = c.identification;
        EXPECT_EQ(Mode(Discover()), c.mode);
    }
}

TEST_F(HostChecks, AmdProcessorWithoutAnAmdChipsetKeepsBusMastering) {
    UseProcessor("AuthenticAMD", 6);
    AddHostDevice({0, 0, 0}, 0x8086, 0x7190);
    EXPECT_EQ(Mode(Discover()), TRANSFER_MODE_BUS_MASTER);
}

TEST_F(HostChecks, OptionsRestoreAModeACheckForced) {
    ListPciDevice("VEN_10B9&DEV_1521&SUBSYS_00000000&REV_00");
    EXPECT_EQ(Mode(Discover()), TRANSFER_MODE_FIFO_PORT);
    EXPECT_EQ(Mode(Discover("bmx")), TRANSFER_MODE_BUS_MASTER);
    EXPECT_EQ(Mode(Discover("mmio")), TRANSFER_MODE_FIFO_WINDOW);
}

TEST_F(HostChecks, LatencyDefaultBehindTheLatencyBridge) {
    // quellmp looks at the adapter's parent device node, quellnt at the whole PCI list.
    SetParentKeyName("PCI\\VEN_1180&DEV_0478&SUBSYS_00000000&REV_80\\BUS_00&DEV_0A&FUNC_00");
    EXPECT_EQ(Extension(Discover()).LatmSetting, kTestingMp ? 3 : 0x20);
    ListPciDevice("VEN_1180&DEV_0478&SUBSYS_00000000&REV_80");
    EXPECT_EQ(Extension(Discover()).LatmSetting, kTestingMp ? 3 : 4);
    EXPECT_EQ(Extension(Discover("latm=9")).LatmSetting, 9);
}

TEST_F(HostChecks, DataOutBridgeDropsDisconnectionForBusMasterWritesInQuellmp) {
    ListPciDevice("VEN_1179&DEV_060A&SUBSYS_00000000&REV_00");
    const USHORT expected = kTestingMp ? OPTION_ULTRA | OPTION_DMA_OUT_NO_DISCONNECT : OPTION_ULTRA;
    EXPECT_EQ(Extension(Discover()).OptionFlags, expected);
    // Asked only in bus-master mode.
    EXPECT_EQ(Extension(Discover("pio")).OptionFlags, OPTION_ULTRA);
}

TEST_F(HostChecks, FirmwareSignatureTurnsOnTheLegacyPorts) {
    pc.firmware.SetLegacyPortSignature(true);
    const sim::OfferedAdapter& offer = Discover();
    EXPECT_EQ(Extension(offer).LegacyPortQuirk, 1u);
    // quellmp writes port 0x50 at once; neither build touches port 0x35 here.
    const std::vector<sim::SystemPortAccess> expected =
        kTestingMp ? std::vector<sim::SystemPortAccess>{{true, 0x50, 0x00}}
                   : std::vector<sim::SystemPortAccess>{};
    EXPECT_EQ(pc.ports.Accesses(), expected);
}

TEST_F(HostChecks, WithoutTheSignatureNoLegacyPortIsTouched) {
    struct Case {
        bool signature;
        bool mapping_refused;
    };
    for (const Case c : {Case{false, false}, Case{true, true}}) {
        pc.firmware.SetLegacyPortSignature(c.signature);
        port.discovery().Host().refuse_firmware_mapping = c.mapping_refused;
        EXPECT_EQ(Extension(Discover()).LegacyPortQuirk, 0u);
        EXPECT_FALSE(pc.ports.Touched(0x50));
        EXPECT_FALSE(pc.ports.Touched(0x35));
    }
}

TEST_F(HostChecks, FirmwareBridgeInThePciBiosForcesProgrammedIoInQuellmp) {
    pc.pci.Add({0, 0, 0}, 0x8086, 0x1235);
    EXPECT_EQ(Mode(Discover()), TRANSFER_MODE_BUS_MASTER);  // without the signature: not asked
    EXPECT_EQ(w9x.CallCount(VXD_DEVICE_VMM, VMM_EXEC_VXD_INT), 0u);
    pc.firmware.SetLegacyPortSignature(true);
    EXPECT_EQ(Mode(Discover()), kTestingMp ? TRANSFER_MODE_FIFO_PORT : TRANSFER_MODE_BUS_MASTER);
}

TEST_F(HostChecks, VendorScanAnswersFromConfigurationSpace) {
    if (kTestingMp) GTEST_SKIP() << "quellnt scans configuration space itself";
    pc.pci.SetBusCount(3);
    pc.pci.Add({2, 31, 0}, 0x8086, 0x7110);
    pc.pci.Add({2, 31, 1}, 0x1022, 0x7006);
    auto& adapter = Extension(Discover());
    EXPECT_TRUE(PciVendorPresent(&adapter, 0x1022));
    // The scan ends at the first bus that does not exist.
    pc.pci.SetBusCount(2);
    EXPECT_FALSE(PciVendorPresent(&adapter, 0x1022));
    // Above APC_LEVEL it may not look and takes the vendor as present.
    kernel.SetIrql(DISPATCH_LEVEL);
    EXPECT_TRUE(PciVendorPresent(&adapter, 0x1022));
}

}  // namespace
}  // namespace quell::test
