#include "sim/scsi/trace_writers.h"

#include <iomanip>
#include <sstream>

namespace quell::sim::scsi {
namespace {

struct VcdSignal {
    std::uint16_t line;
    char code;
    const char* name;
};
constexpr VcdSignal kSignals[] = {{kBsy, '!', "BSY"},  {kSel, '"', "SEL"}, {kCd, '#', "CD"},
                                  {kIo, '$', "IO"},    {kMsg, '%', "MSG"}, {kReq, '&', "REQ"},
                                  {kAck, '\'', "ACK"}, {kAtn, '(', "ATN"}, {kRst, ')', "RST"}};
constexpr char kDataCode = '*';

std::string Binary(std::uint8_t value) {
    std::string bits;
    for (int bit = 7; bit >= 0; --bit) bits += (value >> bit) & 1 ? '1' : '0';
    return bits;
}

std::string Hex(std::uint8_t byte) {
    std::ostringstream out;
    out << std::hex << std::setw(2) << std::setfill('0') << int{byte};
    return out.str();
}

std::string DecodeMessages(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::uint8_t b = bytes[i];
        if (!out.empty()) out += ", ";
        if (b & 0x80) {
            out += "IDENTIFY LUN " + std::to_string(b & 7) + ((b & 0x40) ? " disc" : "");
            ++i;
        } else if (b == 0x01 && i + 1 < bytes.size()) {
            const std::size_t length = bytes[i + 1];
            if (length == 3 && i + 4 < bytes.size() && bytes[i + 2] == 0x01) {
                out += "SDTR period 0x" + Hex(bytes[i + 3]) + " offset " +
                       std::to_string(bytes[i + 4]);
            } else if (length == 5 && i + 6 < bytes.size() && bytes[i + 2] == 0x00) {
                const auto argument = static_cast<std::int32_t>(
                    (std::uint32_t{bytes[i + 3]} << 24) | (bytes[i + 4] << 16) |
                    (bytes[i + 5] << 8) | bytes[i + 6]);
                out += "MODIFY DATA POINTER " + std::to_string(argument);
            } else {
                out += "EXTENDED MESSAGE";
            }
            i += 2 + length;
        } else {
            static constexpr const char* kNames[] = {"COMMAND COMPLETE",
                                                     "EXTENDED",
                                                     "SAVE DATA POINTER",
                                                     "RESTORE POINTERS",
                                                     "DISCONNECT",
                                                     "INITIATOR DETECTED ERROR",
                                                     "ABORT",
                                                     "MESSAGE REJECT",
                                                     "NO OPERATION",
                                                     "MESSAGE PARITY ERROR",
                                                     "LINKED COMMAND COMPLETE",
                                                     "LINKED COMMAND COMPLETE (FLAG)",
                                                     "BUS DEVICE RESET"};
            out += b < std::size(kNames) ? kNames[b] : "message 0x" + Hex(b);
            ++i;
        }
    }
    return out;
}

const char* CommandName(std::uint8_t opcode) {
    switch (opcode) {
        case 0x00:
            return "TEST UNIT READY";
        case 0x03:
            return "REQUEST SENSE";
        case 0x08:
            return "READ(6)";
        case 0x0A:
            return "WRITE(6)";
        case 0x12:
            return "INQUIRY";
        case 0x1A:
            return "MODE SENSE(6)";
        case 0x1B:
            return "START STOP UNIT / SCAN";
        case 0x24:
            return "SET WINDOW";
        case 0x25:
            return "READ CAPACITY";
        case 0x28:
            return "READ(10)";
        case 0x2A:
            return "WRITE(10)";
        case 0x43:
            return "READ TOC";
        case 0x5A:
            return "MODE SENSE(10)";
        case 0xA8:
            return "READ(12)";
        case 0xAA:
            return "WRITE(12)";
        case 0xBE:
            return "READ CD";
        default:
            return "command";
    }
}

}  // namespace

std::string DecodePhaseBytes(Phase phase, const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return {};
    switch (phase) {
        case Phase::MessageOut:
        case Phase::MessageIn:
            return DecodeMessages(bytes);
        case Phase::Command:
            return CommandName(bytes[0]);
        case Phase::Status:
            switch (bytes[0]) {
                case 0x00:
                    return "GOOD";
                case 0x02:
                    return "CHECK CONDITION";
                case 0x08:
                    return "BUSY";
                case 0x18:
                    return "RESERVATION CONFLICT";
                default:
                    return "status 0x" + Hex(bytes[0]);
            }
        default:
            return {};
    }
}

VcdWriter::VcdWriter(std::ostream& out) : out_(out) {}

void VcdWriter::Header() {
    out_ << "$version quell SCSI bus trace $end\n$timescale 1ns $end\n$scope module scsi $end\n";
    for (const auto& signal : kSignals) {
        out_ << "$var wire 1 " << signal.code << ' ' << signal.name << " $end\n";
    }
    out_ << "$var wire 8 " << kDataCode << " DB $end\n$upscope $end\n$enddefinitions $end\n";
}

void VcdWriter::OnLines(SimTime time, const BusLines& lines) {
    if (!started_) {
        Header();
        out_ << "#" << time << "\n$dumpvars\n";
        for (const auto& signal : kSignals) {
            out_ << (lines.Has(signal.line) ? '1' : '0') << signal.code << '\n';
        }
        out_ << 'b' << Binary(lines.data) << ' ' << kDataCode << "\n$end\n";
        started_ = true;
        last_ = lines;
        last_time_ = time;
        return;
    }
    if (lines == last_) return;
    if (time != last_time_) out_ << '#' << time << '\n';
    for (const auto& signal : kSignals) {
        if (lines.Has(signal.line) != last_.Has(signal.line)) {
            out_ << (lines.Has(signal.line) ? '1' : '0') << signal.code << '\n';
        }
    }
    if (lines.data != last_.data) out_ << 'b' << Binary(lines.data) << ' ' << kDataCode << '\n';
    last_ = lines;
    last_time_ = time;
}

void VcdWriter::Finish(SimTime end) {
    if (!started_) Header();
    if (end > last_time_) out_ << '#' << end << '\n';
    out_.flush();
}

void AnalyzerLog::OnPhase(const PhaseRecord& record) {
    out_ << std::setw(12) << record.start << " ns  " << std::left << std::setw(12)
         << PhaseName(record.phase) << std::right << "  " << record.initiator << "<->"
         << record.target << "  " << record.count << (record.count == 1 ? " byte " : " bytes");
    out_ << " [";
    for (std::size_t i = 0; i < record.bytes.size() && i < 16; ++i) {
        out_ << (i ? " " : "") << Hex(record.bytes[i]);
    }
    if (record.count > 16) out_ << " ...";
    out_ << "]";
    const std::string meaning = DecodePhaseBytes(record.phase, record.bytes);
    if (!meaning.empty()) out_ << "  " << meaning;
    if (record.byte_period != 0) out_ << "  (" << record.byte_period << " ns/byte)";
    out_ << '\n';
}

void AnalyzerLog::OnEvent(const BusEventRecord& record) {
    out_ << std::setw(12) << record.time << " ns  ";
    switch (record.event) {
        case BusEvent::ArbitrationWon:
            out_ << "ARBITRATION  won by " << record.initiator;
            break;
        case BusEvent::Selection:
            out_ << "SELECTION    " << record.initiator << " -> " << record.target
                 << (record.attention ? " with ATN" : "");
            break;
        case BusEvent::SelectionTimeout:
            out_ << "SELECTION    " << record.initiator << " -> " << record.target << " timed out";
            break;
        case BusEvent::Reselection:
            out_ << "RESELECTION  " << record.target << " -> " << record.initiator;
            break;
        case BusEvent::BusFree:
            out_ << "BUS FREE";
            break;
        case BusEvent::Reset:
            out_ << "RESET";
            break;
    }
    out_ << '\n';
}

}  // namespace quell::sim::scsi
