// The adapter's own PCI function and the scans of PCI configuration space.
#pragma once

#include "driver/core/adapter.h"

namespace quell {

// The function scan covers buses 0 to 15 only.
inline constexpr ULONG kPciScanBuses = 16;
// The highest bus number a PCI configuration address can carry, plus one.
inline constexpr ULONG kPciBusNumbers = 256;

// Finds the function whose first base address is the adapter's I/O window, records its device
// ID in PciDeviceId and programs its command register for the transfer mode: bus master on,
// memory decoding only for the memory-window mode.
BOOLEAN LocatePciFunction(PADAPTER_EXTENSION Adapter, PPORT_CONFIGURATION_INFORMATION ConfigInfo);

// quellnt: switches on I/O, memory and bus-master decoding of the card before the probe.
VOID EnableCardDecoding(PADAPTER_EXTENSION Adapter, PPORT_CONFIGURATION_INFORMATION ConfigInfo);

// quellnt: TRUE when any PCI function of the vendor exists (also, without looking, when the
// interrupt request level forbids the scan).
BOOLEAN PciVendorPresent(PADAPTER_EXTENSION Adapter, USHORT VendorId);

}  // namespace quell
