// The driver option string: the keyword search and the table of options discovery applies.
#pragma once

#include "driver/core/adapter.h"

namespace quell {

// Searches the option string for Keyword (lower case, KeywordLength bytes). A flag option
// answers 1 when the keyword occurs; a value option answers its decimal value, or 0 when it
// is absent or malformed. Upper-case letters of the string are folded in place.
ULONG GetDriverOption(PCHAR OptionString, const CHAR* Keyword, ULONG KeywordLength,
                      BOOLEAN WantValue);

// What the options decide beyond the adapter record, kept for filling the port configuration.
typedef struct _DRIVER_OPTIONS {
    ULONG MaximumTransferLength;
    BOOLEAN NoAlign;
} DRIVER_OPTIONS, *PDRIVER_OPTIONS;

inline constexpr ULONG kDefaultMaximumTransferLength = 65536;
inline constexpr ULONG kDefaultChipClock = 40;

// Applies every option in table order: the transfer mode (Mode, which an option may overwrite),
// OptionFlags bits, ChipClock, LatmSetting (with the host-dependent default) and
// SyncPeriodOption.
VOID ApplyDriverOptions(PADAPTER_EXTENSION Adapter, PCHAR OptionString, PUCHAR Mode,
                        PDRIVER_OPTIONS Options);

}  // namespace quell
