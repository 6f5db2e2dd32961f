// The port driver's configuration routines: device bases, bus data and the uncached
// extension, served by the discovery of the port driver bound to the calling thread.

#include <cstdint>

#include "host/scsiport.h"
#include "sim/port/port_driver.h"

using quell::sim::PortDriver;

namespace {

// Only the PCI configuration space is served; other bus-data types read nothing.
bool IsPciConfiguration(ULONG bus_data_type) { return bus_data_type == PCIConfiguration; }

}  // namespace

extern "C" {

SCSI_PHYSICAL_ADDRESS ScsiPortConvertUlongToPhysicalAddress(ULONG UlongAddress) {
    SCSI_PHYSICAL_ADDRESS address;
    address.QuadPart = UlongAddress;
    return address;
}

PVOID ScsiPortGetDeviceBase(PVOID HwDeviceExtension, INTERFACE_TYPE, ULONG,
                            SCSI_PHYSICAL_ADDRESS IoAddress, ULONG NumberOfBytes,
                            BOOLEAN InIoSpace) {
    PortDriver& port = PortDriver::Current(__func__);
    return port.discovery().GetDeviceBase(__func__, HwDeviceExtension,
                                          static_cast<std::uint64_t>(IoAddress.QuadPart),
                                          NumberOfBytes, InIoSpace != FALSE, port.Mappings());
}

VOID ScsiPortFreeDeviceBase(PVOID HwDeviceExtension, PVOID MappedAddress) {
    PortDriver& port = PortDriver::Current(__func__);
    port.discovery().FreeDeviceBase(__func__, HwDeviceExtension, MappedAddress, port.Mappings());
}

ULONG ScsiPortGetBusData(PVOID DeviceExtension, ULONG BusDataType, ULONG SystemIoBusNumber,
                         ULONG SlotNumber, PVOID Buffer, ULONG Length) {
    PortDriver& port = PortDriver::Current(__func__);
    port.discovery().AdapterOf(__func__, DeviceExtension);
    if (!IsPciConfiguration(BusDataType) || Buffer == nullptr) return 0;
    return port.discovery().GetBusData(SystemIoBusNumber, SlotNumber,
                                       {static_cast<std::uint8_t*>(Buffer), Length});
}

ULONG ScsiPortSetBusDataByOffset(PVOID DeviceExtension, ULONG BusDataType, ULONG SystemIoBusNumber,
                                 ULONG SlotNumber, PVOID Buffer, ULONG Offset, ULONG Length) {
    PortDriver& port = PortDriver::Current(__func__);
    port.discovery().AdapterOf(__func__, DeviceExtension);
    if (!IsPciConfiguration(BusDataType) || Buffer == nullptr) return 0;
    return port.discovery().SetBusData(SystemIoBusNumber, SlotNumber, Offset,
                                       {static_cast<const std::uint8_t*>(Buffer), Length});
}

// The configuration side of the uncached extension: one block per adapter, which the machine
// may refuse. The run time takes the block over with the adapter (PortDriver::AdoptAdapter).
PVOID ScsiPortGetUncachedExtension(PVOID HwDeviceExtension, PPORT_CONFIGURATION_INFORMATION,
                                   ULONG NumberOfBytes) {
    PortDriver& port = PortDriver::Current(__func__);
    if (port.Memory() == nullptr) {
        PortDriver::Fatal(__func__, "uncached memory asked for on a machine without memory");
    }
    return port.discovery().GetUncachedExtension(__func__, HwDeviceExtension, NumberOfBytes,
                                                 *port.Memory());
}

}  // extern "C"
