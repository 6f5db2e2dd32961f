// The I/O register window: one read switch and one write switch, each side effect spelled out.
#include <sstream>

#include "sim/chip/controller.h"

namespace quell::sim::chip {
namespace {

constexpr unsigned W8 = 1, W16 = 2, W32 = 4;

struct RegisterInfo {
    std::uint32_t offset;
    const char* read_name;
    unsigned read_widths;  // bit set of the byte widths a read may use
    const char* write_name;
    unsigned write_widths;
};

constexpr RegisterInfo kRegisters[] = {
    {reg::IRQ_STATUS, "IRQ_STATUS", W8 | W16, "IRQ_CONTROL", W16},
    {reg::TRANSFER_CONTROL, "TRANSFER_CONTROL", W16, "TRANSFER_CONTROL", W16},
    {reg::INDEX, "CHIP_REVISION", W16, "INDEX", W8},
    {reg::TIMER, nullptr, 0, "TIMER", W16},
    {reg::INDEXED_DATA, "INDEXED_DATA", W8 | W16, "INDEXED_DATA", W8 | W16},
    {reg::INDEXED_DATA_HIGH, "INDEXED_DATA_HIGH", W8 | W16, nullptr, 0},
    {reg::FIFO_COUNT, "FIFO_COUNT", W16, nullptr, 0},
    {reg::REG_0F, nullptr, 0, "REG_0F", W8},
    {reg::SCSI_CONTROL, "SCSI_CONTROL", W8, "SCSI_CONTROL", W8},
    {reg::BUS_MONITOR, "BUS_MONITOR", W8, "BUS_MONITOR (response control)", W8},
    {reg::COMMAND_DATA, nullptr, 0, "COMMAND_DATA", W8},
    {reg::REG_16, nullptr, 0, "REG_16", W8},
    {reg::SEQUENCE_CONTROL, "SELECT_ID", W8, "SEQUENCE_CONTROL", W16},
    {reg::SELECT_STATUS, "SELECT_STATUS", W8, "SELECT_STATUS", W8},
    {reg::SYNC_PARAMS, nullptr, 0, "SYNC_PARAMS", W8},
    {reg::SYNC_EXTRA, nullptr, 0, "SYNC_EXTRA", W8},
    {reg::SCSI_DATA_HS, "SCSI_DATA_HS", W8, "SCSI_DATA_HS", W8},
    {reg::SCSI_DATA, "SCSI_DATA", W8, "SCSI_DATA", W8},
    {reg::TRANSFER_COUNT, "TRANSFER_COUNT", W32, nullptr, 0},
    {reg::FIFO_DATA, "FIFO_DATA", W32, "FIFO_DATA", W32},
    {reg::BM_CONTROL, "BM_CONTROL", W32, "BM_CONTROL", W32},
    {reg::SG_TABLE_ADDRESS, nullptr, 0, "SG_TABLE_ADDRESS", W32},
    {reg::SEQUENCE_STATUS, "SEQUENCE_STATUS", W16, nullptr, 0},
    {reg::SCSI_STATUS, "SCSI_STATUS", W8, nullptr, 0},
    {reg::MESSAGE_OUT, nullptr, 0, "MESSAGE_OUT", W32},
    {reg::SELECT_TIMEOUT, nullptr, 0, "SELECT_TIMEOUT", W32},
};

const RegisterInfo* Find(std::uint32_t offset) {
    for (const auto& info : kRegisters) {
        if (info.offset == offset) return &info;
    }
    return nullptr;
}

std::string Hex(std::uint32_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}

std::uint8_t MonitorBits(const scsi::BusLines& lines) {
    using namespace scsi;
    return static_cast<std::uint8_t>(
        PhaseCode(PhaseOf(lines.control)) | (lines.Has(kBsy) ? reg::MON_BSY : 0) |
        (lines.Has(kAck) ? reg::MON_ACK : 0) | (lines.Has(kReq) ? reg::MON_REQ : 0) |
        (lines.Has(kSel) ? reg::MON_SEL : 0) | (lines.Has(kAtn) ? reg::MON_ATN : 0));
}

}  // namespace

std::uint32_t Controller::IoPort::Read(std::uint32_t offset, AccessWidth width) {
    if (chip_.pulled_) return WidthMask(width);  // nothing answers: the bus floats high
    const std::uint32_t value = chip_.ReadIo(offset, width) & WidthMask(width);
    chip_.UpdateInterrupt();
    return value;
}

void Controller::IoPort::Write(std::uint32_t offset, AccessWidth width, std::uint32_t value) {
    if (chip_.pulled_) return;
    chip_.WriteIo(offset, width, value & WidthMask(width));
    chip_.UpdateInterrupt();
}

void Controller::BadValue(const char* name, std::uint32_t value) {
    Error(std::string(name) + " written with " + Hex(value) + ", a value the chip does not define");
}

bool Controller::CheckWidth(std::uint32_t offset, AccessWidth width, bool write) {
    const RegisterInfo* info = Find(offset);
    const unsigned bytes = static_cast<unsigned>(width);
    const char* name = info ? (write ? info->write_name : info->read_name) : nullptr;
    if (!name) {
        Error(std::string(write ? "write" : "read") + " of " + std::to_string(bytes) +
              " bytes at I/O offset " + Hex(offset) + ", where no register " +
              (write ? "accepts writes" : "can be read"));
        return false;
    }
    if (!((write ? info->write_widths : info->read_widths) & bytes)) {
        Error(std::string(name) + " " + (write ? "written" : "read") + " " +
              std::to_string(bytes * 8) + " bits wide");
        return false;
    }
    return true;
}

std::uint16_t Controller::ReadIrqStatus(AccessWidth width) {
    const scsi::BusLines lines = bus_.Lines();
    const std::uint16_t causes = Causes();
    std::uint16_t value = causes | (connected_ ? scsi::PhaseCode(scsi::PhaseOf(lines.control)) : 0);
    if (width == AccessWidth::Byte) value &= 0x00FF;  // the low byte reports only its causes
    // Reading reports, and so clears, the latched causes and the phase request it shows.
    latched_ &= static_cast<std::uint16_t>(~(value & reg::IRQ_LATCHED));
    if ((value & reg::IRQ_PHASE_REQUEST) && PhaseRequestPending()) {
        reported_phase_ = scsi::PhaseOf(lines.control);
    }
    return value;
}

std::uint32_t Controller::ReadIo(std::uint32_t offset, AccessWidth width) {
    if (!CheckWidth(offset, width, false)) return 0;
    switch (offset) {
        case reg::IRQ_STATUS:
            return ReadIrqStatus(width);
        case reg::TRANSFER_CONTROL:
            return transfer_control_ | (FifoServicePending() ? reg::XFER_SERVICE : 0);
        case reg::CHIP_REVISION:
            return config_.revision;
        case reg::INDEXED_DATA:
            return ReadIndexed(width, false);
        case reg::INDEXED_DATA_HIGH:
            return ReadIndexed(width, true);
        case reg::FIFO_COUNT:
            return static_cast<std::uint32_t>(fifo_.Size()) & 0x1FF;
        case reg::SCSI_CONTROL:
            return scsi_control_;
        case reg::BUS_MONITOR:
            return MonitorBits(bus_.Lines());
        case reg::SELECT_ID:
            return select_id_;
        case reg::SELECT_STATUS:
            return select_status_;
        case reg::SCSI_DATA_HS:
            return ReadDataWithHandshake();
        case reg::SCSI_DATA:
            return bus_.Lines().data;
        case reg::TRANSFER_COUNT:
            return transfer_count_;
        case reg::FIFO_DATA:
            return ReadFifoData();
        case reg::BM_CONTROL:
            return dma_.Status();
        case reg::SEQUENCE_STATUS: {
            const std::uint16_t events = sequence_status_;
            sequence_status_ = 0;
            return events;
        }
        case reg::SCSI_STATUS:
            return scsi_status_;
    }
    return 0;
}

void Controller::WriteIo(std::uint32_t offset, AccessWidth width, std::uint32_t value) {
    if (!CheckWidth(offset, width, true)) return;
    switch (offset) {
        case reg::IRQ_CONTROL:
            if (value & 0x0FFF) BadValue("IRQ_CONTROL", value);
            irq_mask_ = static_cast<std::uint16_t>(value & reg::MASK_ALL);
            return;
        case reg::TRANSFER_CONTROL:
            WriteTransferControl(static_cast<std::uint16_t>(value));
            return;
        case reg::INDEX:
            index_ = static_cast<std::uint8_t>(value);
            if (index_ == reg::IDX_WINDOW_END) {
                fifo_.Commit();  // the window write is complete: the bytes may go to the bus
                Pump();
            }
            return;
        case reg::TIMER:
            if (value == reg::TIMER_START) {
                StartTimer();
            } else if (value == reg::TIMER_STOP) {
                clock_.Cancel(timer_);
            } else {
                BadValue("TIMER", value);
            }
            return;
        case reg::INDEXED_DATA:
            WriteIndexed(width, value);
            return;
        case reg::REG_0F:
            if (value != 0) BadValue("REG_0F", value);
            return;
        case reg::SCSI_CONTROL:
            WriteScsiControl(static_cast<std::uint8_t>(value));
            return;
        case reg::RESPONSE_CONTROL:
            if (value & ~reg::RESP_WRITABLE) BadValue("BUS_MONITOR (response control)", value);
            response_control_ = static_cast<std::uint8_t>(value & reg::RESP_WRITABLE);
            return;
        case reg::COMMAND_DATA:
            if (cdb_.size() >= 16) {
                Error("COMMAND_DATA written a seventeenth time: the CDB buffer holds 16 bytes");
                return;
            }
            cdb_.push_back(static_cast<std::uint8_t>(value));
            return;
        case reg::REG_16:
            if (value != 0) BadValue("REG_16", value);
            return;
        case reg::SEQUENCE_CONTROL:
            WriteSequenceControl(static_cast<std::uint16_t>(value));
            return;
        case reg::SELECT_STATUS:
            if (value != reg::SEL_UNDER_WAY) {
                BadValue("SELECT_STATUS", value);
                return;
            }
            select_status_ &= static_cast<std::uint8_t>(~(reg::SEL_UNDER_WAY | reg::SEL_REFUSED));
            return;
        case reg::SYNC_PARAMS:
            if ((value & 0x0F) != 0 && (value >> 4) == 0) BadValue("SYNC_PARAMS", value);
            sync_params_ = static_cast<std::uint8_t>(value);
            return;
        case reg::SYNC_EXTRA:
            if (value > 3) BadValue("SYNC_EXTRA", value);
            sync_extra_ = static_cast<std::uint8_t>(value & 3);
            return;
        case reg::SCSI_DATA_HS:
            WriteDataWithHandshake(static_cast<std::uint8_t>(value));
            return;
        case reg::SCSI_DATA:
            data_latch_ = static_cast<std::uint8_t>(value);
            UpdateBusDrive();
            return;
        case reg::FIFO_DATA:
            WriteFifoData(value);
            return;
        case reg::BM_CONTROL:
            if (value != 0) {
                BadValue("BM_CONTROL", value);
                return;
            }
            dma_.Reset();  // drops the table; a new start or resume fetches again
            table_taken_ = false;
            fetch_pending_ = false;
            select_status_ &= static_cast<std::uint8_t>(~reg::SEL_TABLE_TAKEN);
            return;
        case reg::SG_TABLE_ADDRESS:
            table_address_ = value;
            return;
        case reg::MESSAGE_OUT:
            message_out_ = value;
            return;
        case reg::SELECT_TIMEOUT:
            select_timeout_ = value;
            return;
    }
}

void Controller::WriteTransferControl(std::uint16_t value) {
    const std::uint16_t set_up = value & static_cast<std::uint16_t>(~reg::XFER_SERVICE);
    const bool both_fifos = (set_up & reg::XFER_PORT) && (set_up & reg::XFER_WINDOW);
    const bool master_and_fifo =
        (set_up & reg::XFER_BUS_MASTER) && (set_up & (reg::XFER_PORT | reg::XFER_WINDOW));
    if ((set_up & ~reg::XFER_WRITABLE) || both_fifos || master_and_fifo) {
        BadValue("TRANSFER_CONTROL", value);
        return;
    }
    if (set_up == 0 || (set_up & reg::XFER_NEW_COMMAND)) {
        fifo_.Clear();  // a stop, or the set-up of a new command
    }
    transfer_control_ = set_up;
    ArmTableFetch();
    Pump();
}

void Controller::WriteScsiControl(std::uint8_t value) {
    if (value & ~reg::CTL_WRITABLE) {
        BadValue("SCSI_CONTROL", value);
        return;
    }
    const bool ack_rises = (value & reg::CTL_ACK) && !(scsi_control_ & reg::CTL_ACK);
    if (ack_rises && connected_ && !bus_.Lines().Has(scsi::kReq)) {
        Error("ACK asserted through SCSI_CONTROL while the target does not assert REQ");
    }
    if (ack_rises && connected_ && state_ == SequencerState::Running && byte_in_progress_) {
        Error("ACK asserted through SCSI_CONTROL while the sequencer handshakes the byte");
    }
    scsi_control_ = value;
    UpdateBusDrive();
}

std::uint8_t Controller::ReadDataWithHandshake() {
    const scsi::BusLines lines = bus_.Lines();
    if (!connected_ || !lines.Has(scsi::kReq) || !lines.Has(scsi::kIo)) {
        Error("SCSI_DATA_HS read without REQ in an in phase");
        return lines.data;
    }
    if (handshake_ack_ || lines.Has(scsi::kAck)) {
        Error("SCSI_DATA_HS read while the previous byte's ACK is still asserted");
        return lines.data;
    }
    handshake_ack_ = true;
    UpdateBusDrive();
    return lines.data;
}

void Controller::WriteDataWithHandshake(std::uint8_t value) {
    const scsi::BusLines lines = bus_.Lines();
    if (!connected_ || !lines.Has(scsi::kReq) || lines.Has(scsi::kIo)) {
        Error("SCSI_DATA_HS written without REQ in an out phase");
        return;
    }
    if (handshake_ack_ || lines.Has(scsi::kAck)) {
        Error("SCSI_DATA_HS written while the previous byte's ACK is still asserted");
        return;
    }
    data_latch_ = value;
    handshake_ack_ = true;
    UpdateBusDrive();
}

std::uint32_t Controller::ReadFifoData() {
    std::uint8_t bytes[4] = {};
    const std::size_t n = fifo_.Pop(bytes);
    if (n == 0) Error("FIFO_DATA read from an empty FIFO");
    Pump();
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

void Controller::WriteFifoData(std::uint32_t value) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    if (!fifo_.Push(bytes)) {
        Error("FIFO_DATA written with the FIFO full (" + std::to_string(fifo_.Size()) + " bytes)");
        return;
    }
    Pump();
}

}  // namespace quell::sim::chip
