// Where a block device keeps its data: in memory (sparse, unwritten blocks read as a pattern
// derived from their number or as zeros) or in a raw image file.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace quell::sim::scsi {

class BlockStorage {
public:
    virtual ~BlockStorage() = default;
    virtual std::uint64_t Blocks() const = 0;
    virtual std::uint32_t BlockSize() const = 0;
    // False on an I/O failure; the range is checked by the caller.
    virtual bool Read(std::uint64_t block, std::span<std::uint8_t> out) = 0;
    virtual bool Write(std::uint64_t block, std::span<const std::uint8_t> in) = 0;
};

// The byte an unwritten block holds at an offset when the storage is patterned: it differs
// between neighbouring bytes and between blocks, so misplaced data shows.
inline std::uint8_t PatternByte(std::uint64_t block, std::uint32_t offset) {
    return static_cast<std::uint8_t>((block * 0x9D) ^ offset ^ ((offset >> 8) * 0x3B) ^ 0x5A);
}

class MemoryStorage final : public BlockStorage {
public:
    enum class Fill { Zero, Pattern };
    MemoryStorage(std::uint64_t blocks, std::uint32_t block_size, Fill fill = Fill::Pattern);

    std::uint64_t Blocks() const override { return blocks_; }
    std::uint32_t BlockSize() const override { return block_size_; }
    bool Read(std::uint64_t block, std::span<std::uint8_t> out) override;
    bool Write(std::uint64_t block, std::span<const std::uint8_t> in) override;

private:
    std::uint64_t blocks_;
    std::uint32_t block_size_;
    Fill fill_;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> written_;
};

class ImageFileStorage final : public BlockStorage {
public:
    // Opens an existing raw image; its size fixes the capacity (whole blocks). Throws
    // std::runtime_error naming the file when it cannot be opened.
    ImageFileStorage(const std::string& path, std::uint32_t block_size, bool read_only = false);

    std::uint64_t Blocks() const override { return blocks_; }
    std::uint32_t BlockSize() const override { return block_size_; }
    bool Read(std::uint64_t block, std::span<std::uint8_t> out) override;
    bool Write(std::uint64_t block, std::span<const std::uint8_t> in) override;

private:
    std::fstream file_;
    std::uint64_t blocks_ = 0;
    std::uint32_t block_size_;
    bool read_only_;
};

}  // namespace quell::sim::scsi
