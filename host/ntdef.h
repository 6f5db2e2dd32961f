// Basic types shared by every host interface the driver calls.
//
// The driver is a 32-bit x86 image: these widths are the published ones of that platform, and
// pointers are 32 bits. Characters of the NT kernel's strings are 16 bits wide.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef void VOID;
typedef void* PVOID;
typedef char CHAR;
typedef char* PCHAR;
typedef const char* PCSZ;
typedef int8_t CCHAR;
typedef uint8_t UCHAR;
typedef uint8_t* PUCHAR;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint16_t* PUSHORT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t* PULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef UCHAR BOOLEAN;
typedef BOOLEAN* PBOOLEAN;
typedef char16_t WCHAR;
typedef WCHAR* PWSTR;
typedef const WCHAR* PCWSTR;
typedef PVOID HANDLE;
typedef HANDLE* PHANDLE;
typedef LONG NTSTATUS;
typedef ULONG ACCESS_MASK;
typedef UCHAR KIRQL;

#define TRUE ((BOOLEAN)1)
#define FALSE ((BOOLEAN)0)

// A 64-bit quantity that 32-bit code also reaches as two halves.
typedef union _LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER;

typedef LARGE_INTEGER PHYSICAL_ADDRESS;

// System bus kinds, as the port driver and the hardware layer name them.
typedef enum _INTERFACE_TYPE {
    InterfaceTypeUndefined = -1,
    Internal = 0,
    Isa = 1,
    Eisa = 2,
    MicroChannel = 3,
    TurboChannel = 4,
    PCIBus = 5,
    VMEBus = 6,
    NuBus = 7,
    PCMCIABus = 8,
    CBus = 9,
    MPIBus = 10,
    MPSABus = 11,
    ProcessorInternal = 12,
    InternalPowerBus = 13,
    PNPISABus = 14,
    PNPBus = 15,
    MaximumInterfaceType = 16
} INTERFACE_TYPE;

// Configuration spaces reached through the bus-data routines.
typedef enum _BUS_DATA_TYPE {
    ConfigurationSpaceUndefined = -1,
    Cmos = 0,
    EisaConfiguration = 1,
    Pos = 2,
    CbusConfiguration = 3,
    PCIConfiguration = 4,
    VMEConfiguration = 5,
    NuBusConfiguration = 6,
    PCMCIAConfiguration = 7,
    MPIConfiguration = 8,
    MPSAConfiguration = 9,
    PNPISAConfiguration = 10,
    MaximumBusDataType = 11
} BUS_DATA_TYPE;

typedef enum _KINTERRUPT_MODE { LevelSensitive = 0, Latched = 1 } KINTERRUPT_MODE;

static_assert(sizeof(void*) == 4, "the driver and its host are 32-bit x86 code");
static_assert(sizeof(LARGE_INTEGER) == 8, "LARGE_INTEGER is 64 bits");
static_assert(sizeof(INTERFACE_TYPE) == 4 && sizeof(BUS_DATA_TYPE) == 4, "enums are 32 bits");
