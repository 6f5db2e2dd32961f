#include "tools/quellsim/discovery_report.h"

#include <string>
#include <vector>

#include "driver/core/adapter.h"
#include "tools/quellsim/format.h"

namespace quell::tools {
namespace {

void Row(std::ostream& out, std::string_view name, const std::string& value) {
    out << fmt::format("  {:<26}{}\n", name, value);
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

std::string ModeName(UCHAR mode) {
    switch (mode) {
        case TRANSFER_MODE_FIFO_PORT:
            return "0, programmed I/O through the FIFO port";
        case TRANSFER_MODE_BUS_MASTER:
            return "3, bus master with scatter/gather";
        case TRANSFER_MODE_FIFO_WINDOW:
            return "5, programmed I/O through the memory window";
        default:
            return fmt::format("{} (not a discovery mode)", mode);
    }
}

std::string OptionNames(USHORT flags) {
    struct Bit {
        USHORT bit;
        const char* name;
    };
    constexpr Bit kBits[] = {{OPTION_NO_DISCONNECT, "no-disconnect"},
                             {OPTION_SCSI1, "scsi-1"},
                             {OPTION_ULTRA, "ultra"},
                             {OPTION_AUTO_PROGRAM, "auto-program"},
                             {OPTION_NO_SG, "no-scatter/gather"},
                             {OPTION_DMA_OUT_NO_DISCONNECT, "data-out-no-disconnect"}};
    std::string names;
    for (const Bit& b : kBits) {
        if ((flags & b.bit) != 0) names += names.empty() ? b.name : std::string(", ") + b.name;
    }
    return fmt::format("0x{:04X} ({})", flags, names.empty() ? "none" : names);
}

std::string Length(ULONG value) {
    return value == SP_UNINITIALIZED_VALUE ? "unset" : fmt::format("{}", value);
}

std::string SyncName(UCHAR period) {
    return period == 0 ? "automatic"
                       : fmt::format("period factor 0x{:02X} ({} ns)", period, period * 4);
}

}  // namespace

void PrintDiscoveryReport(std::ostream& out, const sim::Machine& machine,
                          const sim::Discovery& discovery) {
    const auto& description = machine.Description();
    out << "\ndiscovery\n";
    Row(out, "option string",
        description.option_string ? fmt::format("\"{}\"", *description.option_string) : "none");
    Row(out, "candidates offered", fmt::format("{}", discovery.Offers().size()));
    for (const auto& offer : discovery.Offers()) {
        const auto& l = offer->location;
        out << fmt::format("\nadapter at PCI bus {} device {} function {}\n", l.bus, l.device,
                           l.function);
        Row(out, "result", offer->Found() ? "found" : "not found");
        Row(out, "asks for another", YesNo(offer->again));
        if (!offer->Found()) continue;
        const auto& a = *static_cast<const ADAPTER_EXTENSION*>(offer->extension);
        const PORT_CONFIGURATION_INFORMATION& c = offer->config;
        Row(out, "transfer mode", ModeName(a.AdapterTransferMode));
        Row(out, "options in force", OptionNames(a.OptionFlags));
        Row(out, "PCI device id", fmt::format("0x{:04X}", a.PciDeviceId));
        Row(out, "chip clock", fmt::format("{} MHz", a.ChipClock));
        Row(out, "latency setting", fmt::format("0x{:02X}", a.LatmSetting));
        Row(out, "synchronous period", SyncName(a.SyncPeriodOption));
        Row(out, "legacy port writes", YesNo(a.LegacyPortQuirk == 1));
        Row(out, "common buffer",
            a.CommonBuffer == nullptr ? "none"
                                      : fmt::format("physical 0x{:08X}", a.CommonBufferPhysical));
        out << "  port configuration\n";
        Row(out, "  MaximumTransferLength", Length(c.MaximumTransferLength));
        Row(out, "  NumberOfPhysicalBreaks", Length(c.NumberOfPhysicalBreaks));
        Row(out, "  ScatterGather / Master", YesNo(c.ScatterGather) + " / " + YesNo(c.Master));
        Row(out, "  MapBuffers", YesNo(c.MapBuffers));
        Row(out, "  NeedPhysicalAddresses", YesNo(c.NeedPhysicalAddresses));
        Row(out, "  Dma32BitAddresses", YesNo(c.Dma32BitAddresses));
        Row(out, "  AlignmentMask", fmt::format("{}", c.AlignmentMask));
        Row(out, "  InitiatorBusId", fmt::format("{}", static_cast<int>(c.InitiatorBusId[0])));
        for (ULONG i = 0; i < c.NumberOfAccessRanges && i < offer->ranges.size(); ++i) {
            const ACCESS_RANGE& r = offer->ranges[i];
            if (r.RangeLength == 0) continue;
            Row(out, fmt::format("  access range {}", i),
                fmt::format("{} 0x{:08X}, {} bytes", r.RangeInMemory ? "memory" : "I/O",
                            static_cast<ULONGLONG>(r.RangeStart.QuadPart), r.RangeLength));
        }
        // What the chip holds after discovery: the latency in IDX_11's high byte.
        if (const sim::AdapterHardware* card = machine.HardwareAt(offer->location)) {
            Row(out, "chip latency register",
                fmt::format("0x{:04X}", card->Controller().LatencyRegister()));
        }
    }
}

}  // namespace quell::tools
