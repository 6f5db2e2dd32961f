// The lines of a narrow SCSI bus, the information-transfer phases they encode and the names a
// trace or an error message gives them.
#pragma once

#include <cstdint>
#include <string>

namespace quell::sim::scsi {

// Control lines, one bit each. A line is asserted when any device drives it (wired-OR).
enum Line : std::uint16_t {
    kBsy = 1u << 0,
    kSel = 1u << 1,
    kCd = 1u << 2,  // control / data
    kIo = 1u << 3,  // input / output, seen from the initiator: asserted = toward the initiator
    kMsg = 1u << 4,
    kReq = 1u << 5,
    kAck = 1u << 6,
    kAtn = 1u << 7,
    kRst = 1u << 8,
};
inline constexpr std::uint16_t kPhaseLines = kCd | kIo | kMsg;
inline constexpr std::uint16_t kAllLines = 0x01FF;

// What one device drives, or what the bus carries: control lines and the eight data lines.
struct BusLines {
    std::uint16_t control = 0;
    std::uint8_t data = 0;

    bool Has(std::uint16_t line) const { return (control & line) != 0; }
    bool operator==(const BusLines&) const = default;
};

// The information-transfer phases, numbered as MSG (1) | I/O (2) | C/D (4).
enum class Phase : std::uint8_t {
    DataOut = 0,
    Invalid1 = 1,
    DataIn = 2,
    Invalid3 = 3,
    Command = 4,
    MessageOut = 5,
    Status = 6,
    MessageIn = 7,
};

inline constexpr std::uint8_t PhaseCode(Phase phase) { return static_cast<std::uint8_t>(phase); }

inline constexpr Phase PhaseOf(std::uint16_t control) {
    return static_cast<Phase>(((control & kMsg) ? 1 : 0) | ((control & kIo) ? 2 : 0) |
                              ((control & kCd) ? 4 : 0));
}

inline constexpr std::uint16_t PhaseLinesOf(Phase phase) {
    const auto code = PhaseCode(phase);
    return static_cast<std::uint16_t>(((code & 1) ? kMsg : 0) | ((code & 2) ? kIo : 0) |
                                      ((code & 4) ? kCd : 0));
}

// Toward the initiator: the target drives the data lines.
inline constexpr bool IsInPhase(Phase phase) { return (PhaseCode(phase) & 2) != 0; }
inline constexpr bool IsDataPhase(Phase phase) {
    return phase == Phase::DataIn || phase == Phase::DataOut;
}

const char* PhaseName(Phase phase);
std::string LineNames(std::uint16_t control);  // "BSY SEL REQ", "-" for none

}  // namespace quell::sim::scsi
