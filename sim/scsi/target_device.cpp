#include "sim/scsi/target_device.h"

#include <algorithm>

namespace quell::sim::scsi {

TargetDevice::TargetDevice(ScsiBus& bus, int scsi_id, TargetKnobs knobs)
    : bus_(bus),
      knobs_(std::move(knobs)),
      link_(bus, scsi_id, "target " + std::to_string(scsi_id), *this) {
    link_.SetSelectionResponse(knobs_.selection_response);
    link_.SetAsyncByteTime(knobs_.async_byte_time);
}

void TargetDevice::AddUnit(int lun, std::unique_ptr<LogicalUnit> unit) {
    if (knobs_.unit_attention_at_power_on) unit->OnReset();
    units_.at(static_cast<std::size_t>(lun)) = std::move(unit);
}

LogicalUnit* TargetDevice::Unit(int lun) const {
    return units_.at(static_cast<std::size_t>(lun)).get();
}

void TargetDevice::Later(SimTime delay, std::function<void()> action) {
    std::erase_if(events_, [this](Clock::EventId id) { return !bus_.GetClock().IsPending(id); });
    events_.push_back(
        bus_.GetClock().ScheduleAfter(delay, std::move(action), "target " + std::to_string(Id())));
}

void TargetDevice::Queue(std::vector<std::uint8_t> bytes, enum After after) {
    messages_.push_back(Message{std::move(bytes), after});
}

void TargetDevice::SetAgreement(TransferAgreement agreement) {
    agreement_ = agreement;
    link_.SetAgreement(agreement.offset ? SyncPeriodOfFactor(agreement.factor) : 0,
                       agreement.offset);
}

void TargetDevice::EnterMessageOut() { link_.Receive(Phase::MessageOut, 0, true); }

// ---- Connection ------------------------------------------------------------------------------

void TargetDevice::OnSelected(int initiator_id, bool attention) {
    messages_.clear();
    identified_ = false;
    awaiting_sdtr_reply_ = false;
    last_sent_.reset();
    nexus_ = Nexus{};
    nexus_->initiator = initiator_id < 0 ? 7 : initiator_id;
    nexus_->number = commands_ + 1;
    EvaluateFaults(*nexus_);
    if (!FireFaults(Moment::AfterSelection)) return;
    if (attention && !HasFault(*nexus_, FaultKind::SkipMessageOut, Moment::AfterSelection)) {
        EnterMessageOut();
    } else {
        link_.Receive(Phase::Command, 1);  // no IDENTIFY: logical unit from the CDB
    }
}

void TargetDevice::OnPhaseDone(Phase phase, std::span<const std::uint8_t> received) {
    if (!nexus_) {
        // A reselection without a command (a fault): only IDENTIFY and ABORT are expected.
        if (phase == Phase::MessageOut) HandleMessageOut(received);
        if (link_.Connected()) {
            if (link_.AttentionAsserted()) {
                EnterMessageOut();
            } else {
                link_.Disconnect();
            }
        }
        return;
    }
    switch (phase) {
        case Phase::MessageOut:
            if (HandleMessageOut(received)) Continue();
            return;
        case Phase::Command:
            nexus_->cdb.insert(nexus_->cdb.end(), received.begin(), received.end());
            if (nexus_->cdb.size() < CdbLength(nexus_->cdb[0])) {
                link_.Receive(Phase::Command, CdbLength(nexus_->cdb[0]) - nexus_->cdb.size());
            } else {
                CommandReceived();
            }
            return;
        case Phase::DataIn:
        case Phase::DataOut:
            DataDone(received);
            return;
        case Phase::Status:
            nexus_->stage = Stage::Complete;
            Continue();
            return;
        case Phase::MessageIn:
            MessageInDone();
            return;
        case Phase::Invalid1:
        case Phase::Invalid3:
            return;  // the hold timer ends the connection
    }
}

// The next step of the connected nexus: the initiator's message first, then queued messages,
// then the command's own progress.
void TargetDevice::Continue() {
    if (!nexus_ || !link_.Connected()) return;
    if (link_.AttentionAsserted()) {
        EnterMessageOut();
        return;
    }
    if (!messages_.empty()) {
        if (messages_.front().bytes == std::vector<std::uint8_t>{message::kCommandComplete} &&
            !FireFaults(Moment::InMessageIn)) {
            return;
        }
        link_.Send(Phase::MessageIn, messages_.front().bytes);
        return;
    }
    switch (nexus_->stage) {
        case Stage::Command:
            link_.Receive(Phase::Command, 1);
            return;
        case Stage::Executing:
            return;  // the command timer continues
        case Stage::Data:
            BeginData();
            return;
        case Stage::Status:
            if (!FireFaults(Moment::BeforeStatus) || !FireFaults(Moment::InStatus)) return;
            link_.Send(Phase::Status, {nexus_->status});
            return;
        case Stage::Complete:
            Queue({message::kCommandComplete}, After::Free);
            Continue();
            return;
        case Stage::Aborted:
            Abandon();
            return;
    }
}

void TargetDevice::CommandReceived() {
    Nexus& nexus = *nexus_;
    ++commands_;
    command_log_.push_back(nexus.cdb);
    if (!identified_) nexus.lun = nexus.cdb[1] >> 5;
    nexus.unit = Unit(nexus.lun) ? Unit(nexus.lun) : &absent_;
    nexus.number = commands_;
    EvaluateFaults(nexus);

    if (HasFault(nexus, FaultKind::Busy, Moment::AfterCommand)) {
        nexus.status = status::kBusy;
    } else if (HasFault(nexus, FaultKind::ReservationConflict, Moment::AfterCommand)) {
        nexus.status = status::kReservationConflict;
    } else {
        CommandResult result = nexus.unit->Execute(nexus.cdb);
        nexus.status = result.status;
        nexus.direction = result.direction;
        if (result.direction == DataDirection::In) {
            nexus.data = std::move(result.data_in);
        } else if (result.direction == DataDirection::Out) {
            nexus.data.assign(result.data_out_length, 0);
        }
        for (const auto& active : nexus.faults) {
            if (active.fault->kind == FaultKind::ShortTransfer && !nexus.data.empty()) {
                const auto cut = std::min<std::size_t>(
                    nexus.data.size() - 1,
                    static_cast<std::size_t>(std::max(0, active.fault->amount)));
                nexus.data.resize(nexus.data.size() - cut);
            }
        }
    }
    nexus.stage = Stage::Executing;
    const Stage next = nexus.direction == DataDirection::None ? Stage::Status : Stage::Data;
    if (nexus.disconnect_allowed && knobs_.disconnect.mode == DisconnectMode::AfterCommand) {
        nexus.stage = next;
        Queue({message::kDisconnect}, After::Disconnect);
        if (FireFaults(Moment::AfterCommand)) Continue();
        return;
    }
    // A fault of this moment that takes the bus (a message-out phase) leaves the command to run.
    if (!FireFaults(Moment::AfterCommand) && !nexus_) return;
    Later(knobs_.command_time, [this, next] {
        if (!nexus_ || nexus_->stage != Stage::Executing) return;
        nexus_->stage = next;
        Continue();
    });
}

// ---- Data -----------------------------------------------------------------------------------

void TargetDevice::BeginData() {
    Nexus& nexus = *nexus_;
    if (nexus.position >= nexus.data.size()) {
        if (nexus.direction == DataDirection::Out) {
            nexus.status = nexus.unit->FinishDataOut(nexus.cdb, nexus.data);
        }
        nexus.stage = Stage::Status;
        Continue();
        return;
    }
    if (!FireFaults(Moment::InData)) return;
    if (!messages_.empty()) {
        Continue();  // a message of the fault goes first
        return;
    }
    std::size_t chunk = nexus.data.size() - nexus.position;
    const auto& disconnect = knobs_.disconnect;
    if (nexus.disconnect_allowed && disconnect.mode == DisconnectMode::InData &&
        disconnect.every_bytes != 0) {
        chunk = std::min<std::size_t>(
            chunk, disconnect.every_bytes - nexus.position % disconnect.every_bytes);
    }
    for (const auto& active : nexus.faults) {
        if (!active.fired && active.fault->moment == Moment::InData &&
            active.fault->at_byte > nexus.position) {
            chunk = std::min<std::size_t>(chunk, active.fault->at_byte - nexus.position);
        }
    }
    nexus.chunk = chunk;
    if (nexus.direction == DataDirection::In) {
        const auto first = nexus.data.begin() + static_cast<std::ptrdiff_t>(nexus.position);
        link_.Send(Phase::DataIn,
                   std::vector<std::uint8_t>(first, first + static_cast<std::ptrdiff_t>(chunk)));
    } else {
        link_.Receive(Phase::DataOut, chunk);
    }
}

void TargetDevice::DataDone(std::span<const std::uint8_t> received) {
    Nexus& nexus = *nexus_;
    if (nexus.direction == DataDirection::Out) {
        std::copy(received.begin(), received.end(),
                  nexus.data.begin() + static_cast<std::ptrdiff_t>(nexus.position));
        nexus.position += received.size();
    } else {
        nexus.position += nexus.chunk;
    }
    const auto& disconnect = knobs_.disconnect;
    if (nexus.disconnect_allowed && disconnect.mode == DisconnectMode::InData &&
        disconnect.every_bytes != 0 && nexus.position % disconnect.every_bytes == 0 &&
        nexus.position < nexus.data.size()) {
        if (disconnect.save_pointers) Queue({message::kSaveDataPointer}, After::SaveDataPointer);
        Queue({message::kDisconnect}, After::Disconnect);
    }
    Continue();
}

// ---- Messages in --------------------------------------------------------------------------------

void TargetDevice::MessageInDone() {
    if (messages_.empty()) {
        Continue();
        return;
    }
    const Message sent = std::move(messages_.front());
    messages_.pop_front();
    last_sent_ = sent.bytes[0] == message::kExtended && sent.bytes.size() > 2
                     ? std::optional<std::uint8_t>(0x80 | sent.bytes[2])  // extended: code | 0x80
                     : std::optional<std::uint8_t>(sent.bytes[0]);
    switch (sent.after) {
        case After::None:
            break;
        case After::Identify:
            // A reselected nexus continues from its saved pointer.
            nexus_->position = nexus_->saved_position;
            break;
        case After::SaveDataPointer:
            nexus_->saved_position = nexus_->position;
            break;
        case After::Sdtr:
            if (awaiting_sdtr_reply_) {
                // Our own request: without an answer the transfer stays asynchronous.
                if (!link_.AttentionAsserted()) {
                    awaiting_sdtr_reply_ = false;
                    negotiated_ = true;
                    SetAgreement({});
                }
            } else {
                SetAgreement(offered_);  // our answer; a MESSAGE REJECT would undo it
                negotiated_ = true;
            }
            break;
        case After::Disconnect:
            Disconnect();
            return;
        case After::Free:
            Complete();
            return;
    }
    Continue();
}

void TargetDevice::Disconnect() {
    Nexus nexus = std::move(*nexus_);
    nexus_.reset();
    messages_.clear();
    link_.Disconnect();
    const int lun = nexus.lun;
    disconnected_[lun] = std::move(nexus);
    ScheduleReselection(lun, knobs_.disconnect.reselect_delay);
}

void TargetDevice::Complete() {
    FireFaults(Moment::AfterCompletion);
    nexus_.reset();
    messages_.clear();
    link_.Disconnect();
    StartReselection();
}

void TargetDevice::Abandon() {
    nexus_.reset();
    messages_.clear();
    link_.Disconnect();
    StartReselection();
}

void TargetDevice::ScheduleReselection(int lun, SimTime delay) {
    Later(delay, [this, lun] {
        reselections_.push_back(lun);
        StartReselection();
    });
}

void TargetDevice::StartReselection() {
    if (reselecting_lun_ >= 0 || nexus_ || reselections_.empty()) return;
    reselecting_lun_ = reselections_.front();
    reselections_.pop_front();
    const auto found = disconnected_.find(reselecting_lun_);
    link_.Reselect(found != disconnected_.end() ? found->second.initiator : 7);
}

void TargetDevice::OnReselectionDone(bool answered) {
    const int lun = reselecting_lun_;
    reselecting_lun_ = -1;
    const auto found = disconnected_.find(lun);
    if (!answered) {
        if (found != disconnected_.end() &&
            ++found->second.reselect_failures < knobs_.disconnect.reselect_attempts) {
            ScheduleReselection(lun, knobs_.disconnect.reselect_delay);
        } else if (found != disconnected_.end()) {
            disconnected_.erase(found);  // given up: the initiator's time-out recovers it
        }
        StartReselection();
        return;
    }
    messages_.clear();
    last_sent_.reset();
    awaiting_sdtr_reply_ = false;
    if (found != disconnected_.end()) {
        nexus_ = std::move(found->second);
        disconnected_.erase(found);
        identified_ = true;
    }
    const std::uint8_t identify = static_cast<std::uint8_t>(message::kIdentify | lun);
    if (!nexus_) {
        // No command for this logical unit: the unexpected-reselection fault.
        link_.Send(Phase::MessageIn, {identify});
        return;
    }
    Queue({identify}, After::Identify);
    Continue();
}

void TargetDevice::OnBusReset() {
    for (const auto id : events_) bus_.GetClock().Cancel(id);
    events_.clear();
    nexus_.reset();
    disconnected_.clear();
    reselections_.clear();
    reselecting_lun_ = -1;
    messages_.clear();
    awaiting_sdtr_reply_ = false;
    negotiated_ = false;
    SetAgreement({});
    if (!knobs_.unit_attention_after_reset) return;
    for (auto& unit : units_) {
        if (unit) unit->OnReset();
    }
}

// ---- Messages out -------------------------------------------------------------------------------

bool TargetDevice::HandleMessageOut(std::span<const std::uint8_t> bytes) {
    bool sdtr_seen = false;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::uint8_t byte = bytes[i];
        if (byte & message::kIdentify) {
            if (nexus_) {
                nexus_->lun = byte & 0x07;
                nexus_->disconnect_allowed = (byte & message::kIdentifyDisconnect) != 0;
            }
            identified_ = true;
            ++i;
            continue;
        }
        switch (byte) {
            case message::kExtended: {
                const std::size_t length = i + 1 < bytes.size() ? bytes[i + 1] : 0;
                if (length == 3 && i + 4 < bytes.size() && bytes[i + 2] == message::kSdtrCode) {
                    if (!HandleSdtr(bytes[i + 3], bytes[i + 4])) return false;
                    sdtr_seen = true;
                } else {
                    Queue({message::kMessageReject});
                }
                i += 2 + length;
                continue;
            }
            case message::kAbort:
            case message::kAbortTag:
                if (nexus_) disconnected_.erase(nexus_->lun);
                Abandon();
                return false;
            case message::kBusDeviceReset:
                OnBusReset();
                link_.Disconnect();
                return false;
            case message::kMessageReject:
                if (last_sent_ == (0x80 | message::kSdtrCode)) {
                    awaiting_sdtr_reply_ = false;
                    negotiated_ = true;
                    SetAgreement({});
                }
                break;
            case message::kNoOperation:
            case message::kInitiatorDetectedError:
            case message::kMessageParityError:
                break;
            default:
                Queue({message::kMessageReject});
                break;
        }
        ++i;
    }
    if (!link_.Connected()) return false;
    if (!sdtr_seen && identified_ && !negotiated_ && knobs_.sync.target_initiated &&
        !awaiting_sdtr_reply_ && nexus_ && nexus_->stage == Stage::Command) {
        awaiting_sdtr_reply_ = true;
        Queue({message::kExtended, 3, message::kSdtrCode, knobs_.sync.initiated_factor,
               knobs_.sync.initiated_offset},
              After::Sdtr);
    }
    return true;
}

bool TargetDevice::HandleSdtr(std::uint8_t factor, std::uint8_t offset) {
    const SyncKnob& sync = knobs_.sync;
    if (awaiting_sdtr_reply_) {
        // The initiator's answer to our request settles the agreement.
        awaiting_sdtr_reply_ = false;
        negotiated_ = true;
        SetAgreement({std::max(factor, sync.min_factor), std::min(offset, sync.max_offset)});
        return true;
    }
    if (!sync.capable || sync.answer == SdtrAnswer::Reject) {
        Queue({message::kMessageReject});
        negotiated_ = true;
        SetAgreement({});
        return true;
    }
    TransferAgreement answer{std::max(factor, sync.min_factor), std::min(offset, sync.max_offset)};
    switch (sync.answer) {
        case SdtrAnswer::AsOffered:
            break;
        case SdtrAnswer::Slower:
            answer.factor = std::max(answer.factor, sync.slower_factor);
            break;
        case SdtrAnswer::SmallerOffset:
            answer.offset = std::min(answer.offset, sync.smaller_offset);
            break;
        case SdtrAnswer::OffsetZero:
            answer.offset = 0;
            break;
        case SdtrAnswer::OutOfRange:
            answer.offset = sync.out_of_range_offset;
            break;
        case SdtrAnswer::NoAnswer:
            Abandon();
            return false;
        case SdtrAnswer::Reject:
            break;
    }
    offered_ = answer.offset == 0 ? TransferAgreement{} : answer;
    Queue({message::kExtended, 3, message::kSdtrCode, answer.factor, answer.offset}, After::Sdtr);
    return true;
}

// ---- Faults -------------------------------------------------------------------------------------

// Faults of the selection are decided at selection, the others once the CDB is known.
void TargetDevice::EvaluateFaults(Nexus& nexus) {
    const bool at_selection = nexus.cdb.empty();
    std::erase_if(nexus.faults, [&](const ActiveFault& active) {
        return (active.fault->moment == Moment::AfterSelection) == at_selection;
    });
    const auto blocks =
        nexus.cdb.empty() || !nexus.unit ? std::nullopt : nexus.unit->BlocksOf(nexus.cdb);
    for (const auto& fault : knobs_.faults) {
        if ((fault.moment == Moment::AfterSelection) != at_selection) continue;
        bool& fired = time_fired_[&fault];
        if (fault.trigger.Fires(nexus.number, blocks, bus_.GetClock().Now(), fired)) {
            nexus.faults.push_back(ActiveFault{&fault, false});
        }
    }
}

bool TargetDevice::HasFault(const Nexus& nexus, FaultKind kind, Moment moment) const {
    return std::any_of(nexus.faults.begin(), nexus.faults.end(), [&](const ActiveFault& active) {
        return active.fault->kind == kind && active.fault->moment == moment;
    });
}

bool TargetDevice::FireFaults(Moment moment) {
    if (!nexus_) return false;
    for (auto& active : nexus_->faults) {
        const Fault& fault = *active.fault;
        if (active.fired || fault.moment != moment) continue;
        if (moment == Moment::InData && fault.at_byte != nexus_->position) continue;
        active.fired = true;
        if (!Fire(fault)) return false;
    }
    return true;
}

bool TargetDevice::Fire(const Fault& fault) {
    switch (fault.kind) {
        case FaultKind::Busy:
        case FaultKind::ReservationConflict:
        case FaultKind::ShortTransfer:
        case FaultKind::SkipMessageOut:
            return true;  // applied where the command is decided
        case FaultKind::UnexpectedBusFree:
            Abandon();
            return false;
        case FaultKind::InvalidPhase:
            if (fault.amount == 3) {
                link_.Send(Phase::Invalid3, {0});  // I/O asserted: a byte toward the initiator
            } else {
                link_.Receive(Phase::Invalid1, 1);
            }
            Later(knobs_.invalid_phase_hold, [this] { Abandon(); });
            return false;
        case FaultKind::StuckReq:
            link_.StickReqAtNextByte();
            return true;
        case FaultKind::StuckAck:
            link_.StickAck();
            return true;
        case FaultKind::BusReset:
            link_.ResetBus(bus_.Timing().reset_hold_time);
            return false;
        case FaultKind::ModifyDataPointer: {
            const auto argument = static_cast<std::uint32_t>(fault.amount);
            Queue({message::kExtended, 5, message::kModifyDataPointerCode,
                   static_cast<std::uint8_t>(argument >> 24),
                   static_cast<std::uint8_t>(argument >> 16),
                   static_cast<std::uint8_t>(argument >> 8), static_cast<std::uint8_t>(argument)});
            const auto moved = static_cast<std::int64_t>(nexus_->position) + fault.amount;
            nexus_->position = static_cast<std::size_t>(
                std::clamp<std::int64_t>(moved, 0, static_cast<std::int64_t>(nexus_->data.size())));
            return true;
        }
        case FaultKind::RestorePointers:
            Queue({message::kRestorePointers});
            nexus_->position = nexus_->saved_position;
            return true;
        case FaultKind::MessageOutWithoutAtn:
            link_.Receive(Phase::MessageOut, 1);
            return false;  // OnPhaseDone(MessageOut) carries on
        case FaultKind::UnexpectedReselection:
            ScheduleReselection(fault.amount, knobs_.disconnect.reselect_delay);
            return true;
    }
    return true;
}

}  // namespace quell::sim::scsi
