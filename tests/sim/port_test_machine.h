// A small machine for the port driver's tests: clock, memory, bus, the port driver, and a
// toy controller with one level-sensitive interrupt line and a DMA engine. Test miniports
// are written in the test files against it through the SCSI port routines only.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/scsiport.h"
#include "sim/pc/device_bus.h"
#include "sim/pc/physical_memory.h"
#include "sim/pc/register_device.h"
#include "sim/port/port_driver.h"
#include "sim/time/clock.h"

namespace quell::sim::testing {

// Registers of the toy controller, at offsets from its I/O base.
inline constexpr std::uint32_t kToyStatus = 0x00;   // r: 1 while an operation ended; w: takes one
inline constexpr std::uint32_t kToyControl = 0x02;  // w: bit 0 opens the interrupt line
inline constexpr std::uint32_t kToyStart = 0x04;    // w32: starts an operation of n microseconds
inline constexpr std::uint32_t kToyDmaAddress = 0x08;  // w32: low half of the DMA address
inline constexpr std::uint32_t kToyDmaAddressHigh = 0x0C;
inline constexpr std::uint32_t kToyDmaLength = 0x10;  // w32: writes that many pattern bytes
inline constexpr std::uint64_t kToyBase = 0x1000;

// The byte a toy DMA writes at position `index` of a transfer.
inline std::byte ToyPattern(std::size_t index) {
    return std::byte(static_cast<unsigned>(index * 7 + 3));
}

class ToyController : public RegisterDevice {
public:
    ToyController(Clock& clock, PhysicalMemory& memory) : clock_(clock), memory_(memory) {}

    bool Line() const { return (pending_ > 0 || stuck_) && enabled_; }
    void SetStuck(bool stuck) { stuck_ = stuck; }
    void RaiseAfter(SimTime delay) {
        clock_.ScheduleAfter(
            delay, [this] { ++pending_; }, "toy operation ends");
    }
    std::size_t PatternPosition() const { return pattern_position_; }

    std::uint32_t Read(std::uint32_t offset, AccessWidth) override {
        return offset == kToyStatus ? (pending_ > 0 || stuck_ ? 1u : 0u) : 0u;
    }
    void Write(std::uint32_t offset, AccessWidth, std::uint32_t value) override {
        switch (offset) {
            case kToyStatus:
                pending_ -= pending_ > 0 ? 1 : 0;
                break;
            case kToyControl:
                enabled_ = (value & 1) != 0;
                break;
            case kToyStart:
                RaiseAfter(SimTime{value} * kMicrosecond);
                break;
            case kToyDmaAddress:
                address_ = (address_ & ~0xFFFFFFFFull) | value;
                break;
            case kToyDmaAddressHigh:
                address_ = (address_ & 0xFFFFFFFFull) | (std::uint64_t{value} << 32);
                break;
            case kToyDmaLength: {
                std::vector<std::byte> bytes(value);
                for (auto& byte : bytes) byte = ToyPattern(pattern_position_++);
                memory_.Write(address_, bytes);
                break;
            }
            default:
                break;
        }
    }

private:
    Clock& clock_;
    PhysicalMemory& memory_;
    unsigned pending_ = 0;  // operations ended and not yet taken
    bool stuck_ = false;
    bool enabled_ = true;
    std::uint64_t address_ = 0;
    std::size_t pattern_position_ = 0;
};

// Port addresses of the toy's registers, for the miniports.
inline PUCHAR ToyPort(std::uint32_t offset) { return reinterpret_cast<PUCHAR>(kToyBase + offset); }
inline PUSHORT ToyPort16(std::uint32_t offset) {
    return reinterpret_cast<PUSHORT>(kToyBase + offset);
}
inline PULONG ToyPort32(std::uint32_t offset) {
    return reinterpret_cast<PULONG>(kToyBase + offset);
}

// The routines a test miniport registers; sizes as it declares them.
struct TestMiniport {
    PHW_INITIALIZE initialize = [](PVOID) -> BOOLEAN { return TRUE; };
    PHW_STARTIO start_io = nullptr;
    PHW_INTERRUPT interrupt = nullptr;
    PHW_RESET_BUS reset_bus = nullptr;
    ULONG extension_size = 256;
    ULONG lu_extension_size = 16;
    ULONG srb_extension_size = 64;
    bool multiple_requests_per_lu = false;
};

class PortTestMachine {
public:
    explicit PortTestMachine(std::uint64_t seed = 1) : memory(seed) {
        port.AttachBus(bus);
        port.AttachMemory(memory);
        port.AttachClock(clock);
        bus.Map(AddressSpace::Io, kToyBase, 0x20, toy, "toy controller");
    }

    // Registers the miniport, hands the adapter to the run time and initialises it. The
    // extension's first word points back at this machine.
    Adapter& Start(const TestMiniport& miniport, AdapterSetup setup = {}) {
        Registration registration;
        HW_INITIALIZATION_DATA& data = registration.data;
        data.HwInitializationDataSize = sizeof(HW_INITIALIZATION_DATA);
        data.AdapterInterfaceType = PCIBus;
        data.HwInitialize = miniport.initialize;
        data.HwStartIo = miniport.start_io;
        data.HwInterrupt = miniport.interrupt;
        data.HwResetBus = miniport.reset_bus;
        data.DeviceExtensionSize = miniport.extension_size;
        data.SpecificLuExtensionSize = miniport.lu_extension_size;
        data.SrbExtensionSize = miniport.srb_extension_size;
        data.MultipleRequestPerLu = miniport.multiple_requests_per_lu;
        if (!setup.interrupt) setup.interrupt = [this] { return toy.Line(); };
        Adapter& adapter = port.AddAdapter(registration, std::move(setup));
        adapter.ConfigInfo().InitiatorBusId[0] = 7;
        PortTestMachine* self = this;
        std::memcpy(adapter.DeviceExtension(), &self, sizeof(self));
        EXPECT_TRUE(adapter.Initialize());
        return adapter;
    }

    static PortTestMachine& Of(PVOID extension) {
        PortTestMachine* machine;
        std::memcpy(&machine, extension, sizeof(machine));
        return *machine;
    }

    Clock clock;
    PhysicalMemory memory;
    DeviceBus bus{&clock};
    ToyController toy{clock, memory};
    PortDriver port;

private:
    PortDriver::Binding binding_{port};
};

// A request to a logical unit: TEST UNIT READY, or a 6-byte READ of `bytes` bytes.
inline RequestSpec TestUnitReady(UCHAR target = 0, UCHAR lun = 0) {
    RequestSpec request_spec;
    request_spec.target = target;
    request_spec.lun = lun;
    request_spec.cdb = {0x00, 0, 0, 0, 0, 0};
    return request_spec;
}

inline RequestSpec ReadOf(ULONG bytes, UCHAR target = 0, UCHAR lun = 0) {
    RequestSpec request_spec = TestUnitReady(target, lun);
    request_spec.cdb = {0x08, 0, 0, 0, static_cast<std::uint8_t>(bytes / 512), 0};
    request_spec.srb_flags = SRB_FLAGS_DATA_IN;
    request_spec.data_length = bytes;
    return request_spec;
}

}  // namespace quell::sim::testing
