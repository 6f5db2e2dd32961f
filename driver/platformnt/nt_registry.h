// quellnt's use of the NT registry: the plug-and-play interface setting written at load, and
// the lookup of a device in the system's PCI enumeration.
#pragma once

#include "driver/core/adapter.h"

namespace quell {

// Creates the service's PnpInterface key with "5" = 1 unless the key exists already.
VOID RegisterPnpInterface(ULONG InterfaceType);

// TRUE when a subkey of the PCI enumeration begins with Pattern (17 characters, any case).
BOOLEAN RegistryPciDevicePresent(PADAPTER_EXTENSION Adapter, const CHAR* Pattern);

}  // namespace quell
