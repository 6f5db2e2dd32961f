// A device's register file as the system bus reaches it: reads and writes at an offset from
// the start of one of the device's decoded ranges, 1, 2 or 4 bytes wide.
#pragma once

#include <cstdint>

namespace quell::sim {

enum class AccessWidth : std::uint8_t { Byte = 1, Word = 2, Dword = 4 };

inline constexpr std::uint32_t WidthMask(AccessWidth width) {
    return width == AccessWidth::Byte ? 0xFFu : width == AccessWidth::Word ? 0xFFFFu : 0xFFFFFFFFu;
}

class RegisterDevice {
public:
    virtual ~RegisterDevice() = default;
    // The value is in the low bits of the result; the bus masks it to the width.
    virtual std::uint32_t Read(std::uint32_t offset, AccessWidth width) = 0;
    virtual void Write(std::uint32_t offset, AccessWidth width, std::uint32_t value) = 0;
};

}  // namespace quell::sim
