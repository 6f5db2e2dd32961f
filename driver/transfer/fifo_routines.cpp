// The FIFO routine pairs: the data register in I/O space, used only as strings of 32-bit
// words, and the chip's memory window, whose successive locations deliver or accept successive
// FIFO data. Each routine moves exactly Count bytes and leaves the data pointer and counters
// to its caller.

#include "driver/transfer/fifo_routines.h"

#include "driver/core/build.h"
#include "driver/core/registers.h"
#include "driver/transfer/register_block.h"
#include "host/runtime.h"

namespace quell {
namespace {

// The 1 to 3 bytes past the last whole word travel as one more FIFO word. The word is kept
// per call, so that adapters never share it.
VOID ReadTrailingBytes(PADAPTER_EXTENSION Adapter, PUCHAR Buffer, ULONG Count) {
    ULONG Scratch = 0;
    ScsiPortReadPortBufferUlong(reinterpret_cast<PULONG>(Adapter->PortBase + FIFO_DATA), &Scratch,
                                1);
    memcpy(Buffer, &Scratch, Count);
}

VOID WriteTrailingBytes(PADAPTER_EXTENSION Adapter, PUCHAR Buffer, ULONG Count) {
    ULONG Scratch = 0;  // the rest of the word carries no data
    memcpy(&Scratch, Buffer, Count);
    ScsiPortWritePortBufferUlong(reinterpret_cast<PULONG>(Adapter->PortBase + FIFO_DATA), &Scratch,
                                 1);
}

// quellmp: one piece of a window transfer between the window's base and a linear address.
// Whole words when the piece is a multiple of 4, else 16-bit units, and an odd last byte on
// its own so that no byte is left behind.
VOID MoveWindowPiece(PADAPTER_EXTENSION Adapter, PUCHAR Linear, ULONG Count, BOOLEAN ToMemory) {
    PUCHAR Window = Adapter->MmioWindow;
    if ((Count & 3) == 0) {
        if (ToMemory) {
            ScsiPortReadRegisterBufferUlong(reinterpret_cast<PULONG>(Window),
                                            reinterpret_cast<PULONG>(Linear), Count / 4);
        } else {
            ScsiPortWriteRegisterBufferUlong(reinterpret_cast<PULONG>(Window),
                                             reinterpret_cast<PULONG>(Linear), Count / 4);
        }
        return;
    }
    const ULONG Halves = Count / 2;
    if (ToMemory) {
        ScsiPortReadRegisterBufferUshort(reinterpret_cast<PUSHORT>(Window),
                                         reinterpret_cast<PUSHORT>(Linear), Halves);
        if (Count & 1) {
            ScsiPortReadRegisterBufferUchar(Window + 2 * Halves, Linear + 2 * Halves, 1);
        }
    } else {
        ScsiPortWriteRegisterBufferUshort(reinterpret_cast<PUSHORT>(Window),
                                          reinterpret_cast<PUSHORT>(Linear), Halves);
        if (Count & 1) {
            ScsiPortWriteRegisterBufferUchar(Window + 2 * Halves, Linear + 2 * Halves, 1);
        }
    }
}

// quellmp: the window transfer works on the request's linear segments, found from how far the
// data pointer has moved into the request's buffer. A transfer may cross any number of
// segments; bytes beyond the last segment have no place to go and are not moved. A request
// without a segment list is served from the caller's buffer.
VOID MoveWindowSegments(PADAPTER_EXTENSION Adapter, PUCHAR Buffer, ULONG Count, BOOLEAN ToMemory) {
    PLU_EXTENSION Lu = Adapter->ActiveLu;
    if (Lu == nullptr || Lu->Srb == nullptr || Lu->SegmentCount == 0) {
        MoveWindowPiece(Adapter, Buffer, Count, ToMemory);
        return;
    }
    const ULONG Segments =
        Lu->SegmentCount < kSegmentListEntries ? Lu->SegmentCount : kSegmentListEntries;
    ULONG Offset =
        static_cast<ULONG>(Adapter->DataPointer - static_cast<PUCHAR>(Lu->Srb->DataBuffer));
    ULONG Index = 0;
    while (Index < Segments && Offset >= Lu->SegmentList[Index].Length) {
        Offset -= Lu->SegmentList[Index].Length;
        ++Index;
    }
    ULONG Remaining = Count;
    for (; Remaining > 0 && Index < Segments; ++Index, Offset = 0) {
        const SEGMENT_ENTRY& Segment = Lu->SegmentList[Index];
        ULONG Piece = Segment.Length - Offset;
        if (Piece > Remaining) {
            Piece = Remaining;
        }
        MoveWindowPiece(Adapter, reinterpret_cast<PUCHAR>(Segment.LinearAddress) + Offset, Piece,
                        ToMemory);
        Remaining -= Piece;
    }
}

}  // namespace

VOID ReadFifoPort(PADAPTER_EXTENSION Adapter, PUCHAR Buffer, ULONG Count) {
    // The string call is made even for no whole word, as the chip expects.
    ScsiPortReadPortBufferUlong(reinterpret_cast<PULONG>(Adapter->PortBase + FIFO_DATA),
                                reinterpret_cast<PULONG>(Buffer), Count / 4);
    if (Count & 3) {
        ReadTrailingBytes(Adapter, Buffer + (Count & ~3u), Count & 3);
    }
}

VOID WriteFifoPort(PADAPTER_EXTENSION Adapter, PUCHAR Buffer, ULONG Count) {
    ScsiPortWritePortBufferUlong(reinterpret_cast<PULONG>(Adapter->PortBase + FIFO_DATA),
                                 reinterpret_cast<PULONG>(Buffer), Count / 4);
    if (Count & 3) {
        WriteTrailingBytes(Adapter, Buffer + (Count & ~3u), Count & 3);
    }
}

VOID ReadFifoWindow(PADAPTER_EXTENSION Adapter, PUCHAR Buffer, ULONG Count) {
    if constexpr (kBuildMp) {
        MoveWindowSegments(Adapter, Buffer, Count, TRUE);
    } else {
        ReadRegisterBlock(Adapter->MmioWindow, Buffer, Count);
    }
}

VOID WriteFifoWindow(PADAPTER_EXTENSION Adapter, PUCHAR Buffer, ULONG Count) {
    if constexpr (kBuildMp) {
        MoveWindowSegments(Adapter, Buffer, Count, FALSE);
    } else {
        WriteRegisterBlock(Adapter->MmioWindow, Buffer, Count);
    }
    // An index write with no data access after it ends the window write.
    WriteRegister8(Adapter->PortBase, INDEX, IDX_WINDOW_WRITE_END);
}

}  // namespace quell
