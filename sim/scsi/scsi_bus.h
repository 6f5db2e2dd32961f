// The SCSI bus: the wired-OR of what every attached device drives, arbitration, the timed
// bursts of a data phase, and the trace of it all.
//
// Devices see the bus only as lines. A listener is told of every change of the lines while
// the bus is updating; it may record what it saw, but anything it drives in reaction is
// applied after the current change has been delivered to everybody, so that no device acts
// in the middle of another's update. Real reaction times are the devices' own scheduled
// events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/scsi/bus_signals.h"
#include "sim/scsi/bus_timing.h"
#include "sim/scsi/bus_trace.h"
#include "sim/scsi/model_errors.h"
#include "sim/time/clock.h"

namespace quell::sim::scsi {

class BusListener {
public:
    virtual ~BusListener() = default;
    virtual void OnBusChanged(const BusLines& before, const BusLines& after) = 0;
};

// The target side of a data phase, as a burst sees it. The target that holds a data phase
// registers itself; the initiator's data engine moves bytes through the bus in bursts.
class BurstPeer {
public:
    virtual ~BurstPeer() = default;
    virtual std::size_t BurstReady() const = 0;    // bytes left in the target's data phase
    virtual SimTime BurstPeriod() const = 0;       // the target's byte period in this phase
    virtual std::uint8_t BurstOffset() const = 0;  // its REQ/ACK offset, 0 asynchronous
    virtual std::vector<std::uint8_t> BurstTakeIn(std::size_t count) = 0;   // data in
    virtual void BurstDeliverOut(std::span<const std::uint8_t> bytes) = 0;  // data out
    virtual void BurstEnded(std::size_t moved) = 0;
};

struct BurstRequest {
    int initiator = -1;                 // slot
    std::size_t max = 0;                // at most this many bytes
    std::vector<std::uint8_t> out;      // data out: the bytes offered (max of them)
    SimTime initiator_period = 0;       // the initiator's programmed byte period
    std::uint8_t initiator_offset = 0;  // its synchronous offset, 0 asynchronous
    // Runs when the burst has ended: the bytes received (data in) and the count moved.
    std::function<void(std::vector<std::uint8_t> in, std::size_t moved)> done;
};

class ScsiBus {
public:
    ScsiBus(Clock& clock, ModelErrors& errors, BusTiming timing = {});
    ScsiBus(const ScsiBus&) = delete;
    ScsiBus& operator=(const ScsiBus&) = delete;

    Clock& GetClock() const { return clock_; }
    ModelErrors& Errors() const { return errors_; }
    const BusTiming& Timing() const { return timing_; }

    // A device on the bus; its slot number names it in every other call.
    int Attach(std::string name, int scsi_id, BusListener* listener);
    const std::string& NameOf(int slot) const { return slots_.at(slot).name; }
    int IdOf(int slot) const { return slots_.at(slot).scsi_id; }
    std::optional<int> SlotOfId(int scsi_id) const;

    // What a device drives now, replacing what it drove before.
    void Drive(int slot, BusLines lines);
    void DriveControl(int slot, std::uint16_t control);  // keeps its data lines
    BusLines DrivenBy(int slot) const { return slots_.at(slot).drive; }

    BusLines Lines() const { return lines_; }
    bool IsFree() const { return !lines_.Has(kBsy) && !lines_.Has(kSel) && !lines_.Has(kRst); }
    // When the bus last became free (BSY, SEL and RST released).
    SimTime FreeSince() const { return free_since_; }

    // Arbitration. False when the bus is not free and no arbitration is open to join.
    // Otherwise the device asserts BSY and its id (after the bus free delay if the bus became
    // free only just now) and, one arbitration delay later, `result` tells it whether it won;
    // a loser's BSY and id are released for it.
    bool Arbitrate(int slot, std::function<void(bool won)> result);

    // Data phases in bursts.
    void SetBurstPeer(BurstPeer* peer) { burst_peer_ = peer; }
    BurstPeer* GetBurstPeer() const { return burst_peer_; }
    // Starts a burst; false (with a model error) when no target holds a data phase.
    bool StartBurst(BurstRequest request);
    bool BurstInFlight() const { return burst_.has_value(); }
    void AbortBurst();  // a reset or a vanished initiator ends the burst; nothing moves

    // Tracing.
    void AddTraceSink(BusTraceSink* sink);
    void FinishTrace();

private:
    struct Slot {
        std::string name;
        int scsi_id = -1;
        BusListener* listener = nullptr;
        BusLines drive;
    };
    struct Arbitration {
        SimTime start = 0;
        std::vector<std::pair<int, std::function<void(bool)>>> contenders;
        Clock::EventId decision = 0;
    };
    struct Burst {
        BurstRequest request;
        std::vector<std::uint8_t> in;
        std::size_t count = 0;
        SimTime start = 0;
        SimTime period = 0;
        std::uint16_t control = 0;  // the lines at the start, for the trace
        Clock::EventId end_event = 0;
    };

    void Apply();
    void Recompute();
    void JoinArbitration(int slot, std::function<void(bool)> result);
    void DecideArbitration();
    void EndBurst();

    // Tracing and the analyzer's view of the protocol.
    void TraceLines(SimTime time, const BusLines& lines);
    void SettleTrace(SimTime watermark);
    void Observe(const BusLines& before, const BusLines& after);
    void RecordByte(std::uint8_t byte);
    void ClosePhase(SimTime end);
    void Emit(const BusEventRecord& record);
    void TraceBurstEdges(const Burst& burst, std::span<const std::uint8_t> bytes);

    Clock& clock_;
    ModelErrors& errors_;
    BusTiming timing_;
    std::vector<Slot> slots_;
    BusLines lines_;
    SimTime free_since_ = 0;
    std::deque<std::pair<int, BusLines>> pending_drives_;
    bool updating_ = false;
    std::optional<Arbitration> arbitration_;
    BurstPeer* burst_peer_ = nullptr;
    std::optional<Burst> burst_;

    std::vector<BusTraceSink*> sinks_;
    std::multimap<SimTime, BusLines> trace_pending_;
    // The connection and phase as an analyzer decodes them from the lines.
    int arbitration_winner_ = -1;
    int initiator_id_ = -1;
    int target_id_ = -1;
    bool selecting_ = false;
    std::optional<PhaseRecord> phase_;
};

}  // namespace quell::sim::scsi
