#include "sim/pc/pci_config_space.h"

#include <algorithm>
#include <cstring>

namespace quell::sim {
namespace {

constexpr std::uint32_t kHeaderBytes = sizeof(PCI_COMMON_CONFIG);

bool Writable(std::uint32_t offset) {
    return offset == PCI_OFFSET_COMMAND || offset == PCI_OFFSET_COMMAND + 1 ||
           offset == offsetof(PCI_COMMON_CONFIG, CacheLineSize) ||
           offset == PCI_OFFSET_LATENCY_TIMER ||
           (offset >= PCI_OFFSET_BASE_ADDRESS_0 &&
            offset < PCI_OFFSET_BASE_ADDRESS_0 + 4 * PCI_TYPE0_ADDRESSES) ||
           offset == offsetof(PCI_COMMON_CONFIG, InterruptLine);
}

// A written base address keeps only the address bits its size decodes, and its type bits stay
// as they were: writing all ones reads back the size, as a sizing probe expects.
void ApplyBarSizes(PciFunction& function, const PCI_COMMON_CONFIG& before, std::uint32_t first,
                   std::uint32_t end) {
    for (std::uint32_t i = 0; i < PCI_TYPE0_ADDRESSES; ++i) {
        const std::uint32_t bar_offset = PCI_OFFSET_BASE_ADDRESS_0 + 4 * i;
        if (bar_offset + 4 <= first || bar_offset >= end) continue;
        const std::uint32_t size = function.bar_sizes[i];
        ULONG& bar = function.header.BaseAddresses[i];
        if (size == 0) {
            bar = 0;
            continue;
        }
        const ULONG old = before.BaseAddresses[i];
        const std::uint32_t type_bits = (old & 1) != 0 ? 0x3u : 0xFu;
        bar = (bar & ~(size - 1) & ~type_bits) | (old & type_bits);
    }
}

}  // namespace

std::optional<std::uint16_t> PciConfigWrite::Word(std::uint32_t at) const {
    if (at < offset || at + 2 > offset + bytes.size()) return std::nullopt;
    const std::size_t i = at - offset;
    return static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8));
}

PciFunction& PciConfigSpace::Add(PciLocation location, std::uint16_t vendor, std::uint16_t device) {
    PciFunction& function = functions_[location];
    function = PciFunction{};
    function.header.VendorID = vendor;
    function.header.DeviceID = device;
    return function;
}

PciFunction* PciConfigSpace::Find(PciLocation location) {
    const auto found = functions_.find(location);
    return found == functions_.end() ? nullptr : &found->second;
}

const PciFunction* PciConfigSpace::Find(PciLocation location) const {
    const auto found = functions_.find(location);
    return found == functions_.end() ? nullptr : &found->second;
}

std::vector<PciLocation> PciConfigSpace::Locations() const {
    std::vector<PciLocation> locations;
    for (const auto& [location, function] : functions_) locations.push_back(location);
    return locations;
}

std::uint32_t PciConfigSpace::BusCount() const {
    if (bus_count_) return *bus_count_;
    return functions_.empty() ? 1 : functions_.rbegin()->first.bus + 1;
}

std::uint32_t PciConfigSpace::Read(std::uint32_t bus, ULONG slot, std::uint32_t offset,
                                   std::span<std::uint8_t> out) const {
    ++reads_;
    buses_read_.insert(bus);
    const PciLocation location = PciLocation::FromSlot(bus, slot);
    if (bus >= BusCount() || failing_.contains(location) || offset >= kHeaderBytes) return 0;
    const PciFunction* function = Find(location);
    if (function == nullptr) {
        // An empty slot answers with the invalid vendor ID alone.
        const std::uint16_t invalid = PCI_INVALID_VENDORID;
        const std::uint32_t count =
            std::min<std::uint32_t>(2, static_cast<std::uint32_t>(out.size()));
        std::memcpy(out.data(), &invalid, count);
        return count;
    }
    const std::uint32_t count =
        std::min<std::uint32_t>(kHeaderBytes - offset, static_cast<std::uint32_t>(out.size()));
    std::memcpy(out.data(), reinterpret_cast<const std::uint8_t*>(&function->header) + offset,
                count);
    return count;
}

std::uint32_t PciConfigSpace::Write(std::uint32_t bus, ULONG slot, std::uint32_t offset,
                                    std::span<const std::uint8_t> in) {
    const PciLocation location = PciLocation::FromSlot(bus, slot);
    writes_.push_back(PciConfigWrite{location, offset, {in.begin(), in.end()}});
    PciFunction* function = bus < BusCount() ? Find(location) : nullptr;
    if (function == nullptr || offset >= kHeaderBytes) return 0;
    const std::uint32_t count =
        std::min<std::uint32_t>(kHeaderBytes - offset, static_cast<std::uint32_t>(in.size()));
    const PCI_COMMON_CONFIG before = function->header;
    auto* header = reinterpret_cast<std::uint8_t*>(&function->header);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (Writable(offset + i)) header[offset + i] = in[i];
    }
    ApplyBarSizes(*function, before, offset, offset + count);
    return count;
}

}  // namespace quell::sim
