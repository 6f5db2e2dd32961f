// One adapter as the port driver drives it once discovery has found it: the miniport's
// extensions, its configuration, its interrupt line, the requests it has been given and
// the timer it asked for. The port driver calls the miniport's routines for one adapter one
// at a time and checks every rule a real port driver relies on; a broken rule becomes a
// violation (PortDriver::Violations), never a silent repair.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "host/scsiport.h"
#include "sim/pc/physical_memory.h"
#include "sim/port/error_log.h"
#include "sim/port/request.h"
#include "sim/time/clock.h"

namespace quell::sim {

class PortDriver;
struct OfferedAdapter;
struct Registration;

// Which system's port environment the adapter lives in: the 9x one keeps its own record
// around the device extension and a system request behind every request block.
enum class PortPersonality : std::uint8_t { Nt, W9x };

// The level of the adapter's interrupt line: true while it is asserted. The line is level
// sensitive; the port driver looks at it, it never latches an edge.
using InterruptSource = std::function<bool()>;

// How long the port driver's own work takes and its limits (see docs/host-timing.md).
struct PortTiming {
    SimTime interrupt_dispatch = 4 * kMicrosecond;  // from line asserted to HwInterrupt
    SimTime timer_granularity = 0;     // timer intervals round up to a multiple (0: exact)
    SimTime timeout_tick = kSecond;    // request time-outs count down once per tick
    SimTime reset_hold = 4 * kSecond;  // no request is started this long after a bus reset
    // Consecutive interrupts, with the line still up afterwards, that the routine answered
    // FALSE (an interrupt storm) or TRUE (a line the routine never clears).
    std::uint32_t storm_limit = 1000;
    std::uint32_t stuck_line_limit = 1000000;
};

struct AdapterSetup {
    PortPersonality personality = PortPersonality::Nt;
    InterruptSource interrupt;    // empty: the adapter has no line at all
    bool interrupt_wired = true;  // false: the line reaches no processor input
    MemoryLayout device_extension;
    MemoryLayout request_buffers;
    MemoryLayout srb_extensions;
    MemoryLayout uncached_extension;
    bool refuse_uncached_extension = false;  // the system has no such memory to give
    PortTiming timing;
};

// What the port driver counted while driving the adapter.
struct AdapterCounters {
    std::uint64_t start_io_calls = 0;
    std::uint64_t interrupt_calls = 0;
    std::uint64_t interrupts_claimed = 0;
    std::uint64_t spurious_interrupts = 0;  // the line dropped before dispatch
    std::uint64_t timer_calls = 0;
    std::uint64_t reset_bus_calls = 0;
    std::uint64_t next_requests = 0;
    std::uint64_t redundant_next_requests = 0;  // NextRequest while already ready
    std::uint64_t requests_completed = 0;
    std::uint64_t timeouts = 0;
    std::uint64_t resets_detected = 0;
    SimTime stalled = 0;
    std::map<int, std::uint64_t> other_notifications;  // by SCSI_NOTIFICATION_TYPE
    bool operator==(const AdapterCounters&) const = default;
};

class Adapter {
public:
    using CompletionCallback = std::function<void(const RequestResult&)>;

    // With `discovered`, the adapter takes over what discovery set up for it; without, it
    // allocates a zero-filled extension (with room for the 9x record in front) itself.
    Adapter(PortDriver& port, std::size_t index, const Registration& registration,
            AdapterSetup setup, const OfferedAdapter* discovered);
    Adapter(const Adapter&) = delete;
    Adapter& operator=(const Adapter&) = delete;
    ~Adapter();

    std::size_t Index() const { return index_; }
    void* DeviceExtension() const { return extension_; }
    const HW_INITIALIZATION_DATA& Hw() const { return hw_; }
    const AdapterSetup& Setup() const { return setup_; }

    // The configuration record handed to HwFindAdapter, with room for the registered number
    // of access ranges. Discovery fills it; the run time reads the bus, target and transfer
    // limits from it.
    PORT_CONFIGURATION_INFORMATION& ConfigInfo() { return config_; }
    const PORT_CONFIGURATION_INFORMATION& ConfigInfo() const { return config_; }
    std::span<ACCESS_RANGE> AccessRanges() { return access_ranges_; }

    // The 9x port environment's record in front of the extension, and a way to fill it: with
    // a device node, the record carries the signature and the node; without, it is all zero.
    std::span<std::byte> W9xPrefix() const;
    void SetW9xAdapterRecord(std::optional<std::uint32_t> device_node);

    // ScsiPortGetUncachedExtension's allocation: once per adapter, zero-filled, from
    // simulated memory; nullptr when the machine refuses it or it was already handed out
    // (a violation).
    void* AllocateUncachedExtension(ULONG bytes);
    std::span<std::byte> UncachedExtension() const { return uncached_; }

    // While a scope lives, the port driver counts `routine` as running for this adapter
    // (discovery wraps HwFindAdapter in one). A second routine while one runs is a violation.
    class RoutineScope {
    public:
        RoutineScope(Adapter& adapter, const char* routine);
        ~RoutineScope();
        RoutineScope(const RoutineScope&) = delete;
        RoutineScope& operator=(const RoutineScope&) = delete;
        bool Entered() const { return entered_; }

    private:
        Adapter& adapter_;
        bool entered_;
    };
    const char* RunningRoutine() const { return running_; }

    // Calls HwInitialize; from then on the interrupt is connected and requests flow.
    bool Initialize();
    bool Started() const { return started_; }

    // Queues a request; refused, with a reason, when a field is impossible.
    Submission Submit(RequestSpec request_spec, CompletionCallback on_complete = {});
    std::optional<RequestResult> Result(RequestId id) const;
    // The same, forgotten by the adapter afterwards (long runs take their results).
    std::optional<RequestResult> TakeResult(RequestId id);
    // Requests queued, in the driver, or waiting to be handed back.
    std::size_t Outstanding() const { return requests_.size(); }
    bool Idle() const { return requests_.empty(); }

    // Runs the machine (every adapter of the port driver) until the request is back, the
    // adapter is idle, or simulated time reaches the limit. False when the limit came first.
    bool RunUntilComplete(RequestId id, SimTime within = 60 * kSecond);
    bool RunUntilIdle(SimTime within = 60 * kSecond);
    // Lets simulated time pass with the machine running, as a caller that waits does.
    void RunFor(SimTime duration);

    // Ends a run: every request still in the driver is one it never returned (a violation);
    // the port driver takes each back with SRB_STATUS_TIMEOUT.
    void Finish();

    const std::vector<ErrorLogEntry>& ErrorLog() const { return error_log_; }
    const AdapterCounters& Counters() const { return counters_; }
    bool InterruptMasked() const { return storm_masked_; }

    // ---- the port routines' side (called by the extern "C" SCSI port routines) ----
    void* LogicalUnitExtension(UCHAR path, UCHAR target, UCHAR lun) const;
    void Notify(SCSI_NOTIFICATION_TYPE type, std::va_list* arguments);
    void CompleteRequests(UCHAR path, UCHAR target, UCHAR lun, UCHAR status);
    void LogError(PSCSI_REQUEST_BLOCK srb, UCHAR path, UCHAR target, UCHAR lun, ULONG code,
                  ULONG unique_id);
    SCSI_PHYSICAL_ADDRESS PhysicalAddress(PSCSI_REQUEST_BLOCK srb, const void* address,
                                          ULONG* length);
    void AddStall(SimTime time) { counters_.stalled += time; }

    // ---- the port driver's dispatch loop ----
    // Calls whatever routine is due now (interrupt, timer, time-out, next request); true when
    // it called one.
    bool ServiceDue();

private:
    friend class RoutineScope;

    struct LogicalUnit {
        std::span<std::byte> extension;   // empty when the registered size is 0
        std::optional<RequestId> active;  // the EXECUTE_SCSI request in the driver
    };
    using LuAddress = std::tuple<UCHAR, UCHAR, UCHAR>;

    void Violation(const std::string& what);
    void WakeAt(SimTime when, const char* why);
    void HoldAfterReset();
    // Calls a miniport routine under the adapter's serialisation, then hands back what it
    // completed. Nothing is called when another routine of the adapter is running.
    bool CallRoutine(const char* name, const std::function<bool()>& routine);
    void AfterRoutine();

    std::string CheckSpec(const RequestSpec& request_spec) const;
    void BuildFrame(Request& request);
    void BuildOsRequest(Request& request, const OsRequestSpec& os);
    void ReleaseRequestMemory(Request& request);
    LogicalUnit& UnitAt(UCHAR path, UCHAR target, UCHAR lun);
    Request* FindBySrb(const void* srb);
    void MarkCompleted(Request& request);
    void HandBack(Request& request);

    bool ServiceInterrupt();
    bool ServiceTimer();
    bool ServiceTimeouts();
    bool StartNextRequest();
    void ArmTimeoutTick();
    void RequestTimer(PHW_TIMER routine, ULONG microseconds);
    void NextRequestNotified();

    PortDriver& port_;
    Clock& clock_;
    PhysicalMemory& memory_;
    std::size_t index_;
    HW_INITIALIZATION_DATA hw_;
    AdapterSetup setup_;
    PORT_CONFIGURATION_INFORMATION config_{};
    std::vector<ACCESS_RANGE> access_ranges_;
    void* extension_ = nullptr;
    std::span<std::byte> uncached_;
    bool uncached_requested_ = false;
    const char* running_ = nullptr;
    bool started_ = false;

    RequestId next_id_ = 1;
    std::map<RequestId, Request> requests_;
    std::map<RequestId, CompletionCallback> callbacks_;
    std::map<RequestId, RequestResult> results_;
    std::deque<RequestId> queue_;
    std::vector<RequestId> to_hand_back_;
    std::map<LuAddress, LogicalUnit> units_;
    std::map<std::uint32_t, std::vector<std::span<std::byte>>> free_extensions_;  // by misalign
    bool ready_ = true;  // the driver may take a request
    SimTime reset_hold_until_ = 0;

    // Work due at a time is kept here and marked on the clock by an event that does nothing:
    // the dispatch loop stops at the instant and calls the routine, so no event holds a
    // pointer to the adapter.
    PHW_TIMER timer_routine_ = nullptr;
    std::optional<SimTime> timer_at_;
    std::optional<Clock::EventId> timer_event_;
    std::optional<SimTime> tick_at_;
    bool hold_wake_scheduled_ = false;
    std::map<const void*, RequestId> returned_srbs_;  // request blocks already handed back
    std::vector<std::span<std::byte>> free_frames_;

    std::optional<SimTime> line_seen_at_;
    std::uint32_t unclaimed_with_line_up_ = 0;
    std::uint32_t claimed_with_line_up_ = 0;
    bool storm_masked_ = false;

    std::vector<ErrorLogEntry> error_log_;
    AdapterCounters counters_;
};

}  // namespace quell::sim
