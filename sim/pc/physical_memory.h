// Simulated RAM: host buffers that the driver addresses directly, each piece of which the
// machine places at a physical address of its choosing. The port driver answers physical
// address queries from this map; devices reach memory through it for DMA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/time/random.h"

namespace quell::sim {

using PhysicalAddress = std::uint64_t;

inline constexpr std::uint32_t kPageSize = 4096;

// How the bytes of a block are placed in physical memory.
enum class PagePlacement {
    Contiguous,       // successive pages at successive physical addresses
    Scattered,        // every page at its own physical page, in a seeded order
    Above4G,          // contiguous, above the 32-bit boundary
    LowWordZero,      // contiguous, the first page at a physical address whose low 32 bits are 0
    UnalignedPieces,  // pieces of about a page whose boundaries fall 1 to 3 bytes off a
                      // multiple of 4 (seeded), none physically adjacent to the next
};

const char* ToString(PagePlacement placement);

// Where a block goes: its placement and how far past a page boundary its first byte lies.
struct MemoryLayout {
    PagePlacement placement = PagePlacement::Contiguous;
    std::uint32_t page_offset = 0;  // 0 to 4095
};

struct Translation {
    PhysicalAddress physical = 0;
    std::uint32_t contiguous = 0;  // bytes physically contiguous from there, within the block
};

class PhysicalMemory {
public:
    explicit PhysicalMemory(std::uint64_t seed = 1) : seed_(seed), random_(seed) {}
    PhysicalMemory(const PhysicalMemory&) = delete;
    PhysicalMemory& operator=(const PhysicalMemory&) = delete;

    // A block of `size` zero-filled bytes whose first byte lies `misalign` bytes past a page
    // boundary (0 to 4095). The memory lives until it is released or this object goes.
    std::span<std::byte> Allocate(std::size_t size, PagePlacement placement,
                                  std::uint32_t misalign = 0);
    std::span<std::byte> Allocate(std::size_t size, const MemoryLayout& layout) {
        return Allocate(size, layout.placement, layout.page_offset);
    }

    // Gives a block back (by the first byte Allocate returned); its host bytes go away and its
    // physical pages may be handed out again. False when `first` starts no live block.
    bool Release(const void* first);

    // Physical address of a host byte and the contiguous length from there up to the end of
    // the block's pages; nothing when the byte is not simulated RAM.
    std::optional<Translation> ToPhysical(const void* host) const;
    // Whether [host, host + length) lies inside one live block.
    bool Contains(const void* host, std::size_t length) const;

    // DMA: false (and nothing copied) when any byte of the range is not mapped. Every such
    // attempt is a fault of the device model or of the driver that programmed it, and is
    // recorded in DmaFaults().
    bool Read(PhysicalAddress physical, std::span<std::byte> out);
    bool Write(PhysicalAddress physical, std::span<const std::byte> in);
    const std::vector<std::string>& DmaFaults() const { return dma_faults_; }

    std::uint64_t Seed() const { return seed_; }
    std::size_t LiveBlocks() const { return by_host_.size(); }

private:
    struct Piece {
        std::size_t offset;  // from the block's page-aligned base
        std::size_t length;
        PhysicalAddress physical;
    };
    struct Run {
        PhysicalAddress start;
        std::size_t pages;
    };
    struct Block {
        std::unique_ptr<std::byte[]> storage;
        std::byte* base = nullptr;  // page-aligned start inside storage
        std::byte* first = nullptr;
        std::size_t pages = 0;
        std::vector<Piece> pieces;  // in host order, covering every page
        std::vector<Run> low_runs;  // physical pages below 4 GB to give back on release
    };
    struct Extent {
        std::byte* host;
        std::size_t length;
    };

    void PlacePieces(Block& block, PagePlacement placement);
    PhysicalAddress TakeLowPages(std::size_t count, Block& block);
    PhysicalAddress TakeHighPages(std::size_t count, bool on_4g_boundary);
    const Block* BlockOf(const void* host) const;
    // The host byte behind a physical address and how many bytes follow it in that extent.
    std::optional<Extent> HostOf(PhysicalAddress physical) const;
    bool Reachable(PhysicalAddress physical, std::size_t length, const char* direction);

    std::uint64_t seed_;
    SeededRandom random_;
    PhysicalAddress next_low_ = 0x00100000;    // ordinary RAM above the first megabyte
    PhysicalAddress next_high_ = 0x100000000;  // RAM above 4 GB
    std::multimap<std::size_t, PhysicalAddress> free_low_runs_;  // by length in pages
    std::map<std::uintptr_t, Block> by_host_;                    // block base -> block
    std::map<PhysicalAddress, Extent> by_physical_;              // piece start -> host bytes
    std::vector<std::string> dma_faults_;
};

}  // namespace quell::sim
