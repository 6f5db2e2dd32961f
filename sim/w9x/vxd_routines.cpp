// The 9x kernel's service call, handed to the 9x kernel bound to the calling thread.

#include "host/w9x.h"
#include "sim/w9x/w9x_kernel.h"

extern "C" ULONG VxdCall(USHORT Device, USHORT Service, const ULONG* Arguments,
                         ULONG ArgumentCount) {
    quell::sim::W9xKernel& kernel = quell::sim::W9xKernel::Current(__func__);
    if (ArgumentCount > VXD_MAX_ARGUMENTS || (Arguments == nullptr && ArgumentCount != 0)) {
        return kernel.Call(Device, Service, {});  // reported as a wrong argument count
    }
    return kernel.Call(Device, Service, {Arguments, ArgumentCount});
}
