#include "sim/port/device_mappings.h"

#include <sys/mman.h>

#include <stdexcept>

namespace quell::sim {

DeviceMappings::~DeviceMappings() {
    for (const auto& [address, mapping] : mappings_) {
        munmap(reinterpret_cast<void*>(address), mapping.reserved);
    }
}

void* DeviceMappings::MapMemory(std::uint64_t physical, std::uint32_t length) {
    const std::size_t page = 4096;
    const std::size_t reserved = ((length == 0 ? 1 : length) + page - 1) / page * page;
    void* address = mmap(nullptr, reserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED) {
        throw std::runtime_error("cannot reserve address space for a device mapping");
    }
    mappings_[reinterpret_cast<std::uintptr_t>(address)] = Mapping{physical, length, reserved};
    return address;
}

bool DeviceMappings::Unmap(void* mapped) {
    const auto found = mappings_.find(reinterpret_cast<std::uintptr_t>(mapped));
    if (found == mappings_.end()) return false;
    munmap(mapped, found->second.reserved);
    mappings_.erase(found);
    return true;
}

std::optional<std::uint64_t> DeviceMappings::ToBusAddress(const void* host) const {
    const auto address = reinterpret_cast<std::uintptr_t>(host);
    auto found = mappings_.upper_bound(address);
    if (found == mappings_.begin()) return std::nullopt;
    --found;
    if (address - found->first >= found->second.length) return std::nullopt;
    return found->second.physical + (address - found->first);
}

}  // namespace quell::sim
