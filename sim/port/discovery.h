// The port driver's adapter discovery: every PCI function that carries the registration's
// vendor and device text is offered to the miniport's HwFindAdapter with a configuration
// filled as a real port driver fills it, until the miniport answers FALSE through Again. The
// configuration routines a miniport calls while it is offered an adapter (device bases, bus
// data, the uncached extension) are served here, per adapter.
//
// Discovery needs no whole machine: configuration space, simulated memory and the device
// mappings are enough, and a test may offer one chosen function directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/scsiport.h"
#include "sim/pc/firmware_area.h"
#include "sim/pc/pci_config_space.h"
#include "sim/pc/physical_memory.h"
#include "sim/port/device_mappings.h"
#include "sim/w9x/adapter_record.h"

namespace quell::sim {

struct Registration;

// What the machine tells discovery beyond configuration space.
struct DiscoveryHost {
    std::optional<std::string> argument_string;  // nothing: the miniport is handed NULL
    // The 9x port driver's record in front of the extension of the adapter at a location; an
    // adapter without one has zeros there.
    std::map<PciLocation, AdapterRecord> adapter_records;
    bool refuse_uncached_extension = false;
    std::uint32_t uncached_misalign = 0;  // bytes past a page boundary, to test alignment
    PagePlacement uncached_placement = PagePlacement::Contiguous;
    bool refuse_memory_mappings = false;  // memory-space device bases other than the firmware
    bool refuse_firmware_mapping = false;
};

// A base handed out by ScsiPortGetDeviceBase.
struct DeviceBase {
    void* mapped = nullptr;
    std::uint64_t address = 0;
    std::uint32_t length = 0;
    bool in_io_space = false;
    bool released = false;
};

// One function offered to the miniport, and what became of it.
struct OfferedAdapter {
    PciLocation location;
    ULONG result = SP_RETURN_NOT_FOUND;
    BOOLEAN again = FALSE;
    std::span<std::byte> storage;  // the port driver's record, then the extension
    void* extension = nullptr;
    PORT_CONFIGURATION_INFORMATION config{};
    std::vector<ACCESS_RANGE> ranges;          // config.AccessRanges points here
    std::vector<ACCESS_RANGE> claimed_ranges;  // as the port driver first filled them
    std::vector<char> argument_string;         // the miniport's copy; empty: NULL was passed
    std::span<std::byte> uncached;
    std::vector<DeviceBase> bases;
    std::array<std::uint8_t, kFirmwareAreaLength> firmware_view{};

    bool Found() const { return result == SP_RETURN_FOUND; }
    std::size_t LiveBases() const;
};

class Discovery {
public:
    Discovery() = default;
    Discovery(const Discovery&) = delete;
    Discovery& operator=(const Discovery&) = delete;

    // What discovery reaches. Without configuration space ScsiPortInitialize only records
    // the registration.
    void AttachPci(PciConfigSpace& pci) { pci_ = &pci; }
    void AttachFirmware(const FirmwareArea& firmware) { firmware_ = &firmware; }
    bool Ready() const { return pci_ != nullptr; }
    DiscoveryHost& Host() { return host_; }

    // The functions whose vendor and device IDs match the registration's hexadecimal texts
    // (compared without regard to case), in bus, device, function order.
    std::vector<PciLocation> Candidates(const Registration& registration) const;

    // Offers every candidate in turn until the miniport answers FALSE through Again; answers
    // how many adapters were found.
    std::size_t OfferAll(const Registration& registration, PhysicalMemory& memory,
                         DeviceMappings& mappings);
    // Offers one function and answers what became of it.
    OfferedAdapter& Offer(const Registration& registration, PciLocation location,
                          PhysicalMemory& memory, DeviceMappings& mappings);

    // Every offer made, found or not, in order; and the adapters kept for the run time.
    const std::vector<std::unique_ptr<OfferedAdapter>>& Offers() const { return offers_; }
    std::vector<OfferedAdapter*> FoundAdapters() const;

    // ---- the configuration routines, for the adapter whose extension is given ----
    void* GetDeviceBase(const char* routine, void* extension, std::uint64_t address,
                        std::uint32_t length, bool in_io_space, DeviceMappings& mappings);
    void FreeDeviceBase(const char* routine, void* extension, void* mapped,
                        DeviceMappings& mappings);
    ULONG GetBusData(ULONG bus, ULONG slot, std::span<std::uint8_t> out) const;
    ULONG SetBusData(ULONG bus, ULONG slot, ULONG offset, std::span<const std::uint8_t> in);
    void* GetUncachedExtension(const char* routine, void* extension, ULONG length,
                               PhysicalMemory& memory);

    OfferedAdapter& AdapterOf(const char* routine, const void* extension) const;

private:
    void FillConfiguration(OfferedAdapter& adapter, const Registration& registration,
                           const PciFunction& function) const;
    void ReleaseBases(OfferedAdapter& adapter, DeviceMappings& mappings);

    PciConfigSpace* pci_ = nullptr;
    const FirmwareArea* firmware_ = nullptr;
    DiscoveryHost host_;
    std::vector<std::unique_ptr<OfferedAdapter>> offers_;
};

}  // namespace quell::sim
