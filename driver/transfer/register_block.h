// Block copies between memory reached through the port driver's register routines (the common
// buffer, the chip's memory window) and an ordinary buffer.
#pragma once

#include "host/scsiport.h"

namespace quell {

// Copies Count bytes from successive addresses of Range into Buffer.
VOID ReadRegisterBlock(PUCHAR Range, PUCHAR Buffer, ULONG Count);
// Copies Count bytes from Buffer to successive addresses of Range.
VOID WriteRegisterBlock(PUCHAR Range, PUCHAR Buffer, ULONG Count);

}  // namespace quell
