// The FIFO routine pairs discovery installs per adapter: the I/O-port data register for
// modes 0 and 3, the memory window for mode 5. Each moves exactly Count bytes.
#pragma once

#include "driver/core/adapter.h"

namespace quell {

VOID ReadFifoPort(PADAPTER_EXTENSION Adapter, PUCHAR Buffer, ULONG Count);
VOID WriteFifoPort(PADAPTER_EXTENSION Adapter, PUCHAR Buffer, ULONG Count);
VOID ReadFifoWindow(PADAPTER_EXTENSION Adapter, PUCHAR Buffer, ULONG Count);
VOID WriteFifoWindow(PADAPTER_EXTENSION Adapter, PUCHAR Buffer, ULONG Count);

}  // namespace quell
