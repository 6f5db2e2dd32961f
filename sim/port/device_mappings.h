// The addresses the port driver hands out for memory-space device ranges. Each is a reserved
// page range that nothing may touch directly: only the register-access routines translate it
// back to the bus address, so a stray direct access by the driver crashes at once instead of
// reading garbage.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

namespace quell::sim {

class DeviceMappings {
public:
    DeviceMappings() = default;
    ~DeviceMappings();
    DeviceMappings(const DeviceMappings&) = delete;
    DeviceMappings& operator=(const DeviceMappings&) = delete;

    // A fresh inaccessible address range standing for [physical, physical + length).
    void* MapMemory(std::uint64_t physical, std::uint32_t length);
    // Releases a mapping; false when the address is not the start of one.
    bool Unmap(void* mapped);

    // The bus address behind a mapped host address, when it lies inside a mapping.
    std::optional<std::uint64_t> ToBusAddress(const void* host) const;
    std::size_t Count() const { return mappings_.size(); }

private:
    struct Mapping {
        std::uint64_t physical;
        std::uint32_t length;
        std::size_t reserved;
    };
    std::map<std::uintptr_t, Mapping> mappings_;
};

}  // namespace quell::sim
