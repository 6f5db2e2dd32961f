// Timing of the SCSI bus. The defaults are the parallel SCSI interface's own delays (arbitration,
// settle, bus free, reset hold, selection time-out) and its synchronous transfer periods; the
// asynchronous byte time is what a typical narrow bus of the period achieves (about 3 MB/s).
// docs/bus-timing.md lists each value with its source.
#pragma once

#include <cstdint>

#include "sim/time/clock.h"

namespace quell::sim::scsi {

struct BusTiming {
    SimTime arbitration_delay = 2400;  // from asserting BSY + id to examining the data lines
    SimTime bus_set_delay = 1800;      // window in which devices may join one arbitration
    SimTime bus_free_delay = 800;      // bus free before anyone may arbitrate
    SimTime bus_clear_delay = 800;     // release after losing arbitration, or of SEL
    SimTime bus_settle_delay = 400;    // after a phase change before REQ
    SimTime deskew_delay = 45;
    SimTime cable_skew_delay = 10;
    SimTime reset_hold_time = 25 * kMicrosecond;
    SimTime selection_abort_time = 200 * kMicrosecond;
    SimTime selection_timeout = 250 * kMillisecond;  // a target's own reselection time-out
    SimTime async_byte_time = 330;                   // one asynchronous REQ/ACK byte, ~3 MB/s
    SimTime target_response = 60;  // a target's reaction to ACK (REQ release, next REQ)

    // Data set-up before REQ or ACK: two deskew delays plus the cable skew.
    SimTime DataSetup() const { return 2 * deskew_delay + cable_skew_delay; }
};

// The transfer period that a synchronous data transfer request's period factor stands for:
// 0x0C is the fast-20 period of 50 ns; above it the factor counts 4 ns units.
inline constexpr SimTime SyncPeriodOfFactor(std::uint8_t factor) {
    switch (factor) {
        case 0x0A:
            return 25;
        case 0x0B:
            return 30;
        case 0x0C:
            return 50;
        default:
            return SimTime{factor} * 4;
    }
}

}  // namespace quell::sim::scsi
