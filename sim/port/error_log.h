// The system error log as the port driver keeps it: every ScsiPortLogError entry, and the
// entries the port driver writes itself (a request that timed out), for tests and reports.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "host/scsiport.h"
#include "sim/port/request.h"
#include "sim/time/clock.h"

namespace quell::sim {

enum class LogSource : std::uint8_t { Driver, Port };

struct ErrorLogEntry {
    SimTime when = 0;
    LogSource source = LogSource::Driver;
    std::optional<RequestId> request;  // the request named, when it was one the port knows
    UCHAR path = 0;
    UCHAR target = 0;
    UCHAR lun = 0;
    ULONG error_code = 0;
    ULONG unique_id = 0;
    bool operator==(const ErrorLogEntry&) const = default;
};

// Unique id of the entry the port driver logs for a request it timed out.
inline constexpr ULONG kPortTimeoutUniqueId = 0x504F5254;  // "PORT"

}  // namespace quell::sim
