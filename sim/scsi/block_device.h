// Block devices: a disk (512-byte blocks), a CD-ROM (2048-byte blocks, read only, READ TOC and
// READ CD) and an optical memory device (type 7, 2048-byte blocks, writable). They share the
// reading and writing commands, READ CAPACITY, MODE SENSE and the housekeeping commands a
// class driver issues.
#pragma once

#include <memory>

#include "sim/scsi/block_storage.h"
#include "sim/scsi/command_set.h"

namespace quell::sim::scsi {

class BlockDevice : public CommandSet {
public:
    BlockDevice(std::uint8_t type, Identity identity, std::unique_ptr<BlockStorage> storage,
                bool removable, bool writable);

    std::optional<BlockRange> BlocksOf(std::span<const std::uint8_t> cdb) const override;
    BlockStorage& Storage() { return *storage_; }

protected:
    // The block range of a READ or WRITE CDB of any length.
    struct Transfer {
        std::uint64_t block = 0;
        std::uint32_t count = 0;
    };
    static std::optional<Transfer> DecodeTransfer(Cdb cdb);
    CommandResult ReadBlocks(std::uint64_t block, std::uint32_t count);

private:
    CommandResult Read(Cdb cdb);
    CommandResult Write(Cdb cdb);
    std::uint8_t FinishWrite(Cdb cdb, std::span<const std::uint8_t> data);
    CommandResult ReadCapacity(Cdb cdb);
    CommandResult ModeSense(Cdb cdb);
    CommandResult Verify(Cdb cdb);
    bool InRange(const Transfer& transfer) const;

    std::unique_ptr<BlockStorage> storage_;
    bool writable_;
};

std::unique_ptr<BlockDevice> MakeDisk(Identity identity, std::unique_ptr<BlockStorage> storage);
std::unique_ptr<BlockDevice> MakeOptical(Identity identity, std::unique_ptr<BlockStorage> storage);

class CdRom final : public BlockDevice {
public:
    CdRom(Identity identity, std::unique_ptr<BlockStorage> storage);

private:
    CommandResult ReadToc(Cdb cdb);
    CommandResult ReadCd(Cdb cdb);
};

}  // namespace quell::sim::scsi
