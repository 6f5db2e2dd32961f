// The 16 bytes of system firmware at the top of the first megabyte (physical 0xFFFF0), where
// the processor starts and where firmware keeps a few identifying bytes.
#pragma once

#include <array>
#include <cstdint>

namespace quell::sim {

inline constexpr std::uint64_t kFirmwareAreaBase = 0xFFFF0;
inline constexpr std::uint32_t kFirmwareAreaLength = 16;

struct FirmwareArea {
    // A far jump to the firmware's start, then its date: what an ordinary firmware holds.
    std::array<std::uint8_t, kFirmwareAreaLength> bytes{
        0xEA, 0x5B, 0xE0, 0x00, 0xF0, '0', '1', '/', '0', '1', '/', '9', '9', 0x00, 0xFC, 0x00};

    // The firmware that needs the legacy port writes marks bytes 3 and 4 with 0x80 0xFD.
    void SetLegacyPortSignature(bool present) {
        bytes[3] = present ? 0x80 : 0x00;
        bytes[4] = present ? 0xFD : 0xF0;
    }
    bool HasLegacyPortSignature() const { return bytes[3] == 0x80 && bytes[4] == 0xFD; }

    bool Contains(std::uint64_t address, std::uint32_t length) const {
        return address >= kFirmwareAreaBase &&
               address + length <= kFirmwareAreaBase + kFirmwareAreaLength;
    }
};

}  // namespace quell::sim
