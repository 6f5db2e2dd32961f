// The controller's data FIFO. Bytes written through the memory window are staged until the
// write is ended (INDEX 0x10); only committed bytes go to the bus.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>

namespace quell::sim::chip {

class Fifo {
public:
    explicit Fifo(std::size_t capacity) : capacity_(capacity) {}

    std::size_t Capacity() const { return capacity_; }
    std::size_t Size() const { return bytes_.size() + staged_.size(); }
    std::size_t Committed() const { return bytes_.size(); }
    std::size_t Room() const { return capacity_ - Size(); }
    bool Empty() const { return Size() == 0; }

    // False (and nothing stored) when the bytes do not fit.
    bool Push(std::span<const std::uint8_t> in) {
        if (in.size() > Room()) return false;
        bytes_.insert(bytes_.end(), in.begin(), in.end());
        return true;
    }
    bool Stage(std::span<const std::uint8_t> in) {
        if (in.size() > Room()) return false;
        staged_.insert(staged_.end(), in.begin(), in.end());
        return true;
    }
    void Commit() {
        bytes_.insert(bytes_.end(), staged_.begin(), staged_.end());
        staged_.clear();
    }
    // Takes up to out.size() committed bytes; returns how many.
    std::size_t Pop(std::span<std::uint8_t> out) {
        const std::size_t n = std::min(out.size(), bytes_.size());
        std::copy_n(bytes_.begin(), n, out.begin());
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
        return n;
    }
    // Copies up to out.size() committed bytes without taking them; returns how many.
    std::size_t Peek(std::span<std::uint8_t> out) const {
        const std::size_t n = std::min(out.size(), bytes_.size());
        std::copy_n(bytes_.begin(), n, out.begin());
        return n;
    }
    void Drop(std::size_t count) {
        bytes_.erase(bytes_.begin(),
                     bytes_.begin() + static_cast<std::ptrdiff_t>(std::min(count, bytes_.size())));
    }
    void Clear() {
        bytes_.clear();
        staged_.clear();
    }

private:
    std::size_t capacity_;
    std::deque<std::uint8_t> bytes_;
    std::deque<std::uint8_t> staged_;
};

}  // namespace quell::sim::chip
