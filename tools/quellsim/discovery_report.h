// What quellsim prints of each adapter discovery offered to the driver: where it is, what the
// driver chose and what it told the port driver.
#pragma once

#include <ostream>

#include "sim/machine/machine.h"

namespace quell::tools {

void PrintDiscoveryReport(std::ostream& out, const sim::Machine& machine,
                          const sim::Discovery& discovery);

}  // namespace quell::tools
