#include "sim/pc/pc_platform.h"

#include <cstdio>
#include <cstdlib>

namespace quell::sim {
namespace {

thread_local PcPlatform* bound_platform = nullptr;

}  // namespace

PcPlatform::Binding::Binding(PcPlatform& platform) : previous_(bound_platform) {
    bound_platform = &platform;
}

PcPlatform::Binding::~Binding() { bound_platform = previous_; }

PcPlatform& PcPlatform::Current(const char* routine) {
    if (bound_platform == nullptr) {
        std::fprintf(stderr, "quell: %s called with no PC platform bound to this thread\n",
                     routine);
        std::abort();
    }
    return *bound_platform;
}

}  // namespace quell::sim
