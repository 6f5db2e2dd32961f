#include "sim/chip/dma_engine.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "sim/chip/chip_registers.h"

namespace quell::sim::chip {

void DmaEngine::Reset() {
    loaded_ = faulted_ = end_ = false;
    entry_address_ = address_ = remaining_ = 0;
}

void DmaEngine::Fault(const char* what, std::uint64_t address, std::size_t count) {
    faulted_ = true;
    std::ostringstream message;
    message << "bus-master " << what << " of " << count << " bytes at physical 0x" << std::hex
            << address << " outside memory";
    errors_.Report("chip", message.str());
}

bool DmaEngine::LoadEntry(std::uint32_t entry_address) {
    std::byte raw[8];
    if (!memory_.Read(entry_address, raw)) {
        Fault("table fetch", entry_address, sizeof raw);
        return false;
    }
    std::uint32_t words[2];
    std::memcpy(words, raw, sizeof words);
    entry_address_ = entry_address;
    address_ = words[0];
    remaining_ = words[1] & ~kEndOfTable;
    end_ = (words[1] & kEndOfTable) != 0;
    loaded_ = true;
    if (remaining_ == 0) {
        std::ostringstream message;
        message << "scatter/gather entry at physical 0x" << std::hex << entry_address
                << " has a byte count of 0";
        errors_.Report("chip", message.str());
        faulted_ = true;
        return false;
    }
    return true;
}

bool DmaEngine::Load(std::uint32_t table_address) {
    Reset();
    return LoadEntry(table_address);
}

void DmaEngine::Advance(std::size_t count) {
    while (count > 0 && loaded_ && !faulted_) {
        const auto step = static_cast<std::uint32_t>(std::min<std::size_t>(count, remaining_));
        address_ += step;
        remaining_ -= step;
        count -= step;
        if (remaining_ == 0 && !end_) {
            if (!LoadEntry(entry_address_ + 8)) return;
        } else if (remaining_ == 0) {
            return;
        }
    }
}

bool DmaEngine::Store(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        if (!loaded_ || faulted_ || remaining_ == 0) return false;
        const std::size_t step = std::min<std::size_t>(bytes.size(), remaining_);
        if (!memory_.Write(address_, std::as_bytes(bytes.first(step)))) {
            Fault("write", address_, step);
            return false;
        }
        bytes = bytes.subspan(step);
        Advance(step);
    }
    return true;
}

bool DmaEngine::Fetch(std::span<std::uint8_t> bytes) {
    // Within the current entry only: a data-out burst never crosses an entry.
    if (!loaded_ || faulted_ || bytes.size() > remaining_) return false;
    if (!memory_.Read(address_, std::as_writable_bytes(bytes))) {
        Fault("read", address_, bytes.size());
        return false;
    }
    return true;
}

std::uint32_t DmaEngine::Status() const {
    return (loaded_ ? reg::BM_HAS_TABLE : 0) | (Exhausted() ? reg::BM_TABLE_END : 0) |
           (faulted_ ? reg::BM_FAULT : 0);
}

}  // namespace quell::sim::chip
