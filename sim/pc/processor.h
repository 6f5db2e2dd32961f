// The processor as its identification instruction describes it.
#pragma once

#include <cstdint>
#include <string>

#include "host/pc.h"

namespace quell::sim {

struct ProcessorIdentity {
    // False: the identification bit of the flags register cannot be toggled (a processor
    // older than the instruction).
    bool identification_available = true;
    std::string vendor = "GenuineIntel";  // 12 characters
    std::uint32_t family = 6;             // above 15 is encoded as 15 plus an extended family
    std::uint32_t model = 8;
    std::uint32_t stepping = 3;

    // The instruction's answer for a leaf: leaf 0 the highest leaf and the vendor string in
    // Ebx, Edx, Ecx; leaf 1 the version (stepping, model, family); any other leaf zeros.
    PC_CPUID_RESULT Identify(ULONG leaf) const;
};

}  // namespace quell::sim
