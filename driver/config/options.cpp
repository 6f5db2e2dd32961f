// The driver option string. There is no parsed list: each option is found by searching the
// whole string for its keyword, so keywords match anywhere, also inside longer words, and only
// the first occurrence of a keyword counts.

#include "driver/config/options.h"

#include "driver/config/host_checks.h"

namespace quell {
namespace {

BOOLEAN IsBlank(CHAR Byte) { return Byte == ' ' || Byte == '\t'; }

// Skips spaces and tabs from Position, never past Length.
ULONG SkipBlanks(const CHAR* Text, ULONG Position, ULONG Length) {
    while (Position < Length && IsBlank(Text[Position])) {
        ++Position;
    }
    return Position;
}

BOOLEAN KeywordAt(const CHAR* Text, ULONG Position, const CHAR* Keyword, ULONG KeywordLength) {
    for (ULONG Index = 0; Index < KeywordLength; ++Index) {
        if (Text[Position + Index] != Keyword[Index]) {
            return FALSE;
        }
    }
    return TRUE;
}

// The decimal number at Position, ended by a blank or the end of the string; any other byte
// makes the value 0. The arithmetic wraps modulo 2^32 as the 32-bit result does.
ULONG ParseNumber(const CHAR* Text, ULONG Position, ULONG Length) {
    ULONG Value = 0;
    for (; Position < Length && !IsBlank(Text[Position]); ++Position) {
        const CHAR Byte = Text[Position];
        if (Byte < '0' || Byte > '9') {
            return 0;
        }
        Value = Value * 10 + static_cast<ULONG>(Byte - '0');
    }
    return Value;
}

// ---- The option table, in the order discovery applies it ------------------------------------

struct OPTION_CONTEXT {
    PADAPTER_EXTENSION Adapter;
    PUCHAR Mode;
    PDRIVER_OPTIONS Options;
};

typedef VOID (*OPTION_HANDLER)(OPTION_CONTEXT& Context, ULONG Value);

struct OPTION_ENTRY {
    const CHAR* Keyword;
    ULONG Length;
    BOOLEAN WantValue;
    OPTION_HANDLER Apply;  // called with the search result, present or not
};

VOID ApplyFifoMax(OPTION_CONTEXT& Context, ULONG Value) {
    // Kilobytes; a product that wraps to 0 counts as absent.
    const ULONG Bytes = Value * 1024;
    Context.Options->MaximumTransferLength = Bytes != 0 ? Bytes : kDefaultMaximumTransferLength;
}

template <USHORT Bit>
VOID SetOptionFlag(OPTION_CONTEXT& Context, ULONG Present) {
    if (Present != 0) {
        Context.Adapter->OptionFlags |= Bit;
    }
}

VOID ClearAutoProgram(OPTION_CONTEXT& Context, ULONG Present) {
    if (Present != 0) {
        Context.Adapter->OptionFlags &= static_cast<USHORT>(~OPTION_AUTO_PROGRAM);
    }
}

// The three mode keywords overwrite the mode in table order, so "bmx" beats "pio" and "pio"
// beats "mmio" wherever they stand in the string.
template <UCHAR Mode>
VOID SelectMode(OPTION_CONTEXT& Context, ULONG Present) {
    if (Present != 0) {
        *Context.Mode = Mode;
    }
}

VOID ApplyChipClock(OPTION_CONTEXT& Context, ULONG Value) {
    Context.Adapter->ChipClock =
        (Value == 40 || Value == 33 || Value == 20) ? Value : kDefaultChipClock;
}

VOID ApplyNoAlign(OPTION_CONTEXT& Context, ULONG Present) {
    Context.Options->NoAlign = Present != 0 ? TRUE : FALSE;
}

VOID ApplyLatency(OPTION_CONTEXT& Context, ULONG Value) {
    const UCHAR Latency = static_cast<UCHAR>(Value);
    // The host lookup is made only when the option leaves the choice to the driver.
    Context.Adapter->LatmSetting = Latency != 0 ? Latency : DefaultLatencySetting(Context.Adapter);
}

// Megabytes per second to the SDTR transfer period factor; 0 lets the command start choose.
struct SYNC_RATE {
    UCHAR MegabytesPerSecond;
    UCHAR PeriodFactor;
};
constexpr SYNC_RATE kSyncRates[] = {
    {0, 0},
    {5, 0x32},   // 200 ns
    {10, 0x19},  // 100 ns
    {20, 0x0C},  // 50 ns
};
constexpr UCHAR kUnlistedSyncPeriod = 0x19;

VOID ApplySyncRate(OPTION_CONTEXT& Context, ULONG Value) {
    const UCHAR Rate = static_cast<UCHAR>(Value);
    Context.Adapter->SyncPeriodOption = kUnlistedSyncPeriod;
    for (const SYNC_RATE& Entry : kSyncRates) {
        if (Entry.MegabytesPerSecond == Rate) {
            Context.Adapter->SyncPeriodOption = Entry.PeriodFactor;
        }
    }
}

constexpr OPTION_ENTRY kOptionTable[] = {
    {"fifomax", 7, TRUE, ApplyFifoMax},
    {"disc-", 5, FALSE, SetOptionFlag<OPTION_NO_DISCONNECT>},
    {"scsi-1", 6, FALSE, SetOptionFlag<OPTION_SCSI1>},
    {"ultra", 5, FALSE, SetOptionFlag<OPTION_ULTRA>},
    {"nosg", 4, FALSE, SetOptionFlag<OPTION_NO_SG>},
    {"mmio", 4, FALSE, SelectMode<TRANSFER_MODE_FIFO_WINDOW>},
    {"pio", 3, FALSE, SelectMode<TRANSFER_MODE_FIFO_PORT>},
    {"bmx", 3, FALSE, SelectMode<TRANSFER_MODE_BUS_MASTER>},
    {"noautop", 7, FALSE, ClearAutoProgram},
    {"mclk", 4, TRUE, ApplyChipClock},
    {"noalign", 7, FALSE, ApplyNoAlign},
    {"latm", 4, TRUE, ApplyLatency},
    {"sync", 4, TRUE, ApplySyncRate},
};

}  // namespace

ULONG GetDriverOption(PCHAR OptionString, const CHAR* Keyword, ULONG KeywordLength,
                      BOOLEAN WantValue) {
    if (OptionString == nullptr) {
        return 0;
    }

    // One pass folds the string to lower case in place and measures it.
    ULONG Length = 0;
    for (; OptionString[Length] != '\0'; ++Length) {
        if (OptionString[Length] >= 'A' && OptionString[Length] <= 'Z') {
            OptionString[Length] = static_cast<CHAR>(OptionString[Length] + 0x20);
        }
    }
    if (KeywordLength > Length) {
        return 0;
    }

    ULONG Position = SkipBlanks(OptionString, 0, Length);
    for (;; ++Position) {
        if (Position + KeywordLength > Length) {
            return 0;
        }
        if (KeywordAt(OptionString, Position, Keyword, KeywordLength)) {
            break;
        }
    }
    if (!WantValue) {
        return 1;
    }

    // A keyword not followed by "=" has no value; a later occurrence is not looked for.
    Position = SkipBlanks(OptionString, Position + KeywordLength, Length);
    if (Position >= Length || OptionString[Position] != '=') {
        return 0;
    }
    Position = SkipBlanks(OptionString, Position + 1, Length);
    if (Position >= Length) {
        return 0;
    }
    return ParseNumber(OptionString, Position, Length);
}

VOID ApplyDriverOptions(PADAPTER_EXTENSION Adapter, PCHAR OptionString, PUCHAR Mode,
                        PDRIVER_OPTIONS Options) {
    Options->MaximumTransferLength = kDefaultMaximumTransferLength;
    Options->NoAlign = FALSE;
    OPTION_CONTEXT Context{Adapter, Mode, Options};
    for (const OPTION_ENTRY& Entry : kOptionTable) {
        Entry.Apply(Context,
                    GetDriverOption(OptionString, Entry.Keyword, Entry.Length, Entry.WantValue));
    }
}

}  // namespace quell
