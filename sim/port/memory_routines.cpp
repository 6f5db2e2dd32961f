// ScsiPortMoveMemory: a copy that may overlap, as the system's own move routine is.

#include <cstring>

#include "host/scsiport.h"
#include "sim/port/port_driver.h"

using quell::sim::PortDriver;

extern "C" {

VOID ScsiPortMoveMemory(PVOID WriteBuffer, PVOID ReadBuffer, ULONG Length) {
    if (Length == 0) return;
    if (WriteBuffer == nullptr || ReadBuffer == nullptr) {
        PortDriver::Fatal(__func__, "a null buffer with a non-zero length");
    }
    std::memmove(WriteBuffer, ReadBuffer, Length);
}

}  // extern "C"
