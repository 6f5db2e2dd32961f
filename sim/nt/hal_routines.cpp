// The hardware layer's bus-data routine: PCI configuration space as the NT kernel bound to the
// calling thread sees it.

#include "host/ntkernel.h"
#include "sim/nt/nt_kernel.h"
#include "sim/pc/pci_config_space.h"

using quell::sim::NtKernel;

extern "C" {

ULONG HalGetBusData(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber, PVOID Buffer,
                    ULONG Length) {
    const NtKernel& kernel = NtKernel::Current(__func__);
    if (BusDataType != PCIConfiguration || kernel.Pci() == nullptr || Buffer == nullptr) {
        return 0;
    }
    return kernel.Pci()->Read(BusNumber, SlotNumber, 0,
                              {static_cast<std::uint8_t*>(Buffer), Length});
}

}  // extern "C"
