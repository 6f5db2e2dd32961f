#include "sim/time/clock.h"

#include <stdexcept>

namespace quell::sim {

Clock::EventId Clock::ScheduleAt(SimTime when, Action action, std::string name) {
    const Key key{when < now_ ? now_ : when, next_sequence_++};
    const EventId id = key.sequence + 1;
    queue_.emplace(key, Event{id, std::move(action), std::move(name)});
    index_.emplace(id, key);
    return id;
}

Clock::EventId Clock::ScheduleAfter(SimTime delay, Action action, std::string name) {
    return ScheduleAt(now_ + delay, std::move(action), std::move(name));
}

bool Clock::Cancel(EventId id) {
    const auto found = index_.find(id);
    if (found == index_.end()) {
        return false;
    }
    queue_.erase(found->second);
    index_.erase(found);
    return true;
}

void Clock::RunDue(SimTime until) {
    // An event that advances the clock itself would run later events inside an earlier one.
    if (running_) {
        throw std::logic_error("simulated time advanced from inside an event");
    }
    running_ = true;
    while (!queue_.empty() && queue_.begin()->first.when <= until) {
        auto node = queue_.extract(queue_.begin());
        index_.erase(node.mapped().id);
        now_ = node.key().when;
        ++events_run_;
        try {
            node.mapped().action();
        } catch (...) {
            running_ = false;
            throw;
        }
    }
    running_ = false;
}

void Clock::AdvanceTo(SimTime until) {
    if (until < now_) {
        until = now_;
    }
    RunDue(until);
    now_ = until;
}

bool Clock::RunNext() {
    if (queue_.empty()) {
        return false;
    }
    AdvanceTo(queue_.begin()->first.when);
    return true;
}

std::optional<SimTime> Clock::NextEventTime() const {
    if (queue_.empty()) {
        return std::nullopt;
    }
    return queue_.begin()->first.when;
}

}  // namespace quell::sim
