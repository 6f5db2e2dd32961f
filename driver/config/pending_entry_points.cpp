// Routines whose subsystems are not built yet. Each entry routine answers as an adapter that
// cannot serve (initialisation fails, so the port driver sends no request); the FIFO routines,
// which discovery installs but only the data phases call, move nothing. Every routine moves to
// its own subsystem's file when that subsystem is built.

#include "driver/config/entry_points.h"
#include "driver/transfer/fifo_routines.h"

namespace quell {

BOOLEAN MiniportInitialize(PVOID) { return FALSE; }

BOOLEAN MiniportStartIo(PVOID, PSCSI_REQUEST_BLOCK) { return FALSE; }

BOOLEAN MiniportInterrupt(PVOID) { return FALSE; }

BOOLEAN MiniportResetBus(PVOID, ULONG) { return FALSE; }

BOOLEAN MiniportAdapterState(PVOID, PVOID, BOOLEAN) { return FALSE; }

VOID ReadFifoPort(PADAPTER_EXTENSION, PUCHAR, ULONG) {}
VOID WriteFifoPort(PADAPTER_EXTENSION, PUCHAR, ULONG) {}
VOID ReadFifoWindow(PADAPTER_EXTENSION, PUCHAR, ULONG) {}
VOID WriteFifoWindow(PADAPTER_EXTENSION, PUCHAR, ULONG) {}

SCSI_ADAPTER_CONTROL_STATUS MiniportAdapterControl(PVOID, SCSI_ADAPTER_CONTROL_TYPE, PVOID) {
    return ScsiAdapterControlUnsuccessful;
}

}  // namespace quell
