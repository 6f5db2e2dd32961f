// The bus-master engine: it walks a table of (address, byte count | end flag) entries in
// physical memory and moves the data of a bus-master data phase to or from the addresses they
// describe. A fetch or transfer outside mapped memory is a model error naming the address, and
// faults the engine until it is reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sim/pc/physical_memory.h"
#include "sim/scsi/model_errors.h"

namespace quell::sim::chip {

class DmaEngine {
public:
    static constexpr std::uint32_t kEndOfTable = 0x80000000;

    DmaEngine(PhysicalMemory& memory, scsi::ModelErrors& errors)
        : memory_(memory), errors_(errors) {}

    void Reset();
    // Takes the entry at `table_address` as the current one. False on a fault.
    bool Load(std::uint32_t table_address);
    bool Loaded() const { return loaded_; }
    bool Faulted() const { return faulted_; }
    // No byte left in the table.
    bool Exhausted() const { return loaded_ && remaining_ == 0 && end_; }

    std::uint32_t Address() const { return address_; }
    std::uint32_t EntryRemaining() const { return remaining_; }

    // Data in: stores the bytes at the current position and advances, entry by entry.
    bool Store(std::span<const std::uint8_t> bytes);
    // Data out: reads bytes from the current position without advancing.
    bool Fetch(std::span<std::uint8_t> bytes);
    void Advance(std::size_t count);

    std::uint32_t Status() const;  // BM_CONTROL

private:
    bool LoadEntry(std::uint32_t entry_address);
    void Fault(const char* what, std::uint64_t address, std::size_t count);

    PhysicalMemory& memory_;
    scsi::ModelErrors& errors_;
    bool loaded_ = false;
    bool faulted_ = false;
    bool end_ = false;
    std::uint32_t entry_address_ = 0;
    std::uint32_t address_ = 0;
    std::uint32_t remaining_ = 0;
};

}  // namespace quell::sim::chip
