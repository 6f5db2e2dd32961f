// The table quellsim prints of what a driver registered with the port driver.
#pragma once

#include <filesystem>
#include <ostream>
#include <vector>

#include "sim/port/port_driver.h"

namespace quell::tools {

void PrintRegistrationReport(std::ostream& out, const std::filesystem::path& image,
                             ULONG entry_status,
                             const std::vector<sim::Registration>& registrations);

}  // namespace quell::tools
