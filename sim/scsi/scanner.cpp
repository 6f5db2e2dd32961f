#include "sim/scsi/scanner.h"

#include <algorithm>

namespace quell::sim::scsi {
namespace {

constexpr std::uint8_t kScan = 0x1B;
constexpr std::uint8_t kSetWindow = 0x24;
constexpr std::uint8_t kRead = 0x28;
constexpr std::uint8_t kObjectPosition = 0x31;
constexpr std::uint8_t kGetDataBufferStatus = 0x34;
constexpr std::uint8_t kReceive = 0x08;
constexpr std::uint8_t kSend = 0x0A;

}  // namespace

Scanner::Scanner(Identity identity, std::uint32_t line_bytes, std::uint32_t lines)
    : CommandSet(device_type::kScanner, std::move(identity), false, false),
      line_bytes_(line_bytes),
      lines_(lines) {
    Register(kSetWindow,
             {"SET WINDOW", [](Cdb cdb) { return DataOut(Be24(cdb, 6)); },
              [this](Cdb, std::span<const std::uint8_t> data) { return SetWindow(data); }});
    Register(kScan, {"SCAN",
                     [this](Cdb) {
                         scanning_ = true;
                         position_ = 0;
                         return Good();
                     },
                     {}});
    Register(kRead, {"READ", [this](Cdb cdb) { return Read(cdb); }, {}});
    Register(kObjectPosition, {"OBJECT POSITION", [this](Cdb) { return Good(); }, {}});
    Register(kGetDataBufferStatus, {"GET DATA BUFFER STATUS",
                                    [this](Cdb cdb) {
                                        std::vector<std::uint8_t> data(12, 0);
                                        data[3] = 8;  // data length
                                        const std::uint32_t waiting =
                                            scanning_ ? ImageBytes() - position_ : 0;
                                        data[9] = static_cast<std::uint8_t>(waiting >> 16);
                                        data[10] = static_cast<std::uint8_t>(waiting >> 8);
                                        data[11] = static_cast<std::uint8_t>(waiting);
                                        return DataIn(std::move(data), Be16(cdb, 7));
                                    },
                                    {}});
}

std::uint8_t Scanner::ImageByte(std::uint32_t at) const {
    const std::uint32_t line = at / line_bytes_;
    const std::uint32_t column = at % line_bytes_;
    return static_cast<std::uint8_t>(line * 3 + column);
}

// Window descriptor (after the 8-byte header): width in pixels at bytes 14-17 of the
// descriptor and length at 18-21, at one byte per pixel.
std::uint8_t Scanner::SetWindow(std::span<const std::uint8_t> data) {
    if (data.size() < 8 + 22) return FailStatus(IllegalRequest(asc::kInvalidFieldInParameterList));
    const auto be32 = [&](std::size_t at) {
        return (std::uint32_t{data[at]} << 24) | (data[at + 1] << 16) | (data[at + 2] << 8) |
               data[at + 3];
    };
    const std::uint32_t width = be32(8 + 14);
    const std::uint32_t length = be32(8 + 18);
    if (width == 0 || length == 0 || std::uint64_t{width} * length > (1u << 24)) {
        return FailStatus(IllegalRequest(asc::kInvalidFieldInParameterList));
    }
    line_bytes_ = width;
    lines_ = length;
    return status::kGood;
}

CommandResult Scanner::Read(Cdb cdb) {
    if (!scanning_) return Fail(NotReady(0x04, 0x00));  // not ready: no scan started
    const std::uint32_t wanted = Be24(cdb, 6);
    const std::uint32_t count = std::min(wanted, ImageBytes() - position_);
    std::vector<std::uint8_t> data(count);
    for (std::uint32_t i = 0; i < count; ++i) data[i] = ImageByte(position_ + i);
    position_ += count;
    if (position_ == ImageBytes()) scanning_ = false;
    return DataIn(std::move(data), count);
}

Processor::Processor(Identity identity)
    : CommandSet(device_type::kProcessor, std::move(identity), false, false) {
    Register(kSend, {"SEND", [](Cdb cdb) { return DataOut(Be24(cdb, 2)); },
                     [this](Cdb, std::span<const std::uint8_t> data) {
                         message_.assign(data.begin(), data.end());
                         return status::kGood;
                     }});
    Register(kReceive, {"RECEIVE", [this](Cdb cdb) { return DataIn(message_, Be24(cdb, 2)); }, {}});
}

}  // namespace quell::sim::scsi
