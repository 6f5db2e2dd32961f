// The controller's register file as the chip implements it: the I/O window (offsets 0x00-0x4F),
// the indexed registers behind INDEX / INDEXED_DATA, and the 4096-byte memory window. Bits of a
// register stand indented under it; a read and a write that mean different things at one
// offset have a name each.
#pragma once

#include <cstdint>

namespace quell::sim::chip::reg {

// clang-format off

// ---- I/O window --------------------------------------------------------------------------------

inline constexpr std::uint32_t kIoWindowSize = 0x50;

inline constexpr std::uint32_t IRQ_STATUS = 0x00;        // 8/16 R: causes; reading clears latched ones
inline constexpr std::uint16_t   IRQ_PHASE = 0x0007;       // live bus phase: MSG 1, I/O 2, C/D 4
inline constexpr std::uint16_t   IRQ_BUS_FREE = 0x0008;    // latched, with IRQ_PHASE_REQUEST
inline constexpr std::uint16_t   IRQ_RESELECTED = 0x0010;  // latched
inline constexpr std::uint16_t   IRQ_PHASE_REQUEST = 0x0020;  // level: REQ in a phase not run by the sequencer
inline constexpr std::uint16_t   IRQ_BUS_RESET = 0x0040;   // latched
inline constexpr std::uint16_t   IRQ_TIMER = 0x0080;       // latched
inline constexpr std::uint16_t   IRQ_FIFO = 0x0100;        // level: programmed data phase past threshold
inline constexpr std::uint16_t   IRQ_RESERVED = 0x0600;    // never raised
inline constexpr std::uint16_t   IRQ_SEQUENCER = 0x0800;   // level: SEQUENCE_STATUS holds events
inline constexpr std::uint16_t   IRQ_LATCHED = IRQ_BUS_FREE | IRQ_RESELECTED | IRQ_BUS_RESET | IRQ_TIMER;
inline constexpr std::uint32_t IRQ_CONTROL = 0x00;       // 16 W: mask of the interrupt line
inline constexpr std::uint16_t   MASK_SEQUENCE = 0x8000;   // sequencer, phase request, bus free
inline constexpr std::uint16_t   MASK_FIFO = 0x4000;
inline constexpr std::uint16_t   MASK_TIMER = 0x2000;
inline constexpr std::uint16_t   MASK_CONNECTION = 0x1000;  // reselected, bus reset
inline constexpr std::uint16_t   MASK_ALL = 0xF000;

inline constexpr std::uint32_t TRANSFER_CONTROL = 0x02;  // 16 R/W: data-transfer set-up
inline constexpr std::uint16_t   XFER_WINDOW = 0x0001;      // FIFO served through the memory window
inline constexpr std::uint16_t   XFER_PORT = 0x0002;        // FIFO served through FIFO_DATA
inline constexpr std::uint16_t   XFER_ENABLE = 0x0080;      // the sequencer runs data phases
inline constexpr std::uint16_t   XFER_SERVICE = 0x0100;     // R: FIFO service condition; writes ignore it
inline constexpr std::uint16_t   XFER_BUS_MASTER = 0x0200;  // reads 0 once a set-up was dropped
inline constexpr std::uint16_t   XFER_NEW_COMMAND = 0x4000; // empties the FIFO when written
inline constexpr std::uint16_t   XFER_WRITABLE = 0x4383;

inline constexpr std::uint32_t INDEX = 0x04;             // 8 W: indexed register to reach
inline constexpr std::uint32_t CHIP_REVISION = 0x04;     // 16 R: revision in the high byte
inline constexpr std::uint32_t TIMER = 0x06;             // 16 W
inline constexpr std::uint16_t   TIMER_START = 0x0004;      // one interval, then IRQ_TIMER
inline constexpr std::uint16_t   TIMER_STOP = 0x0100;
inline constexpr std::uint32_t INDEXED_DATA = 0x08;      // 8/16 R/W
inline constexpr std::uint32_t INDEXED_DATA_HIGH = 0x0A; // 8/16 R: bits 16-31 of the indexed register
inline constexpr std::uint32_t FIFO_COUNT = 0x0C;        // 16 R: bits 0-8 bytes held
inline constexpr std::uint32_t REG_0F = 0x0F;            // 8 W: selection options, 0 = standard
inline constexpr std::uint32_t SCSI_CONTROL = 0x10;      // 8 R/W: lines driven by hand
inline constexpr std::uint8_t    CTL_RST = 0x02;
inline constexpr std::uint8_t    CTL_ATN = 0x08;
inline constexpr std::uint8_t    CTL_ACK = 0x10;
inline constexpr std::uint8_t    CTL_MANUAL_OUT = 0x40;    // latched: manual out phase
inline constexpr std::uint8_t    CTL_MANUAL = 0x80;        // latched: manual handshake
inline constexpr std::uint8_t    CTL_WRITABLE = 0xDA;
inline constexpr std::uint32_t BUS_MONITOR = 0x12;       // 8 R: the SCSI control lines
inline constexpr std::uint8_t    MON_PHASE = 0x07;
inline constexpr std::uint8_t    MON_BSY = 0x08;
inline constexpr std::uint8_t    MON_ACK = 0x10;
inline constexpr std::uint8_t    MON_REQ = 0x20;
inline constexpr std::uint8_t    MON_SEL = 0x40;
inline constexpr std::uint8_t    MON_ATN = 0x80;
inline constexpr std::uint32_t RESPONSE_CONTROL = 0x12;  // 8 W: bus-response set-up
inline constexpr std::uint8_t    RESP_ANSWER_RESELECTION = 0x20;
inline constexpr std::uint8_t    RESP_WRITABLE = 0x3F;
inline constexpr std::uint32_t COMMAND_DATA = 0x14;      // 8 W: next CDB byte
inline constexpr std::uint32_t REG_16 = 0x16;            // 8 W: test modes, 0 = normal
inline constexpr std::uint32_t SEQUENCE_CONTROL = 0x18;  // 16 W
inline constexpr std::uint16_t   SEQ_OP = 0x000F;
inline constexpr std::uint16_t     SEQ_OP_NONE = 0x0;       // only the attention bit matters
inline constexpr std::uint16_t     SEQ_OP_LOAD_CDB = 0x1;   // empties the CDB buffer
inline constexpr std::uint16_t     SEQ_OP_RESUME_COMMAND = 0x3;
inline constexpr std::uint16_t     SEQ_OP_START = 0x5;      // arbitrate, select, run the command
inline constexpr std::uint16_t     SEQ_OP_RESUME_RESELECTED = 0x8;
inline constexpr std::uint16_t     SEQ_OP_RESUME_MESSAGE = 0xB;
inline constexpr std::uint16_t   SEQ_ATTENTION = 0x0020;
inline constexpr std::uint16_t   SEQ_BUS_MASTER = 0x00C0;
inline constexpr std::uint32_t SELECT_ID = 0x18;         // 8 R: data lines at the last reselection
inline constexpr std::uint32_t SELECT_STATUS = 0x1A;     // 8 R/W
inline constexpr std::uint8_t    SEL_UNDER_WAY = 0x02;     // written: acknowledges 0x02 and 0x04
inline constexpr std::uint8_t    SEL_REFUSED = 0x04;
inline constexpr std::uint8_t    SEL_TABLE_TAKEN = 0x10;
inline constexpr std::uint32_t SYNC_PARAMS = 0x1C;       // 8 W: period code << 4 | offset
inline constexpr std::uint32_t SYNC_EXTRA = 0x1D;        // 8 W: ACK width class 0-3
inline constexpr std::uint32_t SCSI_DATA_HS = 0x20;      // 8 R/W: byte with automatic REQ/ACK
inline constexpr std::uint32_t SCSI_DATA = 0x22;         // 8 R/W: data lines, no handshake
inline constexpr std::uint32_t TRANSFER_COUNT = 0x28;    // 32 R
inline constexpr std::uint32_t FIFO_DATA = 0x30;         // 32 R/W
inline constexpr std::uint32_t BM_CONTROL = 0x38;        // 32 R: engine status; W: 0 resets it
inline constexpr std::uint32_t   BM_HAS_TABLE = 0x01;
inline constexpr std::uint32_t   BM_TABLE_END = 0x02;
inline constexpr std::uint32_t   BM_FAULT = 0x04;
inline constexpr std::uint32_t SG_TABLE_ADDRESS = 0x3C;  // 32 W
inline constexpr std::uint32_t SEQUENCE_STATUS = 0x40;   // 16 R: events; reading clears them
inline constexpr std::uint16_t   EV_COMMAND_DONE = 0x0001;
inline constexpr std::uint16_t   EV_DATA_IN_STOP = 0x0002;
inline constexpr std::uint16_t   EV_DATA_OUT_STOP = 0x0004;
inline constexpr std::uint16_t   EV_STATUS = 0x0010;
inline constexpr std::uint16_t   EV_BUS_FREE = 0x0040;
inline constexpr std::uint16_t   EV_MESSAGE_IN = 0x0080;
inline constexpr std::uint16_t   EV_MESSAGE_OUT = 0x0100;
inline constexpr std::uint16_t   EV_SELECTION_TIMEOUT = 0x0200;
inline constexpr std::uint16_t   EV_COMMAND_COMPLETE = 0x0400;
inline constexpr std::uint16_t   EV_SAVE_DATA_POINTER = 0x0800;
inline constexpr std::uint16_t   EV_DISCONNECT = 0x2000;
inline constexpr std::uint32_t SCSI_STATUS = 0x42;       // 8 R
inline constexpr std::uint32_t MESSAGE_OUT = 0x44;       // 32 W: automatic message-out bytes
inline constexpr std::uint32_t   MSGOUT_VALID = 0x80;      // bits 0-2 the count (1-3), bytes from bit 31 down
inline constexpr std::uint32_t SELECT_TIMEOUT = 0x48;    // 32 W: units of 25 us

// ---- Indexed registers ---------------------------------------------------------------------------

inline constexpr std::uint8_t IDX_SETUP = 0x00;          // 8 R/W: 1 or 2; reads 0 when set-up is lost
inline constexpr std::uint8_t IDX_TERMPOWER = 0x01;      // 8 R/W
inline constexpr std::uint8_t   TERM_SUPPLY_ON = 0x01;     // the adapter's own supply
inline constexpr std::uint8_t   TERM_SENSED = 0x02;        // R: power present on the bus
inline constexpr std::uint8_t IDX_CONFIG = 0x04;         // 16 W: configuration bits 0x047F
inline constexpr std::uint16_t  CONFIG_WRITABLE = 0x047F;
inline constexpr std::uint8_t IDX_SEQUENCER_STATE = 0x05;  // 8 R
inline constexpr std::uint8_t IDX_OUT_THRESHOLD = 0x06;  // 8 W: data out, service while fewer bytes held
inline constexpr std::uint8_t IDX_IN_THRESHOLD = 0x07;   // 8 W: data in, service from this many bytes
inline constexpr std::uint8_t IDX_BURST = 0x0C;          // 16 R/W: bus-master burst set-up
inline constexpr std::uint16_t  BURST_WRITABLE = 0x01FF;
inline constexpr std::uint8_t IDX_BURST_EXTRA = 0x0D;    // 8 W
inline constexpr std::uint8_t IDX_WINDOW_END = 0x10;     // no data: writing the index ends a window write
inline constexpr std::uint8_t IDX_LATENCY = 0x11;        // 16 R/W
inline constexpr std::uint8_t IDX_WINDOW_BASE = 0x13;    // 32 R
inline constexpr std::uint8_t IDX_TIMING = 0x17;         // 8 W: 0x02 slow set-up for the target, else 0

// ---- Memory window ---------------------------------------------------------------------------------

inline constexpr std::uint32_t kMemoryWindowSize = 4096;
inline constexpr std::uint32_t kFifoSize = 256;

// clang-format on

}  // namespace quell::sim::chip::reg
