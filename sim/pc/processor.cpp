#include "sim/pc/processor.h"

#include <algorithm>
#include <cstring>

namespace quell::sim {

PC_CPUID_RESULT ProcessorIdentity::Identify(ULONG leaf) const {
    PC_CPUID_RESULT result{};
    if (leaf == 0) {
        char text[12] = {};
        std::memcpy(text, vendor.data(), std::min<std::size_t>(vendor.size(), sizeof(text)));
        result.Eax = 1;
        std::memcpy(&result.Ebx, text, 4);
        std::memcpy(&result.Edx, text + 4, 4);
        std::memcpy(&result.Ecx, text + 8, 4);
    } else if (leaf == 1) {
        const std::uint32_t base_family = family > 15 ? 15 : family;
        const std::uint32_t extended_family = family > 15 ? family - 15 : 0;
        result.Eax = (stepping & 0xF) | ((model & 0xF) << 4) | (base_family << 8) |
                     ((extended_family & 0xFF) << 20);
    }
    return result;
}

}  // namespace quell::sim
