// The 9x port driver's record around a miniport's device extension: the port driver keeps the
// extension inside a larger record of its own, and the bytes in front of the extension hold,
// among the port driver's bookkeeping, a signature and the adapter's device node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quell::sim {

// Bytes of the record in front of the extension.
inline constexpr std::size_t kAdapterRecordPrefix = 0x80;
inline constexpr std::size_t kAdapterRecordSignatureOffset = 0x7A;  // before the extension
inline constexpr std::size_t kAdapterRecordDevNodeOffset = 0x74;    // before the extension
inline constexpr std::uint16_t kAdapterRecordSignature = 0x4442;

struct AdapterRecord {
    std::uint32_t devnode = 0;
};

// Writes the record into prefix, the kAdapterRecordPrefix bytes immediately in front of the
// extension.
void WriteAdapterRecord(std::span<std::byte, kAdapterRecordPrefix> prefix,
                        const AdapterRecord& record);

}  // namespace quell::sim
