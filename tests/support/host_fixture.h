// A stand-in host bound to the test's thread: the port driver and the NT kernel the driver's
// routines reach while the test runs.
#pragma once

#include <gtest/gtest.h>

#include "sim/nt/nt_kernel.h"
#include "sim/port/port_driver.h"

namespace quell::test {

class HostFixture : public ::testing::Test {
protected:
    sim::PortDriver port;
    sim::NtKernel kernel;

private:
    sim::PortDriver::Binding port_binding_{port};
    sim::NtKernel::Binding kernel_binding_{kernel};
};

// Which deliverable the test executable was linked with.
#if defined(QUELL_BUILD_MP)
inline constexpr bool kTestingMp = true;
#else
inline constexpr bool kTestingMp = false;
#endif

}  // namespace quell::test
