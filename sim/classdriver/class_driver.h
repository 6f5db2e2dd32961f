// What the system's class drivers send through the port driver: the bus scan, the disk and
// CD-ROM commands, REQUEST SENSE after a CHECK CONDITION (automatic sense is off), control
// requests, abort and bus-reset requests, and the retries a class driver makes. Every call
// runs the machine until its requests are back and answers with plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/scsi.h"
#include "host/scsiport.h"
#include "sim/port/adapter.h"

namespace quell::sim {

struct SenseData {
    UCHAR key = 0;
    UCHAR asc = 0;
    UCHAR ascq = 0;
    std::vector<std::byte> raw;
};

struct CommandResult {
    UCHAR srb_status = SRB_STATUS_PENDING;  // without the queue-frozen and sense-valid bits
    UCHAR scsi_status = 0;
    ULONG transferred = 0;
    std::vector<std::byte> data;
    std::optional<SenseData> sense;  // from the REQUEST SENSE after a CHECK CONDITION
    unsigned attempts = 0;
    std::string refused;      // the port driver's reason when it refused the request
    bool incomplete = false;  // the request was not back within the class driver's patience

    bool Ok() const {
        return srb_status == SRB_STATUS_SUCCESS || srb_status == SRB_STATUS_DATA_OVERRUN;
    }
};

struct DeviceFound {
    UCHAR path = 0;
    UCHAR target = 0;
    UCHAR lun = 0;
    UCHAR peripheral_type = 0;
    std::string vendor;
    std::string product;
    std::string revision;
    std::vector<std::byte> inquiry;
    bool operator==(const DeviceFound&) const = default;
};

struct Capacity {
    ULONG last_block = 0;
    ULONG block_size = 0;
};

// A transfer split into requests no longer than the adapter takes.
struct TransferResult {
    bool ok = false;
    std::vector<std::byte> data;          // reads: everything that arrived
    std::vector<CommandResult> requests;  // one per piece, in order
};

struct ControlResult {
    CommandResult command;
    ULONG return_code = 0;
    std::vector<std::byte> payload;  // the buffer behind the header as the driver left it
};

enum class CdbForm : std::uint8_t { Six, Ten };

struct ClassOptions {
    unsigned max_retries = 4;
    SimTime busy_delay = 250 * kMillisecond;  // wait before retrying a busy unit
    SimTime not_ready_delay = kSecond;        // wait before retrying a unit becoming ready
    ULONG timeout_seconds = 10;
    SimTime patience = 120 * kSecond;  // how long one request may take before it counts as stuck
};

class ClassDriver {
public:
    explicit ClassDriver(Adapter& adapter, ClassOptions options = {})
        : adapter_(adapter), options_(options) {}

    // INQUIRY of LUN 0 on every target id but the adapter's own, then of the further LUNs of
    // every target that answered. A unit counts when its peripheral qualifier says present.
    std::vector<DeviceFound> ScanBus(UCHAR path = 0);

    CommandResult TestUnitReady(UCHAR target, UCHAR lun = 0);
    CommandResult Inquiry(UCHAR target, UCHAR lun = 0, UCHAR allocation = 36);
    std::optional<Capacity> ReadCapacity(UCHAR target, UCHAR lun = 0,
                                         CommandResult* result = nullptr);
    TransferResult Read(UCHAR target, UCHAR lun, ULONG lba, ULONG blocks, ULONG block_size,
                        CdbForm form = CdbForm::Ten);
    TransferResult Write(UCHAR target, UCHAR lun, ULONG lba, std::span<const std::byte> data,
                         ULONG block_size, CdbForm form = CdbForm::Ten);
    CommandResult ModeSense10(UCHAR target, UCHAR lun, UCHAR page, USHORT allocation);
    CommandResult ReadToc(UCHAR target, UCHAR lun, bool msf, UCHAR format, UCHAR track,
                          USHORT allocation);
    // READ CD of user data (2048 bytes a sector) or, with `raw`, whole 2352-byte sectors.
    CommandResult ReadCd(UCHAR target, UCHAR lun, ULONG lba, ULONG blocks, bool raw = false);
    CommandResult RequestSense(UCHAR target, UCHAR lun);

    // A control request: SRB_IO_CONTROL header with the signature and code, then the payload.
    ControlResult IoControl(const char (&signature)[9], ULONG control_code,
                            std::span<const std::byte> payload, ULONG timeout_seconds = 10);
    CommandResult Abort(UCHAR target, UCHAR lun);
    CommandResult ResetBus(UCHAR path = 0);

    // Sends one request, retrying where a class driver retries: a busy unit, a bus reset, a
    // selection time-out (unless told not to) and a unit attention; fetches the sense data
    // after a CHECK CONDITION.
    CommandResult Execute(RequestSpec request_spec, bool retry_selection_timeout = true);

    // The most a single request may carry on this adapter.
    ULONG MaximumTransfer() const;

private:
    CommandResult SendOnce(const RequestSpec& request_spec);
    RequestSpec Command(UCHAR target, UCHAR lun, std::vector<std::uint8_t> cdb, ULONG flags,
                        ULONG length) const;
    TransferResult Transfer(UCHAR target, UCHAR lun, ULONG lba, ULONG blocks, ULONG block_size,
                            CdbForm form, std::span<const std::byte> out);

    Adapter& adapter_;
    ClassOptions options_;
};

}  // namespace quell::sim
