// The bus scan: INQUIRY of LUN 0 on every target id, then of the further LUNs of every
// target that answered.

#include <algorithm>

#include "sim/classdriver/class_driver.h"

namespace quell::sim {
namespace {

constexpr UCHAR kQualifierNotPresent = 0x03;

std::string Text(const std::vector<std::byte>& data, std::size_t from, std::size_t length) {
    std::string text;
    for (std::size_t i = from; i < from + length && i < data.size(); ++i) {
        text.push_back(static_cast<char>(data[i]));
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

}  // namespace

CommandResult ClassDriver::Inquiry(UCHAR target, UCHAR lun, UCHAR allocation) {
    // A unit that does not answer selection is absent; asking again would not change that.
    return Execute(Command(target, lun, {SCSIOP_INQUIRY, 0, 0, 0, allocation, 0}, SRB_FLAGS_DATA_IN,
                           allocation),
                   /*retry_selection_timeout=*/false);
}

std::vector<DeviceFound> ClassDriver::ScanBus(UCHAR path) {
    const PORT_CONFIGURATION_INFORMATION& config = adapter_.ConfigInfo();
    const unsigned targets = config.MaximumNumberOfTargets == 0 ? 8 : config.MaximumNumberOfTargets;
    const unsigned luns = std::min<unsigned>(
        8, config.MaximumNumberOfLogicalUnits == 0 ? 8 : config.MaximumNumberOfLogicalUnits);
    const auto own_id = static_cast<UCHAR>(config.InitiatorBusId[path]);
    std::vector<DeviceFound> found;
    for (unsigned target = 0; target < targets; ++target) {
        if (target == own_id) continue;
        for (unsigned lun = 0; lun < luns; ++lun) {
            RequestSpec request_spec =
                Command(static_cast<UCHAR>(target), static_cast<UCHAR>(lun),
                        {SCSIOP_INQUIRY, 0, 0, 0, 36, 0}, SRB_FLAGS_DATA_IN, 36);
            request_spec.path = path;
            const CommandResult answer = Execute(request_spec, false);
            if (!answer.Ok() || answer.data.empty()) {
                if (lun == 0) break;  // nothing at this id: its other LUNs are not asked
                continue;
            }
            const auto first = static_cast<UCHAR>(answer.data[0]);
            if ((first >> 5) == kQualifierNotPresent || (first & 0x1F) == 0x1F) continue;
            DeviceFound device;
            device.path = path;
            device.target = static_cast<UCHAR>(target);
            device.lun = static_cast<UCHAR>(lun);
            device.peripheral_type = first & 0x1F;
            device.vendor = Text(answer.data, 8, 8);
            device.product = Text(answer.data, 16, 16);
            device.revision = Text(answer.data, 32, 4);
            device.inquiry = answer.data;
            found.push_back(std::move(device));
        }
    }
    return found;
}

}  // namespace quell::sim
