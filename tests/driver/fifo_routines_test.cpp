// The FIFO routine pairs and the block copies: how many bytes cross at which width, where the
// trailing bytes go, and which window locations a transfer uses.

#include "driver/transfer/fifo_routines.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <numeric>
#include <vector>

#include "driver/core/registers.h"
#include "driver/transfer/register_block.h"
#include "tests/support/host_fixture.h"

namespace quell::test {
namespace {

constexpr std::uint32_t kIoBase = 0xE800;
constexpr std::uint64_t kWindowBase = 0xFEBF0000;

// A FIFO behind the data register and behind the memory window, logging each access.
class FifoDevice : public sim::RegisterDevice {
public:
    struct Access {
        bool write;
        std::uint32_t offset;
        unsigned width;
        bool operator==(const Access&) const = default;
    };
    std::uint32_t Read(std::uint32_t offset, sim::AccessWidth width) override {
        log.push_back({false, offset, static_cast<unsigned>(width)});
        std::uint32_t value = 0;
        for (unsigned i = 0; i < static_cast<unsigned>(width); ++i) {
            value |= static_cast<std::uint32_t>(Pop()) << (8 * i);
        }
        return value;
    }
    void Write(std::uint32_t offset, sim::AccessWidth width, std::uint32_t value) override {
        log.push_back({true, offset, static_cast<unsigned>(width)});
        if (offset == FIFO_DATA || window) {
            for (unsigned i = 0; i < static_cast<unsigned>(width); ++i)
                sent.push_back(value >> (8 * i));
        } else if (offset == INDEX) {
            index_writes.push_back(static_cast<std::uint8_t>(value));
        }
    }
    std::uint8_t Pop() {
        if (fifo.empty()) return 0xEE;
        const auto byte = fifo.front();
        fifo.pop_front();
        return byte;
    }
    bool window = false;
    std::deque<std::uint8_t> fifo;
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> index_writes;
    std::vector<Access> log;
};

class FifoRoutinesTest : public HostFixture {
protected:
    FifoRoutinesTest() {
        window_device.window = true;
        bus.Map(sim::AddressSpace::Io, kIoBase, 0x50, registers, "chip registers");
        bus.Map(sim::AddressSpace::Memory, kWindowBase, MEMORY_WINDOW_SIZE, window_device,
                "window");
        port.AttachBus(bus);
        port.AttachMemory(memory);
        adapter.PortBase = reinterpret_cast<PUCHAR>(kIoBase);
        adapter.MmioWindow = static_cast<PUCHAR>(port.Mappings().MapMemory(kWindowBase, 4096));
    }
    static std::deque<std::uint8_t> Bytes(int count) {
        std::deque<std::uint8_t> bytes(count);
        std::iota(bytes.begin(), bytes.end(), 1);
        return bytes;
    }

    sim::Clock clock;
    sim::DeviceBus bus{&clock};
    sim::PhysicalMemory memory;
    FifoDevice registers;
    FifoDevice window_device;
    ADAPTER_EXTENSION adapter{};
};

TEST_F(FifoRoutinesTest, PortRoutinesMoveWholeWordsThenTrailingBytesThroughOneMoreWord) {
    registers.fifo = Bytes(6);
    UCHAR buffer[8] = {};
    ReadFifoPort(&adapter, buffer, 6);
    EXPECT_EQ(std::vector<UCHAR>(buffer, buffer + 8), (std::vector<UCHAR>{1, 2, 3, 4, 5, 6, 0, 0}));
    EXPECT_EQ(registers.log.size(), 2u);  // two 32-bit reads of the data register
    EXPECT_TRUE(registers.fifo.empty());

    UCHAR out[7] = {10, 11, 12, 13, 14, 15, 16};
    WriteFifoPort(&adapter, out, 7);
    EXPECT_EQ(registers.sent, (std::vector<std::uint8_t>{10, 11, 12, 13, 14, 15, 16, 0}));
}

TEST_F(FifoRoutinesTest, WindowRoutinesUseSuccessiveLocationsAndEndWritesWithTheIndex) {
    window_device.fifo = Bytes(6);
    UCHAR buffer[6] = {};
    ReadFifoWindow(&adapter, buffer, 6);
    EXPECT_EQ(std::vector<UCHAR>(buffer, buffer + 6), (std::vector<UCHAR>{1, 2, 3, 4, 5, 6}));
    if (!kTestingMp) {
        using A = FifoDevice::Access;
        EXPECT_EQ(window_device.log, (std::vector<A>{{false, 0, 4}, {false, 4, 1}, {false, 5, 1}}));
    }

    UCHAR out[4] = {7, 8, 9, 10};
    WriteFifoWindow(&adapter, out, 4);
    EXPECT_EQ(window_device.sent, (std::vector<std::uint8_t>{7, 8, 9, 10}));
    EXPECT_EQ(registers.index_writes, std::vector<std::uint8_t>{IDX_WINDOW_WRITE_END});
}

TEST_F(FifoRoutinesTest, WindowReadCrossingSegmentsFillsEachFromTheWindowBase) {
    if (!kTestingMp) GTEST_SKIP() << "only quellmp works on the request's segment list";
    UCHAR first[8] = {};
    UCHAR second[8] = {};
    UCHAR data_buffer[16] = {};
    SCSI_REQUEST_BLOCK srb{};
    srb.DataBuffer = data_buffer;
    LU_EXTENSION lu{};
    lu.Srb = &srb;
    lu.SegmentCount = 2;
    lu.SegmentList[0] = {8, static_cast<ULONG>(reinterpret_cast<uintptr_t>(first))};
    lu.SegmentList[1] = {8, static_cast<ULONG>(reinterpret_cast<uintptr_t>(second))};
    adapter.ActiveLu = &lu;
    adapter.DataPointer = data_buffer + 6;

    window_device.fifo = Bytes(5);  // an odd count: 16-bit units, then the last byte
    ReadFifoWindow(&adapter, nullptr, 5);
    EXPECT_EQ(first[6], 1);
    EXPECT_EQ(first[7], 2);
    EXPECT_EQ(std::vector<UCHAR>(second, second + 4), (std::vector<UCHAR>{3, 4, 5, 0}));
    for (const auto& access : window_device.log) EXPECT_LE(access.offset, 2u);
}

TEST_F(FifoRoutinesTest, BlockCopiesMoveEveryByte) {
    auto ram = memory.Allocate(16, sim::PagePlacement::Contiguous);
    auto* range = reinterpret_cast<PUCHAR>(ram.data());
    UCHAR source[7] = {1, 2, 3, 4, 5, 6, 7};
    WriteRegisterBlock(range, source, 7);
    UCHAR back[7] = {};
    ReadRegisterBlock(range, back, 7);
    EXPECT_EQ(std::memcmp(source, back, 7), 0);
}

}  // namespace
}  // namespace quell::test
