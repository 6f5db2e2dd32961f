// System I/O ports reached with the processor's own port instructions (not through the port
// driver): every access is recorded; a port reads the last value written to it, or its
// power-on value.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace quell::sim {

struct SystemPortAccess {
    bool write = false;
    std::uint16_t port = 0;
    std::uint8_t value = 0;
    auto operator<=>(const SystemPortAccess&) const = default;
};

class SystemPorts {
public:
    // The value a port holds before anything writes it (a port never set reads 0xFF).
    void SetPowerOnValue(std::uint16_t port, std::uint8_t value) { values_[port] = value; }

    void Write(std::uint16_t port, std::uint8_t value);
    std::uint8_t Read(std::uint16_t port);

    const std::vector<SystemPortAccess>& Accesses() const { return accesses_; }
    // True when any access, read or write, reached the port.
    bool Touched(std::uint16_t port) const;

private:
    std::map<std::uint16_t, std::uint8_t> values_;
    std::vector<SystemPortAccess> accesses_;
};

}  // namespace quell::sim
