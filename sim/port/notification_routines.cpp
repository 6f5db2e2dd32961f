// ScsiPortNotification and ScsiPortCompleteRequest: how the driver hands requests back and
// asks for the next one, a timer, or tells of a bus reset.

#include <cstdarg>

#include "host/scsiport.h"
#include "sim/port/port_driver.h"

using quell::sim::PortDriver;

extern "C" {

VOID ScsiPortNotification(SCSI_NOTIFICATION_TYPE NotificationType, PVOID HwDeviceExtension, ...) {
    auto& adapter = PortDriver::Current(__func__).AdapterFor(__func__, HwDeviceExtension);
    std::va_list arguments;
    va_start(arguments, HwDeviceExtension);
    adapter.Notify(NotificationType, &arguments);
    va_end(arguments);
}

VOID ScsiPortCompleteRequest(PVOID HwDeviceExtension, UCHAR PathId, UCHAR TargetId, UCHAR Lun,
                             UCHAR SrbStatus) {
    PortDriver::Current(__func__)
        .AdapterFor(__func__, HwDeviceExtension)
        .CompleteRequests(PathId, TargetId, Lun, SrbStatus);
}

}  // extern "C"
