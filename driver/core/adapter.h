// The driver's state: one ADAPTER_EXTENSION per adapter, one LU_EXTENSION per logical unit and
// one SRB extension per request, all allocated by the port driver. Each target id has a
// TARGET_STATE inside the adapter record.
#pragma once

#include "host/scsiport.h"

namespace quell {

inline constexpr ULONG kTargetCount = 8;
inline constexpr UCHAR kInitiatorId = 7;

// Where the adapter's single active nexus is (BusState).
enum BUS_STATE : ULONG {
    BUS_STATE_CONNECTED = 0,       // an information phase is being served by the interrupt side
    BUS_STATE_SELECTING = 1,       // selection sequence started by the launch
    BUS_STATE_DATA_PIO = 3,        // data phase moved by programmed I/O
    BUS_STATE_COMPLETED = 7,       // COMMAND COMPLETE or an invalid phase: complete at bus free
    BUS_STATE_IDLE = 9,            // no nexus: a command may be launched
    BUS_STATE_DISCONNECTING = 10,  // SAVE DATA POINTER or DISCONNECT: the request stays with its LU
    BUS_STATE_RESELECTED = 11,     // reselected: nexus restored
};

// Transfer modes (AdapterTransferMode, TARGET_STATE.TransferMode, LU_EXTENSION.TransferMode).
enum TRANSFER_MODE : UCHAR {
    TRANSFER_MODE_FIFO_PORT = 0,    // programmed I/O through the FIFO data register
    TRANSFER_MODE_BUS_MASTER = 3,   // the chip follows a scatter/gather table
    TRANSFER_MODE_FIFO_WINDOW = 5,  // programmed I/O through the memory window
};

// TARGET_STATE.Flags
enum : UCHAR {
    TARGET_NEGOTIATED = 0x01,  // negotiation done or under way: no SDTR is offered
    TARGET_NEVER_NEGOTIATE = 0x02,
    TARGET_SDTR_OUTSTANDING = 0x04,  // our SDTR was sent and its answer is outstanding
    TARGET_COMMON_BUFFER = 0x08,     // bus-master data goes through the common buffer
    TARGET_ANSWERED_SDTR = 0x80,     // we answered an SDTR the target started
    // Flags after a target-initiated SDTR accepted with a non-zero offset.
    TARGET_FLAGS_TARGET_SDTR_AGREED = 0xFB,
};

// OptionFlags
enum : USHORT {
    OPTION_NO_DISCONNECT = 0x0001,
    OPTION_SCSI1 = 0x0010,
    OPTION_ULTRA = 0x0020,
    OPTION_AUTO_PROGRAM = 0x0040,
    OPTION_NO_SG = 0x0080,
    OPTION_DMA_OUT_NO_DISCONNECT = 0x0100,
};

// PendingFlags
enum : ULONG {
    PENDING_SRB_WAITING = 0x4,  // PendingSrb holds a request not yet launched
};

// InterruptDelivery
enum INTERRUPT_DELIVERY : UCHAR {
    INTERRUPT_DRIVEN = 0x00,
    INTERRUPT_POLLED = 0x7F,
    INTERRUPT_PROBE_PENDING = 0xFF,
};

// TermPowerStatus
enum : UCHAR {
    TERM_POWER_ADAPTER_SUPPLIES = 0,
    TERM_POWER_PRESENT = 1,
    TERM_POWER_BUS_UNUSABLE = 0xFF,
};

struct _ADAPTER_EXTENSION;

// The FIFO routine pair: moves exactly Count bytes between the FIFO and Buffer.
typedef VOID (*FIFO_ROUTINE)(struct _ADAPTER_EXTENSION* Adapter, PUCHAR Buffer, ULONG Count);

// The chip's scatter/gather element, read from host memory.
typedef struct _SG_ENTRY {
    ULONG PhysicalAddress;
    ULONG ByteCount;  // bits 0-30 the length; bit 31 ends the table
} SG_ENTRY, *PSG_ENTRY;

inline constexpr ULONG SG_END_OF_TABLE = 0x80000000u;
inline constexpr ULONG SG_LENGTH_MASK = 0x7FFFFFFFu;

// quellmp: a linear piece of a request's buffer, length first.
typedef struct _SEGMENT_ENTRY {
    ULONG Length;
    ULONG LinearAddress;
} SEGMENT_ENTRY, *PSEGMENT_ENTRY;

static_assert(sizeof(SG_ENTRY) == 8, "the chip reads 8-byte scatter/gather entries");
static_assert(sizeof(SEGMENT_ENTRY) == 8, "a buffer segment is two 32-bit words");

typedef struct _TARGET_STATE {
    UCHAR Flags;
    UCHAR SyncPeriodCode;  // chip period code; 0 = asynchronous
    UCHAR SyncOffset;      // REQ/ACK offset 0 to 15; 0 = asynchronous
    UCHAR AckWidthClass;   // 0 to 3
    UCHAR TransferMode;
    UCHAR SrbFlagsLow;  // low byte of the latest command's SrbFlags
    UCHAR TimingQuirk;  // non-zero: IDX_17 gets 0x02 when this target is on the bus
} TARGET_STATE, *PTARGET_STATE;

inline constexpr ULONG kSegmentListEntries = 18;

typedef struct _LU_EXTENSION {
    PUCHAR SavedDataPointer;
    ULONG SavedDataRemaining;
    PSCSI_REQUEST_BLOCK Srb;
    ULONG BytesTransferred;
    ULONG PriorTransferCount;
    FIFO_ROUTINE ReadRoutine;
    FIFO_ROUTINE WriteRoutine;
    SEGMENT_ENTRY SegmentList[kSegmentListEntries];
    ULONG SegmentCount;
    UCHAR TransferMode;
    ULONG SgIndex;
    ULONG SgCount;
    PUCHAR CommandBlock;
    PSG_ENTRY SgTable;
    ULONG CommandBlockPhysical;
    ULONG SgTablePhysical;
    UCHAR NextRequestGiven;
    UCHAR LuFlags;
} LU_EXTENSION, *PLU_EXTENSION;

typedef struct _ADAPTER_EXTENSION {
    PUCHAR PortBase;
    ULONG BusState;
    PUCHAR DataPointer;
    ULONG DataRemaining;
    PLU_EXTENSION ActiveLu;
    UCHAR DeviceType[kTargetCount];
    TARGET_STATE Targets[kTargetCount];
    UCHAR AdapterTransferMode;
    UCHAR MessageInBuffer[8];
    UCHAR MessageOutBuffer[6];
    ULONG MessageInCount;
    ULONG MessageOutLength;
    ULONG MessageOutIndex;
    PUCHAR MmioWindow;
    UCHAR ActiveTargetId;
    UCHAR ActiveLun;
    USHORT IrqControlShadow;
    USHORT OptionFlags;
    FIFO_ROUTINE FifoReadRoutine;
    FIFO_ROUTINE FifoWriteRoutine;
    UCHAR AwaitingInterrupt;
    UCHAR CableStatus;
    UCHAR SyncPeriodOption;
    ULONG PendingFlags;
    PSCSI_REQUEST_BLOCK PendingSrb;
    UCHAR TermPowerStatus;
    ULONG AdapterDevNode;
    PUCHAR CommonBuffer;
    ULONG CommonBufferPhysical;
    ULONG ChipClock;
    USHORT Config4Shadow;
    ULONG DevicesFound;
    USHORT IrqStatus;
    UCHAR ScanComplete;
    UCHAR InterruptDelivery;
    UCHAR LatmSetting;
    ULONG LegacyPortQuirk;
    ULONG ResetStallMicroseconds;
    ULONG PciDeviceId;
} ADAPTER_EXTENSION, *PADAPTER_EXTENSION;

// The SRB extension is read by the chip: an 80-byte command area the driver leaves alone, then
// the request's scatter/gather table. Aligning the extension up to 4 may cost one entry.
inline constexpr ULONG kSrbExtensionSize = 232;
inline constexpr ULONG kCommandAreaSize = 80;
inline constexpr ULONG kSgTableBytes = kSrbExtensionSize - kCommandAreaSize;
inline constexpr ULONG kSgEntriesAligned = kSgTableBytes / sizeof(SG_ENTRY);          // 19
inline constexpr ULONG kSgEntriesRealigned = (kSgTableBytes - 4) / sizeof(SG_ENTRY);  // 18

static_assert(kSgEntriesAligned == 19 && kSgEntriesRealigned == 18,
              "the SRB extension holds 19 entries when aligned, 18 when it had to be aligned");

}  // namespace quell
