// The routines the driver registers with the port driver.
#pragma once

#include "host/scsiport.h"

extern "C" ULONG DriverEntry(PVOID Argument1, PVOID Argument2);

namespace quell {

BOOLEAN MiniportInitialize(PVOID DeviceExtension);
BOOLEAN MiniportStartIo(PVOID DeviceExtension, PSCSI_REQUEST_BLOCK Srb);
BOOLEAN MiniportInterrupt(PVOID DeviceExtension);
ULONG MiniportFindAdapter(PVOID DeviceExtension, PVOID HwContext, PVOID BusInformation,
                          PCHAR ArgumentString, PPORT_CONFIGURATION_INFORMATION ConfigInfo,
                          PBOOLEAN Again);
BOOLEAN MiniportResetBus(PVOID DeviceExtension, ULONG PathId);
BOOLEAN MiniportAdapterState(PVOID DeviceExtension, PVOID Context, BOOLEAN SaveState);
SCSI_ADAPTER_CONTROL_STATUS MiniportAdapterControl(PVOID DeviceExtension,
                                                   SCSI_ADAPTER_CONTROL_TYPE ControlType,
                                                   PVOID Parameters);

// quellnt: the major version number of the running system.
ULONG GetOsMajorVersion();

}  // namespace quell
