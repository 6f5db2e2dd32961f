// A machine assembled from its description: the PC platform, simulated memory and bus, the
// controllers' registers on the bus, the port driver with its discovery, and both kernels with
// the host facts the driver's checks read.
#pragma once

#include <memory>
#include <vector>

#include "sim/machine/adapter_hardware.h"
#include "sim/machine/machine_description.h"
#include "sim/nt/nt_kernel.h"
#include "sim/pc/device_bus.h"
#include "sim/pc/pc_platform.h"
#include "sim/pc/physical_memory.h"
#include "sim/port/port_driver.h"
#include "sim/time/clock.h"
#include "sim/w9x/w9x_kernel.h"

namespace quell::sim {

class Machine {
public:
    explicit Machine(const MachineDescription& description);
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Binds every host subsystem of this machine to the calling thread while it lives.
    class Bindings {
    public:
        explicit Bindings(Machine& machine)
            : pc_(machine.pc), port_(machine.port), nt_(machine.nt), w9x_(machine.w9x) {}

    private:
        PcPlatform::Binding pc_;
        PortDriver::Binding port_;
        NtKernel::Binding nt_;
        W9xKernel::Binding w9x_;
    };

    const MachineDescription& Description() const { return description_; }
    // Which system's port driver runs the adapters the driver claims (default: NT).
    void SetPersonality(PortPersonality personality) { personality_ = personality; }
    // The card at a PCI location, or nothing.
    AdapterHardware* HardwareAt(PciLocation location);
    const AdapterHardware* HardwareAt(PciLocation location) const {
        return const_cast<Machine*>(this)->HardwareAt(location);
    }

    MachineDescription description_;
    Clock clock;
    PhysicalMemory memory;
    DeviceBus bus{&clock};
    PcPlatform pc;
    NtKernel nt;
    W9xKernel w9x;
    PortDriver port;
    std::vector<std::unique_ptr<AdapterHardware>> cards;  // one per adapter description

private:
    void AddAdapter(const AdapterDescription& adapter);

    PortPersonality personality_ = PortPersonality::Nt;
};

// The registry paths of the PCI enumeration in each system.
inline constexpr char16_t kNtPciEnumerationPath[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\PCI";
inline constexpr char kW9xPciEnumerationPath[] = "Enum\\PCI";
inline constexpr char kW9xClassKeyPrefix[] = "system\\CurrentControlSet\\Services\\Class\\";

}  // namespace quell::sim
