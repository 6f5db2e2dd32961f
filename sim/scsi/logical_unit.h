// A logical unit as its target sees it: it executes a CDB and gives back a status byte, the
// data it returns, or the amount of data it wants. The target carries the bytes over the bus;
// the logical unit never sees the bus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/scsi/trigger.h"

namespace quell::sim::scsi {

namespace status {
inline constexpr std::uint8_t kGood = 0x00;
inline constexpr std::uint8_t kCheckCondition = 0x02;
inline constexpr std::uint8_t kConditionMet = 0x04;
inline constexpr std::uint8_t kBusy = 0x08;
inline constexpr std::uint8_t kReservationConflict = 0x18;
inline constexpr std::uint8_t kCommandTerminated = 0x22;
}  // namespace status

enum class DataDirection : std::uint8_t { None, In, Out };

struct CommandResult {
    std::uint8_t status = status::kGood;
    DataDirection direction = DataDirection::None;
    std::vector<std::uint8_t> data_in;
    std::size_t data_out_length = 0;
};

class LogicalUnit {
public:
    virtual ~LogicalUnit() = default;
    virtual CommandResult Execute(std::span<const std::uint8_t> cdb) = 0;
    // The data of a data-out command has arrived; gives the status byte.
    virtual std::uint8_t FinishDataOut(std::span<const std::uint8_t> cdb,
                                       std::span<const std::uint8_t> data) = 0;
    // A bus reset or BUS DEVICE RESET: the next command but INQUIRY and REQUEST SENSE
    // reports a unit attention.
    virtual void OnReset() = 0;
    // The blocks a command touches, for faults triggered at a block.
    virtual std::optional<BlockRange> BlocksOf(std::span<const std::uint8_t> /*cdb*/) const {
        return std::nullopt;
    }
};

// The length of a CDB from its operation code's group.
inline constexpr std::size_t CdbLength(std::uint8_t opcode) {
    switch (opcode >> 5) {
        case 0:
            return 6;
        case 1:
        case 2:
            return 10;
        case 4:
            return 16;
        case 5:
            return 12;
        default:
            return 10;  // vendor-specific groups: ten bytes on these devices
    }
}

}  // namespace quell::sim::scsi
