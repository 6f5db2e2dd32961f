// The simulator's one source of variety: a small seeded generator (splitmix64). Everything
// that varies from run to run (page placement, piece lengths) draws from one of these, so the
// same machine and seed give the same run.
#pragma once

#include <cstdint>

namespace quell::sim {

class SeededRandom {
public:
    explicit SeededRandom(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A value in [0, bound); bound must not be 0.
    std::uint64_t Below(std::uint64_t bound) { return Next() % bound; }

private:
    std::uint64_t state_;
};

}  // namespace quell::sim
