// The Windows NT kernel stand-in: system version, interrupt request level and the registry
// that the NT kernel routines of host/ntkernel.h reach.
#pragma once

#include "host/ntkernel.h"
#include "sim/nt/registry.h"

namespace quell::sim {

class PciConfigSpace;

class NtKernel {
public:
    NtKernel();
    NtKernel(const NtKernel&) = delete;
    NtKernel& operator=(const NtKernel&) = delete;

    // While a Binding lives, the NT kernel routines called on this thread reach this kernel.
    class Binding {
    public:
        explicit Binding(NtKernel& kernel);
        ~Binding();
        Binding(const Binding&) = delete;
        Binding& operator=(const Binding&) = delete;

    private:
        NtKernel* previous_;
    };

    // The kernel bound to this thread; stops the program with a message naming the routine
    // when none is.
    static NtKernel& Current(const char* routine);

    // What PsGetVersion reports. Default: 5.0, build 2195.
    void SetVersion(ULONG major, ULONG minor, ULONG build);
    ULONG MajorVersion() const { return major_; }
    ULONG MinorVersion() const { return minor_; }
    ULONG BuildNumber() const { return build_; }

    // What KeGetCurrentIrql reports. Default: PASSIVE_LEVEL.
    void SetIrql(KIRQL irql) { irql_ = irql; }
    KIRQL Irql() const { return irql_; }

    // The configuration space HalGetBusData reads; without one every read returns nothing.
    void AttachPci(const PciConfigSpace& pci) { pci_ = &pci; }
    const PciConfigSpace* Pci() const { return pci_; }

    Registry& registry() { return registry_; }
    const Registry& registry() const { return registry_; }

private:
    ULONG major_ = 5;
    ULONG minor_ = 0;
    ULONG build_ = 2195;
    KIRQL irql_ = PASSIVE_LEVEL;
    Registry registry_;
    const PciConfigSpace* pci_ = nullptr;
};

}  // namespace quell::sim
