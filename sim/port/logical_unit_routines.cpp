// ScsiPortGetLogicalUnit: the extension of a logical unit the port driver has sent a request
// to, or NULL for one it never addressed.

#include "host/scsiport.h"
#include "sim/port/port_driver.h"

using quell::sim::PortDriver;

extern "C" {

PVOID ScsiPortGetLogicalUnit(PVOID HwDeviceExtension, UCHAR PathId, UCHAR TargetId, UCHAR Lun) {
    return PortDriver::Current(__func__)
        .AdapterFor(__func__, HwDeviceExtension)
        .LogicalUnitExtension(PathId, TargetId, Lun);
}

}  // extern "C"
