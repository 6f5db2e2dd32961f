// Writers of a bus trace: a value change dump (1 ns timescale) of every line for a waveform
// viewer, and an analyzer-style log with one line per phase or bus condition.
#pragma once

#include <ostream>

#include "sim/scsi/bus_trace.h"

namespace quell::sim::scsi {

class VcdWriter final : public BusTraceSink {
public:
    explicit VcdWriter(std::ostream& out);
    void OnLines(SimTime time, const BusLines& lines) override;
    void Finish(SimTime end) override;

private:
    void Header();
    std::ostream& out_;
    bool started_ = false;
    BusLines last_;
    SimTime last_time_ = 0;
};

class AnalyzerLog final : public BusTraceSink {
public:
    explicit AnalyzerLog(std::ostream& out) : out_(out) {}
    void OnPhase(const PhaseRecord& record) override;
    void OnEvent(const BusEventRecord& record) override;

private:
    std::ostream& out_;
};

// What a byte string means in a phase: messages, a CDB's operation, a status byte.
std::string DecodePhaseBytes(Phase phase, const std::vector<std::uint8_t>& bytes);

}  // namespace quell::sim::scsi
