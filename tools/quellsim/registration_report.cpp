#include "tools/quellsim/registration_report.h"

#include <string>

#include "tools/quellsim/format.h"

namespace quell::tools {
namespace {

std::string YesNo(bool value) { return value ? "yes" : "no"; }

void Row(std::ostream& out, std::string_view name, const std::string& value) {
    out << fmt::format("  {:<26}{}\n", name, value);
}

std::string InterfaceName(INTERFACE_TYPE type) {
    return type == PCIBus ? "PCIBus (5)" : fmt::format("{}", static_cast<int>(type));
}

}  // namespace

void PrintRegistrationReport(std::ostream& out, const std::filesystem::path& image,
                             ULONG entry_status,
                             const std::vector<sim::Registration>& registrations) {
    out << fmt::format("driver image   {}\n", image.string());
    out << fmt::format("DriverEntry    status 0x{:08X}\n", entry_status);
    if (registrations.empty()) {
        out << "registration   none: the driver never called ScsiPortInitialize\n";
        return;
    }
    for (const auto& r : registrations) {
        const HW_INITIALIZATION_DATA& d = r.data;
        out << "\nregistration\n";
        Row(out, "record size", fmt::format("{} bytes", r.declared_size));
        Row(out, "bus interface", InterfaceName(d.AdapterInterfaceType));
        Row(out, "PCI vendor / device", fmt::format("\"{}\" / \"{}\"", r.vendor_id, r.device_id));
        Row(out, "adapter extension", fmt::format("{} bytes", d.DeviceExtensionSize));
        Row(out, "logical-unit extension", fmt::format("{} bytes", d.SpecificLuExtensionSize));
        Row(out, "request extension", fmt::format("{} bytes", d.SrbExtensionSize));
        Row(out, "access ranges", fmt::format("{}", d.NumberOfAccessRanges));
        out << "  callbacks\n";
        Row(out, "  HwInitialize", YesNo(d.HwInitialize != nullptr));
        Row(out, "  HwStartIo", YesNo(d.HwStartIo != nullptr));
        Row(out, "  HwInterrupt", YesNo(d.HwInterrupt != nullptr));
        Row(out, "  HwFindAdapter", YesNo(d.HwFindAdapter != nullptr));
        Row(out, "  HwResetBus", YesNo(d.HwResetBus != nullptr));
        Row(out, "  HwDmaStarted", YesNo(d.HwDmaStarted != nullptr));
        Row(out, "  HwAdapterState", YesNo(d.HwAdapterState != nullptr));
        Row(out, "  HwAdapterControl",
            r.HasAdapterControl() ? YesNo(d.HwAdapterControl != nullptr)
                                  : std::string("not in the record"));
        out << "  flags\n";
        Row(out, "  MapBuffers", YesNo(d.MapBuffers));
        Row(out, "  NeedPhysicalAddresses", YesNo(d.NeedPhysicalAddresses));
        Row(out, "  TaggedQueuing", YesNo(d.TaggedQueuing));
        Row(out, "  AutoRequestSense", YesNo(d.AutoRequestSense));
        Row(out, "  MultipleRequestPerLu", YesNo(d.MultipleRequestPerLu));
        Row(out, "  ReceiveEvent", YesNo(d.ReceiveEvent));
    }
}

}  // namespace quell::tools
