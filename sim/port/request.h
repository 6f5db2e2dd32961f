// A request as the port driver's clients see it: what they ask for (RequestSpec), what comes
// back (RequestResult), and the record the port driver keeps while the request lives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/scsiport.h"
#include "sim/pc/physical_memory.h"
#include "sim/time/clock.h"

namespace quell::sim {

using RequestId = std::uint64_t;

// The Windows 9x port environment's own request, which it stores behind every request block
// (a 32-bit pointer right after the 64-byte SCSI_REQUEST_BLOCK). Only the fields a miniport
// reads are modelled: the flag byte, the record that carries the block-size shift, the
// descriptor list and the byte count.
struct OsRequestSpec {
    bool present = true;  // false: the pointer after the request block is 0
    std::uint8_t flags = 0;
    std::uint8_t shift = 9;
    // (count in units of 2^shift bytes, byte offset into the request's data buffer); the
    // port driver ends the list with a zero count.
    struct Descriptor {
        std::uint32_t count;
        std::uint32_t buffer_offset;
    };
    std::vector<Descriptor> descriptors;
    std::optional<std::uint32_t> byte_count;  // default: the request's DataTransferLength
};

// Offsets and values inside the 9x system request and its records.
inline constexpr std::size_t kOsRequestPointerOffset = sizeof(SCSI_REQUEST_BLOCK);  // 64
inline constexpr std::size_t kOsRequestShiftRecordOffset = 4;
inline constexpr std::size_t kOsRequestShiftOffset = 60;  // inside the shift record
inline constexpr std::size_t kOsRequestFlagsOffset = 108;
inline constexpr std::size_t kOsRequestByteCountOffset = 124;
inline constexpr std::size_t kOsRequestDescriptorsOffset = 128;
inline constexpr std::size_t kOsRequestSize = 132;
inline constexpr std::uint8_t kOsRequestHasDescriptorList = 0x02;

struct RequestSpec {
    UCHAR function = SRB_FUNCTION_EXECUTE_SCSI;
    UCHAR path = 0;
    UCHAR target = 0;
    UCHAR lun = 0;
    std::vector<std::uint8_t> cdb;  // 1 to 16 bytes for EXECUTE_SCSI
    ULONG srb_flags = 0;            // data direction and the other SRB_FLAGS_ bits
    ULONG data_length = 0;
    ULONG timeout_seconds = 10;
    // Data to send (written into the buffer before the request starts); for data-in requests
    // the buffer starts zero-filled.
    std::vector<std::byte> out_data;
    // A buffer of the caller's in simulated memory; when empty the port driver allocates one
    // with `buffer_layout` (or the adapter's default) and frees it when the request returns.
    std::span<std::byte> buffer;
    std::optional<MemoryLayout> buffer_layout;
    // How many bytes (0 to 3) the request's SRB extension lies past a multiple of 4.
    std::uint32_t srb_extension_misalign = 0;
    // The 9x system request; when unset, what the adapter's system personality stores.
    std::optional<OsRequestSpec> os_request;
};

struct RequestResult {
    RequestId id = 0;
    UCHAR function = 0;
    UCHAR srb_status = SRB_STATUS_PENDING;
    UCHAR scsi_status = 0;
    ULONG data_transfer_length = 0;  // as the driver left it
    std::vector<std::byte> data;     // data-in: the buffer's first data_transfer_length bytes
    bool timed_out = false;          // the port driver's time-out struck
    bool lost = false;               // the driver never gave it back; the port driver did
    SimTime submitted = 0;
    SimTime started = 0;    // HwStartIo called
    SimTime completed = 0;  // handed back to the submitter
};

// The port driver's answer to a submission: the request's id, or why it was refused.
struct Submission {
    std::optional<RequestId> id;
    std::string error;
    explicit operator bool() const { return id.has_value(); }
};

enum class RequestState {
    Queued,             // waiting in the port driver
    InDriver,           // handed to HwStartIo, not yet returned
    CompletionPending,  // returned by the driver, handed back after the routine ends
};

// What the port driver keeps per live request.
struct Request {
    RequestId id = 0;
    RequestSpec request_spec;
    RequestState state = RequestState::Queued;
    SCSI_REQUEST_BLOCK* srb = nullptr;  // inside `frame`
    std::span<std::byte> frame;         // the request block and the 9x pointer behind it
    std::span<std::byte> srb_extension_block;
    std::span<std::byte> data;  // the whole data buffer
    bool owns_data = false;
    std::span<std::byte> os_request;  // the 9x records, when built
    ULONG timeout_counter = 0;
    bool timed_out = false;
    bool lost = false;
    SimTime submitted = 0;
    SimTime started = 0;
};

// "request 3 (EXECUTE_SCSI 0x28 to 0:1:0)" for diagnostics.
std::string Describe(const Request& request);

}  // namespace quell::sim
