#include "sim/scsi/sense.h"

#include <algorithm>

namespace quell::sim::scsi {

std::vector<std::uint8_t> Sense::Bytes(std::size_t allocation) const {
    std::vector<std::uint8_t> bytes(18, 0);
    bytes[0] = 0x70;  // current error, fixed format
    bytes[2] = key;
    bytes[7] = 10;  // additional sense length
    bytes[12] = asc;
    bytes[13] = ascq;
    bytes.resize(std::min(allocation, bytes.size()));
    return bytes;
}

}  // namespace quell::sim::scsi
