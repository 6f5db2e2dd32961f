#include "sim/scsi/scsi_bus.h"

#include <algorithm>
#include <bit>
#include <sstream>

namespace quell::sim::scsi {
namespace {

std::uint8_t IdBit(int scsi_id) { return static_cast<std::uint8_t>(1u << scsi_id); }

// The other id on the data lines during (re)selection, -1 when there is none.
int OtherId(std::uint8_t data, int known) {
    const auto rest = static_cast<std::uint8_t>(data & ~(known >= 0 ? IdBit(known) : 0));
    return rest == 0 ? -1 : 7 - std::countl_zero(rest);
}

}  // namespace

ScsiBus::ScsiBus(Clock& clock, ModelErrors& errors, BusTiming timing)
    : clock_(clock), errors_(errors), timing_(timing), free_since_(clock.Now()) {}

int ScsiBus::Attach(std::string name, int scsi_id, BusListener* listener) {
    for (const auto& slot : slots_) {
        if (scsi_id >= 0 && slot.scsi_id == scsi_id) {
            errors_.Report("bus", "two devices with SCSI id " + std::to_string(scsi_id) + " (" +
                                      slot.name + ", " + name + ")");
        }
    }
    slots_.push_back(Slot{std::move(name), scsi_id, listener, {}});
    return static_cast<int>(slots_.size()) - 1;
}

std::optional<int> ScsiBus::SlotOfId(int scsi_id) const {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].scsi_id == scsi_id) return static_cast<int>(i);
    }
    return std::nullopt;
}

void ScsiBus::Drive(int slot, BusLines lines) {
    pending_drives_.emplace_back(slot, lines);
    if (updating_) {
        return;  // applied once the change in progress has reached every listener
    }
    updating_ = true;
    try {
        Apply();
    } catch (...) {
        pending_drives_.clear();
        updating_ = false;
        throw;
    }
    updating_ = false;
}

void ScsiBus::DriveControl(int slot, std::uint16_t control) {
    BusLines lines = slots_.at(slot).drive;
    // A drive queued but not yet applied is the latest word on this slot's data lines.
    for (const auto& [queued_slot, queued] : pending_drives_) {
        if (queued_slot == slot) lines = queued;
    }
    lines.control = control;
    Drive(slot, lines);
}

void ScsiBus::Apply() {
    while (!pending_drives_.empty()) {
        const auto [slot, lines] = pending_drives_.front();
        pending_drives_.pop_front();
        slots_.at(slot).drive = lines;
        Recompute();
    }
}

void ScsiBus::Recompute() {
    BusLines now;
    for (const auto& slot : slots_) {
        now.control |= slot.drive.control;
        now.data |= slot.drive.data;
    }
    if (now == lines_) {
        return;
    }
    const BusLines before = lines_;
    lines_ = now;
    const bool was_free = !before.Has(kBsy) && !before.Has(kSel) && !before.Has(kRst);
    if (IsFree() && !was_free) {
        free_since_ = clock_.Now();
    }
    if (now.Has(kRst) && !before.Has(kRst)) {
        // Everything in progress on the bus ends; each device releases its own lines.
        AbortBurst();
        if (arbitration_) {
            clock_.Cancel(arbitration_->decision);
            auto contenders = std::move(arbitration_->contenders);
            arbitration_.reset();
            for (auto& [contender, result] : contenders) result(false);
        }
    }
    TraceLines(clock_.Now(), now);
    Observe(before, now);
    for (auto& slot : slots_) {
        if (slot.listener) slot.listener->OnBusChanged(before, now);
    }
}

// ---- Arbitration ------------------------------------------------------------------------------

bool ScsiBus::Arbitrate(int slot, std::function<void(bool)> result) {
    const SimTime now = clock_.Now();
    if (arbitration_) {
        if (now > arbitration_->start + timing_.bus_set_delay || lines_.Has(kSel)) {
            return false;
        }
        JoinArbitration(slot, std::move(result));
        return true;
    }
    if (!IsFree()) {
        return false;
    }
    arbitration_.emplace();
    arbitration_->start = std::max(now, free_since_ + timing_.bus_free_delay);
    arbitration_->contenders.emplace_back(slot, std::move(result));
    clock_.ScheduleAt(
        arbitration_->start,
        [this] {
            if (!arbitration_) return;
            if (!IsFree()) {
                // Something took the bus without arbitrating (a stuck line): nobody wins.
                clock_.Cancel(arbitration_->decision);
                auto contenders = std::move(arbitration_->contenders);
                arbitration_.reset();
                for (auto& [contender, lost] : contenders) lost(false);
                return;
            }
            for (const auto& [contender, unused] : arbitration_->contenders) {
                Drive(contender, BusLines{kBsy, IdBit(slots_[contender].scsi_id)});
            }
        },
        "bus: arbitration start");
    arbitration_->decision = clock_.ScheduleAt(
        arbitration_->start + timing_.arbitration_delay, [this] { DecideArbitration(); },
        "bus: arbitration decision");
    return true;
}

void ScsiBus::JoinArbitration(int slot, std::function<void(bool)> result) {
    arbitration_->contenders.emplace_back(slot, std::move(result));
    if (clock_.Now() >= arbitration_->start) {
        Drive(slot, BusLines{kBsy, IdBit(slots_[slot].scsi_id)});
    }
}

void ScsiBus::DecideArbitration() {
    if (!arbitration_) return;
    auto contenders = std::move(arbitration_->contenders);
    arbitration_.reset();
    // The highest id on the data lines wins.
    std::size_t winner = 0;
    for (std::size_t i = 1; i < contenders.size(); ++i) {
        if (slots_[contenders[i].first].scsi_id > slots_[contenders[winner].first].scsi_id) {
            winner = i;
        }
    }
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        if (i != winner) Drive(contenders[i].first, BusLines{});
    }
    arbitration_winner_ = slots_[contenders[winner].first].scsi_id;
    Emit(BusEventRecord{clock_.Now(), BusEvent::ArbitrationWon, arbitration_winner_, -1, false});
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        if (i != winner) contenders[i].second(false);
    }
    contenders[winner].second(true);
}

// ---- Bursts ------------------------------------------------------------------------------------

bool ScsiBus::StartBurst(BurstRequest request) {
    const Phase phase = PhaseOf(lines_.control);
    if (burst_) {
        errors_.Report("bus", "burst started by " + NameOf(request.initiator) +
                                  " while another burst is in flight");
        return false;
    }
    if (!burst_peer_ || !IsDataPhase(phase) || !lines_.Has(kBsy)) {
        errors_.Report("bus", "burst started by " + NameOf(request.initiator) +
                                  " while no target holds a data phase (bus " +
                                  LineNames(lines_.control) + ")");
        return false;
    }
    const std::size_t count = std::min(request.max, burst_peer_->BurstReady());
    if (count == 0) {
        return false;
    }
    if (phase == Phase::DataOut && request.out.size() < count) {
        errors_.Report("bus", "data-out burst offers fewer bytes than its maximum");
        return false;
    }
    const std::uint8_t target_offset = burst_peer_->BurstOffset();
    if ((target_offset != 0) != (request.initiator_offset != 0)) {
        std::ostringstream message;
        message << "transfer agreement mismatch in " << PhaseName(phase) << ": target offset "
                << int{target_offset} << ", initiator offset " << int{request.initiator_offset};
        errors_.Report("bus", message.str());
    }
    Burst burst;
    burst.count = count;
    burst.start = clock_.Now();
    burst.period = std::max<SimTime>({burst_peer_->BurstPeriod(), request.initiator_period, 2});
    burst.control = lines_.control;
    if (phase == Phase::DataIn) {
        burst.in = burst_peer_->BurstTakeIn(count);
    }
    burst.request = std::move(request);
    burst.end_event = clock_.ScheduleAfter(
        burst.period * count, [this] { EndBurst(); }, "bus: burst end");
    burst_ = std::move(burst);
    return true;
}

void ScsiBus::EndBurst() {
    Burst burst = std::move(*burst_);
    burst_.reset();
    const bool in = PhaseOf(lines_.control) == Phase::DataIn;
    const std::span<const std::uint8_t> bytes =
        in ? std::span<const std::uint8_t>(burst.in)
           : std::span<const std::uint8_t>(burst.request.out.data(), burst.count);
    BurstPeer* peer = burst_peer_;
    if (!in && peer) {
        peer->BurstDeliverOut(bytes);
    }
    for (const std::uint8_t byte : bytes) RecordByte(byte);
    if (phase_) phase_->byte_period = burst.period;
    // The target's next step (REQ for the next byte, or a new phase) follows the last edge.
    TraceBurstEdges(burst, bytes);
    if (peer) peer->BurstEnded(burst.count);
    if (!sinks_.empty()) trace_pending_.emplace(clock_.Now(), lines_);
    if (burst.request.done) burst.request.done(std::move(burst.in), burst.count);
    SettleTrace(clock_.Now());
}

void ScsiBus::AbortBurst() {
    if (!burst_) return;
    clock_.Cancel(burst_->end_event);
    burst_.reset();
}

// ---- Tracing -----------------------------------------------------------------------------------

void ScsiBus::AddTraceSink(BusTraceSink* sink) {
    sinks_.push_back(sink);
    sink->OnLines(clock_.Now(), lines_);
}

void ScsiBus::FinishTrace() {
    ClosePhase(clock_.Now());
    SettleTrace(clock_.Now());
    for (auto* sink : sinks_) sink->Finish(clock_.Now());
}

void ScsiBus::TraceLines(SimTime time, const BusLines& lines) {
    if (sinks_.empty()) return;
    trace_pending_.emplace(time, lines);
    SettleTrace(burst_ ? burst_->start : time);
}

// Line changes are held until nothing earlier can still arrive: a burst reports its edges
// when it ends, with the times at which they happened.
void ScsiBus::SettleTrace(SimTime watermark) {
    while (!trace_pending_.empty() && trace_pending_.begin()->first <= watermark) {
        const auto node = trace_pending_.begin();
        for (auto* sink : sinks_) sink->OnLines(node->first, node->second);
        trace_pending_.erase(node);
    }
}

void ScsiBus::TraceBurstEdges(const Burst& burst, std::span<const std::uint8_t> bytes) {
    if (sinks_.empty()) return;
    const std::uint16_t base = burst.control & ~(kReq | kAck);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const SimTime t = burst.start + i * burst.period;
        trace_pending_.emplace(t, BusLines{static_cast<std::uint16_t>(base | kReq), bytes[i]});
        trace_pending_.emplace(t + burst.period / 2,
                               BusLines{static_cast<std::uint16_t>(base | kAck), bytes[i]});
    }
    // Between the last ACK and what the devices drive next, the handshake lines rest.
    trace_pending_.emplace(clock_.Now(),
                           BusLines{base, bytes.empty() ? lines_.data : bytes.back()});
}

void ScsiBus::Emit(const BusEventRecord& record) {
    for (auto* sink : sinks_) sink->OnEvent(record);
}

void ScsiBus::RecordByte(std::uint8_t byte) {
    if (!phase_) return;
    if (phase_->bytes.size() < kPhaseBytesKept) phase_->bytes.push_back(byte);
    ++phase_->count;
}

void ScsiBus::ClosePhase(SimTime end) {
    if (!phase_) return;
    phase_->end = end;
    for (auto* sink : sinks_) sink->OnPhase(*phase_);
    phase_.reset();
}

// The protocol as an analyzer on the cable decodes it from the lines.
void ScsiBus::Observe(const BusLines& before, const BusLines& after) {
    if (sinks_.empty()) return;
    const SimTime now = clock_.Now();
    auto rose = [&](std::uint16_t line) { return !before.Has(line) && after.Has(line); };
    auto fell = [&](std::uint16_t line) { return before.Has(line) && !after.Has(line); };

    if (rose(kRst)) {
        ClosePhase(now);
        selecting_ = false;
        initiator_id_ = target_id_ = -1;
        Emit(BusEventRecord{now, BusEvent::Reset, -1, -1, false});
        return;
    }
    if (after.Has(kSel) && !after.Has(kBsy) && !selecting_) {
        selecting_ = true;
        // The winner of the arbitration drives its own id with the other party's.
        const bool reselection = after.Has(kIo);
        const int winner = arbitration_winner_ >= 0
                               ? arbitration_winner_
                               : 7 - std::countl_zero(static_cast<std::uint8_t>(after.data));
        const int other = OtherId(after.data, winner);
        initiator_id_ = reselection ? other : winner;
        target_id_ = reselection ? winner : other;
    }
    if (selecting_ && after.Has(kSel) && rose(kBsy)) {
        selecting_ = false;
        const bool reselection = after.Has(kIo);
        Emit(BusEventRecord{now, reselection ? BusEvent::Reselection : BusEvent::Selection,
                            initiator_id_, target_id_, after.Has(kAtn)});
    }
    if (selecting_ && fell(kSel) && !after.Has(kBsy)) {
        selecting_ = false;
        Emit(BusEventRecord{now, BusEvent::SelectionTimeout, initiator_id_, target_id_,
                            before.Has(kAtn)});
    }
    const bool connected = after.Has(kBsy) && !after.Has(kSel);
    if (connected && rose(kReq)) {
        const Phase phase = PhaseOf(after.control);
        if (phase_ && phase_->phase != phase) ClosePhase(now);
        if (!phase_) {
            phase_ = PhaseRecord{};
            phase_->start = now;
            phase_->phase = phase;
            phase_->initiator = initiator_id_;
            phase_->target = target_id_;
        }
    }
    if (connected && after.Has(kReq) && rose(kAck)) {
        RecordByte(after.data);
    }
    if (fell(kBsy) && !after.Has(kSel) && target_id_ >= 0) {
        ClosePhase(now);
        Emit(BusEventRecord{now, BusEvent::BusFree, initiator_id_, target_id_, false});
        target_id_ = -1;
    }
}

}  // namespace quell::sim::scsi
