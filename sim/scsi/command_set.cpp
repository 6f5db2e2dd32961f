#include "sim/scsi/command_set.h"

#include <algorithm>

namespace quell::sim::scsi {
namespace {

constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::uint8_t kInquiry = 0x12;

void PutPadded(std::vector<std::uint8_t>& out, std::size_t at, std::size_t width,
               const std::string& text) {
    for (std::size_t i = 0; i < width; ++i) {
        out[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
    }
}

}  // namespace

CommandSet::CommandSet(std::uint8_t type, Identity identity, bool removable, bool synchronous)
    : type_(type),
      identity_(std::move(identity)),
      removable_(removable),
      synchronous_(synchronous) {
    Register(kTestUnitReady, {"TEST UNIT READY", [this](Cdb) { return Good(); }, {}});
    Register(kRequestSense, {"REQUEST SENSE", [this](Cdb cdb) { return RequestSense(cdb); }, {}});
    Register(kInquiry, {"INQUIRY", [this](Cdb cdb) { return Inquiry(cdb); }, {}});
}

void CommandSet::Register(std::uint8_t opcode, Entry entry) { table_[opcode] = std::move(entry); }

CommandResult CommandSet::Execute(Cdb cdb) {
    const std::uint8_t opcode = cdb[0];
    if (opcode != kRequestSense) {
        sense_ = NoSense();
    }
    if (unit_attention_ && opcode != kInquiry && opcode != kRequestSense) {
        unit_attention_ = false;
        return Fail(UnitAttention(asc::kResetOccurred));
    }
    const auto& entry = table_[opcode];
    if (!entry) {
        return Fail(IllegalRequest(asc::kInvalidOperationCode));
    }
    return entry->execute(cdb);
}

std::uint8_t CommandSet::FinishDataOut(Cdb cdb, std::span<const std::uint8_t> data) {
    const auto& entry = table_[cdb[0]];
    if (!entry || !entry->finish) {
        return FailStatus(IllegalRequest(asc::kInvalidOperationCode));
    }
    return entry->finish(cdb, data);
}

CommandResult CommandSet::Fail(const Sense& sense) {
    sense_ = sense;
    CommandResult result;
    result.status = status::kCheckCondition;
    return result;
}

std::uint8_t CommandSet::FailStatus(const Sense& sense) {
    sense_ = sense;
    return status::kCheckCondition;
}

CommandResult CommandSet::DataIn(std::vector<std::uint8_t> bytes, std::size_t allocation) {
    CommandResult result;
    bytes.resize(std::min(bytes.size(), allocation));
    result.direction = bytes.empty() ? DataDirection::None : DataDirection::In;
    result.data_in = std::move(bytes);
    return result;
}

CommandResult CommandSet::DataOut(std::size_t length) {
    CommandResult result;
    result.direction = length == 0 ? DataDirection::None : DataDirection::Out;
    result.data_out_length = length;
    return result;
}

void CommandSet::PutBe32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value >> 24);
    out[at + 1] = static_cast<std::uint8_t>(value >> 16);
    out[at + 2] = static_cast<std::uint8_t>(value >> 8);
    out[at + 3] = static_cast<std::uint8_t>(value);
}

std::vector<std::uint8_t> CommandSet::InquiryData() const {
    std::vector<std::uint8_t> data(36, 0);
    data[0] = type_;
    data[1] = removable_ ? 0x80 : 0x00;
    data[2] = 0x02;  // SCSI-2
    data[3] = 0x02;  // response data format
    data[4] = 31;    // additional length
    data[7] = synchronous_ ? 0x10 : 0x00;
    PutPadded(data, 8, 8, identity_.vendor);
    PutPadded(data, 16, 16, identity_.product);
    PutPadded(data, 32, 4, identity_.revision);
    return data;
}

CommandResult CommandSet::Inquiry(Cdb cdb) {
    if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) {
        return Fail(IllegalRequest(asc::kInvalidFieldInCdb));  // no vital product data pages
    }
    return DataIn(InquiryData(), cdb[4]);
}

CommandResult CommandSet::RequestSense(Cdb cdb) {
    const Sense reported = unit_attention_ ? UnitAttention(asc::kResetOccurred) : sense_;
    unit_attention_ = false;
    sense_ = NoSense();
    return DataIn(reported.Bytes(cdb[4] == 0 ? 4 : cdb[4]), cdb[4] == 0 ? 4 : cdb[4]);
}

CommandResult AbsentUnit::Execute(std::span<const std::uint8_t> cdb) {
    if (cdb[0] == 0x12) {
        std::vector<std::uint8_t> data(36, 0);
        data[0] = device_type::kNoUnit;
        data[4] = 31;
        data.resize(std::min<std::size_t>(data.size(), cdb[4]));
        CommandResult result;
        result.direction = data.empty() ? DataDirection::None : DataDirection::In;
        result.data_in = std::move(data);
        return result;
    }
    if (cdb[0] == 0x03) {
        CommandResult result;
        result.data_in = IllegalRequest(asc::kLogicalUnitNotSupported).Bytes(cdb[4]);
        result.direction = result.data_in.empty() ? DataDirection::None : DataDirection::In;
        return result;
    }
    CommandResult result;
    result.status = status::kCheckCondition;
    return result;
}

}  // namespace quell::sim::scsi
