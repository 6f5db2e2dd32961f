// quellmp copies byte by byte with one platform call; quellnt moves whole 32-bit words first
// and the last 1 to 3 bytes one at a time, at the same offset in range and buffer.

#include "driver/transfer/register_block.h"

#include "driver/core/build.h"

namespace quell {

VOID ReadRegisterBlock(PUCHAR Range, PUCHAR Buffer, ULONG Count) {
    if constexpr (kBuildMp) {
        ScsiPortReadRegisterBufferUchar(Range, Buffer, Count);
    } else {
        const ULONG Whole = Count & ~3u;
        ScsiPortReadRegisterBufferUlong(reinterpret_cast<PULONG>(Range),
                                        reinterpret_cast<PULONG>(Buffer), Count / 4);
        ScsiPortReadRegisterBufferUchar(Range + Whole, Buffer + Whole, Count & 3);
    }
}

VOID WriteRegisterBlock(PUCHAR Range, PUCHAR Buffer, ULONG Count) {
    if constexpr (kBuildMp) {
        ScsiPortWriteRegisterBufferUchar(Range, Buffer, Count);
    } else {
        const ULONG Whole = Count & ~3u;
        ScsiPortWriteRegisterBufferUlong(reinterpret_cast<PULONG>(Range),
                                         reinterpret_cast<PULONG>(Buffer), Count / 4);
        ScsiPortWriteRegisterBufferUchar(Range + Whole, Buffer + Whole, Count & 3);
    }
}

}  // namespace quell
