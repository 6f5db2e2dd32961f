// The controller's registers that answer before the chip is initialised: the revision, the
// index register and, behind it, the memory-window base (IDX_13) and the latency (IDX_11).
// Every other register reads 0 and takes writes without effect. This is what discovery reads
// of a chip; a machine without the full controller model uses it in the controller's place.
#pragma once

#include <cstdint>

#include "sim/machine/machine_description.h"
#include "sim/pc/register_device.h"

namespace quell::sim {

class IdentityRegisters : public RegisterDevice {
public:
    IdentityRegisters(const ChipDescription& chip, std::uint32_t memory_window_base)
        : revision_(chip.revision),
          latency_(chip.latency_register),
          window_base_(memory_window_base) {}

    std::uint32_t Read(std::uint32_t offset, AccessWidth width) override;
    void Write(std::uint32_t offset, AccessWidth width, std::uint32_t value) override;

    std::uint16_t Latency() const { return latency_; }

private:
    // The 32-bit indexed register the index selects, or nothing.
    std::uint32_t Indexed() const;

    std::uint16_t revision_;
    std::uint16_t latency_;
    std::uint32_t window_base_;
    std::uint8_t index_ = 0;
};

}  // namespace quell::sim
