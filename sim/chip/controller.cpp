#include "sim/chip/controller.h"

#include <bit>

namespace quell::sim::chip {

using scsi::BusLines;

Controller::Controller(Clock& clock, PhysicalMemory& memory, scsi::ScsiBus& bus,
                       scsi::ModelErrors& errors, ChipConfig config)
    : clock_(clock),
      memory_(memory),
      bus_(bus),
      errors_(errors),
      config_(config),
      slot_(bus.Attach("chip", config.scsi_id, this)),
      cable_slot_(bus.Attach("cable", -1, nullptr)),
      dma_(memory, errors),
      latency_(config.latency_reset) {
    if (config_.pull_at) {
        clock_.ScheduleAt(
            *config_.pull_at, [this] { Pull(); }, "chip: card pulled");
    }
    if (config_.lose_set_up_at) {
        clock_.ScheduleAt(
            *config_.lose_set_up_at, [this] { LoseSetUp(); }, "chip: set-up lost");
    }
}

void Controller::Event(SimTime delay, std::function<void()> action, const char* what) {
    if (events_.size() > 16) {
        std::erase_if(events_, [this](Clock::EventId id) { return !clock_.IsPending(id); });
    }
    events_.push_back(clock_.ScheduleAfter(
        delay,
        [this, action = std::move(action)] {
            if (pulled_) return;
            action();
            UpdateInterrupt();
        },
        std::string("chip: ") + what));
}

void Controller::CancelEvents() {
    for (const auto id : events_) clock_.Cancel(id);
    events_.clear();
    clock_.Cancel(selection_timeout_);
    request_check_pending_ = false;
    fetch_pending_ = false;
}

void Controller::Error(const std::string& message) { errors_.Report("chip", message); }

// What the chip drives on the bus follows from its state; this is the one place that says so.
void Controller::UpdateBusDrive() {
    if (pulled_) {
        bus_.Drive(slot_, BusLines{});
        return;
    }
    using namespace scsi;
    std::uint16_t control = 0;
    std::uint8_t data = 0;
    const std::uint8_t own = static_cast<std::uint8_t>(1u << config_.scsi_id);
    if (scsi_control_ & reg::CTL_RST) control |= kRst;
    if (scsi_control_ & reg::CTL_ATN) control |= kAtn;
    if (scsi_control_ & reg::CTL_ACK) control |= kAck;
    switch (select_step_) {
        case SelectStep::None:
            break;
        case SelectStep::Won:
            control |= kBsy | kSel;
            data = own;
            break;
        case SelectStep::Pattern:
            control |= kBsy | kSel;
            [[fallthrough]];
        case SelectStep::Released:
            control |= kSel | (attention_ ? kAtn : 0);
            data = data_latch_;
            break;
    }
    if (state_ == SequencerState::Arbitrating) {
        const BusLines arbitration = bus_.DrivenBy(slot_);
        control |= arbitration.control & kBsy;
        data |= arbitration.data;
    }
    if (state_ == SequencerState::Answering) control |= kBsy;
    if (connected_) {
        if (attention_) control |= kAtn;
        if (sequencer_ack_ || handshake_ack_) control |= kAck;
        if (!bus_.Lines().Has(kIo)) data = data_latch_;  // the initiator drives out phases
    }
    bus_.Drive(slot_, BusLines{control, data});
}

void Controller::StartTimer() {
    clock_.Cancel(timer_);
    timer_ = clock_.ScheduleAfter(
        config_.timer_interval,
        [this] {
            if (pulled_) return;
            latched_ |= reg::IRQ_TIMER;
            UpdateInterrupt();
        },
        "chip: timer");
}

void Controller::Pull() {
    if (pulled_) return;
    pulled_ = true;
    CancelEvents();
    clock_.Cancel(timer_);
    bus_.AbortBurst();
    bus_.Drive(slot_, BusLines{});
    UpdateInterrupt();
}

// Power-on values of everything initialisation writes; the sequencer and the bus are left alone.
void Controller::LoseSetUp() {
    setup_ = 0;
    config_bits_ = 0;
    out_threshold_ = 0x10;
    in_threshold_ = 0x60;
    burst_ = 0;
    burst_extra_ = 0;
    response_control_ = 0;
    supply_on_ = false;
    irq_mask_ = reg::MASK_ALL;
    UpdateInterrupt();
}

void Controller::OnBusChanged(const BusLines& before, const BusLines& after) {
    if (pulled_) return;
    using namespace scsi;
    auto rose = [&](std::uint16_t line) { return !before.Has(line) && after.Has(line); };
    auto fell = [&](std::uint16_t line) { return before.Has(line) && !after.Has(line); };

    if (rose(kRst)) {
        OnBusReset();
        UpdateInterrupt();
        return;
    }
    if (fell(kRst)) {
        ++resets_;
        bool unused = false;
        if (config_.lines_stuck_after_reset.Fires(resets_, std::nullopt, clock_.Now(), unused)) {
            // Lines left floating by a broken cable or terminator: all but ACK read asserted.
            bus_.Drive(cable_slot_, BusLines{kBsy | kSel | kCd | kIo | kMsg | kReq | kAtn, 0xFF});
        }
    }
    if (after.Has(kRst)) return;

    if (select_step_ == SelectStep::Released && rose(kBsy)) {
        Event(
            2 * bus_.Timing().deskew_delay,
            [this] {
                clock_.Cancel(selection_timeout_);
                select_step_ = SelectStep::None;
                connected_ = true;
                state_ = SequencerState::Running;
                UpdateBusDrive();
                ScheduleRequestCheck();
            },
            "selected");
    }
    const std::uint8_t own = static_cast<std::uint8_t>(1u << config_.scsi_id);
    if (state_ == SequencerState::Idle && (response_control_ & reg::RESP_ANSWER_RESELECTION) &&
        after.Has(kSel) && !after.Has(kBsy) && after.Has(kIo) && (after.data & own) &&
        std::popcount(after.data) == 2 && (fell(kBsy) || rose(kSel) || rose(kIo))) {
        Event(
            bus_.Timing().bus_settle_delay, [this] { AnswerReselection(); }, "reselection");
    }
    if (state_ == SequencerState::Answering && fell(kSel) && after.Has(kBsy)) {
        Event(
            bus_.Timing().deskew_delay,
            [this] {
                state_ = SequencerState::Reselected;
                connected_ = true;
                ++reselections_;
                UpdateBusDrive();
                ScheduleRequestCheck();
            },
            "reconnected");
    }
    if (connected_) {
        if (fell(kBsy) && !after.Has(kSel)) {
            OnBusFree();
        } else {
            const bool phase_changed = (before.control ^ after.control) & kPhaseLines;
            if (rose(kReq) || (after.Has(kReq) && phase_changed)) ScheduleRequestCheck();
            if (fell(kReq) && (sequencer_ack_ || handshake_ack_)) {
                Event(
                    config_.ack_release,
                    [this] {
                        const bool sequencer = sequencer_ack_;
                        sequencer_ack_ = handshake_ack_ = false;
                        UpdateBusDrive();
                        if (sequencer) AutoByteDone();
                    },
                    "ACK release");
            }
            if ((before.control ^ after.control) & kIo) UpdateBusDrive();
        }
    }
    UpdateInterrupt();
}

}  // namespace quell::sim::chip
