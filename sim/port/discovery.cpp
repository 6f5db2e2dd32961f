#include "sim/port/discovery.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "sim/port/port_driver.h"

namespace quell::sim {
namespace {

constexpr ULONG kTargetsPerBus = 8;
constexpr ULONG kLogicalUnitsPerTarget = 8;

std::string HexText(std::uint16_t value) {
    char text[5];
    std::snprintf(text, sizeof(text), "%04x", value);
    return text;
}

// The registration names its IDs as hexadecimal text; a shorter text matches a prefix.
bool TextMatches(const std::string& registered, std::uint16_t value) {
    const std::string hex = HexText(value);
    if (registered.empty() || registered.size() > hex.size()) return false;
    for (std::size_t i = 0; i < registered.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(registered[i])) != hex[i]) return false;
    }
    return true;
}

bool InsideRange(const ACCESS_RANGE& range, std::uint64_t address, std::uint32_t length) {
    const std::uint64_t start = static_cast<std::uint64_t>(range.RangeStart.QuadPart);
    return address >= start && address + length <= start + range.RangeLength;
}

}  // namespace

std::size_t OfferedAdapter::LiveBases() const {
    return static_cast<std::size_t>(
        std::count_if(bases.begin(), bases.end(), [](const DeviceBase& b) { return !b.released; }));
}

std::vector<PciLocation> Discovery::Candidates(const Registration& registration) const {
    std::vector<PciLocation> candidates;
    if (pci_ == nullptr) return candidates;
    for (const PciLocation& location : pci_->Locations()) {
        if (location.bus >= pci_->BusCount()) continue;
        const PciFunction* function = pci_->Find(location);
        if (TextMatches(registration.vendor_id, function->header.VendorID) &&
            TextMatches(registration.device_id, function->header.DeviceID)) {
            candidates.push_back(location);
        }
    }
    return candidates;
}

std::size_t Discovery::OfferAll(const Registration& registration, PhysicalMemory& memory,
                                DeviceMappings& mappings) {
    std::size_t found = 0;
    for (const PciLocation& location : Candidates(registration)) {
        const OfferedAdapter& offer = Offer(registration, location, memory, mappings);
        if (offer.Found()) ++found;
        if (!offer.again) break;
    }
    return found;
}

void Discovery::FillConfiguration(OfferedAdapter& adapter, const Registration& registration,
                                  const PciFunction& function) const {
    const HW_INITIALIZATION_DATA& data = registration.data;
    PORT_CONFIGURATION_INFORMATION& config = adapter.config;
    config = PORT_CONFIGURATION_INFORMATION{};
    config.Length = sizeof(config);
    config.AdapterInterfaceType = data.AdapterInterfaceType;
    config.SystemIoBusNumber = adapter.location.bus;
    config.SlotNumber = adapter.location.Slot();
    config.BusInterruptLevel = function.header.InterruptLine;
    config.BusInterruptVector = function.header.InterruptLine;
    config.InterruptMode = LevelSensitive;  // PCI interrupts are level-sensitive
    config.MaximumTransferLength = SP_UNINITIALIZED_VALUE;
    config.NumberOfPhysicalBreaks = SP_UNINITIALIZED_VALUE;
    config.DmaChannel = SP_UNINITIALIZED_VALUE;
    config.DmaPort = SP_UNINITIALIZED_VALUE;
    config.DmaChannel2 = SP_UNINITIALIZED_VALUE;
    config.DmaPort2 = SP_UNINITIALIZED_VALUE;
    config.NumberOfBuses = 1;
    std::fill(std::begin(config.InitiatorBusId), std::end(config.InitiatorBusId),
              static_cast<CCHAR>(SP_UNINITIALIZED_VALUE));
    config.MapBuffers = data.MapBuffers;
    config.NeedPhysicalAddresses = data.NeedPhysicalAddresses;
    config.TaggedQueuing = data.TaggedQueuing;
    config.AutoRequestSense = data.AutoRequestSense;
    config.MultipleRequestPerLu = data.MultipleRequestPerLu;
    config.ReceiveEvent = data.ReceiveEvent;
    config.MaximumNumberOfTargets = kTargetsPerBus;
    config.MaximumNumberOfLogicalUnits = kLogicalUnitsPerTarget;
    config.DeviceExtensionSize = data.DeviceExtensionSize;
    config.SpecificLuExtensionSize = data.SpecificLuExtensionSize;
    config.SrbExtensionSize = data.SrbExtensionSize;

    // The access ranges are the function's implemented base addresses, in order.
    adapter.ranges.assign(std::max<ULONG>(data.NumberOfAccessRanges, 1), ACCESS_RANGE{});
    std::size_t next = 0;
    for (std::size_t i = 0; i < PCI_TYPE0_ADDRESSES && next < adapter.ranges.size(); ++i) {
        const ULONG bar = function.header.BaseAddresses[i];
        if (function.bar_sizes[i] == 0 || bar == 0) continue;
        ACCESS_RANGE& range = adapter.ranges[next++];
        const bool io = (bar & PCI_ENABLE_IO_SPACE) != 0;  // bit 0: an I/O base address
        range.RangeStart.QuadPart = io ? (bar & ~0x3u) : (bar & ~0xFu);
        range.RangeLength = function.bar_sizes[i];
        range.RangeInMemory = io ? FALSE : TRUE;
    }
    adapter.claimed_ranges = adapter.ranges;
    config.NumberOfAccessRanges = static_cast<ULONG>(adapter.ranges.size());
    config.AccessRanges = reinterpret_cast<ACCESS_RANGE(*)[]>(adapter.ranges.data());
}

OfferedAdapter& Discovery::Offer(const Registration& registration, PciLocation location,
                                 PhysicalMemory& memory, DeviceMappings& mappings) {
    const PciFunction* function = pci_ != nullptr ? pci_->Find(location) : nullptr;
    if (function == nullptr || registration.data.HwFindAdapter == nullptr) {
        PortDriver::Fatal("ScsiPortInitialize", "offered a function that is not there");
    }
    offers_.push_back(std::make_unique<OfferedAdapter>());
    OfferedAdapter& adapter = *offers_.back();
    adapter.location = location;

    // The extension lives in simulated memory behind room for the 9x port driver's record.
    const std::size_t extension_size = std::max<ULONG>(registration.data.DeviceExtensionSize, 1);
    adapter.storage =
        memory.Allocate(kAdapterRecordPrefix + extension_size, PagePlacement::Contiguous);
    if (const auto record = host_.adapter_records.find(location);
        record != host_.adapter_records.end()) {
        WriteAdapterRecord(adapter.storage.first<kAdapterRecordPrefix>(), record->second);
    }
    adapter.extension = adapter.storage.data() + kAdapterRecordPrefix;

    FillConfiguration(adapter, registration, *function);
    if (host_.argument_string) {
        adapter.argument_string.assign(host_.argument_string->begin(),
                                       host_.argument_string->end());
        adapter.argument_string.push_back('\0');
    }
    PCHAR argument = adapter.argument_string.empty() ? nullptr : adapter.argument_string.data();

    BOOLEAN again = FALSE;
    adapter.result = registration.data.HwFindAdapter(adapter.extension, registration.hw_context,
                                                     nullptr, argument, &adapter.config, &again);
    adapter.again = again;
    if (!adapter.Found()) {
        // A real port driver takes back what a refused adapter was given.
        ReleaseBases(adapter, mappings);
    }
    return adapter;
}

std::vector<OfferedAdapter*> Discovery::FoundAdapters() const {
    std::vector<OfferedAdapter*> found;
    for (const auto& offer : offers_) {
        if (offer->Found()) found.push_back(offer.get());
    }
    return found;
}

OfferedAdapter& Discovery::AdapterOf(const char* routine, const void* extension) const {
    for (const auto& offer : offers_) {
        if (offer->extension == extension) return *offer;
    }
    PortDriver::Fatal(routine, "called with an extension the port driver never handed out");
}

void* Discovery::GetDeviceBase(const char* routine, void* extension, std::uint64_t address,
                               std::uint32_t length, bool in_io_space, DeviceMappings& mappings) {
    OfferedAdapter& adapter = AdapterOf(routine, extension);
    void* mapped = nullptr;
    if (in_io_space) {
        // An I/O range is reached at its bus address, and only inside the adapter's ranges.
        const bool claimed =
            std::any_of(adapter.claimed_ranges.begin(), adapter.claimed_ranges.end(),
                        [&](const ACCESS_RANGE& r) {
                            return !r.RangeInMemory && InsideRange(r, address, length);
                        });
        if (claimed && address != 0 && address + length <= 0x10000) {
            mapped = reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
        }
    } else if (firmware_ != nullptr && firmware_->Contains(address, length)) {
        // The firmware area is plain readable memory: a copy of the firmware's bytes.
        if (!host_.refuse_firmware_mapping) {
            std::copy(firmware_->bytes.begin(), firmware_->bytes.end(),
                      adapter.firmware_view.begin());
            mapped = adapter.firmware_view.data() + (address - kFirmwareAreaBase);
        }
    } else if (!host_.refuse_memory_mappings && length != 0) {
        mapped = mappings.MapMemory(address, length);
    }
    if (mapped != nullptr) {
        adapter.bases.push_back(DeviceBase{mapped, address, length, in_io_space, false});
    }
    return mapped;
}

void Discovery::FreeDeviceBase(const char* routine, void* extension, void* mapped,
                               DeviceMappings& mappings) {
    OfferedAdapter& adapter = AdapterOf(routine, extension);
    const auto base =
        std::find_if(adapter.bases.begin(), adapter.bases.end(),
                     [mapped](const DeviceBase& b) { return b.mapped == mapped && !b.released; });
    if (base == adapter.bases.end()) {
        PortDriver::Fatal(routine, "releases a base that is not mapped for this adapter");
    }
    base->released = true;
    if (!base->in_io_space && mappings.ToBusAddress(mapped)) mappings.Unmap(mapped);
}

void Discovery::ReleaseBases(OfferedAdapter& adapter, DeviceMappings& mappings) {
    for (DeviceBase& base : adapter.bases) {
        if (base.released) continue;
        base.released = true;
        if (!base.in_io_space && mappings.ToBusAddress(base.mapped)) mappings.Unmap(base.mapped);
    }
}

ULONG Discovery::GetBusData(ULONG bus, ULONG slot, std::span<std::uint8_t> out) const {
    return pci_ == nullptr ? 0 : pci_->Read(bus, slot, 0, out);
}

ULONG Discovery::SetBusData(ULONG bus, ULONG slot, ULONG offset, std::span<const std::uint8_t> in) {
    return pci_ == nullptr ? 0 : pci_->Write(bus, slot, offset, in);
}

void* Discovery::GetUncachedExtension(const char* routine, void* extension, ULONG length,
                                      PhysicalMemory& memory) {
    OfferedAdapter& adapter = AdapterOf(routine, extension);
    // Handed out once per adapter; a second request, like a refusal, gets nothing.
    if (host_.refuse_uncached_extension || !adapter.uncached.empty() || length == 0) {
        return nullptr;
    }
    adapter.uncached = memory.Allocate(length, host_.uncached_placement, host_.uncached_misalign);
    return adapter.uncached.data();
}

}  // namespace quell::sim
