// The PC platform around the driver: PCI configuration space, the firmware area, the
// processor and the system I/O ports. The PC routines of host/pc.h reach the platform bound to
// the calling thread; the port driver and the kernels reach its configuration space directly.
#pragma once

#include "sim/pc/firmware_area.h"
#include "sim/pc/pci_config_space.h"
#include "sim/pc/processor.h"
#include "sim/pc/system_ports.h"

namespace quell::sim {

class PcPlatform {
public:
    PcPlatform() = default;
    PcPlatform(const PcPlatform&) = delete;
    PcPlatform& operator=(const PcPlatform&) = delete;

    class Binding {
    public:
        explicit Binding(PcPlatform& platform);
        ~Binding();
        Binding(const Binding&) = delete;
        Binding& operator=(const Binding&) = delete;

    private:
        PcPlatform* previous_;
    };

    // The platform bound to this thread; stops the program with a message naming the routine
    // when none is.
    static PcPlatform& Current(const char* routine);

    PciConfigSpace pci;
    FirmwareArea firmware;
    ProcessorIdentity processor;
    SystemPorts ports;
};

}  // namespace quell::sim
