// Register accesses from the port driver's routines to the devices on the bus: decoding,
// widths, string forms, costs in simulated time and counters.

#include "sim/pc/device_bus.h"

#include <gtest/gtest.h>

#include <vector>

#include "host/scsiport.h"
#include "sim/port/port_driver.h"

namespace quell::sim {
namespace {

// Remembers every access and answers reads with offset + width.
class RecordingDevice : public RegisterDevice {
public:
    struct Access {
        bool write;
        std::uint32_t offset;
        AccessWidth width;
        std::uint32_t value;
        bool operator==(const Access&) const = default;
    };
    std::uint32_t Read(std::uint32_t offset, AccessWidth width) override {
        accesses.push_back({false, offset, width, 0});
        return 0xABCD0000u | offset | static_cast<std::uint32_t>(width) << 8;
    }
    void Write(std::uint32_t offset, AccessWidth width, std::uint32_t value) override {
        accesses.push_back({true, offset, width, value});
    }
    std::vector<Access> accesses;
};

class DeviceBusTest : public ::testing::Test {
protected:
    DeviceBusTest() {
        port.AttachBus(bus);
        port.AttachMemory(memory);
        bus.Map(AddressSpace::Io, 0xE800, 0x50, device, "chip registers");
    }
    Clock clock;
    DeviceBus bus{&clock};
    PhysicalMemory memory;
    PortDriver port;
    PortDriver::Binding binding{port};
    RecordingDevice device;
};

TEST_F(DeviceBusTest, PortRoutinesReachTheDecodedDeviceAtItsOffset) {
    EXPECT_EQ(ScsiPortReadPortUshort(reinterpret_cast<PUSHORT>(0xE804)), 0x0204u);
    ScsiPortWritePortUchar(reinterpret_cast<PUCHAR>(0xE810), 0xD0);
    ScsiPortWritePortUlong(reinterpret_cast<PULONG>(0xE83C), 0x12345678);
    using A = RecordingDevice::Access;
    EXPECT_EQ(device.accesses, (std::vector<A>{{false, 0x04, AccessWidth::Word, 0},
                                               {true, 0x10, AccessWidth::Byte, 0xD0},
                                               {true, 0x3C, AccessWidth::Dword, 0x12345678}}));
}

TEST_F(DeviceBusTest, EveryAccessCostsTimeAndIsCountedPerRegister) {
    ULONG words[3];
    ScsiPortReadPortBufferUlong(reinterpret_cast<PULONG>(0xE830), words, 3);
    ScsiPortWritePortUshort(reinterpret_cast<PUSHORT>(0xE800), 0xF000);
    EXPECT_EQ(clock.Now(), 3 * AccessCosts::kDefaultRead + AccessCosts::kDefaultWrite);
    EXPECT_EQ(bus.CountersAt(AddressSpace::Io, 0xE830).reads, 3u);
    EXPECT_EQ(bus.CountersAt(AddressSpace::Io, 0xE800).writes, 1u);
}

TEST_F(DeviceBusTest, CostsAreSetPerSpaceWidthAndStringElement) {
    AccessCosts costs;
    costs.Set(AddressSpace::Io, AccessWidth::Dword, AccessKind::StringRead, 100);
    costs.Set(AddressSpace::Io, AccessWidth::Byte, AccessKind::Write, 30);
    bus.SetCosts(costs);
    ULONG words[4];
    ScsiPortReadPortBufferUlong(reinterpret_cast<PULONG>(0xE830), words, 4);
    EXPECT_EQ(clock.Now(), 400u);
    ScsiPortReadPortUlong(reinterpret_cast<PULONG>(0xE830));
    ScsiPortWritePortUchar(reinterpret_cast<PUCHAR>(0xE810), 1);
    EXPECT_EQ(clock.Now(), 400u + AccessCosts::kDefaultRead + 30);
}

TEST_F(DeviceBusTest, UnclaimedAddressesReadAllOnes) {
    EXPECT_EQ(ScsiPortReadPortUshort(reinterpret_cast<PUSHORT>(0xF000)), 0xFFFFu);
    EXPECT_EQ(bus.UnclaimedAccesses(), 1u);
    EXPECT_TRUE(device.accesses.empty());
}

TEST_F(DeviceBusTest, MemoryMappingsReachTheWindowAndPlainMemoryIsCopied) {
    RecordingDevice window;
    bus.Map(AddressSpace::Memory, 0xFEBF0000, 4096, window, "memory window");
    auto* mapped = static_cast<PUCHAR>(port.Mappings().MapMemory(0xFEBF0000, 4096));
    UCHAR bytes[2] = {1, 2};
    ScsiPortWriteRegisterBufferUchar(mapped + 8, bytes, 2);
    EXPECT_EQ(window.accesses.size(), 2u);
    EXPECT_EQ(window.accesses[1].offset, 9u);

    auto ram = memory.Allocate(16, PagePlacement::Contiguous);
    UCHAR source[4] = {9, 8, 7, 6};
    ScsiPortWriteRegisterBufferUchar(reinterpret_cast<PUCHAR>(ram.data()), source, 4);
    EXPECT_EQ(static_cast<int>(ram[3]), 6);
    EXPECT_TRUE(port.Mappings().Unmap(mapped));
    EXPECT_FALSE(port.Mappings().Unmap(mapped));
}

TEST_F(DeviceBusTest, OverlappingRangesAreRefused) {
    RecordingDevice other;
    EXPECT_THROW(bus.Map(AddressSpace::Io, 0xE840, 0x20, other, "other"), std::invalid_argument);
    EXPECT_NO_THROW(bus.Map(AddressSpace::Memory, 0xE840, 0x20, other, "other"));
}

TEST(DeviceBusDeathTest, RegisterAccessOutsideMappingsAndMemoryStopsTheRun) {
    PortDriver port;
    PhysicalMemory memory;
    port.AttachMemory(memory);
    PortDriver::Binding binding(port);
    UCHAR stray = 0;
    EXPECT_DEATH(ScsiPortReadRegisterUchar(&stray), "neither a device mapping");
}

}  // namespace
}  // namespace quell::sim
