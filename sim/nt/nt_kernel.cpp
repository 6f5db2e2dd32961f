#include "sim/nt/nt_kernel.h"

#include <cstdio>
#include <cstdlib>

namespace quell::sim {
namespace {

thread_local NtKernel* bound_kernel = nullptr;

}  // namespace

NtKernel::NtKernel() = default;

NtKernel::Binding::Binding(NtKernel& kernel) : previous_(bound_kernel) { bound_kernel = &kernel; }

NtKernel::Binding::~Binding() { bound_kernel = previous_; }

NtKernel& NtKernel::Current(const char* routine) {
    if (bound_kernel == nullptr) {
        std::fprintf(stderr, "quell: %s called with no NT kernel bound to this thread\n", routine);
        std::abort();
    }
    return *bound_kernel;
}

void NtKernel::SetVersion(ULONG major, ULONG minor, ULONG build) {
    major_ = major;
    minor_ = minor;
    build_ = build;
}

}  // namespace quell::sim
