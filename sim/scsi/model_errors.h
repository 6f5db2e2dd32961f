// Model errors: something the simulated hardware was asked to do that no real device would
// accept (a register value it does not understand, a DMA outside memory, a broken handshake).
// They are collected for the owner of the machine to query, and optionally thrown at once so
// that a debugger stops where the fault happens. Nothing is ever silently accepted.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "sim/time/clock.h"

namespace quell::sim::scsi {

struct ModelError {
    SimTime time = 0;
    std::string source;   // "chip", "bus", "target 3", ...
    std::string message;  // names the register, address or signal at fault

    std::string ToString() const;
};

class ModelErrorException : public std::runtime_error {
public:
    explicit ModelErrorException(const ModelError& error)
        : std::runtime_error(error.ToString()), error_(error) {}
    const ModelError& Error() const { return error_; }

private:
    ModelError error_;
};

class ModelErrors {
public:
    explicit ModelErrors(const Clock& clock) : clock_(clock) {}

    void Report(std::string source, std::string message);

    const std::vector<ModelError>& All() const { return errors_; }
    bool Empty() const { return errors_.empty(); }
    void Clear() { errors_.clear(); }
    std::string Summary() const;  // one line per error, for a test failure message

    void SetThrowOnError(bool on) { throw_on_error_ = on; }

private:
    const Clock& clock_;
    bool throw_on_error_ = false;
    std::vector<ModelError> errors_;
};

}  // namespace quell::sim::scsi
