#include "sim/pc/system_ports.h"

#include <algorithm>

namespace quell::sim {

void SystemPorts::Write(std::uint16_t port, std::uint8_t value) {
    accesses_.push_back({true, port, value});
    values_[port] = value;
}

std::uint8_t SystemPorts::Read(std::uint16_t port) {
    const auto found = values_.find(port);
    const std::uint8_t value = found == values_.end() ? 0xFF : found->second;
    accesses_.push_back({false, port, value});
    return value;
}

bool SystemPorts::Touched(std::uint16_t port) const {
    return std::any_of(accesses_.begin(), accesses_.end(),
                       [port](const SystemPortAccess& access) { return access.port == port; });
}

}  // namespace quell::sim
