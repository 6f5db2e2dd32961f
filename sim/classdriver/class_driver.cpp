// Sending one request as a class driver does: the retries it makes and the sense data it
// fetches after a CHECK CONDITION.

#include "sim/classdriver/class_driver.h"

#include <algorithm>

namespace quell::sim {
namespace {

constexpr UCHAR kStatusFlags = SRB_STATUS_QUEUE_FROZEN | SRB_STATUS_AUTOSENSE_VALID;
constexpr UCHAR kSenseLength = 18;
// "Logical unit is in process of becoming ready".
constexpr UCHAR kAscNotReady = 0x04;
constexpr UCHAR kAscqBecomingReady = 0x01;

}  // namespace

RequestSpec ClassDriver::Command(UCHAR target, UCHAR lun, std::vector<std::uint8_t> cdb,
                                 ULONG flags, ULONG length) const {
    RequestSpec request_spec;
    request_spec.target = target;
    request_spec.lun = lun;
    // Targets of this generation also take the LUN from the CDB's second byte.
    if (cdb.size() > 1 && cdb[0] < 0xA0) cdb[1] = static_cast<std::uint8_t>(cdb[1] | lun << 5);
    request_spec.cdb = std::move(cdb);
    request_spec.srb_flags = flags;
    request_spec.data_length = length;
    request_spec.timeout_seconds = options_.timeout_seconds;
    return request_spec;
}

CommandResult ClassDriver::SendOnce(const RequestSpec& request_spec) {
    CommandResult result;
    result.attempts = 1;
    const Submission submission = adapter_.Submit(request_spec);
    if (!submission) {
        result.srb_status = SRB_STATUS_INVALID_REQUEST;
        result.refused = submission.error;
        return result;
    }
    if (!adapter_.RunUntilComplete(*submission.id, options_.patience)) {
        result.incomplete = true;
        return result;
    }
    RequestResult returned = *adapter_.TakeResult(*submission.id);
    result.srb_status = returned.srb_status & static_cast<UCHAR>(~kStatusFlags);
    result.scsi_status = returned.scsi_status;
    result.transferred = returned.data_transfer_length;
    result.data = std::move(returned.data);
    return result;
}

CommandResult ClassDriver::RequestSense(UCHAR target, UCHAR lun) {
    return SendOnce(Command(target, lun, {SCSIOP_REQUEST_SENSE, 0, 0, 0, kSenseLength, 0},
                            SRB_FLAGS_DATA_IN, kSenseLength));
}

CommandResult ClassDriver::Execute(RequestSpec request_spec, bool retry_selection_timeout) {
    CommandResult result;
    for (unsigned attempt = 1; attempt <= options_.max_retries + 1; ++attempt) {
        result = SendOnce(request_spec);
        result.attempts = attempt;
        if (!result.refused.empty() || result.incomplete || result.Ok()) return result;

        SimTime delay = 0;
        bool retry = false;
        if (result.srb_status == SRB_STATUS_ERROR &&
            result.scsi_status == SCSISTAT_CHECK_CONDITION) {
            const CommandResult sense = RequestSense(request_spec.target, request_spec.lun);
            if (sense.Ok() && sense.data.size() >= 14) {
                SenseData data;
                data.key = static_cast<UCHAR>(sense.data[2]) & 0x0F;
                data.asc = static_cast<UCHAR>(sense.data[12]);
                data.ascq = static_cast<UCHAR>(sense.data[13]);
                data.raw = sense.data;
                result.sense = data;
                retry = data.key == SCSI_SENSE_UNIT_ATTENTION ||
                        (data.key == SCSI_SENSE_NOT_READY && data.asc == kAscNotReady &&
                         data.ascq == kAscqBecomingReady);
                if (data.key == SCSI_SENSE_NOT_READY) delay = options_.not_ready_delay;
            }
        } else if (result.srb_status == SRB_STATUS_BUSY || result.scsi_status == SCSISTAT_BUSY) {
            retry = true;
            delay = options_.busy_delay;
        } else if (result.srb_status == SRB_STATUS_BUS_RESET) {
            retry = true;
        } else if (result.srb_status == SRB_STATUS_SELECTION_TIMEOUT) {
            retry = retry_selection_timeout;
        }
        if (!retry) return result;
        if (delay > 0 && attempt <= options_.max_retries) adapter_.RunFor(delay);
    }
    return result;
}

ULONG ClassDriver::MaximumTransfer() const {
    const PORT_CONFIGURATION_INFORMATION& config = adapter_.ConfigInfo();
    ULONG limit = config.MaximumTransferLength == SP_UNINITIALIZED_VALUE
                      ? 0xFFFFFFFFu
                      : config.MaximumTransferLength;
    // A buffer of n pieces starts anywhere in a page: n - 1 whole pages always fit.
    if (config.NumberOfPhysicalBreaks != SP_UNINITIALIZED_VALUE &&
        config.NumberOfPhysicalBreaks > 0) {
        limit = std::min<ULONG>(limit, config.NumberOfPhysicalBreaks * 4096);
    }
    return limit;
}

}  // namespace quell::sim
