// The port driver's dispatch loop: while any adapter has a routine due, call it; otherwise
// let simulated time jump to the next event. Nothing here reads the host's clock.

#include "sim/port/port_driver.h"

namespace quell::sim {

bool PortDriver::RunUntil(const std::function<bool()>& done, SimTime limit) {
    Clock& clock = TheClock("the port driver's dispatch loop");
    for (const auto& adapter : adapters_) {
        if (adapter->RunningRoutine() != nullptr) {
            RecordViolation(adapter->Index(),
                            std::string("the port driver's dispatch loop was entered while ") +
                                adapter->RunningRoutine() + " runs");
            return false;
        }
    }
    if (dispatching_) {
        RecordViolation(0, "the port driver's dispatch loop was entered from inside itself");
        return false;
    }
    dispatching_ = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{dispatching_};

    for (;;) {
        bool worked = true;
        while (worked) {
            worked = false;
            for (const auto& adapter : adapters_) worked = adapter->ServiceDue() || worked;
        }
        if (!adapters_.empty()) CollectModelErrors(0);
        if (done()) return true;
        const auto next = clock.NextEventTime();
        if (!next || *next > limit) {
            clock.AdvanceTo(limit);
            return done();
        }
        clock.RunNext();
    }
}

void PortDriver::NoteStall(SimTime time) {
    for (const auto& adapter : adapters_) {
        if (adapter->RunningRoutine() != nullptr) adapter->AddStall(time);
    }
}

void PortDriver::RunFor(SimTime duration) {
    const SimTime until = TheClock("RunFor").Now() + duration;
    RunUntil([] { return false; }, until);
}

}  // namespace quell::sim
