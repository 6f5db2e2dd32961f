// When a configured fault fires: never, on every command, once at the n-th command, on every
// n-th command, on a command that touches a given block, or on the first command at or after
// a given time. Commands are counted per target from 1.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/time/clock.h"

namespace quell::sim::scsi {

struct BlockRange {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
};

struct Trigger {
    enum class Kind : std::uint8_t { Never, Always, Once, EveryNth, AtBlock, AtTime };
    Kind kind = Kind::Never;
    std::uint64_t n = 0;  // Once / EveryNth: command number; AtBlock: the block
    SimTime time = 0;     // AtTime

    static Trigger Never() { return {}; }
    static Trigger Always() { return {Kind::Always, 0, 0}; }
    static Trigger OnceAt(std::uint64_t command) { return {Kind::Once, command, 0}; }
    static Trigger Every(std::uint64_t n) { return {Kind::EveryNth, n, 0}; }
    static Trigger AtBlock(std::uint64_t block) { return {Kind::AtBlock, block, 0}; }
    static Trigger AtTime(SimTime time) { return {Kind::AtTime, 0, time}; }

    // `fired` remembers, per fault, that a one-shot trigger has gone off.
    bool Fires(std::uint64_t command, std::optional<BlockRange> blocks, SimTime now,
               bool& fired) const {
        switch (kind) {
            case Kind::Never:
                return false;
            case Kind::Always:
                return true;
            case Kind::Once:
                return command == n;
            case Kind::EveryNth:
                return n != 0 && command % n == 0;
            case Kind::AtBlock:
                return blocks && n >= blocks->first && n < blocks->first + blocks->count;
            case Kind::AtTime:
                if (fired || now < time) return false;
                fired = true;
                return true;
        }
        return false;
    }
};

}  // namespace quell::sim::scsi
