// ScsiPortLogError: entries kept by the adapter for tests and reports.

#include "host/scsiport.h"
#include "sim/port/port_driver.h"

using quell::sim::PortDriver;

extern "C" {

VOID ScsiPortLogError(PVOID HwDeviceExtension, PSCSI_REQUEST_BLOCK Srb, UCHAR PathId,
                      UCHAR TargetId, UCHAR Lun, ULONG ErrorCode, ULONG UniqueId) {
    PortDriver::Current(__func__)
        .AdapterFor(__func__, HwDeviceExtension)
        .LogError(Srb, PathId, TargetId, Lun, ErrorCode, UniqueId);
}

}  // extern "C"
