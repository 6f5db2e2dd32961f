// Sense data and the named helpers that build it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quell::sim::scsi {

namespace sense_key {
inline constexpr std::uint8_t kNoSense = 0x0;
inline constexpr std::uint8_t kNotReady = 0x2;
inline constexpr std::uint8_t kMediumError = 0x3;
inline constexpr std::uint8_t kIllegalRequest = 0x5;
inline constexpr std::uint8_t kUnitAttention = 0x6;
inline constexpr std::uint8_t kDataProtect = 0x7;
inline constexpr std::uint8_t kAbortedCommand = 0xB;
}  // namespace sense_key

struct Sense {
    std::uint8_t key = sense_key::kNoSense;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;

    // Fixed-format sense data, 18 bytes, cut to `allocation`.
    std::vector<std::uint8_t> Bytes(std::size_t allocation) const;
    bool operator==(const Sense&) const = default;
};

inline Sense NoSense() { return {}; }
inline Sense IllegalRequest(std::uint8_t asc, std::uint8_t ascq = 0) {
    return {sense_key::kIllegalRequest, asc, ascq};
}
inline Sense NotReady(std::uint8_t asc, std::uint8_t ascq = 0) {
    return {sense_key::kNotReady, asc, ascq};
}
inline Sense MediumError(std::uint8_t asc, std::uint8_t ascq = 0) {
    return {sense_key::kMediumError, asc, ascq};
}
inline Sense UnitAttention(std::uint8_t asc, std::uint8_t ascq = 0) {
    return {sense_key::kUnitAttention, asc, ascq};
}
inline Sense DataProtect(std::uint8_t asc, std::uint8_t ascq = 0) {
    return {sense_key::kDataProtect, asc, ascq};
}

// Additional sense codes used here.
namespace asc {
inline constexpr std::uint8_t kInvalidOperationCode = 0x20;
inline constexpr std::uint8_t kLbaOutOfRange = 0x21;
inline constexpr std::uint8_t kInvalidFieldInCdb = 0x24;
inline constexpr std::uint8_t kLogicalUnitNotSupported = 0x25;
inline constexpr std::uint8_t kInvalidFieldInParameterList = 0x26;
inline constexpr std::uint8_t kWriteProtected = 0x27;
inline constexpr std::uint8_t kResetOccurred = 0x29;
inline constexpr std::uint8_t kMediumNotPresent = 0x3A;
inline constexpr std::uint8_t kUnrecoveredReadError = 0x11;
inline constexpr std::uint8_t kWriteError = 0x0C;
}  // namespace asc

}  // namespace quell::sim::scsi
