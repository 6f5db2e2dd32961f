#include "sim/w9x/adapter_record.h"

#include <cstring>

namespace quell::sim {

void WriteAdapterRecord(std::span<std::byte, kAdapterRecordPrefix> prefix,
                        const AdapterRecord& record) {
    std::memcpy(prefix.data() + kAdapterRecordPrefix - kAdapterRecordSignatureOffset,
                &kAdapterRecordSignature, sizeof(kAdapterRecordSignature));
    std::memcpy(prefix.data() + kAdapterRecordPrefix - kAdapterRecordDevNodeOffset, &record.devnode,
                sizeof(record.devnode));
}

}  // namespace quell::sim
