// Discovery of one adapter: the probe, the port configuration per transfer mode and build, the
// common buffer, the chip's memory window and latency, and the adapter's first values.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "driver/core/registers.h"
#include "tests/support/discovery_fixture.h"

namespace quell::test {
namespace {

using sim::AccessWidth;

constexpr BOOLEAN kAgainAfterProbe = kTestingMp ? FALSE : TRUE;

TEST_F(DiscoveryFixture, ProbeAcceptsExactlyTheSupportedRevisions) {
    struct Case {
        USHORT revision;
        bool found;
    };
    for (const Case c :
         {Case{0x50FF, false}, Case{0x5100, true}, Case{0x51FF, true}, Case{0x5A00, true},
          Case{0x5FFF, true}, Case{0x6000, false}, Case{0x0000, false}, Case{0xFFFF, false}}) {
        SCOPED_TRACE(c.revision);
        chip.Answer(CHIP_REVISION, AccessWidth::Word, c.revision);
        const sim::OfferedAdapter& offer = Discover();
        EXPECT_EQ(offer.Found(), c.found);
        EXPECT_EQ(offer.again, kAgainAfterProbe);
        const ADAPTER_EXTENSION& adapter = Extension(offer);
        if (c.found) {
            EXPECT_EQ(adapter.PortBase, reinterpret_cast<PUCHAR>(kIoBase));
            continue;
        }
        // A refused candidate keeps no mapping and no state beyond the cleared flags.
        EXPECT_EQ(offer.LiveBases(), 0u);
        EXPECT_EQ(adapter.PortBase, nullptr);
        EXPECT_EQ(adapter.MmioWindow, nullptr);
        EXPECT_EQ(adapter.IrqControlShadow, 0u);
        EXPECT_EQ(adapter.PciDeviceId, 0u);
    }
}

TEST_F(DiscoveryFixture, ProbeThatCannotMapTheIoWindowFindsNothing) {
    // The port driver maps only the adapter's own I/O ranges.
    pc.pci.Find(kAdapterAt)->bar_sizes[0] = 0;
    const sim::OfferedAdapter& offer = Discover();
    EXPECT_FALSE(offer.Found());
    EXPECT_EQ(offer.again, kAgainAfterProbe);
    EXPECT_TRUE(chip.Accesses().empty());
}

TEST_F(DiscoveryFixture, DefaultsWithoutOptionsOrQuirks) {
    const sim::OfferedAdapter& offer = Discover();
    ASSERT_TRUE(offer.Found());
    const ADAPTER_EXTENSION& adapter = Extension(offer);
    EXPECT_EQ(adapter.AdapterTransferMode, TRANSFER_MODE_BUS_MASTER);
    EXPECT_EQ(adapter.OptionFlags, OPTION_ULTRA);
    EXPECT_EQ(adapter.PendingFlags, 0u);
    EXPECT_EQ(adapter.ChipClock, 40u);
    EXPECT_EQ(adapter.LatmSetting, 0x20);
    EXPECT_EQ(adapter.SyncPeriodOption, 0);
    EXPECT_EQ(adapter.LegacyPortQuirk, 0u);
    EXPECT_EQ(adapter.PciDeviceId, 0x8009u);
    EXPECT_EQ(adapter.DevicesFound, 0u);
    EXPECT_EQ(adapter.ScanComplete, 0);
    EXPECT_EQ(adapter.ResetStallMicroseconds, 2500000u);
    EXPECT_EQ(adapter.IrqControlShadow, IRQ_MASK_ALL);
    EXPECT_NE(adapter.MmioWindow, nullptr);
    EXPECT_NE(adapter.FifoReadRoutine, nullptr);
    for (ULONG id = 0; id < kTargetCount; ++id) {
        const TARGET_STATE& target = adapter.Targets[id];
        EXPECT_EQ(target.Flags, 0);
        EXPECT_EQ(target.SyncPeriodCode | target.SyncOffset | target.AckWidthClass, 0);
        EXPECT_EQ(target.TransferMode, TRANSFER_MODE_BUS_MASTER);
        EXPECT_EQ(adapter.DeviceType[id], 0xFF);
    }
    EXPECT_TRUE(chip.UnscriptedReads().empty());
}

TEST_F(DiscoveryFixture, AccessRangesDescribeTheWindows) {
    const sim::OfferedAdapter& offer = Discover();
    const ACCESS_RANGE& io = offer.ranges[0];
    EXPECT_EQ(io.RangeStart.QuadPart, kIoBase);
    EXPECT_EQ(io.RangeLength, kIoLength);
    EXPECT_FALSE(io.RangeInMemory);
    // quellmp reports the window the chip decodes; quellnt leaves the port driver's entry.
    const ACCESS_RANGE& window = offer.ranges[1];
    EXPECT_EQ(window.RangeStart.QuadPart, kWindowBase);
    EXPECT_EQ(window.RangeLength, 4096u);
    EXPECT_TRUE(window.RangeInMemory);
    if (!kTestingMp) {
        EXPECT_EQ(std::memcmp(&window, &offer.claimed_ranges[1], sizeof(window)), 0);
    }
}

TEST_F(DiscoveryFixture, MemoryWindowComesFromTheChipNotFromTheAccessRanges) {
    constexpr ULONG kChipWindow = 0xFD001000;
    chip.AnswerIndexed(IDX_13, INDEXED_DATA_HIGH, AccessWidth::Word, kChipWindow >> 16);
    chip.AnswerIndexed(IDX_13, INDEXED_DATA, AccessWidth::Word, kChipWindow & 0xFFFF);
    const sim::OfferedAdapter& offer = Discover("mmio");
    const ADAPTER_EXTENSION& adapter = Extension(offer);
    EXPECT_EQ(port.Mappings().ToBusAddress(adapter.MmioWindow), kChipWindow);
    // The window is read high half first, each half behind a fresh index.
    const std::vector<RegisterAccess> expected = {
        Write(INDEX, AccessWidth::Byte, IDX_13),
        Read(INDEXED_DATA_HIGH, AccessWidth::Word, kChipWindow >> 16),
        Read(INDEXED_DATA, AccessWidth::Word, kChipWindow & 0xFFFF)};
    const auto& log = chip.Accesses();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<RegisterAccess>(log.begin() + 1, log.begin() + 4), expected);
}

// An unmappable memory window rules out the memory-window FIFO: the adapter uses the I/O-port
// FIFO instead of a window it cannot reach.
TEST_F(DiscoveryFixture, UnmappableWindowFallsBackToThePortFifo) {
    port.discovery().Host().refuse_memory_mappings = true;
    w9x.SetPhysicalMapper([](std::uint64_t, std::uint32_t) -> void* { return nullptr; });
    const ADAPTER_EXTENSION& windowed = Extension(Discover("mmio"));
    EXPECT_EQ(windowed.MmioWindow, nullptr);
    EXPECT_EQ(windowed.AdapterTransferMode, TRANSFER_MODE_FIFO_PORT);
    EXPECT_EQ(Extension(Discover()).AdapterTransferMode, TRANSFER_MODE_BUS_MASTER);
}

struct ColumnCase {
    const char* name;
    const char* options;
    bool refuse_common_buffer;
    UCHAR mode;
    BOOLEAN scatter_gather;
    ULONG physical_breaks;
    BOOLEAN map_buffers;
    BOOLEAN need_physical;
    BOOLEAN dma32;
};

class ConfigColumns : public DiscoveryFixture, public ::testing::WithParamInterface<ColumnCase> {};

TEST_P(ConfigColumns, FillThePortConfiguration) {
    const ColumnCase& c = GetParam();
    port.discovery().Host().refuse_uncached_extension = c.refuse_common_buffer;
    const sim::OfferedAdapter& offer = Discover(c.options);
    ASSERT_TRUE(offer.Found());
    const PORT_CONFIGURATION_INFORMATION& config = offer.config;
    EXPECT_EQ(Extension(offer).AdapterTransferMode, c.mode);
    EXPECT_EQ(config.ScatterGather, c.scatter_gather);
    EXPECT_EQ(config.Master, c.scatter_gather);
    EXPECT_EQ(config.NumberOfPhysicalBreaks, c.physical_breaks);
    EXPECT_EQ(config.MapBuffers, c.map_buffers);
    EXPECT_EQ(config.NeedPhysicalAddresses, c.need_physical);
    EXPECT_EQ(config.Dma32BitAddresses, c.dma32);
    // The same in every column.
    EXPECT_EQ(config.DmaChannel, SP_UNINITIALIZED_VALUE);
    EXPECT_TRUE(config.BufferAccessScsiPortControlled);
    EXPECT_FALSE(config.DemandMode);
    EXPECT_EQ(config.InterruptMode, LevelSensitive);
    EXPECT_FALSE(config.RealModeInitialized);
    EXPECT_EQ(config.NumberOfBuses, 1);
    EXPECT_EQ(config.InitiatorBusId[0], 7);
    // Fields discovery does not own keep what the port driver supplied.
    EXPECT_EQ(config.SystemIoBusNumber, kAdapterAt.bus);
    EXPECT_EQ(config.BusInterruptLevel, 11u);
    // quellmp sets the mask for bus mastering; a refused buffer does not take it back.
    EXPECT_EQ(config.AlignmentMask, kTestingMp && std::string(c.options).empty() ? 3u : 0u);
}

constexpr BOOLEAN kMp = kTestingMp ? TRUE : FALSE;
constexpr BOOLEAN kNt = kTestingMp ? FALSE : TRUE;

INSTANTIATE_TEST_SUITE_P(
    Columns, ConfigColumns,
    ::testing::Values(
        ColumnCase{"BusMaster", "", false, 3, TRUE, 18, kNt, TRUE, TRUE},
        ColumnCase{"PortFifo", "pio", false, 0, FALSE, SP_UNINITIALIZED_VALUE, TRUE, FALSE, TRUE},
        ColumnCase{"WindowFifo", "mmio", false, 5, FALSE, SP_UNINITIALIZED_VALUE, TRUE, FALSE,
                   TRUE},
        ColumnCase{"BusMasterRefused", "", true, 0, FALSE, SP_UNINITIALIZED_VALUE, TRUE, FALSE,
                   FALSE},
        // Only quellmp asks for the buffer outside bus-master mode, so only it is refused there.
        ColumnCase{"WindowFifoRefused", "mmio", true, kTestingMp ? 0 : 5, FALSE,
                   SP_UNINITIALIZED_VALUE, TRUE, FALSE, kNt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DiscoveryFixture, CommonBufferIsAlignedAndTranslated) {
    port.discovery().Host().uncached_misalign = 2;
    const sim::OfferedAdapter& offer = Discover();
    const ADAPTER_EXTENSION& adapter = Extension(offer);
    ASSERT_EQ(offer.uncached.size(), 65540u);
    EXPECT_EQ(adapter.CommonBuffer, reinterpret_cast<PUCHAR>(offer.uncached.data()) + 2);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(adapter.CommonBuffer) % 4, 0u);
    EXPECT_EQ(adapter.CommonBufferPhysical, memory.ToPhysical(adapter.CommonBuffer)->physical);
}

TEST_F(DiscoveryFixture, QuellntAsksForTheCommonBufferOnlyInBusMasterMode) {
    for (const char* options : {"pio", "mmio"}) {
        SCOPED_TRACE(options);
        const sim::OfferedAdapter& offer = Discover(options);
        EXPECT_EQ(offer.uncached.empty(), !kTestingMp);
        EXPECT_EQ(Extension(offer).CommonBuffer == nullptr, !kTestingMp);
    }
}

TEST_F(DiscoveryFixture, LatencyIsWrittenOnlyOverAZeroHighByte) {
    struct Case {
        USHORT chip_value;
        std::optional<USHORT> written;
    };
    for (const Case c : {Case{0x0000, 0x2000}, Case{0x0034, 0x2034}, Case{0x4000, std::nullopt},
                         Case{0x0134, std::nullopt}}) {
        SCOPED_TRACE(c.chip_value);
        chip.AnswerIndexed(IDX_11, INDEXED_DATA, AccessWidth::Word, c.chip_value);
        chip.ClearLog();
        Discover();
        const std::vector<RegisterAccess> writes = chip.Writes();
        ASSERT_GE(writes.size(), 2u);
        if (c.written) {
            EXPECT_EQ(writes[writes.size() - 2], Write(INDEX, AccessWidth::Byte, IDX_11));
            EXPECT_EQ(writes.back(), Write(INDEXED_DATA, AccessWidth::Word, *c.written));
        } else {
            EXPECT_EQ(writes.back(), Write(INDEX, AccessWidth::Byte, IDX_11));
        }
        // The high half is read and dropped after the low half.
        const auto& log = chip.Accesses();
        const auto read =
            std::find(log.begin(), log.end(), Read(INDEXED_DATA, AccessWidth::Word, c.chip_value));
        ASSERT_NE(read, log.end());
        EXPECT_EQ(*(read + 1), Read(INDEXED_DATA_HIGH, AccessWidth::Byte, 0));
    }
}

TEST_F(DiscoveryFixture, OnlyTheWindowFifoKeepsMemoryDecoding) {
    struct Case {
        const char* options;
        USHORT final_command;
    };
    for (const Case c : {Case{"", 0x0005}, Case{"pio", 0x0005}, Case{"mmio", 0x0007}}) {
        SCOPED_TRACE(c.options);
        pc.pci.Find(kAdapterAt)->header.Command = PCI_ENABLE_IO_SPACE | PCI_ENABLE_MEMORY_SPACE;
        const std::size_t before = CommandWrites(kAdapterAt).size();
        Discover(c.options);
        const std::vector<USHORT> all = CommandWrites(kAdapterAt);
        const std::vector<USHORT> writes(all.begin() + static_cast<long>(before), all.end());
        // quellnt first switches everything on; both then locate the function twice.
        const std::vector<USHORT> expected =
            kTestingMp ? std::vector<USHORT>{0x0005, c.final_command}
                       : std::vector<USHORT>{0x0007, 0x0005, c.final_command};
        EXPECT_EQ(writes, expected);
        EXPECT_EQ(pc.pci.Find(kAdapterAt)->header.Command, c.final_command);
    }
}

TEST_F(DiscoveryFixture, ReleasesEveryTemporaryMapping) {
    const sim::OfferedAdapter& offer = Discover();
    // The firmware area was mapped and released; the I/O and memory windows stay (quellmp's
    // request for the window is its claim towards the 9x port driver).
    std::size_t firmware = 0;
    for (const sim::DeviceBase& base : offer.bases) {
        if (base.address == 0xFFFF0) {
            ++firmware;
            EXPECT_TRUE(base.released);
        } else {
            EXPECT_FALSE(base.released);
        }
    }
    EXPECT_EQ(firmware, 1u);
}

}  // namespace
}  // namespace quell::test
