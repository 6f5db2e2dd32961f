// PCI configuration space: buses of devices of functions, each with its 256-byte header, read
// and written as the bus-data routines of the port driver and the hardware layer do.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "host/pci.h"

namespace quell::sim {

struct PciLocation {
    std::uint32_t bus = 0;
    std::uint32_t device = 0;    // 0 to 31
    std::uint32_t function = 0;  // 0 to 7

    // The slot number of the bus-data routines: device in bits 0-4, function in bits 5-7.
    ULONG Slot() const { return (device & 0x1F) | ((function & 0x7) << 5); }
    static PciLocation FromSlot(std::uint32_t bus, ULONG slot) {
        return PciLocation{bus, slot & 0x1F, (slot >> 5) & 0x7};
    }
    auto operator<=>(const PciLocation&) const = default;
};

// One function: its header and the size each base address decodes (0: not implemented).
struct PciFunction {
    PCI_COMMON_CONFIG header{};
    std::array<std::uint32_t, PCI_TYPE0_ADDRESSES> bar_sizes{};
};

// A write to configuration space, as it reached the function.
struct PciConfigWrite {
    PciLocation location;
    std::uint32_t offset = 0;
    std::vector<std::uint8_t> bytes;

    // The 16-bit value written at offset (low byte first) when the write covered it.
    std::optional<std::uint16_t> Word(std::uint32_t at) const;
};

class PciConfigSpace {
public:
    // Adds a function with the given identity; its header is otherwise zero and may be
    // adjusted through the returned reference. Replaces a function already there.
    PciFunction& Add(PciLocation location, std::uint16_t vendor, std::uint16_t device);
    PciFunction* Find(PciLocation location);
    const PciFunction* Find(PciLocation location) const;
    std::vector<PciLocation> Locations() const;  // in bus, device, function order

    // Buses 0 to count - 1 exist. Without a set count, every bus up to the highest one that
    // holds a function exists.
    void SetBusCount(std::uint32_t count) { bus_count_ = count; }
    std::uint32_t BusCount() const;

    // A read of this function returns nothing from now on, as if the bus could not be reached.
    void FailReads(PciLocation location) { failing_.insert(location); }

    // A read as the bus-data routines answer it: 0 bytes on a bus that does not exist (or a
    // failing function); on an empty slot 2 bytes, the vendor ID 0xFFFF; otherwise the bytes
    // of the header from offset, at most to its end.
    std::uint32_t Read(std::uint32_t bus, ULONG slot, std::uint32_t offset,
                       std::span<std::uint8_t> out) const;

    // A write: recorded, then applied to the writable fields of the header (command, status
    // bits are not modelled, cache line, latency, base addresses with their sizes honoured,
    // interrupt line). Answers the bytes taken: 0 for an absent function.
    std::uint32_t Write(std::uint32_t bus, ULONG slot, std::uint32_t offset,
                        std::span<const std::uint8_t> in);

    const std::vector<PciConfigWrite>& Writes() const { return writes_; }
    std::uint64_t ReadCount() const { return reads_; }
    // The buses the reads reached, for checking how far a scan went.
    const std::set<std::uint32_t>& BusesRead() const { return buses_read_; }

private:
    std::map<PciLocation, PciFunction> functions_;
    std::optional<std::uint32_t> bus_count_;
    std::set<PciLocation> failing_;
    std::vector<PciConfigWrite> writes_;
    mutable std::uint64_t reads_ = 0;
    mutable std::set<std::uint32_t> buses_read_;
};

}  // namespace quell::sim
