// PC platform primitives a driver uses outside the port driver's register routines: the
// processor's own port instructions on system I/O ports, and processor identification.
#pragma once

#include "host/ntdef.h"

#ifdef __cplusplus
extern "C" {
#endif

VOID PcWriteSystemPortByte(USHORT Port, UCHAR Value);
UCHAR PcReadSystemPortByte(USHORT Port);

// TRUE when the identification bit (0x200000) of the flags register can be toggled, that is
// when the processor has the identification instruction.
BOOLEAN PcCpuIdentificationAvailable(VOID);

typedef struct _PC_CPUID_RESULT {
    ULONG Eax;
    ULONG Ebx;
    ULONG Ecx;
    ULONG Edx;
} PC_CPUID_RESULT, *PPC_CPUID_RESULT;

// Runs the identification instruction for Leaf. Leaf 0 returns the vendor string in
// Ebx, Edx, Ecx (four characters each, in that order).
VOID PcCpuIdentify(ULONG Leaf, PPC_CPUID_RESULT Result);

#ifdef __cplusplus
}
#endif
