// The virtual machine manager's services for the hardware: mapping a physical range and running
// the PCI BIOS on the driver's behalf.

#include "driver/platform9x/w9x_services.h"

namespace quell {
namespace {

constexpr ULONG kMapFailed = 0xFFFFFFFFu;
constexpr ULONG kPciBiosInterrupt = 0x1A;
constexpr ULONG kPciBiosFindDevice = 0xB102;
constexpr ULONG kPciBiosSuccessful = 0x00;

}  // namespace

PUCHAR MapPhysicalRange(ULONG PhysicalAddress, ULONG Length) {
    const ULONG Arguments[] = {PhysicalAddress, Length, 0};
    const ULONG Linear = VxdCall(VXD_DEVICE_VMM, VMM_MAP_PHYSICAL_TO_LINEAR, Arguments, 3);
    if (Linear == kMapFailed || Linear == 0) {
        return nullptr;
    }
    return reinterpret_cast<PUCHAR>(static_cast<uintptr_t>(Linear));
}

BOOLEAN PciBiosDevicePresent(USHORT VendorId, USHORT DeviceId) {
    VXD_CLIENT_REGISTERS Registers = {};
    Registers.Eax = kPciBiosFindDevice;
    Registers.Ecx = DeviceId;
    Registers.Edx = VendorId;
    Registers.Esi = 0;  // the first such device
    const ULONG Arguments[] = {kPciBiosInterrupt, ServiceArgument(&Registers)};
    VxdCall(VXD_DEVICE_VMM, VMM_EXEC_VXD_INT, Arguments, 2);
    // The BIOS return code comes back in AH. A call that did not run leaves AH at 0xB1.
    return ((Registers.Eax >> 8) & 0xFF) == kPciBiosSuccessful;
}

}  // namespace quell
