// The PC platform primitives a driver uses outside the port driver: port instructions on
// system I/O ports and processor identification, answered by the platform bound to the thread.

#include "host/pc.h"
#include "sim/pc/pc_platform.h"

using quell::sim::PcPlatform;

extern "C" {

VOID PcWriteSystemPortByte(USHORT Port, UCHAR Value) {
    PcPlatform::Current(__func__).ports.Write(Port, Value);
}

UCHAR PcReadSystemPortByte(USHORT Port) { return PcPlatform::Current(__func__).ports.Read(Port); }

BOOLEAN PcCpuIdentificationAvailable(VOID) {
    return PcPlatform::Current(__func__).processor.identification_available ? TRUE : FALSE;
}

VOID PcCpuIdentify(ULONG Leaf, PPC_CPUID_RESULT Result) {
    const PcPlatform& platform = PcPlatform::Current(__func__);
    // Without the instruction the call is an invalid opcode; the host answers zeros.
    *Result = platform.processor.identification_available ? platform.processor.Identify(Leaf)
                                                          : PC_CPUID_RESULT{};
}

}  // extern "C"
