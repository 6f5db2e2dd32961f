#include "sim/scsi/block_storage.h"

#include <algorithm>
#include <stdexcept>

namespace quell::sim::scsi {

MemoryStorage::MemoryStorage(std::uint64_t blocks, std::uint32_t block_size, Fill fill)
    : blocks_(blocks), block_size_(block_size), fill_(fill) {}

bool MemoryStorage::Read(std::uint64_t block, std::span<std::uint8_t> out) {
    for (std::size_t done = 0; done < out.size(); done += block_size_, ++block) {
        const auto piece = out.subspan(done, std::min<std::size_t>(block_size_, out.size() - done));
        const auto found = written_.find(block);
        if (found != written_.end()) {
            std::copy_n(found->second.begin(), piece.size(), piece.begin());
        } else if (fill_ == Fill::Zero) {
            std::fill(piece.begin(), piece.end(), 0);
        } else {
            for (std::uint32_t i = 0; i < piece.size(); ++i) piece[i] = PatternByte(block, i);
        }
    }
    return true;
}

bool MemoryStorage::Write(std::uint64_t block, std::span<const std::uint8_t> in) {
    for (std::size_t done = 0; done < in.size(); done += block_size_, ++block) {
        auto& stored = written_[block];
        stored.resize(block_size_);
        const std::size_t n = std::min<std::size_t>(block_size_, in.size() - done);
        std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(done), n, stored.begin());
    }
    return true;
}

ImageFileStorage::ImageFileStorage(const std::string& path, std::uint32_t block_size,
                                   bool read_only)
    : block_size_(block_size), read_only_(read_only) {
    const auto mode =
        std::ios::binary | std::ios::in | (read_only ? std::ios::openmode{} : std::ios::out);
    file_.open(path, mode);
    if (!file_) {
        throw std::runtime_error("cannot open disk image '" + path + "'");
    }
    file_.seekg(0, std::ios::end);
    blocks_ = static_cast<std::uint64_t>(file_.tellg()) / block_size_;
}

bool ImageFileStorage::Read(std::uint64_t block, std::span<std::uint8_t> out) {
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(block * block_size_));
    file_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return static_cast<std::size_t>(file_.gcount()) == out.size();
}

bool ImageFileStorage::Write(std::uint64_t block, std::span<const std::uint8_t> in) {
    if (read_only_) return false;
    file_.clear();
    file_.seekp(static_cast<std::streamoff>(block * block_size_));
    file_.write(reinterpret_cast<const char*>(in.data()), static_cast<std::streamsize>(in.size()));
    file_.flush();
    return static_cast<bool>(file_);
}

}  // namespace quell::sim::scsi
