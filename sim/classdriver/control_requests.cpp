// Requests that are not SCSI commands: control requests to the driver, abort and bus reset.

#include <cstring>

#include "sim/classdriver/class_driver.h"

namespace quell::sim {

ControlResult ClassDriver::IoControl(const char (&signature)[9], ULONG control_code,
                                     std::span<const std::byte> payload, ULONG timeout_seconds) {
    SRB_IO_CONTROL header{};
    header.HeaderLength = sizeof(SRB_IO_CONTROL);
    std::memcpy(header.Signature, signature, sizeof(header.Signature));
    header.Timeout = timeout_seconds;
    header.ControlCode = control_code;
    header.Length = static_cast<ULONG>(payload.size());

    RequestSpec request_spec;
    request_spec.function = SRB_FUNCTION_IO_CONTROL;
    request_spec.srb_flags = SRB_FLAGS_DATA_IN | SRB_FLAGS_DATA_OUT;
    request_spec.data_length = static_cast<ULONG>(sizeof(header) + payload.size());
    request_spec.timeout_seconds = timeout_seconds;
    request_spec.out_data.resize(request_spec.data_length);
    std::memcpy(request_spec.out_data.data(), &header, sizeof(header));
    std::copy(payload.begin(), payload.end(), request_spec.out_data.begin() + sizeof(header));

    ControlResult control;
    control.command = Execute(std::move(request_spec));
    const auto& data = control.command.data;
    if (data.size() >= sizeof(SRB_IO_CONTROL)) {
        SRB_IO_CONTROL returned;
        std::memcpy(&returned, data.data(), sizeof(returned));
        control.return_code = returned.ReturnCode;
        control.payload.assign(data.begin() + sizeof(SRB_IO_CONTROL), data.end());
    }
    return control;
}

// Neither is retried: an abort or a reset that fails is reported as it came back.
CommandResult ClassDriver::Abort(UCHAR target, UCHAR lun) {
    RequestSpec request_spec = Command(target, lun, {}, 0, 0);
    request_spec.function = SRB_FUNCTION_ABORT_COMMAND;
    return SendOnce(request_spec);
}

CommandResult ClassDriver::ResetBus(UCHAR path) {
    RequestSpec request_spec = Command(0, 0, {}, 0, 0);
    request_spec.function = SRB_FUNCTION_RESET_BUS;
    request_spec.path = path;
    return SendOnce(request_spec);
}

}  // namespace quell::sim
