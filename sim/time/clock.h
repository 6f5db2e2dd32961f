// Simulated time: a deterministic discrete-event clock in nanoseconds.
//
// Devices schedule events; whoever owns the machine advances time, and every event that falls
// due runs in time order (events due at the same instant run in the order they were
// scheduled). Nothing here reads the host's clock, so the same machine and workload give the
// same run to the nanosecond.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>

namespace quell::sim {

using SimTime = std::uint64_t;  // nanoseconds since the machine was built

inline constexpr SimTime kNanosecond = 1;
inline constexpr SimTime kMicrosecond = 1000;
inline constexpr SimTime kMillisecond = 1000 * kMicrosecond;
inline constexpr SimTime kSecond = 1000 * kMillisecond;

class Clock {
public:
    using Action = std::function<void()>;
    using EventId = std::uint64_t;

    SimTime Now() const { return now_; }

    // Schedules Action at an absolute time; a time in the past means "now". The name shows up
    // in diagnostics only.
    EventId ScheduleAt(SimTime when, Action action, std::string name = {});
    EventId ScheduleAfter(SimTime delay, Action action, std::string name = {});

    // Removes a pending event; false when it already ran or was cancelled.
    bool Cancel(EventId id);
    bool IsPending(EventId id) const { return index_.contains(id); }

    // Runs every event due at or before `until`, then leaves the clock at `until`.
    void AdvanceTo(SimTime until);
    void Advance(SimTime delta) { AdvanceTo(now_ + delta); }

    // Jumps to the earliest pending event and runs every event due at that instant.
    // False when nothing is pending.
    bool RunNext();

    std::optional<SimTime> NextEventTime() const;
    std::size_t PendingCount() const { return queue_.size(); }
    std::uint64_t EventsRun() const { return events_run_; }

private:
    struct Key {
        SimTime when;
        std::uint64_t sequence;
        auto operator<=>(const Key&) const = default;
    };
    struct Event {
        EventId id;
        Action action;
        std::string name;
    };

    void RunDue(SimTime until);

    SimTime now_ = 0;
    std::uint64_t next_sequence_ = 0;
    std::uint64_t events_run_ = 0;
    bool running_ = false;
    std::map<Key, Event> queue_;
    std::unordered_map<EventId, Key> index_;
};

}  // namespace quell::sim
