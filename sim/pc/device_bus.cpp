#include "sim/pc/device_bus.h"

#include <stdexcept>

namespace quell::sim {

AccessCosts::AccessCosts(SimTime read, SimTime write) {
    for (const AddressSpace space : {AddressSpace::Io, AddressSpace::Memory}) {
        for (const AccessWidth width : {AccessWidth::Byte, AccessWidth::Word, AccessWidth::Dword}) {
            Set(space, width, AccessKind::Read, read);
            Set(space, width, AccessKind::StringRead, read);
            Set(space, width, AccessKind::Write, write);
            Set(space, width, AccessKind::StringWrite, write);
        }
    }
}

std::size_t AccessCosts::Index(AddressSpace space, AccessWidth width, AccessKind kind) {
    const std::size_t width_index = width == AccessWidth::Byte   ? 0
                                    : width == AccessWidth::Word ? 1
                                                                 : 2;
    return (static_cast<std::size_t>(space) * 3 + width_index) * 4 + static_cast<std::size_t>(kind);
}

void DeviceBus::Map(AddressSpace space, std::uint64_t base, std::uint32_t length,
                    RegisterDevice& device, std::string name) {
    if (length == 0) {
        throw std::invalid_argument("bus range " + name + " has no length");
    }
    for (const auto& [key, range] : ranges_) {
        if (key.first == space && base < range.base + range.length && range.base < base + length) {
            throw std::invalid_argument("bus range " + name + " overlaps " + range.name);
        }
    }
    ranges_[{space, base}] = Range{base, length, &device, std::move(name)};
}

void DeviceBus::Unmap(AddressSpace space, std::uint64_t base) { ranges_.erase({space, base}); }

std::optional<DeviceBus::Decoded> DeviceBus::Decode(AddressSpace space,
                                                    std::uint64_t address) const {
    auto found = ranges_.upper_bound({space, address});
    if (found == ranges_.begin()) return std::nullopt;
    --found;
    const Range& range = found->second;
    if (found->first.first != space || address >= range.base + range.length) {
        return std::nullopt;
    }
    return Decoded{range.device, static_cast<std::uint32_t>(address - range.base), &range.name};
}

void DeviceBus::Spend(SimTime cost) {
    if (clock_ != nullptr) clock_->Advance(cost);
}

std::uint32_t DeviceBus::Read(AddressSpace space, std::uint64_t address, AccessWidth width,
                              bool string_element) {
    Spend(costs_.Of(space, width, string_element ? AccessKind::StringRead : AccessKind::Read));
    ++counters_[{space, address}].reads;
    const auto decoded = Decode(space, address);
    if (!decoded) {
        ++unclaimed_;
        return WidthMask(width);
    }
    return decoded->device->Read(decoded->offset, width) & WidthMask(width);
}

void DeviceBus::Write(AddressSpace space, std::uint64_t address, AccessWidth width,
                      std::uint32_t value, bool string_element) {
    Spend(costs_.Of(space, width, string_element ? AccessKind::StringWrite : AccessKind::Write));
    ++counters_[{space, address}].writes;
    const auto decoded = Decode(space, address);
    if (!decoded) {
        ++unclaimed_;
        return;
    }
    decoded->device->Write(decoded->offset, width, value & WidthMask(width));
}

RegisterCounters DeviceBus::CountersAt(AddressSpace space, std::uint64_t address) const {
    const auto found = counters_.find({space, address});
    return found == counters_.end() ? RegisterCounters{} : found->second;
}

}  // namespace quell::sim
