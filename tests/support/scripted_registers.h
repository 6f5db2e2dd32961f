// A register double for unit tests: reads are answered from a script, every access is
// recorded in order. Answers can depend on the value last written to an index register, so a
// test can script indexed registers as the driver reaches them.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "sim/pc/register_device.h"

namespace quell::test {

struct RegisterAccess {
    bool write = false;
    std::uint32_t offset = 0;
    sim::AccessWidth width = sim::AccessWidth::Byte;
    std::uint32_t value = 0;
    bool operator==(const RegisterAccess&) const = default;
};

inline RegisterAccess Read(std::uint32_t offset, sim::AccessWidth width, std::uint32_t value) {
    return {false, offset, width, value};
}
inline RegisterAccess Write(std::uint32_t offset, sim::AccessWidth width, std::uint32_t value) {
    return {true, offset, width, value};
}

class ScriptedRegisters : public sim::RegisterDevice {
public:
    // The register whose last written byte selects indexed answers.
    explicit ScriptedRegisters(std::uint32_t index_offset) : index_offset_(index_offset) {}

    // Every read of the register gets value.
    void Answer(std::uint32_t offset, sim::AccessWidth width, std::uint32_t value) {
        standing_[{offset, width}] = value;
    }
    // Reads while the index register last received index get value.
    void AnswerIndexed(std::uint8_t index, std::uint32_t offset, sim::AccessWidth width,
                       std::uint32_t value) {
        indexed_[{index, offset, width}] = value;
    }
    // The next reads get these values in turn, before any other answer.
    void AnswerOnce(std::uint32_t offset, sim::AccessWidth width, std::uint32_t value) {
        queued_[{offset, width}].push_back(value);
    }

    std::uint32_t Read(std::uint32_t offset, sim::AccessWidth width) override;
    void Write(std::uint32_t offset, sim::AccessWidth width, std::uint32_t value) override;

    const std::vector<RegisterAccess>& Accesses() const { return accesses_; }
    std::vector<RegisterAccess> Writes() const;
    // Reads that nothing in the script answered (they read all ones).
    const std::vector<RegisterAccess>& UnscriptedReads() const { return unscripted_; }
    void ClearLog() {
        accesses_.clear();
        unscripted_.clear();
    }

private:
    using Key = std::pair<std::uint32_t, sim::AccessWidth>;
    std::uint32_t index_offset_;
    std::optional<std::uint8_t> index_;
    std::map<Key, std::uint32_t> standing_;
    std::map<std::tuple<std::uint8_t, std::uint32_t, sim::AccessWidth>, std::uint32_t> indexed_;
    std::map<Key, std::deque<std::uint32_t>> queued_;
    std::vector<RegisterAccess> accesses_;
    std::vector<RegisterAccess> unscripted_;
};

}  // namespace quell::test
