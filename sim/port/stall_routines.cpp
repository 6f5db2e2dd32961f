// ScsiPortStallExecution: a busy wait in simulated time. The clock advances and every event
// that falls due runs (a device keeps working while the driver waits for it); no driver
// routine is called meanwhile, since the caller holds the adapter.

#include "host/scsiport.h"
#include "sim/port/port_driver.h"

using quell::sim::kMicrosecond;
using quell::sim::PortDriver;
using quell::sim::SimTime;

extern "C" {

VOID ScsiPortStallExecution(ULONG Delay) {
    PortDriver& port = PortDriver::Current(__func__);
    const SimTime time = SimTime{Delay} * kMicrosecond;
    port.NoteStall(time);
    port.TheClock(__func__).Advance(time);
}

}  // extern "C"
