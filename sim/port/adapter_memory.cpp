// Physical addresses of what the port driver handed the driver: request data buffers, SRB
// extensions and the uncached extension.

#include <sstream>

#include "sim/port/adapter.h"
#include "sim/port/port_driver.h"

namespace quell::sim {
namespace {

bool Inside(std::span<const std::byte> range, const std::byte* address) {
    return !range.empty() && address >= range.data() && address < range.data() + range.size();
}

}  // namespace

SCSI_PHYSICAL_ADDRESS Adapter::PhysicalAddress(PSCSI_REQUEST_BLOCK srb, const void* address,
                                               ULONG* length) {
    SCSI_PHYSICAL_ADDRESS physical{};
    if (length != nullptr) *length = 0;
    const auto* byte = static_cast<const std::byte*>(address);
    std::span<const std::byte> range;
    if (srb != nullptr) {
        const Request* request = FindBySrb(srb);
        if (request == nullptr || request->state != RequestState::InDriver) {
            Violation("ScsiPortGetPhysicalAddress names a request block the driver does not own");
            return physical;
        }
        const auto data = std::span<const std::byte>(request->data)
                              .first(std::min<std::size_t>(request->data.size(),
                                                           request->request_spec.data_length));
        if (Inside(data, byte)) {
            range = data;
        } else if (Inside(request->srb_extension_block, byte)) {
            range = request->srb_extension_block;
        } else {
            Violation("ScsiPortGetPhysicalAddress for an address outside the data buffer of " +
                      Describe(*request));
            return physical;
        }
    } else if (Inside(uncached_, byte)) {
        range = uncached_;
    } else {
        for (const auto& [id, request] : requests_) {
            if (request.state == RequestState::InDriver &&
                Inside(request.srb_extension_block, byte)) {
                range = request.srb_extension_block;
            }
        }
        if (range.empty()) {
            Violation(
                "ScsiPortGetPhysicalAddress without a request for an address that is "
                "neither in the uncached extension nor in the SRB extension of a request "
                "the driver owns");
            return physical;
        }
    }
    const auto translation = memory_.ToPhysical(address);
    if (!translation) {
        Violation("ScsiPortGetPhysicalAddress: simulated memory has no page behind the address");
        return physical;
    }
    const auto to_end = static_cast<std::uint64_t>(range.data() + range.size() - byte);
    physical.QuadPart = static_cast<LONGLONG>(translation->physical);
    if (length != nullptr) {
        *length = static_cast<ULONG>(std::min<std::uint64_t>(translation->contiguous, to_end));
    }
    return physical;
}

}  // namespace quell::sim
