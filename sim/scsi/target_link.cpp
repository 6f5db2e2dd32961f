#include "sim/scsi/target_link.h"

#include <algorithm>
#include <bit>

namespace quell::sim::scsi {
namespace {

std::uint8_t IdBit(int scsi_id) { return static_cast<std::uint8_t>(1u << scsi_id); }

}  // namespace

TargetLink::TargetLink(ScsiBus& bus, int scsi_id, std::string name, TargetLinkClient& client)
    : bus_(bus),
      clock_(bus.GetClock()),
      id_(scsi_id),
      name_(std::move(name)),
      client_(client),
      slot_(bus.Attach(name_, scsi_id, this)) {}

void TargetLink::Schedule(SimTime delay, std::function<void()> action, const char* what) {
    if (events_.size() > 16) {
        std::erase_if(events_, [this](Clock::EventId id) { return !clock_.IsPending(id); });
    }
    events_.push_back(clock_.ScheduleAfter(delay, std::move(action), name_ + ": " + what));
}

void TargetLink::CancelAll() {
    for (const auto id : events_) clock_.Cancel(id);
    events_.clear();
    clock_.Cancel(reselection_timeout_);
}

void TargetLink::DriveLines(std::uint16_t control, std::uint8_t data) {
    control_ = control;
    data_ = data;
    const std::uint16_t faults = ack_stuck_ ? kAck : 0;
    bus_.Drive(slot_, BusLines{static_cast<std::uint16_t>(control | faults), data});
}

void TargetLink::ReleaseAll() {
    if (bus_.GetBurstPeer() == this) bus_.SetBurstPeer(nullptr);
    DriveLines(control_ & kRst, 0);
    state_ = State::Idle;
}

// ---- Information phases ---------------------------------------------------------------------

void TargetLink::Send(Phase phase, std::vector<std::uint8_t> bytes) {
    send_ = std::move(bytes);
    sent_ = 0;
    received_.clear();
    wanted_ = 0;
    until_attention_ = false;
    StartPhase(phase);
}

void TargetLink::Receive(Phase phase, std::size_t count, bool until_attention) {
    send_.clear();
    sent_ = 0;
    received_.clear();
    wanted_ = count;
    until_attention_ = until_attention;
    last_byte_ = false;
    StartPhase(phase);
}

void TargetLink::ExtendReceive(std::size_t more) { wanted_ += more; }

void TargetLink::StartPhase(Phase phase) {
    if (!Connected()) {
        bus_.Errors().Report(
            name_, std::string("phase ") + PhaseName(phase) + " begun while not connected");
        return;
    }
    const bool change = phase != phase_ || (control_ & kPhaseLines) != PhaseLinesOf(phase);
    phase_ = phase;
    bus_.SetBurstPeer(IsDataPhase(phase) ? this : nullptr);
    const std::uint16_t control = kBsy | PhaseLinesOf(phase) | (control_ & kRst);
    DriveLines(control, 0);
    state_ = State::PhaseSettle;
    const auto& timing = bus_.Timing();
    Schedule(
        change ? timing.bus_settle_delay : timing.target_response, [this] { PresentByte(); },
        "present byte");
}

bool TargetLink::PhaseComplete() const {
    if (IsInPhase(phase_)) return sent_ >= send_.size();
    if (until_attention_) return last_byte_ && !received_.empty();
    return received_.size() >= wanted_;
}

void TargetLink::PresentByte() {
    if (PhaseComplete()) {
        FinishPhase();
        return;
    }
    const std::uint16_t control = kBsy | PhaseLinesOf(phase_) | (control_ & kRst);
    if (IsInPhase(phase_)) {
        // Data first, REQ once it has settled on the cable.
        DriveLines(control, send_[sent_]);
        Schedule(
            bus_.Timing().DataSetup(),
            [this, control] {
                DriveLines(control | kReq, data_);
                state_ = State::WaitAck;
            },
            "REQ");
        state_ = State::PhaseSettle;
    } else {
        DriveLines(control | kReq, 0);
        state_ = State::WaitAck;
    }
}

void TargetLink::OnAck() {
    if (stick_req_) {
        stick_req_ = false;
        req_stuck_ = true;
        state_ = State::WaitAckRelease;
        return;  // REQ stays asserted until a bus reset
    }
    DriveLines(control_ & ~kReq, data_);
    state_ = State::WaitAckRelease;
    if (!bus_.Lines().Has(kAck)) {
        OnAckReleased();
    }
}

void TargetLink::OnAckReleased() {
    if (req_stuck_ || state_ != State::WaitAckRelease) return;
    state_ = State::Connected;
    Schedule(
        bus_.Timing().target_response, [this] { PresentByte(); }, "next byte");
}

void TargetLink::FinishPhase() {
    if (bus_.GetBurstPeer() == this) bus_.SetBurstPeer(nullptr);
    DriveLines(control_ & ~kReq, IsInPhase(phase_) ? data_ : 0);
    state_ = State::Connected;
    const std::vector<std::uint8_t> received = std::move(received_);
    received_.clear();
    client_.OnPhaseDone(phase_, received);
}

// ---- Bursts -----------------------------------------------------------------------------------

std::size_t TargetLink::BurstReady() const {
    if (state_ != State::WaitAck || !IsDataPhase(phase_) || req_stuck_) return 0;
    return IsInPhase(phase_) ? send_.size() - sent_ : wanted_ - received_.size();
}

SimTime TargetLink::BurstPeriod() const {
    if (offset_ != 0) return period_;
    return std::max(async_byte_time_, bus_.Timing().async_byte_time);
}

std::vector<std::uint8_t> TargetLink::BurstTakeIn(std::size_t count) {
    count = std::min(count, send_.size() - sent_);
    std::vector<std::uint8_t> bytes(send_.begin() + static_cast<std::ptrdiff_t>(sent_),
                                    send_.begin() + static_cast<std::ptrdiff_t>(sent_ + count));
    sent_ += count;
    state_ = State::Burst;
    return bytes;
}

void TargetLink::BurstDeliverOut(std::span<const std::uint8_t> bytes) {
    received_.insert(received_.end(), bytes.begin(), bytes.end());
    state_ = State::Burst;
}

void TargetLink::BurstEnded(std::size_t /*moved*/) {
    if (state_ != State::Burst) return;  // reset during the burst
    if (PhaseComplete()) {
        FinishPhase();
        return;
    }
    state_ = State::WaitAck;
    if (IsInPhase(phase_)) DriveLines(control_, send_[sent_]);
}

// ---- Connection ---------------------------------------------------------------------------------

void TargetLink::Disconnect() {
    CancelAll();
    ReleaseAll();
    if (reselect_initiator_ >= 0) TryArbitrate();
}

void TargetLink::SetAgreement(SimTime period, std::uint8_t offset) {
    period_ = period;
    offset_ = offset;
}

void TargetLink::StickAck() {
    ack_stuck_ = true;
    DriveLines(control_, data_);
}

void TargetLink::ResetBus(SimTime hold) {
    DriveLines(control_ | kRst, data_);
    clock_.ScheduleAfter(
        hold, [this] { DriveLines(control_ & ~kRst, data_); }, name_ + ": RST release");
}

void TargetLink::Reselect(int initiator_id) {
    reselect_initiator_ = initiator_id;
    if (state_ == State::Idle) TryArbitrate();
}

void TargetLink::TryArbitrate() {
    waiting_bus_free_ = false;
    state_ = State::Reselecting;
    if (!bus_.Arbitrate(slot_, [this](bool won) { OnArbitration(won); })) {
        state_ = State::Idle;
        waiting_bus_free_ = true;  // again at the next bus free
    }
}

void TargetLink::OnArbitration(bool won) {
    if (state_ != State::Reselecting) return;
    if (!won) {
        // The bus released our arbitration lines; a selection of us may follow.
        control_ = 0;
        data_ = 0;
        state_ = State::Idle;
        waiting_bus_free_ = true;
        if (bus_.IsFree())
            Schedule(
                0, [this] { TryArbitrate(); }, "arbitrate again");
        return;
    }
    const auto& timing = bus_.Timing();
    DriveLines(kBsy | kSel, IdBit(id_));
    Schedule(
        timing.bus_clear_delay + timing.bus_settle_delay,
        [this] {
            DriveLines(kBsy | kSel | kIo, IdBit(id_) | IdBit(reselect_initiator_));
            Schedule(
                2 * bus_.Timing().deskew_delay,
                [this] {
                    DriveLines(kSel | kIo, data_);
                    reselection_timeout_ = clock_.ScheduleAfter(
                        bus_.Timing().selection_timeout,
                        [this] {
                            reselect_initiator_ = -1;
                            ReleaseAll();
                            client_.OnReselectionDone(false);
                        },
                        name_ + ": reselection time-out");
                },
                "release BSY");
        },
        "reselect");
}

void TargetLink::OnBusChanged(const BusLines& before, const BusLines& after) {
    auto rose = [&](std::uint16_t line) { return !before.Has(line) && after.Has(line); };
    auto fell = [&](std::uint16_t line) { return before.Has(line) && !after.Has(line); };
    const auto& timing = bus_.Timing();

    if (rose(kRst)) {
        CancelAll();
        stick_req_ = req_stuck_ = ack_stuck_ = false;
        reselect_initiator_ = -1;
        waiting_bus_free_ = false;
        ReleaseAll();
        client_.OnBusReset();
        return;
    }
    if (after.Has(kRst)) return;

    // Selection: SEL with our id and at most one other, BSY released, I/O clear.
    if (state_ == State::Idle && !deaf_ && after.Has(kSel) && !after.Has(kBsy) && !after.Has(kIo) &&
        (after.data & IdBit(id_)) && std::popcount(after.data) <= 2 &&
        (fell(kBsy) || rose(kSel) || before.data != after.data)) {
        Schedule(
            std::max(timing.bus_settle_delay, selection_response_),
            [this] {
                const BusLines lines = bus_.Lines();
                if (state_ != State::Idle || !lines.Has(kSel) || lines.Has(kBsy) ||
                    !(lines.data & IdBit(id_))) {
                    return;
                }
                state_ = State::Selected;
                DriveLines(kBsy, 0);
                const int initiator = [&] {
                    const auto other = static_cast<std::uint8_t>(lines.data & ~IdBit(id_));
                    return other == 0 ? -1 : 7 - std::countl_zero(other);
                }();
                const bool attention = lines.Has(kAtn);
                selected_by_ = initiator;
                attention_at_selection_ = attention;
            },
            "answer selection");
        return;
    }
    if (state_ == State::Selected && fell(kSel)) {
        Schedule(
            timing.deskew_delay,
            [this] {
                state_ = State::Connected;
                client_.OnSelected(selected_by_, attention_at_selection_);
            },
            "selected");
        return;
    }
    // Reselection: the initiator answers with BSY while we hold SEL without BSY.
    if (state_ == State::Reselecting && (control_ & kSel) && !(control_ & kBsy) && rose(kBsy)) {
        clock_.Cancel(reselection_timeout_);
        Schedule(
            timing.deskew_delay,
            [this] {
                DriveLines(kBsy | kSel | kIo, data_);
                Schedule(
                    2 * bus_.Timing().deskew_delay,
                    [this] {
                        reselect_initiator_ = -1;
                        state_ = State::Connected;
                        DriveLines(kBsy | kIo, 0);
                        phase_ = Phase::DataIn;  // I/O alone until the first phase
                        client_.OnReselectionDone(true);
                    },
                    "release SEL");
            },
            "reselected");
        return;
    }
    if (waiting_bus_free_ && state_ == State::Idle && bus_.IsFree() && (fell(kBsy) || fell(kSel))) {
        Schedule(
            0,
            [this] {
                if (waiting_bus_free_ && state_ == State::Idle) TryArbitrate();
            },
            "arbitrate at bus free");
        return;
    }

    if (state_ == State::WaitAck && (control_ & kReq) && rose(kAck)) {
        if (IsInPhase(phase_)) {
            ++sent_;
        } else {
            received_.push_back(after.data);
            if (until_attention_) last_byte_ = !after.Has(kAtn);
        }
        state_ = State::WaitAckRelease;  // until REQ is released below
        Schedule(
            timing.target_response, [this] { OnAck(); }, "release REQ");
        return;
    }
    if (state_ == State::WaitAckRelease && fell(kAck) && !(control_ & kReq)) {
        OnAckReleased();
    }
}

}  // namespace quell::sim::scsi
