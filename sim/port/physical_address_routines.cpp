// Physical addresses: ScsiPortGetPhysicalAddress answers from simulated memory's page map;
// ScsiPortConvertUlongToPhysicalAddress widens a 32-bit address.

#include "host/scsiport.h"
#include "sim/port/port_driver.h"

using quell::sim::PortDriver;

extern "C" {

SCSI_PHYSICAL_ADDRESS ScsiPortGetPhysicalAddress(PVOID HwDeviceExtension, PSCSI_REQUEST_BLOCK Srb,
                                                 PVOID VirtualAddress, PULONG Length) {
    return PortDriver::Current(__func__)
        .AdapterFor(__func__, HwDeviceExtension)
        .PhysicalAddress(Srb, VirtualAddress, Length);
}

SCSI_PHYSICAL_ADDRESS ScsiPortConvertUlongToPhysicalAddress(ULONG UlongAddress) {
    SCSI_PHYSICAL_ADDRESS address{};
    address.QuadPart = UlongAddress;
    return address;
}

}  // extern "C"
