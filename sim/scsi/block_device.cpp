#include "sim/scsi/block_device.h"

#include <algorithm>

namespace quell::sim::scsi {
namespace {

namespace op {
constexpr std::uint8_t kRead6 = 0x08, kWrite6 = 0x0A, kModeSelect6 = 0x15, kReserve6 = 0x16,
                       kRelease6 = 0x17, kModeSense6 = 0x1A, kStartStop = 0x1B,
                       kSendDiagnostic = 0x1D, kPreventAllow = 0x1E, kReadCapacity = 0x25,
                       kRead10 = 0x28, kWrite10 = 0x2A, kSeek10 = 0x2B, kVerify10 = 0x2F,
                       kSynchronizeCache = 0x35, kModeSense10 = 0x5A, kRead12 = 0xA8,
                       kWrite12 = 0xAA;
}  // namespace op

}  // namespace

BlockDevice::BlockDevice(std::uint8_t type, Identity identity,
                         std::unique_ptr<BlockStorage> storage, bool removable, bool writable)
    : CommandSet(type, std::move(identity), removable, true),
      storage_(std::move(storage)),
      writable_(writable) {
    auto accept = [this](Cdb) { return Good(); };
    for (const std::uint8_t opcode : {op::kRead6, op::kRead10, op::kRead12}) {
        Register(opcode, {"READ", [this](Cdb cdb) { return Read(cdb); }, {}});
    }
    if (writable_) {
        for (const std::uint8_t opcode : {op::kWrite6, op::kWrite10, op::kWrite12}) {
            Register(opcode, {"WRITE", [this](Cdb cdb) { return Write(cdb); },
                              [this](Cdb cdb, std::span<const std::uint8_t> data) {
                                  return FinishWrite(cdb, data);
                              }});
        }
        Register(op::kSynchronizeCache, {"SYNCHRONIZE CACHE", accept, {}});
    }
    Register(op::kReadCapacity,
             {"READ CAPACITY", [this](Cdb cdb) { return ReadCapacity(cdb); }, {}});
    Register(op::kModeSense6, {"MODE SENSE(6)", [this](Cdb cdb) { return ModeSense(cdb); }, {}});
    Register(op::kModeSense10, {"MODE SENSE(10)", [this](Cdb cdb) { return ModeSense(cdb); }, {}});
    Register(op::kModeSelect6, {"MODE SELECT(6)", [](Cdb cdb) { return DataOut(cdb[4]); },
                                [](Cdb, std::span<const std::uint8_t>) { return status::kGood; }});
    Register(op::kVerify10, {"VERIFY(10)", [this](Cdb cdb) { return Verify(cdb); }, {}});
    Register(op::kSeek10, {"SEEK(10)", accept, {}});
    Register(op::kStartStop, {"START STOP UNIT", accept, {}});
    Register(op::kPreventAllow, {"PREVENT ALLOW MEDIUM REMOVAL", accept, {}});
    Register(op::kSendDiagnostic, {"SEND DIAGNOSTIC", accept, {}});
    Register(op::kReserve6, {"RESERVE", accept, {}});
    Register(op::kRelease6, {"RELEASE", accept, {}});
}

std::optional<BlockDevice::Transfer> BlockDevice::DecodeTransfer(Cdb cdb) {
    switch (cdb[0]) {
        case op::kRead6:
        case op::kWrite6: {
            const std::uint32_t count = cdb[4] == 0 ? 256 : cdb[4];
            return Transfer{((cdb[1] & 0x1Fu) << 16) | Be16(cdb, 2), count};
        }
        case op::kRead10:
        case op::kWrite10:
        case op::kVerify10:
            return Transfer{Be32(cdb, 2), Be16(cdb, 7)};
        case op::kRead12:
        case op::kWrite12:
            return Transfer{Be32(cdb, 2), Be32(cdb, 6)};
        default:
            return std::nullopt;
    }
}

std::optional<BlockRange> BlockDevice::BlocksOf(std::span<const std::uint8_t> cdb) const {
    const auto transfer = DecodeTransfer(cdb);
    if (!transfer) return std::nullopt;
    return BlockRange{transfer->block, transfer->count};
}

bool BlockDevice::InRange(const Transfer& transfer) const {
    return transfer.block <= storage_->Blocks() &&
           transfer.count <= storage_->Blocks() - transfer.block;
}

CommandResult BlockDevice::ReadBlocks(std::uint64_t block, std::uint32_t count) {
    if (!InRange({block, count})) return Fail(IllegalRequest(asc::kLbaOutOfRange));
    std::vector<std::uint8_t> data(std::size_t{count} * storage_->BlockSize());
    if (!storage_->Read(block, data)) return Fail(MediumError(asc::kUnrecoveredReadError));
    const std::size_t length = data.size();
    return DataIn(std::move(data), length);
}

CommandResult BlockDevice::Read(Cdb cdb) {
    const auto transfer = DecodeTransfer(cdb);
    return ReadBlocks(transfer->block, transfer->count);
}

CommandResult BlockDevice::Write(Cdb cdb) {
    const auto transfer = DecodeTransfer(cdb);
    if (!InRange(*transfer)) return Fail(IllegalRequest(asc::kLbaOutOfRange));
    return DataOut(std::size_t{transfer->count} * storage_->BlockSize());
}

std::uint8_t BlockDevice::FinishWrite(Cdb cdb, std::span<const std::uint8_t> data) {
    const auto transfer = DecodeTransfer(cdb);
    if (!storage_->Write(transfer->block, data)) return FailStatus(MediumError(asc::kWriteError));
    return status::kGood;
}

CommandResult BlockDevice::ReadCapacity(Cdb cdb) {
    if ((cdb[8] & 0x01) != 0) return Fail(IllegalRequest(asc::kInvalidFieldInCdb));  // PMI
    std::vector<std::uint8_t> data(8, 0);
    const std::uint64_t last = storage_->Blocks() == 0 ? 0 : storage_->Blocks() - 1;
    PutBe32(data, 0, static_cast<std::uint32_t>(std::min<std::uint64_t>(last, 0xFFFFFFFF)));
    PutBe32(data, 4, storage_->BlockSize());
    return DataIn(std::move(data), 8);
}

// A header, one block descriptor and the caching page (0x08); other pages are refused.
CommandResult BlockDevice::ModeSense(Cdb cdb) {
    const bool ten = cdb[0] == op::kModeSense10;
    const std::uint8_t page = cdb[2] & 0x3F;
    const bool block_descriptor = (cdb[1] & 0x08) == 0;
    if (page != 0x08 && page != 0x3F && page != 0x00) {
        return Fail(IllegalRequest(asc::kInvalidFieldInCdb));
    }
    const std::size_t header = ten ? 8 : 4;
    std::vector<std::uint8_t> data(header, 0);
    if (!writable_) data[ten ? 3 : 2] = 0x80;  // write protected
    if (block_descriptor) {
        std::vector<std::uint8_t> descriptor(8, 0);
        PutBe32(descriptor, 0,
                static_cast<std::uint32_t>(std::min<std::uint64_t>(storage_->Blocks(), 0xFFFFFF)));
        PutBe32(descriptor, 4, storage_->BlockSize());
        descriptor[0] = 0;  // density code
        data.insert(data.end(), descriptor.begin(), descriptor.end());
        data[ten ? 7 : 3] = 8;
    }
    if (page != 0x00) {
        const std::uint8_t caching[12] = {0x08, 10, 0x04 /* write cache enabled */};
        data.insert(data.end(), std::begin(caching), std::end(caching));
    }
    if (ten) {
        const std::size_t length = data.size() - 2;
        data[0] = static_cast<std::uint8_t>(length >> 8);
        data[1] = static_cast<std::uint8_t>(length);
    } else {
        data[0] = static_cast<std::uint8_t>(data.size() - 1);
    }
    return DataIn(std::move(data), ten ? Be16(cdb, 7) : cdb[4]);
}

CommandResult BlockDevice::Verify(Cdb cdb) {
    if ((cdb[1] & 0x02) != 0) return Fail(IllegalRequest(asc::kInvalidFieldInCdb));  // BYTCHK
    const auto transfer = DecodeTransfer(cdb);
    if (!InRange(*transfer)) return Fail(IllegalRequest(asc::kLbaOutOfRange));
    return Good();
}

std::unique_ptr<BlockDevice> MakeDisk(Identity identity, std::unique_ptr<BlockStorage> storage) {
    return std::make_unique<BlockDevice>(device_type::kDisk, std::move(identity),
                                         std::move(storage), false, true);
}

std::unique_ptr<BlockDevice> MakeOptical(Identity identity, std::unique_ptr<BlockStorage> storage) {
    return std::make_unique<BlockDevice>(device_type::kOptical, std::move(identity),
                                         std::move(storage), true, true);
}

}  // namespace quell::sim::scsi
