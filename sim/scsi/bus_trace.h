// What the bus reports to whoever traces it: every change of its lines, each information phase
// with the bytes that crossed in it, and the bus conditions (arbitration, selection,
// reselection, bus free, reset). Writers for a waveform file and an analyzer log implement it.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/scsi/bus_signals.h"
#include "sim/time/clock.h"

namespace quell::sim::scsi {

struct PhaseRecord {
    SimTime start = 0;
    SimTime end = 0;
    Phase phase = Phase::DataOut;
    int initiator = -1;  // SCSI ids, -1 when unknown
    int target = -1;
    std::size_t count = 0;            // bytes that crossed the bus in the phase
    std::vector<std::uint8_t> bytes;  // the first kPhaseBytesKept of them
    SimTime byte_period = 0;          // of a synchronous or asynchronous burst, 0 for handshakes
};
inline constexpr std::size_t kPhaseBytesKept = 64;

enum class BusEvent : std::uint8_t {
    ArbitrationWon,
    Selection,
    SelectionTimeout,
    Reselection,
    BusFree,
    Reset,
};

struct BusEventRecord {
    SimTime time = 0;
    BusEvent event = BusEvent::BusFree;
    int initiator = -1;
    int target = -1;
    bool attention = false;  // selection with ATN
};

class BusTraceSink {
public:
    virtual ~BusTraceSink() = default;
    // Line changes arrive in time order.
    virtual void OnLines(SimTime /*time*/, const BusLines& /*lines*/) {}
    virtual void OnPhase(const PhaseRecord& /*record*/) {}
    virtual void OnEvent(const BusEventRecord& /*record*/) {}
    // The trace is complete: write whatever is buffered.
    virtual void Finish(SimTime /*end*/) {}
};

}  // namespace quell::sim::scsi
