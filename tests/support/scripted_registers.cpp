#include "tests/support/scripted_registers.h"

namespace quell::test {

std::uint32_t ScriptedRegisters::Read(std::uint32_t offset, sim::AccessWidth width) {
    std::optional<std::uint32_t> value;
    if (auto queue = queued_.find({offset, width});
        queue != queued_.end() && !queue->second.empty()) {
        value = queue->second.front();
        queue->second.pop_front();
    } else if (auto indexed = index_ ? indexed_.find({*index_, offset, width}) : indexed_.end();
               indexed != indexed_.end()) {
        value = indexed->second;
    } else if (auto standing = standing_.find({offset, width}); standing != standing_.end()) {
        value = standing->second;
    }
    const std::uint32_t answer = value.value_or(sim::WidthMask(width));
    accesses_.push_back(test::Read(offset, width, answer));
    if (!value) unscripted_.push_back(accesses_.back());
    return answer;
}

void ScriptedRegisters::Write(std::uint32_t offset, sim::AccessWidth width, std::uint32_t value) {
    accesses_.push_back(test::Write(offset, width, value));
    if (offset == index_offset_ && width == sim::AccessWidth::Byte) {
        index_ = static_cast<std::uint8_t>(value);
    }
}

std::vector<RegisterAccess> ScriptedRegisters::Writes() const {
    std::vector<RegisterAccess> writes;
    for (const RegisterAccess& access : accesses_) {
        if (access.write) writes.push_back(access);
    }
    return writes;
}

}  // namespace quell::test
