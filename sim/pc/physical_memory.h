// Simulated RAM: host buffers that the driver addresses directly, each page of which the
// machine places at a physical address of its choosing. The port driver answers physical
// address queries from this map; devices reach memory through it for DMA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace quell::sim {

using PhysicalAddress = std::uint64_t;

inline constexpr std::uint32_t kPageSize = 4096;

// How the pages of a block are placed in physical memory.
enum class PagePlacement {
    Contiguous,    // successive pages at successive physical addresses
    Scattered,     // every page at its own physical page, in a seeded order
    Above4G,       // contiguous, above the 32-bit boundary
    LowWordZero,   // contiguous, the first page at a physical address whose low 32 bits are 0
};

struct Translation {
    PhysicalAddress physical = 0;
    std::uint32_t contiguous = 0;  // bytes physically contiguous from there, within the block
};

class PhysicalMemory {
public:
    explicit PhysicalMemory(std::uint64_t seed = 1) : seed_(seed) {}
    PhysicalMemory(const PhysicalMemory&) = delete;
    PhysicalMemory& operator=(const PhysicalMemory&) = delete;

    // A block of `size` zero-filled bytes whose first byte lies `misalign` bytes past a page
    // boundary (0 to 4095). The memory lives as long as this object.
    std::span<std::byte> Allocate(std::size_t size, PagePlacement placement,
                                  std::uint32_t misalign = 0);

    // Physical address of a host byte and the contiguous length from there; nothing when the
    // byte is not simulated RAM.
    std::optional<Translation> ToPhysical(const void* host) const;

    // DMA: false (and nothing copied) when any byte of the range is not mapped.
    bool Read(PhysicalAddress physical, std::span<std::byte> out) const;
    bool Write(PhysicalAddress physical, std::span<const std::byte> in);

    std::uint64_t Seed() const { return seed_; }

private:
    struct Block {
        std::unique_ptr<std::byte[]> storage;
        std::byte* base = nullptr;     // page-aligned start inside storage
        std::size_t pages = 0;
        std::vector<PhysicalAddress> page_physical;
    };

    std::byte* HostOf(PhysicalAddress physical) const;
    PhysicalAddress TakePages(std::size_t count, PagePlacement placement);

    std::uint64_t seed_;
    std::uint64_t random_state_ = 0;
    PhysicalAddress next_low_ = 0x00100000;    // ordinary RAM above the first megabyte
    PhysicalAddress next_high_ = 0x100000000;  // RAM above 4 GB
    std::vector<Block> blocks_;
    std::map<std::uintptr_t, std::size_t> by_host_;         // block base -> block index
    std::map<PhysicalAddress, std::byte*> by_physical_;     // physical page -> host page
};

}  // namespace quell::sim
