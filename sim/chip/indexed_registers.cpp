// The indexed registers behind INDEX / INDEXED_DATA / INDEXED_DATA_HIGH.
#include <sstream>

#include "sim/chip/controller.h"

namespace quell::sim::chip {

std::uint32_t Controller::ReadIndexed(AccessWidth width, bool high) {
    if (high) {
        // Bits 16-31 of the register; only the window base is that wide.
        return index_ == reg::IDX_WINDOW_BASE ? config_.window_base >> 16 : 0;
    }
    switch (index_) {
        case reg::IDX_SETUP:
            return setup_;
        case reg::IDX_TERMPOWER: {
            const bool sensed = config_.termination_power || supply_on_;
            return (sensed ? reg::TERM_SENSED : 0) | (supply_on_ ? reg::TERM_SUPPLY_ON : 0);
        }
        case reg::IDX_CONFIG:
            return config_bits_;
        case reg::IDX_SEQUENCER_STATE:
            return static_cast<std::uint32_t>(state_);
        case reg::IDX_BURST:
            return burst_;
        case reg::IDX_LATENCY:
            return latency_;
        case reg::IDX_WINDOW_BASE:
            return config_.window_base & 0xFFFF;
        default:
            break;
    }
    std::ostringstream message;
    message << "INDEXED_DATA read " << static_cast<int>(width) * 8 << " bits with INDEX 0x"
            << std::hex << int{index_} << ", which cannot be read";
    Error(message.str());
    return 0;
}

void Controller::WriteIndexed(AccessWidth width, std::uint32_t value) {
    auto bad = [&](const char* name) { BadValue(name, value); };
    switch (index_) {
        case reg::IDX_SETUP:
            if (value != 1 && value != 2) return bad("IDX_00");
            setup_ = static_cast<std::uint8_t>(value);
            return;
        case reg::IDX_TERMPOWER:
            if (value > reg::TERM_SUPPLY_ON) return bad("IDX_01");
            supply_on_ = value == reg::TERM_SUPPLY_ON;
            return;
        case reg::IDX_CONFIG:
            if (width != AccessWidth::Word || (value & ~reg::CONFIG_WRITABLE)) return bad("IDX_04");
            config_bits_ = static_cast<std::uint16_t>(value);
            return;
        case reg::IDX_OUT_THRESHOLD:
            if (value == 0 || value > reg::kFifoSize - 4) return bad("IDX_06");
            out_threshold_ = static_cast<std::uint8_t>(value);
            return;
        case reg::IDX_IN_THRESHOLD:
            if (value == 0 || value > reg::kFifoSize - 4) return bad("IDX_07");
            in_threshold_ = static_cast<std::uint8_t>(value);
            return;
        case reg::IDX_BURST:
            if (width != AccessWidth::Word || (value & ~reg::BURST_WRITABLE)) return bad("IDX_0C");
            burst_ = static_cast<std::uint16_t>(value);
            return;
        case reg::IDX_BURST_EXTRA:
            burst_extra_ = static_cast<std::uint8_t>(value);
            return;
        case reg::IDX_LATENCY:
            if (width != AccessWidth::Word) return bad("IDX_11");
            latency_ = static_cast<std::uint16_t>(value);
            return;
        case reg::IDX_TIMING:
            if (value != 0x00 && value != 0x02) return bad("IDX_17");
            timing_ = static_cast<std::uint8_t>(value);
            return;
        default:
            break;
    }
    std::ostringstream message;
    message << "INDEXED_DATA written with INDEX 0x" << std::hex << int{index_}
            << ", which cannot be written";
    Error(message.str());
}

}  // namespace quell::sim::chip
