// Adapter discovery's own steps beyond the MiniportFindAdapter entry point.
#pragma once

#include "driver/core/adapter.h"

namespace quell {

// Maps the chip's I/O window from access range 0 and proves that the chip answers (its
// revision lies in the supported range). On success the mapped base replaces the range's
// start; on failure the mapping is released and PortBase is NULL. Stores FALSE through Again.
BOOLEAN ProbeIoWindow(PADAPTER_EXTENSION Adapter, PPORT_CONFIGURATION_INFORMATION ConfigInfo,
                      PVOID HwContext, PBOOLEAN Again);

}  // namespace quell
