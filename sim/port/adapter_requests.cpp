// Requests through the adapter: submission and its checks, the memory each request lives
// in, the per-logical-unit queue rule, and the hand-back once the driver has returned one.

#include <algorithm>
#include <cstring>
#include <sstream>

#include "sim/port/adapter.h"
#include "sim/port/port_driver.h"

namespace quell::sim {
namespace {

constexpr ULONG kDirectionMask = SRB_FLAGS_UNSPECIFIED_DIRECTION;

void PutU32(std::byte* at, std::uint32_t value) { std::memcpy(at, &value, sizeof(value)); }

std::uint32_t AddressOf(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

}  // namespace

std::string Describe(const Request& request) {
    std::ostringstream text;
    text << "request " << request.id << " (";
    if (request.request_spec.function == SRB_FUNCTION_EXECUTE_SCSI &&
        !request.request_spec.cdb.empty()) {
        text << "EXECUTE_SCSI 0x" << std::hex << static_cast<int>(request.request_spec.cdb[0])
             << std::dec;
    } else {
        text << "function 0x" << std::hex << static_cast<int>(request.request_spec.function)
             << std::dec;
    }
    text << " to " << static_cast<int>(request.request_spec.path) << ':'
         << static_cast<int>(request.request_spec.target) << ':'
         << static_cast<int>(request.request_spec.lun) << ')';
    return text.str();
}

std::string Adapter::CheckSpec(const RequestSpec& request_spec) const {
    std::ostringstream error;
    const unsigned buses = std::max<unsigned>(1, config_.NumberOfBuses);
    const unsigned targets =
        config_.MaximumNumberOfTargets == 0 ? 8 : config_.MaximumNumberOfTargets;
    const unsigned luns = std::min<unsigned>(
        8, config_.MaximumNumberOfLogicalUnits == 0 ? 8 : config_.MaximumNumberOfLogicalUnits);
    const ULONG direction = request_spec.srb_flags & kDirectionMask;
    if (!started_) {
        error << "the adapter has not been initialised";
    } else if (request_spec.path >= buses) {
        error << "path id " << int{request_spec.path} << " is beyond the adapter's " << buses
              << " bus(es)";
    } else if (request_spec.target >= targets) {
        error << "target id " << int{request_spec.target} << " is beyond the adapter's " << targets
              << " targets";
    } else if (request_spec.lun > 7 || request_spec.lun >= luns) {
        error << "LUN " << int{request_spec.lun} << " is above " << luns - 1;
    } else if (request_spec.target ==
               static_cast<UCHAR>(config_.InitiatorBusId[request_spec.path])) {
        error << "target id " << int{request_spec.target} << " is the adapter's own id";
    } else if (request_spec.function == SRB_FUNCTION_EXECUTE_SCSI &&
               (request_spec.cdb.empty() || request_spec.cdb.size() > 16)) {
        error << "a SCSI command needs a CDB of 1 to 16 bytes, not " << request_spec.cdb.size();
    } else if (request_spec.data_length == 0 && direction != 0) {
        error << "zero-length data with a data direction";
    } else if (request_spec.data_length > 0 && direction == 0) {
        error << request_spec.data_length << " bytes of data without a data direction";
    } else if (request_spec.function == SRB_FUNCTION_EXECUTE_SCSI &&
               config_.MaximumTransferLength != SP_UNINITIALIZED_VALUE &&
               request_spec.data_length > config_.MaximumTransferLength) {
        error << request_spec.data_length
              << " bytes exceed the adapter's maximum transfer length of "
              << config_.MaximumTransferLength;
    } else if (!request_spec.buffer.empty() &&
               !memory_.Contains(request_spec.buffer.data(), request_spec.buffer.size())) {
        error << "the data buffer is outside simulated memory";
    } else if (!request_spec.buffer.empty() &&
               request_spec.buffer.size() < request_spec.data_length) {
        error << "the data buffer holds " << request_spec.buffer.size() << " bytes, fewer than the "
              << request_spec.data_length << " to transfer";
    } else if (request_spec.out_data.size() > request_spec.data_length) {
        error << request_spec.out_data.size() << " bytes to send exceed the data length";
    } else if (request_spec.srb_extension_misalign > 3) {
        error << "an SRB extension can be misaligned by 0 to 3 bytes only";
    } else if (request_spec.os_request) {
        const OsRequestSpec& os = *request_spec.os_request;
        if (os.shift > 31) error << "a system request's shift must be below 32";
        for (std::size_t i = 0; i < os.descriptors.size() && error.tellp() == 0; ++i) {
            const auto& d = os.descriptors[i];
            const std::uint64_t end =
                std::uint64_t{d.buffer_offset} + (std::uint64_t{d.count} << os.shift);
            if (d.count == 0) {
                error << "descriptor " << i << " has a count of 0, which ends the list";
            } else if (end > request_spec.data_length) {
                error << "descriptor " << i << " reaches beyond the data buffer";
            }
        }
    }
    return error.str();
}

Submission Adapter::Submit(RequestSpec request_spec, CompletionCallback on_complete) {
    if (std::string error = CheckSpec(request_spec); !error.empty()) {
        return Submission{std::nullopt, "request refused: " + error};
    }
    const RequestId id = next_id_++;
    Request& request = requests_[id];
    request.id = id;
    request.request_spec = std::move(request_spec);
    request.submitted = clock_.Now();
    BuildFrame(request);
    if (on_complete) callbacks_[id] = std::move(on_complete);
    queue_.push_back(id);
    return Submission{id, {}};
}

void Adapter::BuildFrame(Request& request) {
    const RequestSpec& request_spec = request.request_spec;
    // The request block with the 9x system request's pointer behind it. Frames are reused
    // rather than freed, so a driver that reads a request block after handing it back
    // reads a request block, as on a real system.
    if (free_frames_.empty()) {
        request.frame =
            memory_.Allocate(kOsRequestPointerOffset + sizeof(std::uint32_t), MemoryLayout{});
    } else {
        request.frame = free_frames_.back();
        free_frames_.pop_back();
        std::fill(request.frame.begin(), request.frame.end(), std::byte{0});
    }
    returned_srbs_.erase(request.frame.data());
    auto* srb = reinterpret_cast<SCSI_REQUEST_BLOCK*>(request.frame.data());
    request.srb = srb;
    srb->Length = sizeof(SCSI_REQUEST_BLOCK);
    srb->Function = request_spec.function;
    srb->PathId = request_spec.path;
    srb->TargetId = request_spec.target;
    srb->Lun = request_spec.lun;
    srb->QueueTag = SP_UNTAGGED;
    srb->CdbLength = static_cast<UCHAR>(request_spec.cdb.size());
    std::copy(request_spec.cdb.begin(), request_spec.cdb.end(), srb->Cdb);
    srb->SrbFlags = request_spec.srb_flags;
    srb->DataTransferLength = request_spec.data_length;
    srb->TimeOutValue = request_spec.timeout_seconds;

    if (!request_spec.buffer.empty()) {
        request.data = request_spec.buffer.first(request_spec.data_length);
    } else if (request_spec.data_length > 0) {
        request.data = memory_.Allocate(
            request_spec.data_length, request_spec.buffer_layout.value_or(setup_.request_buffers));
        request.owns_data = true;
    }
    std::copy(request_spec.out_data.begin(), request_spec.out_data.end(), request.data.begin());
    srb->DataBuffer = request.data.empty() ? nullptr : request.data.data();

    if (hw_.SrbExtensionSize > 0) {
        auto& pool = free_extensions_[request_spec.srb_extension_misalign];
        if (pool.empty()) {
            MemoryLayout layout = setup_.srb_extensions;
            layout.page_offset = (layout.page_offset & ~3u) + request_spec.srb_extension_misalign;
            request.srb_extension_block = memory_.Allocate(hw_.SrbExtensionSize, layout);
        } else {
            request.srb_extension_block = pool.back();
            pool.pop_back();
            std::fill(request.srb_extension_block.begin(), request.srb_extension_block.end(),
                      std::byte{0});
        }
        srb->SrbExtension = request.srb_extension_block.data();
    }

    const std::optional<OsRequestSpec> os =
        request_spec.os_request ? request_spec.os_request
                                : (setup_.personality == PortPersonality::W9x
                                       ? std::optional<OsRequestSpec>(OsRequestSpec{})
                                       : std::nullopt);
    if (os && os->present) BuildOsRequest(request, *os);
}

void Adapter::BuildOsRequest(Request& request, const OsRequestSpec& os) {
    // One block: the system request, the record that carries the shift, the descriptor list.
    constexpr std::size_t kShiftRecordAt = 136;
    constexpr std::size_t kShiftRecordSize = 64;
    constexpr std::size_t kListAt = kShiftRecordAt + kShiftRecordSize;
    const std::size_t size = kListAt + (os.descriptors.size() + 1) * 2 * sizeof(std::uint32_t);
    request.os_request = memory_.Allocate(size, MemoryLayout{});
    std::byte* record = request.os_request.data();
    std::byte* shift_record = record + kShiftRecordAt;
    std::byte* list = record + kListAt;

    PutU32(record + kOsRequestShiftRecordOffset, AddressOf(shift_record));
    shift_record[kOsRequestShiftOffset] = std::byte{os.shift};
    record[kOsRequestFlagsOffset] = std::byte{os.flags};
    PutU32(record + kOsRequestByteCountOffset,
           os.byte_count.value_or(request.request_spec.data_length));
    PutU32(record + kOsRequestDescriptorsOffset, AddressOf(list));
    for (std::size_t i = 0; i < os.descriptors.size(); ++i) {
        PutU32(list + 8 * i, os.descriptors[i].count);
        PutU32(list + 8 * i + 4, AddressOf(request.data.data() + os.descriptors[i].buffer_offset));
    }
    PutU32(request.frame.data() + kOsRequestPointerOffset, AddressOf(record));
}

void Adapter::ReleaseRequestMemory(Request& request) {
    returned_srbs_[request.frame.data()] = request.id;
    free_frames_.push_back(request.frame);
    if (!request.srb_extension_block.empty()) {
        free_extensions_[request.request_spec.srb_extension_misalign].push_back(
            request.srb_extension_block);
    }
    if (request.owns_data) memory_.Release(request.data.data());
    if (!request.os_request.empty()) memory_.Release(request.os_request.data());
}

Request* Adapter::FindBySrb(const void* srb) {
    for (auto& [id, request] : requests_) {
        if (request.srb == srb) return &request;
    }
    return nullptr;
}

bool Adapter::StartNextRequest() {
    if (!started_ || !ready_ || running_ != nullptr || queue_.empty()) return false;
    if (clock_.Now() < reset_hold_until_) {
        if (!hold_wake_scheduled_) {
            WakeAt(reset_hold_until_, "bus reset hold ends");
            hold_wake_scheduled_ = true;
        }
        return false;
    }
    const bool one_per_unit = !hw_.MultipleRequestPerLu && !hw_.TaggedQueuing;
    const auto next = std::find_if(queue_.begin(), queue_.end(), [&](RequestId id) {
        const RequestSpec& request_spec = requests_.at(id).request_spec;
        if (request_spec.function != SRB_FUNCTION_EXECUTE_SCSI || !one_per_unit) return true;
        const auto unit = units_.find({request_spec.path, request_spec.target, request_spec.lun});
        return unit == units_.end() || !unit->second.active;
    });
    if (next == queue_.end()) return false;
    Request& request = requests_.at(*next);
    queue_.erase(next);

    LogicalUnit& unit =
        UnitAt(request.request_spec.path, request.request_spec.target, request.request_spec.lun);
    if (request.request_spec.function == SRB_FUNCTION_EXECUTE_SCSI) {
        if (unit.active && one_per_unit) {
            Violation("the port driver sent " + Describe(request) +
                      " to a logical unit that already has a request in the driver");
        }
        unit.active = request.id;
    }
    request.state = RequestState::InDriver;
    request.started = clock_.Now();
    request.timeout_counter = request.request_spec.timeout_seconds;
    ready_ = false;
    ++counters_.start_io_calls;
    ArmTimeoutTick();
    const RequestId id = request.id;
    SCSI_REQUEST_BLOCK* srb = request.srb;
    const bool accepted =
        CallRoutine("HwStartIo", [this, srb] { return hw_.HwStartIo(extension_, srb) != FALSE; });
    if (!accepted) {
        Violation("HwStartIo answered FALSE for request " + std::to_string(id));
    }
    return true;
}

void Adapter::MarkCompleted(Request& request) {
    request.state = RequestState::CompletionPending;
    to_hand_back_.push_back(request.id);
    const auto unit = units_.find(
        {request.request_spec.path, request.request_spec.target, request.request_spec.lun});
    if (unit != units_.end() && unit->second.active == request.id) unit->second.active.reset();
}

void Adapter::CompleteRequests(UCHAR path, UCHAR target, UCHAR lun, UCHAR status) {
    if (running_ == nullptr) {
        Violation("ScsiPortCompleteRequest called outside the adapter's routines");
        return;
    }
    const auto matches = [](UCHAR wanted, UCHAR actual) {
        return wanted == SP_UNTAGGED || wanted == actual;
    };
    for (auto& [id, request] : requests_) {
        if (request.state != RequestState::InDriver) continue;
        if (!matches(path, request.request_spec.path) ||
            !matches(target, request.request_spec.target) ||
            !matches(lun, request.request_spec.lun)) {
            continue;
        }
        request.srb->SrbStatus = status;
        MarkCompleted(request);
    }
}

void Adapter::AfterRoutine() {
    // What the driver returned goes back once its routine has ended, as a port driver's
    // deferred completion does: a status the driver writes before returning still counts.
    while (!to_hand_back_.empty()) {
        const RequestId id = to_hand_back_.front();
        to_hand_back_.erase(to_hand_back_.begin());
        HandBack(requests_.at(id));
    }
}

void Adapter::HandBack(Request& request) {
    const SCSI_REQUEST_BLOCK& srb = *request.srb;
    RequestResult result;
    result.id = request.id;
    result.function = request.request_spec.function;
    result.srb_status = srb.SrbStatus;
    result.scsi_status = srb.ScsiStatus;
    result.data_transfer_length = srb.DataTransferLength;
    result.timed_out = request.timed_out;
    result.lost = request.lost;
    result.submitted = request.submitted;
    result.started = request.started;
    result.completed = clock_.Now();
    if (srb.SrbStatus == SRB_STATUS_PENDING) {
        Violation(Describe(request) + " was completed with SRB_STATUS_PENDING");
    }
    if (srb.DataTransferLength > request.request_spec.data_length) {
        Violation(Describe(request) + " reports " + std::to_string(srb.DataTransferLength) +
                  " bytes moved for a " + std::to_string(request.request_spec.data_length) +
                  "-byte transfer");
        result.data_transfer_length = request.request_spec.data_length;
    }
    if ((request.request_spec.srb_flags & SRB_FLAGS_DATA_IN) != 0) {
        const auto moved = request.data.first(result.data_transfer_length);
        result.data.assign(moved.begin(), moved.end());
    }
    ++counters_.requests_completed;
    ReleaseRequestMemory(request);
    const RequestId id = request.id;
    requests_.erase(id);
    results_[id] = result;
    if (const auto callback = callbacks_.find(id); callback != callbacks_.end()) {
        const CompletionCallback on_complete = std::move(callback->second);
        callbacks_.erase(callback);
        on_complete(result);
    }
}

}  // namespace quell::sim
