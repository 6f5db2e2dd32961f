// What the driver tells the port driver: ScsiPortNotification's kinds, and error-log entries.

#include <sstream>

#include "sim/port/adapter.h"
#include "sim/port/port_driver.h"

namespace quell::sim {
namespace {

const char* NotificationName(SCSI_NOTIFICATION_TYPE type) {
    switch (type) {
        case RequestComplete:
            return "RequestComplete";
        case NextRequest:
            return "NextRequest";
        case NextLuRequest:
            return "NextLuRequest";
        case ResetDetected:
            return "ResetDetected";
        case CallDisableInterrupts:
            return "CallDisableInterrupts";
        case CallEnableInterrupts:
            return "CallEnableInterrupts";
        case RequestTimerCall:
            return "RequestTimerCall";
        case BusChangeDetected:
            return "BusChangeDetected";
        case WMIEvent:
            return "WMIEvent";
        case WMIReregister:
            return "WMIReregister";
    }
    return "an unknown notification";
}

}  // namespace

void Adapter::Notify(SCSI_NOTIFICATION_TYPE type, std::va_list* arguments) {
    if (running_ == nullptr) {
        Violation(std::string("ScsiPortNotification(") + NotificationName(type) +
                  ") called outside the adapter's routines; ignored");
        return;
    }
    switch (type) {
        case RequestComplete: {
            auto* srb = va_arg(*arguments, PSCSI_REQUEST_BLOCK);
            Request* request = FindBySrb(srb);
            if (request == nullptr) {
                const auto returned = returned_srbs_.find(srb);
                Violation(returned != returned_srbs_.end()
                              ? "RequestComplete for request " + std::to_string(returned->second) +
                                    ", which was already handed back (completed twice)"
                              : std::string("RequestComplete for a request block the port driver "
                                            "never handed to the driver"));
            } else if (request->state == RequestState::Queued) {
                Violation(
                    "RequestComplete for " + Describe(*request) +
                    ", which is still queued in the port driver (the driver does not own it)");
            } else if (request->state == RequestState::CompletionPending) {
                Violation("RequestComplete for " + Describe(*request) +
                          " a second time (completed twice)");
            } else {
                MarkCompleted(*request);
            }
            return;
        }
        case NextRequest:
            NextRequestNotified();
            return;
        case NextLuRequest: {
            const int path = va_arg(*arguments, int);
            const int target = va_arg(*arguments, int);
            const int lun = va_arg(*arguments, int);
            if (!hw_.MultipleRequestPerLu && !hw_.TaggedQueuing) {
                std::ostringstream text;
                text << "NextLuRequest for " << path << ':' << target << ':' << lun
                     << " from a driver registered for one request per logical unit";
                Violation(text.str());
            }
            NextRequestNotified();
            return;
        }
        case ResetDetected:
            ++counters_.resets_detected;
            HoldAfterReset();
            return;
        case RequestTimerCall: {
            auto* routine = va_arg(*arguments, PHW_TIMER);
            const ULONG microseconds = va_arg(*arguments, ULONG);
            RequestTimer(routine, microseconds);
            return;
        }
        case CallDisableInterrupts:
        case CallEnableInterrupts:
        case BusChangeDetected:
        case WMIEvent:
        case WMIReregister:
            ++counters_.other_notifications[type];
            return;
    }
    Violation("ScsiPortNotification with unknown type " + std::to_string(static_cast<int>(type)));
}

void Adapter::NextRequestNotified() {
    ++counters_.next_requests;
    if (ready_) ++counters_.redundant_next_requests;
    ready_ = true;
}

void Adapter::HoldAfterReset() {
    // After a bus reset the targets need time to recover; a port driver starts no request
    // for a while.
    reset_hold_until_ = std::max(reset_hold_until_, clock_.Now() + setup_.timing.reset_hold);
    hold_wake_scheduled_ = false;
}

void Adapter::RequestTimer(PHW_TIMER routine, ULONG microseconds) {
    // One timer per adapter: a new request replaces the pending one, 0 cancels it.
    if (timer_event_) clock_.Cancel(*timer_event_);
    timer_event_.reset();
    timer_at_.reset();
    timer_routine_ = nullptr;
    if (microseconds == 0) return;
    if (routine == nullptr) {
        Violation("RequestTimerCall without a timer routine; ignored");
        return;
    }
    SimTime delay = SimTime{microseconds} * kMicrosecond;
    if (const SimTime grain = setup_.timing.timer_granularity; grain > 0) {
        delay = (delay + grain - 1) / grain * grain;
    }
    timer_routine_ = routine;
    timer_at_ = clock_.Now() + delay;
    timer_event_ = clock_.ScheduleAt(
        *timer_at_, [] {}, "miniport timer");
}

void Adapter::LogError(PSCSI_REQUEST_BLOCK srb, UCHAR path, UCHAR target, UCHAR lun, ULONG code,
                       ULONG unique_id) {
    ErrorLogEntry entry{clock_.Now(), LogSource::Driver, std::nullopt, path, target, lun,
                        code,         unique_id};
    if (srb != nullptr) {
        const Request* request = FindBySrb(srb);
        if (request == nullptr || request->state == RequestState::Queued) {
            Violation("ScsiPortLogError names a request block the driver does not own");
        } else {
            entry.request = request->id;
        }
    }
    if (running_ == nullptr) {
        Violation("ScsiPortLogError called outside the adapter's routines");
    }
    error_log_.push_back(entry);
}

}  // namespace quell::sim
