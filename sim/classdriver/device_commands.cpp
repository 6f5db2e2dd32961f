// The disk and CD-ROM commands a class driver sends, and reads and writes split to what the
// adapter takes in one request.

#include <algorithm>

#include "sim/classdriver/class_driver.h"

namespace quell::sim {
namespace {

std::uint8_t Byte(std::uint64_t value, unsigned shift) {
    return static_cast<std::uint8_t>(value >> shift);
}

ULONG BigEndian32(const std::vector<std::byte>& data, std::size_t at) {
    return static_cast<ULONG>(data[at]) << 24 | static_cast<ULONG>(data[at + 1]) << 16 |
           static_cast<ULONG>(data[at + 2]) << 8 | static_cast<ULONG>(data[at + 3]);
}

CommandResult Refused(const char* why) {
    CommandResult result;
    result.srb_status = SRB_STATUS_INVALID_REQUEST;
    result.refused = why;
    return result;
}

constexpr ULONG kSixByteBlockLimit = 256;
constexpr ULONG kSixByteLbaLimit = 1u << 21;

}  // namespace

CommandResult ClassDriver::TestUnitReady(UCHAR target, UCHAR lun) {
    return Execute(Command(target, lun, {SCSIOP_TEST_UNIT_READY, 0, 0, 0, 0, 0}, 0, 0));
}

std::optional<Capacity> ClassDriver::ReadCapacity(UCHAR target, UCHAR lun, CommandResult* out) {
    CommandResult result = Execute(Command(
        target, lun, {SCSIOP_READ_CAPACITY, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SRB_FLAGS_DATA_IN, 8));
    std::optional<Capacity> capacity;
    if (result.Ok() && result.data.size() >= 8) {
        capacity = Capacity{BigEndian32(result.data, 0), BigEndian32(result.data, 4)};
    }
    if (out != nullptr) *out = std::move(result);
    return capacity;
}

TransferResult ClassDriver::Transfer(UCHAR target, UCHAR lun, ULONG lba, ULONG blocks,
                                     ULONG block_size, CdbForm form,
                                     std::span<const std::byte> out) {
    TransferResult transfer;
    const bool writing = !out.empty();
    ULONG per_request = std::max<ULONG>(1, MaximumTransfer() / std::max<ULONG>(1, block_size));
    if (form == CdbForm::Six) per_request = std::min(per_request, kSixByteBlockLimit);
    for (ULONG done = 0; done < blocks;) {
        const ULONG count = std::min(per_request, blocks - done);
        const ULONG at = lba + done;
        std::vector<std::uint8_t> cdb;
        if (form == CdbForm::Six) {
            if (at + count > kSixByteLbaLimit) {
                transfer.requests.push_back(Refused("a block beyond the reach of a 6-byte CDB"));
                return transfer;
            }
            // A count of 256 blocks is written as 0.
            cdb = {static_cast<std::uint8_t>(writing ? SCSIOP_WRITE6 : SCSIOP_READ6),
                   Byte(at, 16),
                   Byte(at, 8),
                   Byte(at, 0),
                   Byte(count, 0),
                   0};
        } else {
            cdb = {static_cast<std::uint8_t>(writing ? SCSIOP_WRITE : SCSIOP_READ),
                   0,
                   Byte(at, 24),
                   Byte(at, 16),
                   Byte(at, 8),
                   Byte(at, 0),
                   0,
                   Byte(count, 8),
                   Byte(count, 0),
                   0};
        }
        RequestSpec request_spec =
            Command(target, lun, std::move(cdb), writing ? SRB_FLAGS_DATA_OUT : SRB_FLAGS_DATA_IN,
                    count * block_size);
        if (writing) {
            const auto piece =
                out.subspan(std::size_t{done} * block_size, std::size_t{count} * block_size);
            request_spec.out_data.assign(piece.begin(), piece.end());
        }
        CommandResult result = Execute(std::move(request_spec));
        const bool ok = result.Ok() && result.transferred == count * block_size;
        if (!writing)
            transfer.data.insert(transfer.data.end(), result.data.begin(), result.data.end());
        transfer.requests.push_back(std::move(result));
        if (!ok) return transfer;
        done += count;
    }
    transfer.ok = true;
    return transfer;
}

TransferResult ClassDriver::Read(UCHAR target, UCHAR lun, ULONG lba, ULONG blocks, ULONG block_size,
                                 CdbForm form) {
    return Transfer(target, lun, lba, blocks, block_size, form, {});
}

TransferResult ClassDriver::Write(UCHAR target, UCHAR lun, ULONG lba,
                                  std::span<const std::byte> data, ULONG block_size, CdbForm form) {
    if (block_size == 0 || data.empty() || data.size() % block_size != 0) {
        TransferResult refused;
        refused.requests.push_back(Refused("the data is not a whole number of blocks"));
        return refused;
    }
    return Transfer(target, lun, lba, static_cast<ULONG>(data.size() / block_size), block_size,
                    form, data);
}

CommandResult ClassDriver::ModeSense10(UCHAR target, UCHAR lun, UCHAR page, USHORT allocation) {
    return Execute(Command(
        target, lun,
        {SCSIOP_MODE_SENSE10, 0, page, 0, 0, 0, 0, Byte(allocation, 8), Byte(allocation, 0), 0},
        SRB_FLAGS_DATA_IN, allocation));
}

CommandResult ClassDriver::ReadToc(UCHAR target, UCHAR lun, bool msf, UCHAR format, UCHAR track,
                                   USHORT allocation) {
    return Execute(Command(target, lun,
                           {SCSIOP_READ_TOC, static_cast<std::uint8_t>(msf ? 0x02 : 0), format, 0,
                            0, 0, track, Byte(allocation, 8), Byte(allocation, 0), 0},
                           SRB_FLAGS_DATA_IN, allocation));
}

CommandResult ClassDriver::ReadCd(UCHAR target, UCHAR lun, ULONG lba, ULONG blocks, bool raw) {
    // Byte 9 chooses what of each sector comes back: user data only, or everything
    // (sync, header, sub-headers, user data, EDC and ECC).
    const ULONG sector = raw ? 2352 : 2048;
    RequestSpec request_spec =
        Command(target, lun,
                {SCSIOP_READ_CD, 0, Byte(lba, 24), Byte(lba, 16), Byte(lba, 8), Byte(lba, 0),
                 Byte(blocks, 16), Byte(blocks, 8), Byte(blocks, 0),
                 static_cast<std::uint8_t>(raw ? 0xF8 : 0x10), 0, 0},
                SRB_FLAGS_DATA_IN, blocks * sector);
    // The 9x system request carries the byte count the driver is to move.
    OsRequestSpec os;
    os.byte_count = blocks * sector;
    if (adapter_.Setup().personality == PortPersonality::W9x) request_spec.os_request = os;
    return Execute(std::move(request_spec));
}

}  // namespace quell::sim
