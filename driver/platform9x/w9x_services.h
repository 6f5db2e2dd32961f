// quellmp's use of the Windows 9x kernel services: the adapter's device node, the registry's
// PCI enumeration, the adapter status values, the memory-window mapping and the PCI BIOS.
#pragma once

#include "driver/core/adapter.h"
#include "host/w9x.h"

namespace quell {

// The 9x port driver keeps the extension inside a record of its own, recognised by a signature
// standing before the extension; the adapter's device node is stored beside it.
inline constexpr ULONG kPortRecordSignatureOffset = 0x7A;  // bytes before the extension, 16 bits
inline constexpr ULONG kPortRecordDevNodeOffset = 0x74;    // bytes before the extension, 32 bits
inline constexpr USHORT kPortRecordSignature = 0x4442;

// Hardware IDs are "VEN_vvvv&DEV_dddd": 17 characters.
inline constexpr ULONG kHardwareIdLength = 17;

// Sets AdapterDevNode from the port driver's record, or to 0 when the record is not there.
VOID FetchAdapterDevNode(PADAPTER_EXTENSION Adapter);

// TRUE when the hardware ID in the registry key name of the adapter's parent device node (the
// bridge the adapter is attached to) is Pattern, exactly.
BOOLEAN ParentDeviceMatches(PADAPTER_EXTENSION Adapter, const CHAR* Pattern);

// TRUE when a subkey of HKEY_LOCAL_MACHINE\Enum\PCI begins with Pattern; "?" in the pattern
// matches any character, every other character must be equal, case included.
BOOLEAN RegistryPciDevicePresent(PADAPTER_EXTENSION Adapter, const CHAR* Pattern);

// Writes StatTermPower, StatCable and StatXferMode into the adapter's class key.
VOID PublishAdapterStatus(PADAPTER_EXTENSION Adapter);

// A linear address for a physical range, or NULL when the system cannot map it.
PUCHAR MapPhysicalRange(ULONG PhysicalAddress, ULONG Length);

// TRUE when the PCI BIOS finds a first device with these IDs.
BOOLEAN PciBiosDevicePresent(USHORT VendorId, USHORT DeviceId);

// A pointer as the 32-bit argument of a service call.
inline ULONG ServiceArgument(const void* Pointer) {
    return static_cast<ULONG>(reinterpret_cast<uintptr_t>(Pointer));
}

}  // namespace quell
