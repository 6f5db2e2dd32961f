// The per-adapter facts and faults a machine description sets for one controller.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/scsi/trigger.h"
#include "sim/time/clock.h"

namespace quell::sim::chip {

// How the IDENTIFY of a reselecting target reaches the driver.
enum class ReselectionReport : std::uint8_t {
    PhaseRequest,  // IRQ_STATUS reselected + phase request in MESSAGE IN, sequencer idle
    MessageByte,   // IRQ_STATUS reselected + a sequencer message-in byte event
};

// What the interrupt line does once the card is pulled.
enum class PulledLine : std::uint8_t { Released, Asserted };

struct ChipConfig {
    std::uint16_t revision = 0x5102;         // CHIP_REVISION; the high byte is the revision
    std::uint32_t window_base = 0xFEB00000;  // IDX_13: physical base of the memory window
    std::uint16_t latency_reset = 0x0040;    // IDX_11 after power-on: high byte 0
    std::uint32_t clock_mhz = 40;            // period codes count clocks of this clock
    int scsi_id = 7;

    SimTime timer_interval = 50 * kMicrosecond;
    SimTime table_fetch = 1 * kMicrosecond;  // bus-master engine taking a table entry
    SimTime async_byte_time = 330;           // the chip's asynchronous handshake, ~3 MB/s
    SimTime ack_delay = 30;                  // sequencer ACK after REQ (data set-up included)
    SimTime ack_release = 25;                // ACK released after REQ drops
    std::size_t max_burst = 65536;           // bus-master bytes per burst

    ReselectionReport reselection_report = ReselectionReport::PhaseRequest;
    bool command_done_interrupt = false;  // event 0x0001 raises the line by itself
    bool termination_power = true;        // supplied on the bus by someone else

    // Faults.
    std::optional<SimTime> pull_at;  // the card is pulled at this time
    PulledLine pulled_line = PulledLine::Released;
    std::optional<SimTime> lose_set_up_at;  // the chip loses its set-up at this time
    scsi::Trigger lines_stuck_after_reset;  // by reset number: every line but ACK stays asserted
    scsi::Trigger refuse_start;             // by start number: SELECT_STATUS 0x04
    std::uint8_t refused_status = 0x04;     // or 0x06
    scsi::Trigger drop_bus_master_set_up;   // by reselection number: TRANSFER_CONTROL 0x0200 drops
};

}  // namespace quell::sim::chip
