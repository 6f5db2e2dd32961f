#include "sim/machine/identity_registers.h"

namespace quell::sim {
namespace {

// Offsets of the controller's register file (port offsets).
constexpr std::uint32_t kIndexOrRevision = 0x04;  // 8 W index, 16 R revision
constexpr std::uint32_t kIndexedData = 0x08;      // low half of the indexed register
constexpr std::uint32_t kIndexedDataHigh = 0x0A;  // high half
constexpr std::uint8_t kLatencyIndex = 0x11;
constexpr std::uint8_t kWindowBaseIndex = 0x13;

}  // namespace

std::uint32_t IdentityRegisters::Indexed() const {
    switch (index_) {
        case kLatencyIndex:
            return latency_;
        case kWindowBaseIndex:
            return window_base_;
        default:
            return 0;
    }
}

std::uint32_t IdentityRegisters::Read(std::uint32_t offset, AccessWidth) {
    switch (offset) {
        case kIndexOrRevision:
            return revision_;
        case kIndexedData:
            return Indexed() & 0xFFFF;
        case kIndexedDataHigh:
            return Indexed() >> 16;
        default:
            return 0;
    }
}

void IdentityRegisters::Write(std::uint32_t offset, AccessWidth width, std::uint32_t value) {
    if (offset == kIndexOrRevision && width == AccessWidth::Byte) {
        index_ = static_cast<std::uint8_t>(value);
    } else if (offset == kIndexedData && index_ == kLatencyIndex && width != AccessWidth::Byte) {
        latency_ = static_cast<std::uint16_t>(value);
    }
}

}  // namespace quell::sim
