// The system bus as a driver's register accesses meet it: I/O-space ranges and memory-space
// windows decoded to the devices behind them. Every access costs simulated time and is
// counted per register, so that a run shows where the driver spends its bus cycles.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/pc/register_device.h"
#include "sim/time/clock.h"

namespace quell::sim {

enum class AddressSpace : std::uint8_t { Io = 0, Memory = 1 };

// Whether an access is a single read or write, or one element of a string access (the
// processor's repeated input and output instructions, or a copy through a memory window).
enum class AccessKind : std::uint8_t { Read, Write, StringRead, StringWrite };

// What one register access costs, by space, width and kind; a string access costs its
// element's figure once per element. The defaults are those of a 33 MHz PCI host (see
// docs/host-timing.md): reads are not posted, so the processor waits for the target;
// writes are posted, so the host bridge takes them and lets the processor go.
class AccessCosts {
public:
    static constexpr SimTime kDefaultRead = 600;
    static constexpr SimTime kDefaultWrite = 240;

    AccessCosts() : AccessCosts(kDefaultRead, kDefaultWrite) {}
    // Every read (single or string element) costs `read`, every write `write`.
    AccessCosts(SimTime read, SimTime write);

    SimTime Of(AddressSpace space, AccessWidth width, AccessKind kind) const {
        return table_[Index(space, width, kind)];
    }
    void Set(AddressSpace space, AccessWidth width, AccessKind kind, SimTime cost) {
        table_[Index(space, width, kind)] = cost;
    }

private:
    static std::size_t Index(AddressSpace space, AccessWidth width, AccessKind kind);
    std::array<SimTime, 2 * 3 * 4> table_{};
};

struct RegisterCounters {
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
};

class DeviceBus {
public:
    explicit DeviceBus(Clock* clock = nullptr) : clock_(clock) {}

    // Decodes [base, base + length) of a space to a device; offsets start at 0 at base.
    // Overlapping an existing range is a machine-building error (std::invalid_argument).
    void Map(AddressSpace space, std::uint64_t base, std::uint32_t length, RegisterDevice& device,
             std::string name);
    void Unmap(AddressSpace space, std::uint64_t base);

    struct Decoded {
        RegisterDevice* device = nullptr;
        std::uint32_t offset = 0;
        const std::string* name = nullptr;
    };
    std::optional<Decoded> Decode(AddressSpace space, std::uint64_t address) const;

    // One access, at its cost in simulated time. An address nothing decodes reads all ones
    // (nobody drives the bus) and ignores writes; both are counted as unclaimed. A string
    // access is made of one call per element with `string_element` set.
    std::uint32_t Read(AddressSpace space, std::uint64_t address, AccessWidth width,
                       bool string_element = false);
    void Write(AddressSpace space, std::uint64_t address, AccessWidth width, std::uint32_t value,
               bool string_element = false);

    void SetCosts(const AccessCosts& costs) { costs_ = costs; }
    const AccessCosts& Costs() const { return costs_; }

    // Counters by space and address of the access (the register, not its range).
    const std::map<std::pair<AddressSpace, std::uint64_t>, RegisterCounters>& Counters() const {
        return counters_;
    }
    RegisterCounters CountersAt(AddressSpace space, std::uint64_t address) const;
    std::uint64_t UnclaimedAccesses() const { return unclaimed_; }

private:
    struct Range {
        std::uint64_t base;
        std::uint32_t length;
        RegisterDevice* device;
        std::string name;
    };

    void Spend(SimTime cost);

    Clock* clock_;
    AccessCosts costs_;
    std::map<std::pair<AddressSpace, std::uint64_t>, Range> ranges_;
    std::map<std::pair<AddressSpace, std::uint64_t>, RegisterCounters> counters_;
    std::uint64_t unclaimed_ = 0;
};

}  // namespace quell::sim
