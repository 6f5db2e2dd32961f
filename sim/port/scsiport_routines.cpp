// The SCSI port routines a miniport calls, each handed to the port driver bound to the
// calling thread.

#include "host/scsiport.h"
#include "sim/port/port_driver.h"

using quell::sim::PortDriver;

extern "C" {

ULONG ScsiPortInitialize(PVOID Argument1, PVOID Argument2,
                         PHW_INITIALIZATION_DATA HwInitializationData, PVOID HwContext) {
    return PortDriver::Current(__func__).Initialize(Argument1, Argument2, HwInitializationData,
                                                    HwContext);
}

}  // extern "C"
