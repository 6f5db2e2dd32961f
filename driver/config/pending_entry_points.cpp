// Entry routines whose subsystems are not built yet. Each answers as an adapter that cannot
// serve: initialisation fails, so the port driver sends no request. Every routine moves to its
// own subsystem's file when that subsystem is built.

#include "driver/config/entry_points.h"

namespace quell {

BOOLEAN MiniportInitialize(PVOID) { return FALSE; }

BOOLEAN MiniportStartIo(PVOID, PSCSI_REQUEST_BLOCK) { return FALSE; }

BOOLEAN MiniportInterrupt(PVOID) { return FALSE; }

BOOLEAN MiniportResetBus(PVOID, ULONG) { return FALSE; }

BOOLEAN MiniportAdapterState(PVOID, PVOID, BOOLEAN) { return FALSE; }

SCSI_ADAPTER_CONTROL_STATUS MiniportAdapterControl(PVOID, SCSI_ADAPTER_CONTROL_TYPE, PVOID) {
    return ScsiAdapterControlUnsuccessful;
}

}  // namespace quell
