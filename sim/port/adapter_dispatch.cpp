// What the port driver calls on its own for an adapter: the interrupt routine while the line
// is up, the timer the driver asked for, the bus reset when a request times out, and the next
// request once the driver is ready for one.

#include <algorithm>

#include "sim/port/adapter.h"
#include "sim/port/port_driver.h"

namespace quell::sim {

bool Adapter::ServiceDue() {
    if (!started_ || running_ != nullptr) return false;
    // In the order a processor meets them: the device interrupt, then the deferred work of
    // the timer and the time-out tick, then the next request.
    return ServiceInterrupt() || ServiceTimer() || ServiceTimeouts() || StartNextRequest();
}

bool Adapter::ServiceInterrupt() {
    if (!setup_.interrupt || !setup_.interrupt_wired || storm_masked_ ||
        hw_.HwInterrupt == nullptr) {
        return false;
    }
    if (!setup_.interrupt()) {
        // A level that went away before the processor took the interrupt calls nothing.
        if (line_seen_at_) ++counters_.spurious_interrupts;
        line_seen_at_.reset();
        unclaimed_with_line_up_ = 0;
        claimed_with_line_up_ = 0;
        return false;
    }
    const SimTime now = clock_.Now();
    const SimTime dispatch = setup_.timing.interrupt_dispatch;
    if (!line_seen_at_) {
        line_seen_at_ = now;
        if (dispatch > 0) {
            WakeAt(now + dispatch, "interrupt dispatch");
            return false;
        }
    }
    if (now < *line_seen_at_ + dispatch) return false;
    line_seen_at_.reset();

    ++counters_.interrupt_calls;
    bool claimed = false;
    CallRoutine("HwInterrupt", [this, &claimed] {
        claimed = hw_.HwInterrupt(extension_) != FALSE;
        return true;
    });
    if (claimed) ++counters_.interrupts_claimed;

    if (!setup_.interrupt()) {
        unclaimed_with_line_up_ = 0;
        claimed_with_line_up_ = 0;
    } else if (!claimed) {
        claimed_with_line_up_ = 0;
        if (++unclaimed_with_line_up_ >= setup_.timing.storm_limit) {
            Violation("interrupt storm: the line stayed up through " +
                      std::to_string(unclaimed_with_line_up_) +
                      " calls of HwInterrupt that each answered FALSE; the line is masked");
            storm_masked_ = true;
        }
    } else {
        unclaimed_with_line_up_ = 0;
        if (++claimed_with_line_up_ >= setup_.timing.stuck_line_limit) {
            Violation("the interrupt line stayed up through " +
                      std::to_string(claimed_with_line_up_) +
                      " interrupts HwInterrupt claimed without clearing it; the line is masked");
            storm_masked_ = true;
        }
    }
    return true;
}

bool Adapter::ServiceTimer() {
    if (!timer_at_ || clock_.Now() < *timer_at_) return false;
    const PHW_TIMER routine = timer_routine_;
    timer_at_.reset();
    timer_event_.reset();
    timer_routine_ = nullptr;
    ++counters_.timer_calls;
    CallRoutine("HwTimer", [this, routine] {
        routine(extension_);
        return true;
    });
    return true;
}

void Adapter::ArmTimeoutTick() {
    if (tick_at_) return;
    const bool any_in_driver =
        std::any_of(requests_.begin(), requests_.end(),
                    [](const auto& entry) { return entry.second.state == RequestState::InDriver; });
    if (!any_in_driver) return;
    // The tick runs on the machine's time base, not the request's: a request times out
    // between TimeOutValue and TimeOutValue + 1 ticks after it started.
    const SimTime tick = setup_.timing.timeout_tick;
    tick_at_ = (clock_.Now() / tick + 1) * tick;
    WakeAt(*tick_at_, "request time-out tick");
}

bool Adapter::ServiceTimeouts() {
    if (!tick_at_ || clock_.Now() < *tick_at_) return false;
    tick_at_.reset();
    std::vector<RequestId> expired;
    for (auto& [id, request] : requests_) {
        if (request.state != RequestState::InDriver) continue;
        if (request.timeout_counter == 0) {
            expired.push_back(id);
        } else {
            --request.timeout_counter;
        }
    }
    ArmTimeoutTick();
    if (expired.empty()) return false;

    std::vector<UCHAR> paths;
    for (const RequestId id : expired) {
        Request& request = requests_.at(id);
        request.timed_out = true;
        ++counters_.timeouts;
        error_log_.push_back(ErrorLogEntry{clock_.Now(), LogSource::Port, id,
                                           request.request_spec.path, request.request_spec.target,
                                           request.request_spec.lun, SP_REQUEST_TIMEOUT,
                                           kPortTimeoutUniqueId});
        if (std::find(paths.begin(), paths.end(), request.request_spec.path) == paths.end()) {
            paths.push_back(request.request_spec.path);
        }
    }
    // As a real port driver does: reset the bus of the request that timed out, and expect
    // the driver to return every request of that bus.
    for (const UCHAR path : paths) {
        if (hw_.HwResetBus == nullptr) break;
        ++counters_.reset_bus_calls;
        CallRoutine("HwResetBus",
                    [this, path] { return hw_.HwResetBus(extension_, path) != FALSE; });
    }
    HoldAfterReset();
    for (const RequestId id : expired) {
        const auto found = requests_.find(id);
        if (found == requests_.end() || found->second.state != RequestState::InDriver) continue;
        Request& request = found->second;
        Violation(Describe(request) + " timed out and was not returned after the bus reset: lost");
        request.lost = true;
        request.srb->SrbStatus = SRB_STATUS_TIMEOUT;
        MarkCompleted(request);
    }
    AfterRoutine();
    return true;
}

}  // namespace quell::sim
