// The Windows 9x kernel stand-in: the virtual machine manager's and the configuration
// manager's services, reached by device and service number through VxdCall, over a registry,
// a tree of device nodes, the machine's physical address space and its PCI BIOS.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "host/w9x.h"
#include "sim/pc/pci_config_space.h"
#include "sim/w9x/w9x_registry.h"

namespace quell::sim {

struct DevNode {
    std::uint32_t parent = 0;  // 0: the root, which has no parent to report
    std::string key_name;      // the configuration manager's registry key name
    std::map<std::string, W9xRegistry::Value> values;  // registry values of the node
};

class W9xKernel {
public:
    W9xKernel() = default;
    W9xKernel(const W9xKernel&) = delete;
    W9xKernel& operator=(const W9xKernel&) = delete;

    class Binding {
    public:
        explicit Binding(W9xKernel& kernel);
        ~Binding();
        Binding(const Binding&) = delete;
        Binding& operator=(const Binding&) = delete;

    private:
        W9xKernel* previous_;
    };

    // The kernel bound to this thread; stops the program with a message naming the routine
    // when none is.
    static W9xKernel& Current(const char* routine);

    W9xRegistry& registry() { return registry_; }

    // Adds a device node and answers its handle.
    std::uint32_t AddDevNode(DevNode node);
    DevNode* FindDevNode(std::uint32_t handle);
    void SetDevNodeString(std::uint32_t handle, const std::string& name, const std::string& text);

    // Physical-to-linear mapping: the machine decides what a physical range maps to (device
    // windows come back as addresses only the register routines may use). Without a mapper,
    // or when it answers nothing, the service fails.
    using PhysicalMapper = std::function<void*(std::uint64_t physical, std::uint32_t length)>;
    void SetPhysicalMapper(PhysicalMapper mapper) { mapper_ = std::move(mapper); }

    // The PCI BIOS behind the software interrupt 0x1A; without configuration space it knows
    // no device.
    void AttachPci(const PciConfigSpace& pci) { pci_ = &pci; }

    // One service call. An unknown service or a wrong argument count is a driver fault.
    ULONG Call(USHORT device, USHORT service, std::span<const ULONG> arguments);

    // How often each (device, service) was called.
    std::uint32_t CallCount(USHORT device, USHORT service) const;

private:
    ULONG MapPhysicalToLinear(std::span<const ULONG> arguments);
    ULONG RunSoftwareInterrupt(std::span<const ULONG> arguments);
    void PciBios(VXD_CLIENT_REGISTERS& registers) const;
    ULONG GetParent(std::span<const ULONG> arguments);
    ULONG GetKeyName(std::span<const ULONG> arguments);
    ULONG ReadDevNodeValue(std::span<const ULONG> arguments);

    W9xRegistry registry_;
    std::map<std::uint32_t, DevNode> devnodes_;
    std::uint32_t next_devnode_ = 0xC2010000;
    PhysicalMapper mapper_;
    const PciConfigSpace* pci_ = nullptr;
    std::map<std::pair<USHORT, USHORT>, std::uint32_t> calls_;
};

}  // namespace quell::sim
