// The CD-ROM: one data track of 2048-byte blocks, its table of contents, and READ CD with the
// sector parts a class driver asks for.
#include <algorithm>

#include "sim/scsi/block_device.h"

namespace quell::sim::scsi {
namespace {

constexpr std::uint8_t kReadToc = 0x43;
constexpr std::uint8_t kReadCd = 0xBE;
constexpr std::uint32_t kPregapFrames = 150;  // the two seconds before block 0
constexpr std::uint8_t kLeadOut = 0xAA;

std::uint8_t Bcd(unsigned value) {
    return static_cast<std::uint8_t>(((value / 10) << 4) | (value % 10));
}

// Minute, second, frame of a block, as READ TOC gives them (binary) or a header has them (BCD).
struct Msf {
    unsigned minute, second, frame;
};
Msf MsfOf(std::uint64_t block) {
    const std::uint64_t frames = block + kPregapFrames;
    return {static_cast<unsigned>(frames / (60 * 75)), static_cast<unsigned>((frames / 75) % 60),
            static_cast<unsigned>(frames % 75)};
}

void PutAddress(std::vector<std::uint8_t>& out, std::uint64_t block, bool msf) {
    if (msf) {
        const Msf m = MsfOf(block);
        out.insert(out.end(),
                   {0, static_cast<std::uint8_t>(m.minute), static_cast<std::uint8_t>(m.second),
                    static_cast<std::uint8_t>(m.frame)});
    } else {
        out.insert(out.end(),
                   {static_cast<std::uint8_t>(block >> 24), static_cast<std::uint8_t>(block >> 16),
                    static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block)});
    }
}

}  // namespace

CdRom::CdRom(Identity identity, std::unique_ptr<BlockStorage> storage)
    : BlockDevice(device_type::kCdRom, std::move(identity), std::move(storage), true, false) {
    Register(kReadToc, {"READ TOC", [this](Cdb cdb) { return ReadToc(cdb); }, {}});
    Register(kReadCd, {"READ CD", [this](Cdb cdb) { return ReadCd(cdb); }, {}});
}

CommandResult CdRom::ReadToc(Cdb cdb) {
    const bool msf = (cdb[1] & 0x02) != 0;
    const std::uint8_t format = cdb[2] & 0x0F;
    const std::uint8_t track = cdb[6];
    std::vector<std::uint8_t> data = {0, 0, 1, 1};  // length, first and last track
    auto descriptor = [&](std::uint8_t number, std::uint64_t block) {
        data.insert(data.end(), {0, 0x14 /* data track, digital copy */, number, 0});
        PutAddress(data, block, msf);
    };
    if (format == 0) {
        if (track > 1 && track != kLeadOut) return Fail(IllegalRequest(asc::kInvalidFieldInCdb));
        if (track <= 1) descriptor(1, 0);
        descriptor(kLeadOut, Storage().Blocks());
    } else if (format == 1) {
        descriptor(1, 0);  // first track of the last (only) session
    } else {
        return Fail(IllegalRequest(asc::kInvalidFieldInCdb));
    }
    const std::size_t length = data.size() - 2;
    data[0] = static_cast<std::uint8_t>(length >> 8);
    data[1] = static_cast<std::uint8_t>(length);
    return DataIn(std::move(data), Be16(cdb, 7));
}

CommandResult CdRom::ReadCd(Cdb cdb) {
    const std::uint8_t sector_type = (cdb[1] >> 2) & 0x07;
    const std::uint8_t parts = cdb[9];
    if ((sector_type != 0 && sector_type != 2) || cdb[10] != 0 || (parts & 0x07) != 0) {
        return Fail(IllegalRequest(asc::kInvalidFieldInCdb));  // mode 1 data, no sub-channel
    }
    const std::uint64_t block = Be32(cdb, 2);
    const std::uint32_t count = Be24(cdb, 6);
    CommandResult user = ReadBlocks(block, count);
    if (user.status != status::kGood) return user;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (parts & 0x80) {
            const std::uint8_t sync[12] = {0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
            data.insert(data.end(), std::begin(sync), std::end(sync));
        }
        if (parts & 0x20) {
            const Msf m = MsfOf(block + i);
            data.insert(data.end(), {Bcd(m.minute), Bcd(m.second), Bcd(m.frame), 1});
        }
        if (parts & 0x10) {
            const auto first = user.data_in.begin() + static_cast<std::ptrdiff_t>(i) * 2048;
            data.insert(data.end(), first, first + 2048);
        }
        if (parts & 0x08) data.insert(data.end(), 288, 0);  // EDC, reserved, ECC
    }
    const std::size_t length = data.size();
    return DataIn(std::move(data), length);
}

}  // namespace quell::sim::scsi
