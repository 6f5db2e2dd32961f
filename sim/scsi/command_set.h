// The common part of every simulated logical unit: a table from operation code to handler,
// the sense data of the last failed command, unit attention after a reset (INQUIRY and
// REQUEST SENSE exempt), and the commands every device has (INQUIRY, REQUEST SENSE,
// TEST UNIT READY).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/scsi/logical_unit.h"
#include "sim/scsi/sense.h"

namespace quell::sim::scsi {

// Peripheral device types.
namespace device_type {
inline constexpr std::uint8_t kDisk = 0x00;
inline constexpr std::uint8_t kProcessor = 0x03;
inline constexpr std::uint8_t kCdRom = 0x05;
inline constexpr std::uint8_t kScanner = 0x06;
inline constexpr std::uint8_t kOptical = 0x07;
inline constexpr std::uint8_t kNoUnit = 0x7F;  // qualifier 3: no logical unit here
}  // namespace device_type

// The strings INQUIRY returns; a machine sets them per logical unit.
struct Identity {
    std::string vendor = "QUELL";    // 8 bytes, blank-padded
    std::string product = "SIMDEV";  // 16 bytes
    std::string revision = "1.0";    // 4 bytes
};

class CommandSet : public LogicalUnit {
public:
    CommandSet(std::uint8_t type, Identity identity, bool removable, bool synchronous);

    CommandResult Execute(std::span<const std::uint8_t> cdb) override;
    std::uint8_t FinishDataOut(std::span<const std::uint8_t> cdb,
                               std::span<const std::uint8_t> data) override;
    void OnReset() override { unit_attention_ = true; }

    const Sense& PendingSense() const { return sense_; }
    std::uint8_t Type() const { return type_; }
    void SetSynchronous(bool on) { synchronous_ = on; }

protected:
    using Cdb = std::span<const std::uint8_t>;
    using InHandler = std::function<CommandResult(Cdb)>;
    using OutHandler = std::function<std::uint8_t(Cdb, std::span<const std::uint8_t>)>;

    struct Entry {
        const char* name = nullptr;
        InHandler execute;  // every command; a data-out command asks for its data here
        OutHandler finish;  // data-out commands: the data has arrived
    };
    void Register(std::uint8_t opcode, Entry entry);

    // Results.
    CommandResult Good() const { return {}; }
    CommandResult Fail(const Sense& sense);
    std::uint8_t FailStatus(const Sense& sense);
    static CommandResult DataIn(std::vector<std::uint8_t> bytes, std::size_t allocation);
    static CommandResult DataOut(std::size_t length);

    static std::uint32_t Be16(Cdb cdb, std::size_t at) { return (cdb[at] << 8) | cdb[at + 1]; }
    static std::uint32_t Be24(Cdb cdb, std::size_t at) {
        return (cdb[at] << 16) | (cdb[at + 1] << 8) | cdb[at + 2];
    }
    static std::uint32_t Be32(Cdb cdb, std::size_t at) {
        return (std::uint32_t{cdb[at]} << 24) | (cdb[at + 1] << 16) | (cdb[at + 2] << 8) |
               cdb[at + 3];
    }
    static void PutBe32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value);

    virtual std::vector<std::uint8_t> InquiryData() const;

private:
    CommandResult Inquiry(Cdb cdb);
    CommandResult RequestSense(Cdb cdb);

    std::uint8_t type_;
    Identity identity_;
    bool removable_;
    bool synchronous_;
    bool unit_attention_ = false;
    Sense sense_;
    std::array<std::optional<Entry>, 256> table_;
};

// What a target answers for a logical unit number that has no device behind it.
class AbsentUnit final : public LogicalUnit {
public:
    CommandResult Execute(std::span<const std::uint8_t> cdb) override;
    std::uint8_t FinishDataOut(std::span<const std::uint8_t>,
                               std::span<const std::uint8_t>) override {
        return status::kCheckCondition;
    }
    void OnReset() override {}
};

}  // namespace quell::sim::scsi
