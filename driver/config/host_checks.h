// Recognising the host systems that need the adapter driven differently: a system firmware
// that wants two legacy ports written, processors and bridges that cannot take the chip's bus
// mastering, and bridges that need another latency or writes without disconnection.
#pragma once

#include "driver/core/adapter.h"

namespace quell {

// The system ports written while the firmware signature is present. Port 0x50 receives one byte
// when the driver takes the adapter over and at every request; when the adapter is handed back
// to the firmware it receives 1 and port 0x35 loses bit 0x10.
inline constexpr USHORT kLegacyControlPort = 0x50;
inline constexpr USHORT kLegacyStatusPort = 0x35;
inline constexpr UCHAR kLegacyControlDriverActive = 0x00;
inline constexpr UCHAR kLegacyControlHandedBack = 0x01;
inline constexpr UCHAR kLegacyStatusFirmwareBit = 0x10;

// The latency setting of an adapter whose host needs nothing special.
inline constexpr UCHAR kDefaultLatmSetting = 0x20;

// Device IDs of the adapter's function from this one on are never behind the hosts that the
// processor and bridge checks look for.
inline constexpr ULONG kFirstDeviceIdWithoutHostChecks = 0xF013;

// Sets LegacyPortQuirk from the signature in the firmware area. quellmp, signature present:
// writes port 0x50 and forces programmed I/O (Mode 0) on a host whose PCI BIOS knows the
// device 8086:1235.
VOID CheckFirmwareSignature(PADAPTER_EXTENSION Adapter, PPORT_CONFIGURATION_INFORMATION ConfigInfo,
                            PUCHAR Mode);

// Forces programmed I/O (Mode 0) behind an AMD processor of family 6 or later with a chipset of
// vendor 1022, or behind the bridge 10B9:1521. Skipped for adapters whose PciDeviceId is
// kFirstDeviceIdWithoutHostChecks or above.
VOID CheckProcessorAndBridges(PADAPTER_EXTENSION Adapter, PUCHAR Mode);

// The LatmSetting used when the option string gives none: lower behind the bridge 1180:0478.
UCHAR DefaultLatencySetting(PADAPTER_EXTENSION Adapter);

// quellmp, bus-master mode: data-out requests lose disconnect privilege behind 1179:060A.
VOID CheckBusMasterBridge(PADAPTER_EXTENSION Adapter);

}  // namespace quell
