// The stand-in SCSI port driver: it takes a miniport's registration and, from there, drives
// the miniport as a strict real port driver would.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/scsiport.h"
#include "sim/pc/device_bus.h"
#include "sim/pc/physical_memory.h"
#include "sim/port/adapter.h"
#include "sim/port/device_mappings.h"
#include "sim/port/discovery.h"
#include "sim/time/clock.h"

namespace quell::sim {

// What a miniport handed to ScsiPortInitialize, copied before the call returns (the record and
// its identifier texts live in the caller's frame).
struct Registration {
    HW_INITIALIZATION_DATA data{};  // fields beyond the stated size stay zero
    ULONG declared_size = 0;
    std::string vendor_id;
    std::string device_id;
    PVOID argument1 = nullptr;
    PVOID argument2 = nullptr;
    PVOID hw_context = nullptr;

    bool HasAdapterControl() const { return declared_size >= sizeof(HW_INITIALIZATION_DATA); }
};

// NTSTATUS-style results the port driver hands back from ScsiPortInitialize.
inline constexpr ULONG kPortStatusSuccess = 0x00000000;
inline constexpr ULONG kPortStatusRevisionMismatch = 0xC0000059;  // record size not understood
inline constexpr ULONG kPortStatusNoSuchDevice = 0xC000000E;

// A rule of the port interface that the miniport (or a caller of the port driver) broke.
struct Violation {
    std::size_t adapter = 0;
    SimTime when = 0;
    std::string what;
};

class PortDriver {
public:
    PortDriver() = default;
    PortDriver(const PortDriver&) = delete;
    PortDriver& operator=(const PortDriver&) = delete;

    // While a Binding lives, the host routines called on this thread reach this port driver.
    class Binding {
    public:
        explicit Binding(PortDriver& port);
        ~Binding();
        Binding(const Binding&) = delete;
        Binding& operator=(const Binding&) = delete;

    private:
        PortDriver* previous_;
    };

    // The port driver bound to this thread; a host routine called without one is a test bug
    // and stops the program with a message naming the routine.
    static PortDriver& Current(const char* routine);

    // ScsiPortInitialize. A record whose size is neither 76 nor 80 bytes is refused. When
    // discovery has configuration space, every matching PCI function is then offered to the
    // miniport; finding none makes the call fail.
    ULONG Initialize(PVOID argument1, PVOID argument2, const HW_INITIALIZATION_DATA* data,
                     PVOID hw_context);

    // The status ScsiPortInitialize returns for an accepted record (a test may choose one).
    void SetInitializeResult(ULONG status) { initialize_result_ = status; }

    // The bus the driver's register accesses go to, the RAM its buffers live in and the
    // machine's clock; all belong to the machine and outlive the port driver's use of them.
    void AttachBus(DeviceBus& bus) { bus_ = &bus; }
    void AttachMemory(PhysicalMemory& memory) { memory_ = &memory; }
    void AttachClock(Clock& clock) { clock_ = &clock; }
    DeviceBus& Bus(const char* routine);
    PhysicalMemory* Memory() { return memory_; }
    DeviceMappings& Mappings() { return mappings_; }
    Clock& TheClock(const char* routine);
    PhysicalMemory& TheMemory(const char* routine);

    // An adapter discovery found, from the registration whose HwFindAdapter accepted it;
    // needs the memory and the clock attached. The adapter lives as long as the port driver.
    Adapter& AddAdapter(const Registration& registration, AdapterSetup setup = {});
    // The same for an adapter discovery found: the run time takes over its extension (with
    // the 9x record in front), its configuration and its uncached extension.
    Adapter& AdoptAdapter(const Registration& registration, const OfferedAdapter& found,
                          AdapterSetup setup = {});
    // The adapter whose device extension this is; nullptr when none is.
    Adapter* AdapterOf(const void* device_extension);
    // The adapter of an extension a host routine was given; an unknown extension stops the
    // run with the routine's name, since nothing can be attributed to it.
    Adapter& AdapterFor(const char* routine, const void* device_extension);
    // Discovery gives back an adapter whose HwFindAdapter did not accept it.
    void RemoveAdapter(Adapter& adapter);
    std::size_t AdapterCount() const { return adapters_.size(); }
    Adapter& AdapterAt(std::size_t index) { return *adapters_.at(index); }

    // Every rule broken so far, in the order it happened.
    void RecordViolation(std::size_t adapter, std::string what);
    const std::vector<Violation>& Violations() const { return violations_; }
    std::vector<std::string> ViolationTexts() const;
    // Turns faults the devices met since the last call (a DMA outside simulated memory) into
    // violations charged to the adapter.
    void CollectModelErrors(std::size_t adapter);

    // The dispatch loop: calls every routine that falls due on any adapter, and otherwise
    // jumps simulated time to the next event, until `done` holds (true) or time reaches
    // `limit` (false, with the clock at the limit). Entered from inside a driver routine, it
    // is a violation and returns false at once.
    bool RunUntil(const std::function<bool()>& done, SimTime limit);
    // A stall is charged to the adapter whose routine makes it.
    void NoteStall(SimTime time);
    void RunFor(SimTime duration);

    Discovery& discovery() { return discovery_; }

    // A fault of the driver the port driver cannot let pass (a register access at an address
    // it never handed out, for one): reported with the routine's name, then the run stops.
    [[noreturn]] static void Fatal(const char* routine, const std::string& what);

    const std::vector<Registration>& Registrations() const { return registrations_; }
    void ClearRegistrations() { registrations_.clear(); }

private:
    ULONG initialize_result_ = kPortStatusSuccess;
    DeviceBus* bus_ = nullptr;
    PhysicalMemory* memory_ = nullptr;
    Clock* clock_ = nullptr;
    std::vector<std::unique_ptr<Adapter>> adapters_;
    std::vector<Violation> violations_;
    bool dispatching_ = false;
    std::size_t dma_faults_reported_ = 0;
    DeviceMappings mappings_;
    std::vector<Registration> registrations_;
    Discovery discovery_;
};

}  // namespace quell::sim
