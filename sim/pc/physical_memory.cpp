#include "sim/pc/physical_memory.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <stdexcept>

namespace quell::sim {
namespace {

// A small deterministic generator (splitmix64): the same seed gives the same placement.
std::uint64_t NextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

PhysicalAddress PhysicalMemory::TakePages(std::size_t count, PagePlacement placement) {
    if (placement == PagePlacement::Above4G) {
        const PhysicalAddress start = next_high_;
        next_high_ += count * kPageSize;
        return start;
    }
    if (placement == PagePlacement::LowWordZero) {
        // The next 4 GB boundary above everything handed out so far.
        const PhysicalAddress start = ((next_high_ >> 32) + 1) << 32;
        next_high_ = start + count * kPageSize;
        return start;
    }
    const PhysicalAddress start = next_low_;
    next_low_ += count * kPageSize;
    return start;
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

    if (placement == PagePlacement::Scattered) {
        // Take a run of physical pages twice as long and use every other one, in a shuffled
        // order, so that no two neighbouring host pages are physically adjacent.
        const PhysicalAddress start = TakePages(block.pages * 2, PagePlacement::Contiguous);
        std::vector<std::size_t> order(block.pages);
        std::iota(order.begin(), order.end(), 0);
        random_state_ ^= seed_;
        for (std::size_t i = order.size(); i > 1; --i) {
            std::swap(order[i - 1], order[NextRandom(random_state_) % i]);
        }
        for (std::size_t i = 0; i < block.pages; ++i) {
            block.page_physical.push_back(start + 2 * order[i] * kPageSize);
        }
    } else {
        const PhysicalAddress start = TakePages(block.pages, placement);
        for (std::size_t i = 0; i < block.pages; ++i) {
            block.page_physical.push_back(start + i * kPageSize);
        }
    }

    for (std::size_t i = 0; i < block.pages; ++i) {
        by_physical_.emplace(block.page_physical[i], block.base + i * kPageSize);
    }
    by_host_.emplace(reinterpret_cast<std::uintptr_t>(block.base), blocks_.size());
    std::byte* first = block.base + misalign;
    blocks_.push_back(std::move(block));
    return {first, size};
}

std::optional<Translation> PhysicalMemory::ToPhysical(const void* host) const {
    const auto address = reinterpret_cast<std::uintptr_t>(host);
    auto found = by_host_.upper_bound(address);
    if (found == by_host_.begin()) {
        return std::nullopt;
    }
    --found;
    const Block& block = blocks_[found->second];
    const std::uintptr_t offset = address - found->first;
    if (offset >= block.pages * kPageSize) {
        return std::nullopt;
    }
    std::size_t page = offset / kPageSize;
    Translation result;
    result.physical = block.page_physical[page] + offset % kPageSize;
    std::uint64_t contiguous = kPageSize - offset % kPageSize;
    while (page + 1 < block.pages &&
           block.page_physical[page + 1] == block.page_physical[page] + kPageSize) {
        contiguous += kPageSize;
        ++page;
    }
    result.contiguous = static_cast<std::uint32_t>(std::min<std::uint64_t>(contiguous, 0xFFFFFFFF));
    return result;
}

std::byte* PhysicalMemory::HostOf(PhysicalAddress physical) const {
    const auto found = by_physical_.find(physical - physical % kPageSize);
    return found == by_physical_.end() ? nullptr : found->second + physical % kPageSize;
}

bool PhysicalMemory::Read(PhysicalAddress physical, std::span<std::byte> out) const {
    for (std::size_t done = 0; done < out.size();) {
        if (HostOf(physical + done) == nullptr) {
            return false;
        }
        const std::size_t chunk =
            std::min<std::size_t>(out.size() - done, kPageSize - (physical + done) % kPageSize);
        done += chunk;
    }
    for (std::size_t done = 0; done < out.size();) {
        const std::size_t chunk =
            std::min<std::size_t>(out.size() - done, kPageSize - (physical + done) % kPageSize);
        std::memcpy(out.data() + done, HostOf(physical + done), chunk);
        done += chunk;
    }
    return true;
}

bool PhysicalMemory::Write(PhysicalAddress physical, std::span<const std::byte> in) {
    for (std::size_t done = 0; done < in.size();) {
        if (HostOf(physical + done) == nullptr) {
            return false;
        }
        const std::size_t chunk =
            std::min<std::size_t>(in.size() - done, kPageSize - (physical + done) % kPageSize);
        done += chunk;
    }
    for (std::size_t done = 0; done < in.size();) {
        const std::size_t chunk =
            std::min<std::size_t>(in.size() - done, kPageSize - (physical + done) % kPageSize);
        std::memcpy(HostOf(physical + done), in.data() + done, chunk);
        done += chunk;
    }
    return true;
}

}  // namespace quell::sim
