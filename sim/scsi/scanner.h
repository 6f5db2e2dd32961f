// A scanner (type 6): SET WINDOW describes the image, SCAN starts it and READ returns its lines;
// GET DATA BUFFER STATUS tells how much is waiting.
#pragma once

#include "sim/scsi/command_set.h"

namespace quell::sim::scsi {

class Scanner final : public CommandSet {
public:
    // An image of `lines` lines of `line_bytes` bytes each until a window says otherwise.
    Scanner(Identity identity, std::uint32_t line_bytes = 301, std::uint32_t lines = 64);

    std::uint32_t ImageBytes() const { return line_bytes_ * lines_; }
    std::uint8_t ImageByte(std::uint32_t at) const;

private:
    CommandResult Read(Cdb cdb);
    std::uint8_t SetWindow(std::span<const std::uint8_t> data);

    std::uint32_t line_bytes_;
    std::uint32_t lines_;
    std::uint32_t position_ = 0;
    bool scanning_ = false;
};

// A processor device (type 3): SEND stores a message, RECEIVE returns it.
class Processor final : public CommandSet {
public:
    explicit Processor(Identity identity);

private:
    std::vector<std::uint8_t> message_;
};

}  // namespace quell::sim::scsi
