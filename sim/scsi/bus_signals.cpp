#include "sim/scsi/bus_signals.h"

namespace quell::sim::scsi {

const char* PhaseName(Phase phase) {
    switch (phase) {
        case Phase::DataOut:
            return "DATA OUT";
        case Phase::DataIn:
            return "DATA IN";
        case Phase::Command:
            return "COMMAND";
        case Phase::MessageOut:
            return "MESSAGE OUT";
        case Phase::Status:
            return "STATUS";
        case Phase::MessageIn:
            return "MESSAGE IN";
        case Phase::Invalid1:
            return "INVALID (1)";
        case Phase::Invalid3:
            return "INVALID (3)";
    }
    return "?";
}

std::string LineNames(std::uint16_t control) {
    static constexpr struct {
        std::uint16_t line;
        const char* name;
    } kNames[] = {{kBsy, "BSY"}, {kSel, "SEL"}, {kCd, "C/D"},  {kIo, "I/O"}, {kMsg, "MSG"},
                  {kReq, "REQ"}, {kAck, "ACK"}, {kAtn, "ATN"}, {kRst, "RST"}};
    std::string out;
    for (const auto& entry : kNames) {
        if (control & entry.line) {
            if (!out.empty()) out += ' ';
            out += entry.name;
        }
    }
    return out.empty() ? "-" : out;
}

}  // namespace quell::sim::scsi
