// PCI configuration space as the port driver and the hardware layer hand it out.
#pragma once

#include "host/ntdef.h"

#define PCI_TYPE0_ADDRESSES 6
#define PCI_INVALID_VENDORID 0xFFFF
#define PCI_MAX_DEVICES 32
#define PCI_MAX_FUNCTION 8

// Command register bits
enum : USHORT {
    PCI_ENABLE_IO_SPACE = 0x0001,
    PCI_ENABLE_MEMORY_SPACE = 0x0002,
    PCI_ENABLE_BUS_MASTER = 0x0004,
};

// Header offsets used with the by-offset bus-data routines.
enum : ULONG {
    PCI_OFFSET_VENDOR_ID = 0x00,
    PCI_OFFSET_DEVICE_ID = 0x02,
    PCI_OFFSET_COMMAND = 0x04,
    PCI_OFFSET_STATUS = 0x06,
    PCI_OFFSET_REVISION_ID = 0x08,
    PCI_OFFSET_LATENCY_TIMER = 0x0D,
    PCI_OFFSET_HEADER_TYPE = 0x0E,
    PCI_OFFSET_BASE_ADDRESS_0 = 0x10,
};

// The standard 256-byte function header.
typedef struct _PCI_COMMON_CONFIG {
    USHORT VendorID;
    USHORT DeviceID;
    USHORT Command;
    USHORT Status;
    UCHAR RevisionID;
    UCHAR ProgIf;
    UCHAR SubClass;
    UCHAR BaseClass;
    UCHAR CacheLineSize;
    UCHAR LatencyTimer;
    UCHAR HeaderType;
    UCHAR BIST;
    ULONG BaseAddresses[PCI_TYPE0_ADDRESSES];
    ULONG CIS;
    USHORT SubVendorID;
    USHORT SubSystemID;
    ULONG ROMBaseAddress;
    UCHAR CapabilitiesPtr;
    UCHAR Reserved1[3];
    ULONG Reserved2;
    UCHAR InterruptLine;
    UCHAR InterruptPin;
    UCHAR MinimumGrant;
    UCHAR MaximumLatency;
    UCHAR DeviceSpecific[192];
} PCI_COMMON_CONFIG, *PPCI_COMMON_CONFIG;

// A slot number names a device and one of its functions on a bus.
typedef struct _PCI_SLOT_NUMBER {
    union {
        struct {
            ULONG DeviceNumber : 5;
            ULONG FunctionNumber : 3;
            ULONG Reserved : 24;
        } bits;
        ULONG AsULONG;
    } u;
} PCI_SLOT_NUMBER, *PPCI_SLOT_NUMBER;

static_assert(sizeof(PCI_COMMON_CONFIG) == 256, "a PCI function header is 256 bytes");
static_assert(sizeof(PCI_SLOT_NUMBER) == 4, "a PCI slot number is 32 bits");
