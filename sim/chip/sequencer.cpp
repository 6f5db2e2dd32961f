// The sequencer: arbitration, selection, the automatic message-out bytes, the CDB, status and
// the closing messages, the stops for the driver and the resumes it writes, reselection, bus
// free and bus reset.
#include <bit>
#include <sstream>

#include "sim/chip/controller.h"

namespace quell::sim::chip {

using scsi::Phase;

void Controller::WriteSequenceControl(std::uint16_t value) {
    const std::uint16_t op = value & reg::SEQ_OP;
    const std::uint16_t master = value & reg::SEQ_BUS_MASTER;
    const bool valid_bits =
        (value & ~(reg::SEQ_OP | reg::SEQ_ATTENTION | reg::SEQ_BUS_MASTER)) == 0 &&
        (master == 0 || master == reg::SEQ_BUS_MASTER);
    if (!valid_bits) {
        BadValue("SEQUENCE_CONTROL", value);
        return;
    }
    switch (op) {
        case reg::SEQ_OP_NONE:
            attention_ = (value & reg::SEQ_ATTENTION) != 0;
            UpdateBusDrive();
            return;
        case reg::SEQ_OP_LOAD_CDB:
            if (value != reg::SEQ_OP_LOAD_CDB) break;
            cdb_.clear();
            return;
        case reg::SEQ_OP_START:
            Start(value);
            return;
        case reg::SEQ_OP_RESUME_COMMAND:
        case reg::SEQ_OP_RESUME_RESELECTED:
        case reg::SEQ_OP_RESUME_MESSAGE:
            Resume(value);
            return;
        default:
            break;
    }
    BadValue("SEQUENCE_CONTROL", value);
}

void Controller::Start(std::uint16_t value) {
    ++starts_;
    bool unused = false;
    const bool refused_by_fault =
        config_.refuse_start.Fires(starts_, std::nullopt, clock_.Now(), unused);
    if (state_ != SequencerState::Idle || !bus_.IsFree() || refused_by_fault) {
        // A target holds the bus (a reselection is under way): the driver tries again later.
        select_status_ |= refused_by_fault ? config_.refused_status : reg::SEL_REFUSED;
        return;
    }
    if (cdb_.empty()) Error("sequencer started with no CDB in COMMAND_DATA");
    if (select_timeout_ == 0) Error("sequencer started with SELECT_TIMEOUT 0");
    auto_message_.clear();
    auto_sent_ = 0;
    if (message_out_ != 0) {
        const std::uint32_t count = message_out_ & 0x07;
        if (!(message_out_ & reg::MSGOUT_VALID) || count == 0 || count > 3 ||
            (message_out_ & 0x78) != 0) {
            BadValue("MESSAGE_OUT", message_out_);
        } else {
            for (std::uint32_t i = 0; i < count; ++i) {
                auto_message_.push_back(static_cast<std::uint8_t>(message_out_ >> (24 - 8 * i)));
            }
        }
    }
    attention_ = (value & reg::SEQ_ATTENTION) != 0;
    bus_master_ = (value & reg::SEQ_BUS_MASTER) == reg::SEQ_BUS_MASTER;
    cdb_sent_ = 0;
    transfer_count_ = 0;
    held_events_ = 0;
    reported_phase_.reset();
    state_ = SequencerState::Arbitrating;
    if (!bus_.Arbitrate(slot_, [this](bool won) { OnArbitration(won); })) {
        state_ = SequencerState::Idle;
        select_status_ |= reg::SEL_REFUSED;
        return;
    }
    resume_reselection_ = false;
    ArmTableFetch();
}

void Controller::OnArbitration(bool won) {
    if (pulled_ || state_ != SequencerState::Arbitrating) return;
    if (!won) {
        state_ = SequencerState::Idle;
        select_status_ |= reg::SEL_REFUSED;
        UpdateBusDrive();
        UpdateInterrupt();
        return;
    }
    select_status_ |= reg::SEL_UNDER_WAY;
    state_ = SequencerState::Selecting;
    select_step_ = SelectStep::Won;
    UpdateBusDrive();
    const auto& timing = bus_.Timing();
    Event(
        timing.bus_clear_delay + timing.bus_settle_delay, [this] { SelectionStep(); }, "selection");
}

void Controller::SelectionStep() {
    const auto own = static_cast<std::uint8_t>(1u << config_.scsi_id);
    const auto other = static_cast<std::uint8_t>(data_latch_ & ~own);
    if (!(data_latch_ & own) || std::popcount(other) != 1) {
        std::ostringstream message;
        message << "selection with SCSI_DATA 0x" << std::hex << int{data_latch_}
                << ": not the adapter's id bit and one target bit";
        Error(message.str());
    }
    select_step_ = SelectStep::Pattern;
    UpdateBusDrive();
    Event(
        2 * bus_.Timing().deskew_delay,
        [this] {
            select_step_ = SelectStep::Released;
            UpdateBusDrive();
            selection_timeout_ = clock_.ScheduleAfter(
                SimTime{select_timeout_} * 25 * kMicrosecond,
                [this] {
                    if (!pulled_) OnSelectionTimeout();
                },
                "chip: selection time-out");
        },
        "release BSY");
}

void Controller::OnSelectionTimeout() {
    select_step_ = SelectStep::None;
    state_ = SequencerState::Idle;
    UpdateBusDrive();
    Publish(reg::EV_SELECTION_TIMEOUT);
    UpdateInterrupt();
}

void Controller::Resume(std::uint16_t value) {
    const std::uint16_t op = value & reg::SEQ_OP;
    if (!connected_) {
        return;  // the connection ended (bus free or reset) before the driver got here
    }
    const bool data_started = data_active_ || transfer_count_ != 0;
    bool allowed = false;
    switch (op) {
        case reg::SEQ_OP_RESUME_COMMAND:
            allowed = state_ == SequencerState::Manual;
            break;
        case reg::SEQ_OP_RESUME_RESELECTED:
            allowed = state_ == SequencerState::Manual || state_ == SequencerState::MessageInStop ||
                      (state_ == SequencerState::Running && !data_started);  // set-up redone
            break;
        case reg::SEQ_OP_RESUME_MESSAGE:
            allowed =
                state_ == SequencerState::MessageInStop || state_ == SequencerState::MessageOutStop;
            break;
    }
    if (!allowed) {
        std::ostringstream message;
        message << "SEQUENCE_CONTROL 0x" << std::hex << value << " while the sequencer is "
                << std::dec << "in state " << static_cast<int>(state_)
                << ", not stopped for that resume";
        Error(message.str());
        return;
    }
    attention_ = (value & reg::SEQ_ATTENTION) != 0;
    bus_master_ = (value & reg::SEQ_BUS_MASTER) == reg::SEQ_BUS_MASTER;
    if (op == reg::SEQ_OP_RESUME_COMMAND) {
        cdb_sent_ = 0;
        auto_sent_ = auto_message_.size();
    } else if (op == reg::SEQ_OP_RESUME_RESELECTED) {
        cdb_sent_ = cdb_.size();
        auto_message_.clear();
        auto_sent_ = 0;
        transfer_count_ = 0;
        resume_reselection_ = true;
        ArmTableFetch();
    }
    state_ = SequencerState::Running;
    reported_phase_.reset();
    UpdateBusDrive();
    ScheduleRequestCheck();
}

void Controller::ScheduleRequestCheck() {
    if (request_check_pending_) return;
    request_check_pending_ = true;
    Event(
        config_.ack_delay / 2, [this] { OnRequest(); }, "REQ");
}

// The target asserts REQ: the sequencer runs the phase, or stops for the driver.
void Controller::OnRequest() {
    request_check_pending_ = false;
    const scsi::BusLines lines = bus_.Lines();
    if (!connected_ || !lines.Has(scsi::kReq) || byte_in_progress_ || sequencer_ack_) return;
    const Phase phase = scsi::PhaseOf(lines.control);
    if (data_active_ && phase != data_phase_) StopDataPhase();
    if (phase != Phase::MessageIn) {
        extended_length_next_ = false;
        extended_left_ = 0;
    }
    switch (state_) {
        case SequencerState::Reselected:
            latched_ |= reg::IRQ_RESELECTED;
            if (phase == Phase::MessageIn &&
                config_.reselection_report == ReselectionReport::MessageByte) {
                Stop(SequencerState::MessageInStop, reg::EV_MESSAGE_IN);
            } else {
                Stop(SequencerState::Manual, 0);
            }
            return;
        case SequencerState::Running:
            RunPhase(phase);
            return;
        default:
            return;  // stopped: the driver serves the phase
    }
}

void Controller::RunPhase(Phase phase) {
    switch (phase) {
        case Phase::MessageOut:
            if (auto_sent_ < auto_message_.size()) {
                if (auto_sent_ + 1 == auto_message_.size()) attention_ = false;  // before its ACK
                auto_kind_ = AutoByte::Message;
                SendAuto(auto_message_[auto_sent_++]);
            } else if (attention_) {
                Stop(SequencerState::MessageOutStop, reg::EV_MESSAGE_OUT);
            } else {
                Stop(SequencerState::Manual, 0);  // MESSAGE OUT without ATN
            }
            return;
        case Phase::Command:
            if (auto_sent_ < auto_message_.size() || cdb_sent_ >= cdb_.size()) {
                Stop(SequencerState::Manual, 0);  // the target skipped the messages, or wants more
                return;
            }
            auto_kind_ = AutoByte::Command;
            SendAuto(cdb_[cdb_sent_++]);
            return;
        case Phase::DataIn:
        case Phase::DataOut:
            if (!DataEngineReady(phase)) {
                Stop(SequencerState::Manual, 0);
            } else if (!data_active_) {
                StartDataPhase(phase);
            } else {
                Pump();
            }
            return;
        case Phase::Status:
            auto_kind_ = AutoByte::Status;
            ReceiveAuto();
            return;
        case Phase::MessageIn: {
            // Bytes of an extended message are the driver's, whatever their value.
            const std::uint8_t byte = bus_.Lines().data;
            if (extended_length_next_) {
                extended_length_next_ = false;
                extended_left_ = byte;
                Stop(SequencerState::MessageInStop, reg::EV_MESSAGE_IN);
            } else if (extended_left_ > 0) {
                --extended_left_;
                Stop(SequencerState::MessageInStop, reg::EV_MESSAGE_IN);
            } else if (byte == 0x01) {
                extended_length_next_ = true;
                Stop(SequencerState::MessageInStop, reg::EV_MESSAGE_IN);
            } else if (byte == 0x00 || byte == 0x02 || byte == 0x04) {
                auto_kind_ = AutoByte::MessageIn;
                ReceiveAuto();
            } else {
                Stop(SequencerState::MessageInStop, reg::EV_MESSAGE_IN);
            }
            return;
        }
        case Phase::Invalid1:
        case Phase::Invalid3:
            Stop(SequencerState::Manual, 0);
            return;
    }
}

void Controller::SendAuto(std::uint8_t byte) {
    byte_in_progress_ = true;
    auto_byte_ = byte;
    data_latch_ = byte;
    UpdateBusDrive();
    AckAfterDelay();
}

void Controller::ReceiveAuto() {
    byte_in_progress_ = true;
    auto_byte_ = bus_.Lines().data;
    AckAfterDelay();
}

// The sequencer answers the target's REQ with ACK once the byte has settled on the lines.
void Controller::AckAfterDelay() {
    Event(
        config_.ack_delay,
        [this] {
            sequencer_ack_ = true;
            UpdateBusDrive();
        },
        "ACK");
}

void Controller::AutoByteDone() {
    byte_in_progress_ = false;
    switch (auto_kind_) {
        case AutoByte::Message:
            break;
        case AutoByte::Command:
            if (cdb_sent_ == cdb_.size()) {
                if (config_.command_done_interrupt) {
                    Publish(reg::EV_COMMAND_DONE);
                } else {
                    Hold(reg::EV_COMMAND_DONE);
                }
            }
            break;
        case AutoByte::Status:
            scsi_status_ = auto_byte_;
            Publish(reg::EV_STATUS);
            break;
        case AutoByte::MessageIn:
            Hold(auto_byte_ == 0x00   ? reg::EV_COMMAND_COMPLETE
                 : auto_byte_ == 0x02 ? reg::EV_SAVE_DATA_POINTER
                                      : reg::EV_DISCONNECT);
            break;
    }
    if (bus_.Lines().Has(scsi::kReq)) ScheduleRequestCheck();
}

void Controller::Stop(SequencerState state, std::uint16_t events) {
    state_ = state;
    reported_phase_.reset();
    if (events != 0 || held_events_ != 0) Publish(events);
}

void Controller::OnBusFree() {
    if (data_active_) StopDataPhase();
    const bool sequencer = state_ == SequencerState::Running ||
                           state_ == SequencerState::MessageInStop ||
                           state_ == SequencerState::MessageOutStop;
    if (sequencer) {
        Publish(reg::EV_BUS_FREE);
    } else {
        held_events_ = 0;
        latched_ |= reg::IRQ_BUS_FREE;  // read together with the phase request
    }
    EndConnection();
}

void Controller::EndConnection() {
    connected_ = false;
    state_ = SequencerState::Idle;
    attention_ = false;
    sequencer_ack_ = handshake_ack_ = byte_in_progress_ = false;
    reported_phase_.reset();
    data_active_ = false;
    auto_message_.clear();
    auto_sent_ = 0;
    extended_length_next_ = false;
    extended_left_ = 0;
    UpdateBusDrive();
}

void Controller::OnBusReset() {
    CancelEvents();
    latched_ |= reg::IRQ_BUS_RESET;
    select_step_ = SelectStep::None;
    sequence_status_ = 0;
    held_events_ = 0;
    select_status_ = 0;
    fifo_.Clear();
    dma_.Reset();
    table_taken_ = false;
    count_base_pending_ = false;
    bus_.Drive(cable_slot_, scsi::BusLines{});
    EndConnection();
}

void Controller::AnswerReselection() {
    const scsi::BusLines lines = bus_.Lines();
    const auto own = static_cast<std::uint8_t>(1u << config_.scsi_id);
    if (state_ != SequencerState::Idle || !lines.Has(scsi::kSel) || lines.Has(scsi::kBsy) ||
        !lines.Has(scsi::kIo) || !(lines.data & own)) {
        return;
    }
    state_ = SequencerState::Answering;
    select_id_ = lines.data;
    UpdateBusDrive();
}

}  // namespace quell::sim::chip
