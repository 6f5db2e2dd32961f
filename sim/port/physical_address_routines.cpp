// ScsiPortGetPhysicalAddress: answered from simulated memory's page map. An adapter the run
// time drives answers for what it handed out (request buffers, SRB extensions, the uncached
// extension); while discovery still offers an adapter, any simulated memory is answered.

#include "host/scsiport.h"
#include "sim/port/port_driver.h"

using quell::sim::PortDriver;

extern "C" {

SCSI_PHYSICAL_ADDRESS ScsiPortGetPhysicalAddress(PVOID HwDeviceExtension, PSCSI_REQUEST_BLOCK Srb,
                                                 PVOID VirtualAddress, PULONG Length) {
    PortDriver& port = PortDriver::Current(__func__);
    if (auto* adapter = port.AdapterOf(HwDeviceExtension)) {
        return adapter->PhysicalAddress(Srb, VirtualAddress, Length);
    }
    const auto translation =
        port.Memory() != nullptr ? port.Memory()->ToPhysical(VirtualAddress) : std::nullopt;
    if (!translation) {
        PortDriver::Fatal(__func__, "address is not simulated memory");
    }
    if (Length != nullptr) *Length = translation->contiguous;
    SCSI_PHYSICAL_ADDRESS address;
    address.QuadPart = static_cast<LONGLONG>(translation->physical);
    return address;
}

}  // extern "C"
