// The memory window: each access anywhere in its 4096 bytes takes (read) or gives (write) the
// next 1, 2 or 4 bytes of the FIFO, lowest address byte first. A write stays staged until the
// window write is ended by writing 0x10 to INDEX.
#include <sstream>

#include "sim/chip/controller.h"

namespace quell::sim::chip {

std::uint32_t Controller::WindowPort::Read(std::uint32_t offset, AccessWidth width) {
    if (chip_.pulled_) return WidthMask(width);
    const std::uint32_t value = chip_.ReadWindow(offset, width);
    chip_.UpdateInterrupt();
    return value;
}

void Controller::WindowPort::Write(std::uint32_t offset, AccessWidth width, std::uint32_t value) {
    if (chip_.pulled_) return;
    chip_.WriteWindow(offset, width, value);
    chip_.UpdateInterrupt();
}

std::uint32_t Controller::ReadWindow(std::uint32_t offset, AccessWidth width) {
    const auto bytes = static_cast<std::size_t>(width);
    if (offset + bytes > reg::kMemoryWindowSize) {
        std::ostringstream message;
        message << "memory window read at offset 0x" << std::hex << offset
                << " beyond its 4096 bytes";
        Error(message.str());
        return 0;
    }
    std::uint8_t data[4] = {};
    const std::size_t n = fifo_.Pop(std::span<std::uint8_t>(data, bytes));
    if (n < bytes) {
        Error("memory window read of " + std::to_string(bytes) + " bytes with " +
              std::to_string(n) + " in the FIFO");
    }
    Pump();
    return std::uint32_t{data[0]} | (std::uint32_t{data[1]} << 8) | (std::uint32_t{data[2]} << 16) |
           (std::uint32_t{data[3]} << 24);
}

void Controller::WriteWindow(std::uint32_t offset, AccessWidth width, std::uint32_t value) {
    const auto bytes = static_cast<std::size_t>(width);
    if (offset + bytes > reg::kMemoryWindowSize) {
        std::ostringstream message;
        message << "memory window write at offset 0x" << std::hex << offset
                << " beyond its 4096 bytes";
        Error(message.str());
        return;
    }
    const std::uint8_t data[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    if (!fifo_.Stage(std::span<const std::uint8_t>(data, bytes))) {
        Error("memory window write with the FIFO full (" + std::to_string(fifo_.Size()) +
              " bytes)");
    }
}

}  // namespace quell::sim::chip
