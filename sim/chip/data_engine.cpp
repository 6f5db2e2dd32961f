// Data phases run by the sequencer: bursts between the bus and the FIFO (programmed modes) or
// between the bus and memory through the bus-master engine, the byte count, and the stop
// when the target leaves the phase.
#include <algorithm>

#include "sim/chip/controller.h"

namespace quell::sim::chip {

using scsi::Phase;

bool Controller::DataEngineReady(Phase /*phase*/) const {
    if (!(transfer_control_ & reg::XFER_ENABLE) || cdb_sent_ < cdb_.size()) return false;
    if (transfer_control_ & reg::XFER_BUS_MASTER) return bus_master_ && !dma_.Faulted();
    return (transfer_control_ & (reg::XFER_PORT | reg::XFER_WINDOW)) != 0;
}

SimTime Controller::BytePeriod() const {
    if (SyncOffset() == 0) return config_.async_byte_time;
    const SimTime clock_period = 1000 / std::max<std::uint32_t>(1, config_.clock_mhz);
    return ((sync_params_ >> 4) + 1) * clock_period;
}

// TRANSFER_COUNT: in bus-master mode the engine's count of this data phase, from the 4-byte
// boundary below its address; in the FIFO modes the bytes this connection has moved on the bus.
void Controller::StartDataPhase(Phase phase) {
    data_active_ = true;
    data_phase_ = phase;
    if (transfer_control_ & reg::XFER_BUS_MASTER) count_base_pending_ = true;
    Pump();
}

void Controller::StopDataPhase() {
    data_active_ = false;
    const bool in = data_phase_ == Phase::DataIn;
    if (!in) {
        fifo_.Clear();  // bytes written but never sent are discarded
    }
    count_base_pending_ = false;
    Publish(in ? reg::EV_DATA_IN_STOP : reg::EV_DATA_OUT_STOP);
}

void Controller::Pump() {
    if (!data_active_ || pulled_ || bus_.BurstInFlight() || state_ != SequencerState::Running) {
        return;
    }
    const scsi::BusLines lines = bus_.Lines();
    if (!lines.Has(scsi::kReq) || scsi::PhaseOf(lines.control) != data_phase_) return;
    const bool in = data_phase_ == Phase::DataIn;
    scsi::BurstRequest request;
    request.initiator = slot_;
    request.initiator_period = BytePeriod();
    request.initiator_offset = SyncOffset();
    if (transfer_control_ & reg::XFER_BUS_MASTER) {
        if (!table_taken_) return;  // the fetch pumps when it is done
        if (dma_.Faulted() || dma_.Exhausted()) {
            // Nothing left to move: the target's extra bytes are the driver's business.
            Stop(SequencerState::Manual, 0);
            UpdateInterrupt();
            return;
        }
        if (count_base_pending_) {
            transfer_count_ = dma_.Address() & 3;
            count_base_pending_ = false;
        }
        request.max = std::min<std::size_t>(dma_.EntryRemaining(), config_.max_burst);
        if (!in) {
            request.out.resize(request.max);
            if (!dma_.Fetch(request.out)) {
                Stop(SequencerState::Manual, 0);
                UpdateInterrupt();
                return;
            }
        }
    } else {
        request.max = in ? fifo_.Room() : fifo_.Committed();
        if (request.max == 0) return;  // the target waits for the driver
        if (!in) {
            request.out.resize(request.max);
            fifo_.Peek(request.out);
        }
    }
    request.done = [this](std::vector<std::uint8_t> received, std::size_t moved) {
        if (!pulled_) OnBurstDone(std::move(received), moved);
    };
    bus_.StartBurst(std::move(request));
}

void Controller::OnBurstDone(std::vector<std::uint8_t> in, std::size_t moved) {
    transfer_count_ += static_cast<std::uint32_t>(moved);
    const bool bus_master = (transfer_control_ & reg::XFER_BUS_MASTER) != 0;
    if (data_phase_ == Phase::DataIn) {
        if (bus_master) {
            dma_.Store(in);
        } else if (!fifo_.Push(in)) {
            Error("FIFO overrun on data in");
        }
    } else if (bus_master) {
        dma_.Advance(moved);
    } else {
        fifo_.Drop(moved);
    }
    UpdateInterrupt();
    Pump();
}

// The bus-master engine takes the first entry once both the set-up (TRANSFER_CONTROL 0x0200)
// and a sequencer start or resume with 0xC0 are in place. After a reselection a configured
// fault may drop the set-up instead.
void Controller::ArmTableFetch() {
    if (!(transfer_control_ & reg::XFER_BUS_MASTER) || !bus_master_ || table_taken_ ||
        fetch_pending_) {
        return;
    }
    if (resume_reselection_ && drop_decided_for_ != reselections_) {
        drop_decided_for_ = reselections_;
        bool unused = false;
        if (config_.drop_bus_master_set_up.Fires(reselections_, std::nullopt, clock_.Now(),
                                                 unused)) {
            transfer_control_ &= static_cast<std::uint16_t>(~reg::XFER_BUS_MASTER);
            return;
        }
    }
    fetch_pending_ = true;
    Event(
        config_.table_fetch,
        [this] {
            fetch_pending_ = false;
            if (table_taken_ || !(transfer_control_ & reg::XFER_BUS_MASTER)) return;
            if (!dma_.Load(table_address_)) return;
            table_taken_ = true;
            select_status_ |= reg::SEL_TABLE_TAKEN;
            Pump();
        },
        "table fetch");
}

}  // namespace quell::sim::chip
