// Simulated RAM: the pieces and contiguous lengths each placement promises, DMA through the
// page map, and DMA outside it.

#include "sim/pc/physical_memory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quell::sim {
namespace {

struct PieceView {
    PhysicalAddress physical;
    std::uint32_t length;
};

// The physically contiguous pieces of a buffer, walked as a scatter/gather builder does.
std::vector<PieceView> PiecesOf(const PhysicalMemory& memory, std::span<std::byte> buffer) {
    std::vector<PieceView> pieces;
    for (std::size_t done = 0; done < buffer.size();) {
        const auto translation = memory.ToPhysical(buffer.data() + done);
        EXPECT_TRUE(translation);
        if (!translation) break;
        const auto piece = std::min<std::size_t>(translation->contiguous, buffer.size() - done);
        pieces.push_back({translation->physical, static_cast<std::uint32_t>(piece)});
        done += piece;
    }
    return pieces;
}

TEST(PhysicalMemoryTest, EachPlacementGivesThePiecesItPromises) {
    struct Case {
        PagePlacement placement;
        std::uint32_t misalign;
        std::size_t pieces;
    };
    const Case cases[] = {
        {PagePlacement::Contiguous, 0x10, 1}, {PagePlacement::Scattered, 0, 4},
        {PagePlacement::Scattered, 0x100, 5}, {PagePlacement::Above4G, 0, 1},
        {PagePlacement::LowWordZero, 0, 1},   {PagePlacement::UnalignedPieces, 0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToString(c.placement));
        PhysicalMemory memory(7);
        const auto buffer = memory.Allocate(4 * kPageSize, c.placement, c.misalign);
        const auto pieces = PiecesOf(memory, buffer);
        EXPECT_EQ(pieces.size(), c.pieces);
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            total += pieces[i].length;
            if (i > 0) {
                EXPECT_NE(pieces[i].physical, pieces[i - 1].physical + pieces[i - 1].length);
            }
        }
        EXPECT_EQ(total, buffer.size());
        EXPECT_EQ(pieces[0].physical % kPageSize, c.misalign);
        switch (c.placement) {
            case PagePlacement::Above4G:
                EXPECT_GE(pieces[0].physical, 0x100000000ull);
                break;
            case PagePlacement::LowWordZero:
                EXPECT_EQ(pieces[0].physical & 0xFFFFFFFFull, 0u);
                break;
            case PagePlacement::UnalignedPieces:
                // Every piece after the first starts, and every piece but the last ends, off a
                // multiple of 4.
                for (std::size_t i = 1; i < pieces.size(); ++i)
                    EXPECT_NE(pieces[i].physical % 4, 0u);
                break;
            default:
                EXPECT_LT(pieces.back().physical, 0x100000000ull);
                break;
        }
    }
}

TEST(PhysicalMemoryTest, TheSameSeedPlacesTheSamePages) {
    PhysicalMemory first(42), second(42), other(43);
    const auto a = PiecesOf(first, first.Allocate(8 * kPageSize, PagePlacement::Scattered));
    const auto b = PiecesOf(second, second.Allocate(8 * kPageSize, PagePlacement::Scattered));
    const auto c = PiecesOf(other, other.Allocate(8 * kPageSize, PagePlacement::Scattered));
    ASSERT_EQ(a.size(), b.size());
    bool same_as_other = a.size() == c.size();
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].physical, b[i].physical);
        same_as_other = same_as_other && a[i].physical == c[i].physical;
    }
    EXPECT_FALSE(same_as_other);
}

TEST(PhysicalMemoryTest, DmaLandsInTheHostBytesAcrossPieces) {
    PhysicalMemory memory;
    const auto buffer = memory.Allocate(3 * kPageSize, PagePlacement::UnalignedPieces, 5);
    const auto pieces = PiecesOf(memory, buffer);
    ASSERT_GE(pieces.size(), 2u);
    // A write that covers the end of the first piece and the start of the second, each in
    // its own physical run.
    std::vector<std::byte> bytes(8, std::byte{0x5A});
    const std::size_t first = pieces[0].length;
    ASSERT_TRUE(memory.Write(pieces[0].physical + first - 4, std::span(bytes).first(4)));
    ASSERT_TRUE(memory.Write(pieces[1].physical, std::span(bytes).last(4)));
    for (std::size_t i = first - 4; i < first + 4; ++i) EXPECT_EQ(buffer[i], std::byte{0x5A}) << i;
    EXPECT_EQ(buffer[first - 5], std::byte{0});
    std::vector<std::byte> back(4);
    ASSERT_TRUE(memory.Read(pieces[1].physical, back));
    EXPECT_EQ(back[3], std::byte{0x5A});
    EXPECT_THAT(memory.DmaFaults(), ::testing::IsEmpty());
}

TEST(PhysicalMemoryTest, DmaOutsideMappedMemoryCopiesNothingAndIsRecorded) {
    PhysicalMemory memory;
    const auto buffer = memory.Allocate(kPageSize, PagePlacement::Contiguous);
    const PhysicalAddress start = memory.ToPhysical(buffer.data())->physical;
    std::vector<std::byte> bytes(16, std::byte{1});
    // Runs off the end of the block into a page nobody owns.
    EXPECT_FALSE(memory.Write(start + kPageSize - 8, bytes));
    EXPECT_EQ(buffer[kPageSize - 8], std::byte{0});
    EXPECT_FALSE(memory.Read(0x10, bytes));
    EXPECT_THAT(
        memory.DmaFaults(),
        ::testing::ElementsAre(::testing::HasSubstr("DMA write of 16 bytes"),
                               ::testing::HasSubstr("DMA read of 16 bytes at physical 0x10")));
}

TEST(PhysicalMemoryTest, ReleasedBlocksVanishAndTheirPagesAreReused) {
    PhysicalMemory memory;
    const auto first = memory.Allocate(2 * kPageSize, PagePlacement::Contiguous);
    const PhysicalAddress where = memory.ToPhysical(first.data())->physical;
    EXPECT_FALSE(memory.Release(first.data() + 1));
    EXPECT_TRUE(memory.Release(first.data()));
    std::vector<std::byte> byte(1);
    EXPECT_FALSE(memory.Read(where, byte));
    const auto second = memory.Allocate(2 * kPageSize, PagePlacement::Contiguous);
    EXPECT_EQ(memory.ToPhysical(second.data())->physical, where);
    EXPECT_EQ(memory.LiveBlocks(), 1u);
}

}  // namespace
}  // namespace quell::sim
