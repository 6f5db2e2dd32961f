// The Windows 9x kernel services a miniport reaches by device and service number.
//
// A service call passes its arguments as 32-bit values in the order the service takes them
// (pointers are 32 bits on this platform) and returns the service's 32-bit result.
#pragma once

#include "host/ntdef.h"

#ifdef __cplusplus
extern "C" {
#endif

// Devices
enum : USHORT {
    VXD_DEVICE_VMM = 0x0001,      // virtual machine manager
    VXD_DEVICE_CONFIGMG = 0x0033  // configuration manager
};

// Services of the virtual machine manager
enum : USHORT {
    VMM_MAP_PHYSICAL_TO_LINEAR = 0x006C,  // (physical, length, flags) -> linear address, or ~0
    VMM_EXEC_VXD_INT = 0x008F,            // (interrupt number, VXD_CLIENT_REGISTERS*) -> 0
    VMM_REG_OPEN_KEY = 0x0148,            // (root, path, HKEY*) -> error code
    VMM_REG_CLOSE_KEY = 0x0149,           // (hkey) -> error code
    VMM_REG_ENUM_KEY = 0x014C,            // (hkey, index, name buffer, size) -> error code
    VMM_REG_SET_VALUE_EX = 0x0152,        // (hkey, name, 0, type, data, size) -> error code
    VMM_REG_QUERY_INFO_KEY = 0x015E,      // (hkey, 0, 0, 0, &subkeys, 0 x 7) -> error code
};

// Services of the configuration manager
enum : USHORT {
    CONFIGMG_GET_PARENT = 0x0003,            // (&parent, devnode, flags) -> CR_ code
    CONFIGMG_GET_DEVNODE_KEY_NAME = 0x003D,  // (devnode, 0, buffer, size, flags) -> CR_ code
    CONFIGMG_READ_REGISTRY_VALUE = 0x003E,   // (devnode, 0, name, type, buffer, &size, flags)
};

// Registry results of the virtual machine manager
enum : ULONG {
    VMM_ERROR_SUCCESS = 0,
    VMM_ERROR_FILE_NOT_FOUND = 2,
    VMM_ERROR_MORE_DATA = 234,
    VMM_ERROR_NO_MORE_ITEMS = 259,
};

// Results of the configuration manager
enum : ULONG {
    CR_SUCCESS = 0x00,
    CR_INVALID_DEVNODE = 0x05,
    CR_NO_SUCH_DEVNODE = 0x0D,
    CR_NO_SUCH_VALUE = 0x25,
    CR_BUFFER_SMALL = 0x1A,
};

#define VXD_HKEY_LOCAL_MACHINE 0x80000002u

// Registers handed to and returned from a software interrupt run on the driver's behalf.
// Flags bit 0 is the carry flag.
typedef struct _VXD_CLIENT_REGISTERS {
    ULONG Eax;
    ULONG Ebx;
    ULONG Ecx;
    ULONG Edx;
    ULONG Esi;
    ULONG Edi;
    ULONG Flags;
} VXD_CLIENT_REGISTERS, *PVXD_CLIENT_REGISTERS;

// At most this many arguments are passed to one service.
#define VXD_MAX_ARGUMENTS 12

ULONG VxdCall(USHORT Device, USHORT Service, const ULONG* Arguments, ULONG ArgumentCount);

#ifdef __cplusplus
}
#endif
