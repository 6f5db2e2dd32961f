// How a target behaves on the bus, good and bad: its disconnection habits, how it answers a
// synchronous data transfer request, and the faults it commits, each with its trigger.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/scsi/trigger.h"
#include "sim/time/clock.h"

namespace quell::sim::scsi {

enum class DisconnectMode : std::uint8_t {
    Never,         // holds the bus for the whole command
    AfterCommand,  // disconnects once the CDB is in, reselects when the data is ready
    InData,        // SAVE DATA POINTER + DISCONNECT after every `every_bytes` of data
};

struct DisconnectKnob {
    DisconnectMode mode = DisconnectMode::Never;
    std::uint32_t every_bytes = 0;
    bool save_pointers = true;  // InData: SAVE DATA POINTER before each DISCONNECT
    SimTime reselect_delay = 200 * kMicrosecond;
    unsigned reselect_attempts = 8;  // reselections the initiator does not answer, then give up
};

enum class SdtrAnswer : std::uint8_t {
    AsOffered,      // the offer, clamped to what the target can do
    Slower,         // period factor `slower_factor`
    SmallerOffset,  // offset `smaller_offset`
    OffsetZero,     // asynchronous
    OutOfRange,     // offset `out_of_range_offset` (above what any initiator accepts)
    Reject,         // MESSAGE REJECT
    NoAnswer,       // goes bus free
};

struct SyncKnob {
    bool capable = true;  // INQUIRY shows synchronous transfers
    SdtrAnswer answer = SdtrAnswer::AsOffered;
    std::uint8_t min_factor = 0x0C;  // fastest period the target does
    std::uint8_t max_offset = 15;
    std::uint8_t slower_factor = 0x32;
    std::uint8_t smaller_offset = 8;
    std::uint8_t out_of_range_offset = 0x20;
    // The target asks for synchronous transfers itself at its first command after a reset.
    bool target_initiated = false;
    std::uint8_t initiated_factor = 0x19;
    std::uint8_t initiated_offset = 15;
};

enum class FaultKind : std::uint8_t {
    Busy,                   // status BUSY instead of executing
    ReservationConflict,    // status RESERVATION CONFLICT
    ShortTransfer,          // `amount` bytes fewer than the command asks for
    InvalidPhase,           // REQ in phase 1 (or 3 with `amount` 3), then bus free
    UnexpectedBusFree,      // releases BSY without a message
    StuckReq,               // REQ not released after the next byte's ACK
    StuckAck,               // the target holds ACK asserted
    BusReset,               // the target asserts RST
    ModifyDataPointer,      // MODIFY DATA POINTER by `amount` (signed), then carries on
    RestorePointers,        // RESTORE POINTERS, then carries on from the saved pointer
    SkipMessageOut,         // ignores ATN at selection and goes to COMMAND
    MessageOutWithoutAtn,   // asks for a message byte although ATN is not asserted
    UnexpectedReselection,  // after the command, reselects for LUN `amount` with no command
};

enum class Moment : std::uint8_t {
    AfterSelection,
    AfterCommand,  // the CDB is in, before any data
    InData,        // after `at_byte` bytes of the data
    BeforeStatus,
    InStatus,
    InMessageIn,  // the closing COMMAND COMPLETE
    AfterCompletion,
};

struct Fault {
    FaultKind kind = FaultKind::Busy;
    Trigger trigger;
    Moment moment = Moment::AfterCommand;
    std::uint32_t at_byte = 0;
    std::int32_t amount = 0;
};

struct TargetKnobs {
    DisconnectKnob disconnect;
    SyncKnob sync;
    std::vector<Fault> faults;
    SimTime selection_response = 1 * kMicrosecond;
    SimTime async_byte_time = 0;               // 0: the bus default
    SimTime command_time = 20 * kMicrosecond;  // from the CDB to data or status
    SimTime invalid_phase_hold = 100 * kMicrosecond;
    bool unit_attention_at_power_on = true;
    bool unit_attention_after_reset = true;
};

}  // namespace quell::sim::scsi
