#include "sim/machine/adapter_hardware.h"

#include <stdexcept>
#include <string>

#include "sim/scsi/block_device.h"
#include "sim/scsi/block_storage.h"
#include "sim/scsi/scanner.h"

namespace quell::sim {
namespace {

chip::ChipConfig ModelConfig(const AdapterDescription& adapter) {
    chip::ChipConfig config = adapter.chip.model;
    config.revision = adapter.chip.revision;
    config.latency_reset = adapter.chip.latency_register;
    config.window_base = adapter.memory_window_base;
    return config;
}

std::unique_ptr<scsi::BlockStorage> Storage(const TargetDescription& target,
                                            std::uint32_t block_size) {
    if (!target.image.empty()) {
        return std::make_unique<scsi::ImageFileStorage>(target.image, block_size);
    }
    return std::make_unique<scsi::MemoryStorage>(target.blocks, block_size);
}

std::unique_ptr<scsi::LogicalUnit> MakeUnit(const TargetDescription& target) {
    const scsi::Identity identity{target.vendor, target.product, "1.0"};
    switch (target.kind) {
        case TargetKind::Disk:
            return scsi::MakeDisk(identity, Storage(target, 512));
        case TargetKind::CdRom:
            return std::make_unique<scsi::CdRom>(identity, Storage(target, 2048));
        case TargetKind::Optical:
            return scsi::MakeOptical(identity, Storage(target, 2048));
        case TargetKind::Scanner:
            return std::make_unique<scsi::Scanner>(identity);
        case TargetKind::Processor:
            return std::make_unique<scsi::Processor>(identity);
    }
    throw std::invalid_argument("unknown target kind");
}

}  // namespace

AdapterHardware::AdapterHardware(Clock& clock, PhysicalMemory& memory,
                                 const AdapterDescription& adapter)
    : errors_(clock),
      bus_(clock, errors_),
      controller_(clock, memory, bus_, errors_, ModelConfig(adapter)) {
    for (const TargetDescription& target : adapter.targets) {
        if (target.id < 0 || target.id > 6) {
            throw std::invalid_argument("target id " + std::to_string(target.id) +
                                        " is not 0 to 6 (7 is the adapter's own)");
        }
        if (target.luns < 1 || target.luns > 8) {
            throw std::invalid_argument("target " + std::to_string(target.id) +
                                        " must have 1 to 8 logical units");
        }
        for (const auto& other : targets_) {
            if (other->Id() == target.id) {
                throw std::invalid_argument("two targets with id " + std::to_string(target.id));
            }
        }
        auto device = std::make_unique<scsi::TargetDevice>(bus_, target.id, target.knobs);
        for (int lun = 0; lun < target.luns; ++lun) device->AddUnit(lun, MakeUnit(target));
        targets_.push_back(std::move(device));
    }
}

}  // namespace quell::sim
