// The controller's register map, as the driver reaches it: direct registers at PortBase +
// offset in I/O space, indexed registers behind INDEX / INDEXED_DATA, and the memory window.
// Bits of a register stand indented under it. Where a read and a write at one offset mean
// different things, each has its own name.
#pragma once

#include "host/scsiport.h"

namespace quell {

// clang-format off

// ---- Direct registers (offset, width, direction) --------------------------------------------

inline constexpr ULONG IRQ_STATUS = 0x00;  // 16 R: pending causes
inline constexpr USHORT   IRQ_PHASE_MASK = 0x0007;        // bits 0-2: SCSI bus phase
inline constexpr USHORT   IRQ_BUS_FREE = 0x0008;          // with IRQ_PHASE_REQUEST: bus went free
inline constexpr USHORT   IRQ_RESELECTED = 0x0010;
inline constexpr USHORT   IRQ_PHASE_REQUEST = 0x0020;     // REQ in a phase the sequencer is not running
inline constexpr USHORT   IRQ_BUS_RESET = 0x0040;
inline constexpr USHORT   IRQ_TIMER = 0x0080;
inline constexpr USHORT   IRQ_FIFO_SERVICE = 0x0100;
inline constexpr USHORT   IRQ_SEQUENCE_EVENT = 0x0800;    // SEQUENCE_STATUS holds events
inline constexpr USHORT   IRQ_ANY_CAUSE = 0x0FF0;
inline constexpr USHORT   IRQ_CARD_ABSENT = 0xFFFF;
inline constexpr ULONG IRQ_CONTROL = 0x00;  // 16 W: interrupt mask
inline constexpr USHORT   IRQ_MASK_ALL = 0xF000;
inline constexpr USHORT   IRQ_MASK_TIMER = 0x2000;
inline constexpr USHORT   IRQ_MASK_FIFO = 0x4000;
inline constexpr USHORT   IRQ_TIMER_ONLY = 0xD000;        // every cause masked but the timer
inline constexpr USHORT   IRQ_LAUNCH_CLEARS = 0x8000 | 0x1000;

inline constexpr ULONG TRANSFER_CONTROL = 0x02;  // 16 R/W
inline constexpr USHORT   XFER_STOP = 0x0000;
inline constexpr USHORT   XFER_FIFO_WINDOW = 0x0001;      // mode 5
inline constexpr USHORT   XFER_FIFO_PORT = 0x0002;        // mode 0
inline constexpr USHORT   XFER_RESELECT_BASE = 0x0080;
inline constexpr USHORT   XFER_DIRECT_FIFO = 0x0100;      // cleared by the direct FIFO routines
inline constexpr USHORT   XFER_BUS_MASTER = 0x0200;       // reads 0 once the chip dropped it
inline constexpr USHORT   XFER_LAUNCH_BASE = 0x4080;

inline constexpr ULONG INDEX = 0x04;          // 8 W: index of the indexed register to reach
inline constexpr ULONG CHIP_REVISION = 0x04;  // 16 R
inline constexpr USHORT   CHIP_REVISION_FIRST = 0x5100;   // high byte 0x51..0x5F: supported
inline constexpr USHORT   CHIP_REVISION_LAST = 0x5FFF;
inline constexpr USHORT   CHIP_REVISION_ABSENT = 0xFFFF;

inline constexpr ULONG TIMER = 0x06;  // 16 W: chip interval timer
inline constexpr USHORT   TIMER_START = 0x0004;
inline constexpr USHORT   TIMER_STOP = 0x0100;

inline constexpr ULONG INDEXED_DATA = 0x08;       // 8/16 R/W
inline constexpr ULONG INDEXED_DATA_HIGH = 0x0A;  // 8/16 R: upper half of a 32-bit indexed register
inline constexpr ULONG FIFO_COUNT = 0x0C;         // 16 R
inline constexpr USHORT   FIFO_COUNT_MASK = 0x01FF;
inline constexpr ULONG REG_0F = 0x0F;             // 8 W: 0 at every launch

inline constexpr ULONG SCSI_CONTROL = 0x10;  // 8 R/W: SCSI bus control
inline constexpr UCHAR    SCSI_CONTROL_RST = 0x02;
inline constexpr UCHAR    SCSI_CONTROL_ATN = 0x08;
inline constexpr UCHAR    SCSI_CONTROL_ACK = 0x10;
inline constexpr UCHAR    SCSI_CONTROL_MANUAL_OUT = 0x40;
inline constexpr UCHAR    SCSI_CONTROL_BASE = 0xC0;       // set with ACK; written alone to drop ATN

inline constexpr ULONG BUS_MONITOR = 0x12;  // 8 R: SCSI control lines
inline constexpr UCHAR    BUS_PHASE_MASK = 0x07;
inline constexpr UCHAR    BUS_MSG = 0x01;
inline constexpr UCHAR    BUS_IO = 0x02;
inline constexpr UCHAR    BUS_CD = 0x04;
inline constexpr UCHAR    BUS_BSY = 0x08;
inline constexpr UCHAR    BUS_ACK = 0x10;
inline constexpr UCHAR    BUS_REQ = 0x20;
inline constexpr UCHAR    BUS_SEL = 0x40;
inline constexpr UCHAR    BUS_ATN = 0x80;
inline constexpr UCHAR    BUS_REQ_PHASE_MASK = 0x3F;     // compare ignoring SEL and ATN
inline constexpr UCHAR    BUS_REQ_MESSAGE_OUT = 0x2D;
inline constexpr UCHAR    BUS_REQ_STATUS = 0x2E;
inline constexpr UCHAR    BUS_REQ_MESSAGE_IN = 0x2F;
inline constexpr UCHAR    BUS_AFTER_RESET = 0xEF;        // every line but ACK: lines left floating
inline constexpr ULONG BUS_MONITOR_CONTROL = 0x12;  // 8 W
inline constexpr UCHAR    BUS_MONITOR_INIT = 0x3F;       // at chip initialisation
inline constexpr UCHAR    BUS_MONITOR_RESELECT = 0x2F;   // at reselection

inline constexpr ULONG COMMAND_DATA = 0x14;  // 8 W: the CDB, one byte per write
inline constexpr ULONG REG_16 = 0x16;        // 8 W: 0 at chip initialisation

inline constexpr ULONG SEQUENCE_CONTROL = 0x18;  // 16 W: starts and steers the sequencer
inline constexpr USHORT   SEQ_LOAD_CDB = 0x0001;         // before the CDB is loaded
inline constexpr USHORT   SEQ_RESUME_COMMAND = 0x0003;
inline constexpr USHORT   SEQ_START = 0x0005;
inline constexpr USHORT   SEQ_RESUME_RESELECT = 0x0008;
inline constexpr USHORT   SEQ_RESUME_MESSAGE = 0x000B;
inline constexpr USHORT   SEQ_ATTENTION = 0x0020;
inline constexpr USHORT   SEQ_BUS_MASTER = 0x00C0;
inline constexpr USHORT   SEQ_ABORT = 0x00E8;            // resume with attention for an ABORT
inline constexpr USHORT   SEQ_DROP_ATTENTION = 0x0000;   // before the last message-out byte
inline constexpr ULONG SELECT_ID = 0x18;  // 8 R: at reselection
inline constexpr UCHAR    SELECT_ID_OWN = 0x80;
inline constexpr UCHAR    SELECT_ID_TARGETS = 0x7F;

inline constexpr ULONG SELECT_STATUS = 0x1A;  // 8 R/W
inline constexpr UCHAR    SELECT_UNDER_WAY = 0x02;       // also written to acknowledge
inline constexpr UCHAR    SELECT_REFUSED = 0x04;
inline constexpr UCHAR    SELECT_BM_RESUMED = 0x10;      // after a bus-master reselection

inline constexpr ULONG SYNC_PARAMS = 0x1C;     // 8 W: (period code << 4) | offset
inline constexpr ULONG SYNC_EXTRA = 0x1D;      // 8 W: ACK-width class
inline constexpr ULONG SCSI_DATA_HS = 0x20;    // 8 R/W: data byte with automatic handshake
inline constexpr ULONG SCSI_DATA = 0x22;       // 8 R/W: data lines without handshake
inline constexpr ULONG TRANSFER_COUNT = 0x28;  // 32 R
inline constexpr ULONG FIFO_DATA = 0x30;       // 32 R/W: 32-bit strings only
inline constexpr ULONG BM_CONTROL = 0x38;      // 32 R/W
inline constexpr ULONG SG_TABLE_ADDRESS = 0x3C;  // 32 W

inline constexpr ULONG SEQUENCE_STATUS = 0x40;  // 16 R: sequencer events, clear on read
inline constexpr ULONG SCSI_STATUS = 0x42;      // 8 R: status byte received
inline constexpr ULONG MESSAGE_OUT = 0x44;      // 32 W: (IDENTIFY << 24) | 0x81, or 0
inline constexpr ULONG   MESSAGE_OUT_AUTO_IDENTIFY = 0x81;
inline constexpr ULONG SELECT_TIMEOUT = 0x48;   // 32 W
inline constexpr ULONG   SELECT_TIMEOUT_250MS = 10000;

// ---- Indexed registers -------------------------------------------------------------------------

inline constexpr UCHAR IDX_00 = 0x00;  // 8 R/W: 2 with OPTION_ULTRA else 1; reads 0 once set-up is lost
inline constexpr UCHAR IDX_01 = 0x01;  // 8 R/W: termination power
inline constexpr UCHAR    TERM_POWER_SENSED = 0x02;
inline constexpr UCHAR    TERM_POWER_SUPPLY_ON = 0x01;
inline constexpr UCHAR IDX_04 = 0x04;  // 16 W: chip configuration
inline constexpr USHORT   CONFIG4_INIT = 0x047F;
inline constexpr USHORT   CONFIG4_LAUNCH_BIT = 0x0004;
inline constexpr UCHAR IDX_05 = 0x05;  // 8 R: read by the phase handler, value unused
inline constexpr UCHAR IDX_06 = 0x06;  // 8 W: FIFO set-up
inline constexpr UCHAR IDX_07 = 0x07;  // 8 W: FIFO set-up
inline constexpr UCHAR IDX_0C = 0x0C;  // 16 R/W
inline constexpr UCHAR IDX_0D = 0x0D;  // 8 W
inline constexpr UCHAR IDX_WINDOW_WRITE_END = 0x10;  // written alone after a window write
inline constexpr UCHAR IDX_11 = 0x11;  // 16 R/W: latency in the high byte
inline constexpr UCHAR IDX_13 = 0x13;  // 32 R: physical base of the memory window
inline constexpr UCHAR IDX_17 = 0x17;  // 8 W: 0x02 for a target with TimingQuirk

inline constexpr ULONG MEMORY_WINDOW_SIZE = 4096;

// SCSI bus phases, as IRQ_STATUS and BUS_MONITOR bits 0-2 encode them.
enum SCSI_PHASE : UCHAR {
    PHASE_DATA_OUT = 0,
    PHASE_DATA_IN = 2,
    PHASE_COMMAND = 4,
    PHASE_MESSAGE_OUT = 5,
    PHASE_STATUS = 6,
    PHASE_MESSAGE_IN = 7,
};

// clang-format on

// ---- Access helpers ----------------------------------------------------------------------------
// Every register access goes through the port driver's routines at PortBase + offset.

inline UCHAR ReadRegister8(PUCHAR PortBase, ULONG Offset) {
    return ScsiPortReadPortUchar(PortBase + Offset);
}
inline USHORT ReadRegister16(PUCHAR PortBase, ULONG Offset) {
    return ScsiPortReadPortUshort(reinterpret_cast<PUSHORT>(PortBase + Offset));
}
inline ULONG ReadRegister32(PUCHAR PortBase, ULONG Offset) {
    return ScsiPortReadPortUlong(reinterpret_cast<PULONG>(PortBase + Offset));
}
inline VOID WriteRegister8(PUCHAR PortBase, ULONG Offset, UCHAR Value) {
    ScsiPortWritePortUchar(PortBase + Offset, Value);
}
inline VOID WriteRegister16(PUCHAR PortBase, ULONG Offset, USHORT Value) {
    ScsiPortWritePortUshort(reinterpret_cast<PUSHORT>(PortBase + Offset), Value);
}
inline VOID WriteRegister32(PUCHAR PortBase, ULONG Offset, ULONG Value) {
    ScsiPortWritePortUlong(reinterpret_cast<PULONG>(PortBase + Offset), Value);
}

// Indexed registers: the index is written again before every access, because any other
// routine may have moved it since.
inline UCHAR ReadIndexed8(PUCHAR PortBase, UCHAR Index) {
    WriteRegister8(PortBase, INDEX, Index);
    return ReadRegister8(PortBase, INDEXED_DATA);
}
inline USHORT ReadIndexed16(PUCHAR PortBase, UCHAR Index) {
    WriteRegister8(PortBase, INDEX, Index);
    return ReadRegister16(PortBase, INDEXED_DATA);
}
inline VOID WriteIndexed8(PUCHAR PortBase, UCHAR Index, UCHAR Value) {
    WriteRegister8(PortBase, INDEX, Index);
    WriteRegister8(PortBase, INDEXED_DATA, Value);
}
inline VOID WriteIndexed16(PUCHAR PortBase, UCHAR Index, USHORT Value) {
    WriteRegister8(PortBase, INDEX, Index);
    WriteRegister16(PortBase, INDEXED_DATA, Value);
}
// A 32-bit indexed register: upper half from INDEXED_DATA_HIGH, then the lower half.
inline ULONG ReadIndexed32(PUCHAR PortBase, UCHAR Index) {
    WriteRegister8(PortBase, INDEX, Index);
    ULONG High = ReadRegister16(PortBase, INDEXED_DATA_HIGH);
    ULONG Low = ReadRegister16(PortBase, INDEXED_DATA);
    return (High << 16) | Low;
}

}  // namespace quell
