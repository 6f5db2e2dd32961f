// One adapter card as a machine builds it: the controller model, the SCSI bus behind it and
// the targets on that bus.
#pragma once

#include <memory>
#include <vector>

#include "sim/chip/controller.h"
#include "sim/machine/machine_description.h"
#include "sim/scsi/model_errors.h"
#include "sim/scsi/scsi_bus.h"
#include "sim/scsi/target_device.h"

namespace quell::sim {

class AdapterHardware {
public:
    // Throws std::runtime_error when a target's image file cannot be opened, and
    // std::invalid_argument for a target description that cannot be built.
    AdapterHardware(Clock& clock, PhysicalMemory& memory, const AdapterDescription& adapter);
    AdapterHardware(const AdapterHardware&) = delete;
    AdapterHardware& operator=(const AdapterHardware&) = delete;

    chip::Controller& Controller() { return controller_; }
    const chip::Controller& Controller() const { return controller_; }
    scsi::ScsiBus& Bus() { return bus_; }
    scsi::ModelErrors& Errors() { return errors_; }
    const std::vector<std::unique_ptr<scsi::TargetDevice>>& Targets() const { return targets_; }

private:
    scsi::ModelErrors errors_;
    scsi::ScsiBus bus_;
    chip::Controller controller_;
    std::vector<std::unique_ptr<scsi::TargetDevice>> targets_;
};

}  // namespace quell::sim
