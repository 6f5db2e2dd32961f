#include "sim/pc/physical_memory.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <sstream>
#include <stdexcept>

namespace quell::sim {

const char* ToString(PagePlacement placement) {
    switch (placement) {
        case PagePlacement::Contiguous:
            return "contiguous";
        case PagePlacement::Scattered:
            return "scattered";
        case PagePlacement::Above4G:
            return "above 4 GB";
        case PagePlacement::LowWordZero:
            return "low word zero";
        case PagePlacement::UnalignedPieces:
            return "unaligned pieces";
    }
    return "unknown";
}

PhysicalAddress PhysicalMemory::TakeLowPages(std::size_t count, Block& block) {
    // A run given back earlier with exactly this length is used again first, so that a long
    // run of requests does not creep towards the 4 GB boundary.
    PhysicalAddress start;
    if (const auto reused = free_low_runs_.find(count); reused != free_low_runs_.end()) {
        start = reused->second;
        free_low_runs_.erase(reused);
    } else {
        start = next_low_;
        next_low_ += count * kPageSize;
        if (next_low_ > 0x100000000ull) {
            throw std::length_error("simulated RAM below 4 GB is exhausted");
        }
    }
    block.low_runs.push_back(Run{start, count});
    return start;
}

PhysicalAddress PhysicalMemory::TakeHighPages(std::size_t count, bool on_4g_boundary) {
    PhysicalAddress start = next_high_;
    if (on_4g_boundary) {
        // The next 4 GB boundary above everything handed out so far.
        start = ((next_high_ >> 32) + 1) << 32;
    }
    next_high_ = start + count * kPageSize;
    return start;
}

void PhysicalMemory::PlacePieces(Block& block, PagePlacement placement) {
    const std::size_t bytes = block.pages * kPageSize;
    switch (placement) {
        case PagePlacement::Contiguous:
        case PagePlacement::Above4G:
        case PagePlacement::LowWordZero: {
            const PhysicalAddress start =
                placement == PagePlacement::Contiguous
                    ? TakeLowPages(block.pages, block)
                    : TakeHighPages(block.pages, placement == PagePlacement::LowWordZero);
            block.pieces.push_back(Piece{0, bytes, start});
            return;
        }
        case PagePlacement::Scattered: {
            // A run twice as long, every other page used, in a shuffled order: no two
            // neighbouring host pages are physically adjacent.
            const PhysicalAddress start = TakeLowPages(block.pages * 2, block);
            std::vector<std::size_t> order(block.pages);
            std::iota(order.begin(), order.end(), 0);
            for (std::size_t i = order.size(); i > 1; --i) {
                std::swap(order[i - 1], order[random_.Below(i)]);
            }
            for (std::size_t i = 0; i < block.pages; ++i) {
                block.pieces.push_back(
                    Piece{i * kPageSize, kPageSize, start + 2 * order[i] * kPageSize});
            }
            return;
        }
        case PagePlacement::UnalignedPieces: {
            // Boundaries at k pages plus 1 to 3 bytes; each piece in a run of its own with a
            // free page after it, at the same offset within its page as in the host.
            std::size_t offset = 0;
            while (offset < bytes) {
                std::size_t end = (offset / kPageSize + 1) * kPageSize + 1 + random_.Below(3);
                end = std::min(end, bytes);
                const std::size_t first_page = offset / kPageSize;
                const std::size_t spanned = (end - 1) / kPageSize - first_page + 1;
                const PhysicalAddress run = TakeLowPages(spanned + 1, block);
                block.pieces.push_back(Piece{offset, end - offset, run + offset % kPageSize});
                offset = end;
            }
            return;
        }
    }
    throw std::invalid_argument("unknown page placement");
}

std::span<std::byte> PhysicalMemory::Allocate(std::size_t size, PagePlacement placement,
                                              std::uint32_t misalign) {
    if (misalign >= kPageSize) {
        throw std::invalid_argument("misalignment must stay inside one page");
    }
    Block block;
    block.pages = std::max<std::size_t>(1, (misalign + size + kPageSize - 1) / kPageSize);
    block.storage = std::make_unique<std::byte[]>(block.pages * kPageSize + kPageSize);
    const auto raw = reinterpret_cast<std::uintptr_t>(block.storage.get());
    block.base = block.storage.get() + ((kPageSize - raw % kPageSize) % kPageSize);
    std::memset(block.base, 0, block.pages * kPageSize);
    block.first = block.base + misalign;
    PlacePieces(block, placement);
    for (const Piece& piece : block.pieces) {
        by_physical_.emplace(piece.physical, Extent{block.base + piece.offset, piece.length});
    }
    std::byte* first = block.first;
    by_host_.emplace(reinterpret_cast<std::uintptr_t>(block.base), std::move(block));
    return {first, size};
}

bool PhysicalMemory::Release(const void* first) {
    const Block* found = BlockOf(first);
    if (found == nullptr || found->first != first) {
        return false;
    }
    for (const Piece& piece : found->pieces) {
        by_physical_.erase(piece.physical);
    }
    for (const Run& run : found->low_runs) {
        free_low_runs_.emplace(run.pages, run.start);
    }
    by_host_.erase(reinterpret_cast<std::uintptr_t>(found->base));
    return true;
}

const PhysicalMemory::Block* PhysicalMemory::BlockOf(const void* host) const {
    const auto address = reinterpret_cast<std::uintptr_t>(host);
    auto found = by_host_.upper_bound(address);
    if (found == by_host_.begin()) {
        return nullptr;
    }
    --found;
    const Block& block = found->second;
    return address - found->first < block.pages * kPageSize ? &block : nullptr;
}

bool PhysicalMemory::Contains(const void* host, std::size_t length) const {
    const Block* block = BlockOf(host);
    if (block == nullptr) return false;
    const auto offset = static_cast<const std::byte*>(host) - block->base;
    return static_cast<std::size_t>(offset) + length <= block->pages * kPageSize;
}

std::optional<Translation> PhysicalMemory::ToPhysical(const void* host) const {
    const Block* block = BlockOf(host);
    if (block == nullptr) {
        return std::nullopt;
    }
    const auto offset = static_cast<std::size_t>(static_cast<const std::byte*>(host) - block->base);
    auto piece =
        std::upper_bound(block->pieces.begin(), block->pieces.end(), offset,
                         [](std::size_t value, const Piece& p) { return value < p.offset; });
    --piece;
    Translation result;
    result.physical = piece->physical + (offset - piece->offset);
    std::uint64_t contiguous = piece->offset + piece->length - offset;
    for (auto next = piece + 1;
         next != block->pieces.end() && next->physical == (next - 1)->physical + (next - 1)->length;
         ++next) {
        contiguous += next->length;
    }
    result.contiguous = static_cast<std::uint32_t>(std::min<std::uint64_t>(contiguous, 0xFFFFFFFF));
    return result;
}

std::optional<PhysicalMemory::Extent> PhysicalMemory::HostOf(PhysicalAddress physical) const {
    auto found = by_physical_.upper_bound(physical);
    if (found == by_physical_.begin()) return std::nullopt;
    --found;
    const std::uint64_t into = physical - found->first;
    if (into >= found->second.length) return std::nullopt;
    return Extent{found->second.host + into, static_cast<std::size_t>(found->second.length - into)};
}

bool PhysicalMemory::Reachable(PhysicalAddress physical, std::size_t length,
                               const char* direction) {
    for (std::size_t done = 0; done < length;) {
        const auto extent = HostOf(physical + done);
        if (!extent) {
            std::ostringstream text;
            text << "DMA " << direction << " of " << length << " bytes at physical 0x" << std::hex
                 << physical << " reaches unmapped memory at 0x" << physical + done;
            dma_faults_.push_back(text.str());
            return false;
        }
        done += std::min(length - done, extent->length);
    }
    return true;
}

bool PhysicalMemory::Read(PhysicalAddress physical, std::span<std::byte> out) {
    if (!Reachable(physical, out.size(), "read")) return false;
    for (std::size_t done = 0; done < out.size();) {
        const auto extent = HostOf(physical + done);
        const std::size_t chunk = std::min(out.size() - done, extent->length);
        std::memcpy(out.data() + done, extent->host, chunk);
        done += chunk;
    }
    return true;
}

bool PhysicalMemory::Write(PhysicalAddress physical, std::span<const std::byte> in) {
    if (!Reachable(physical, in.size(), "write")) return false;
    for (std::size_t done = 0; done < in.size();) {
        const auto extent = HostOf(physical + done);
        const std::size_t chunk = std::min(in.size() - done, extent->length);
        std::memcpy(extent->host, in.data() + done, chunk);
        done += chunk;
    }
    return true;
}

}  // namespace quell::sim
