// Interrupt causes, the mask and the level-sensitive line.
#include "sim/chip/controller.h"

namespace quell::sim::chip {
namespace {

// The causes each IRQ_CONTROL bit keeps off the line.
constexpr std::uint16_t MaskedCauses(std::uint16_t mask) {
    std::uint16_t masked = 0;
    if (mask & reg::MASK_SEQUENCE) {
        masked |=
            reg::IRQ_SEQUENCER | reg::IRQ_PHASE_REQUEST | reg::IRQ_BUS_FREE | reg::IRQ_RESERVED;
    }
    if (mask & reg::MASK_FIFO) masked |= reg::IRQ_FIFO;
    if (mask & reg::MASK_TIMER) masked |= reg::IRQ_TIMER;
    if (mask & reg::MASK_CONNECTION) masked |= reg::IRQ_RESELECTED | reg::IRQ_BUS_RESET;
    return masked;
}

}  // namespace

// The phase request tells of a phase change: REQ in a phase the sequencer does not run,
// until a read of IRQ_STATUS has reported that phase.
bool Controller::PhaseRequestPending() const {
    if (!connected_ || state_ != SequencerState::Manual) return false;
    const scsi::BusLines lines = bus_.Lines();
    if (!lines.Has(scsi::kReq)) return false;
    return !reported_phase_ || *reported_phase_ != scsi::PhaseOf(lines.control);
}

bool Controller::FifoServicePending() const {
    if (!data_active_ || state_ != SequencerState::Running ||
        !(transfer_control_ & (reg::XFER_PORT | reg::XFER_WINDOW))) {
        return false;
    }
    // The target has left the phase: the stop follows with its REQ in the next phase.
    if (scsi::PhaseOf(bus_.Lines().control) != data_phase_) return false;
    if (data_phase_ == scsi::Phase::DataIn) {
        return fifo_.Size() >= std::max<std::size_t>(4, in_threshold_);
    }
    return fifo_.Size() < out_threshold_;
}

std::uint16_t Controller::Causes() const {
    std::uint16_t causes = latched_;
    if (latched_ & reg::IRQ_BUS_FREE) causes |= reg::IRQ_PHASE_REQUEST;
    if (sequence_status_ != 0) causes |= reg::IRQ_SEQUENCER;
    if (PhaseRequestPending()) causes |= reg::IRQ_PHASE_REQUEST;
    if (FifoServicePending()) causes |= reg::IRQ_FIFO;
    return causes;
}

void Controller::UpdateInterrupt() {
    const bool line = pulled_ ? config_.pulled_line == PulledLine::Asserted
                              : (Causes() & ~MaskedCauses(irq_mask_) & 0x0FF8) != 0;
    if (line == line_) return;
    line_ = line;
    if (interrupt_callback_) interrupt_callback_(line);
}

void Controller::Publish(std::uint16_t events) {
    sequence_status_ |= events | held_events_;
    held_events_ = 0;
}

}  // namespace quell::sim::chip
