// The bus trace: a waveform file of one command that a viewer can read, parsed back here, and
// the analyzer log's decoding of the same command.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "sim/scsi/trace_writers.h"
#include "tests/sim/chip_bench.h"

namespace quell::sim::chip::test {
namespace {

// A minimal value change dump reader: declarations, then time stamps and value changes.
struct Waveform {
    std::string timescale;
    std::map<std::string, std::string> names;  // identifier code -> signal name
    std::map<std::string, std::vector<std::pair<SimTime, std::string>>> changes;  // by name
};

Waveform ParseVcd(std::istream& in) {
    Waveform wave;
    std::string token;
    SimTime now = 0;
    bool definitions = true;
    while (in >> token) {
        if (definitions) {
            if (token == "$timescale") {
                in >> wave.timescale >> token;
            } else if (token == "$var") {
                std::string type, width, code, name, end;
                in >> type >> width >> code >> name >> end;
                wave.names[code] = name;
            } else if (token == "$enddefinitions") {
                in >> token;
                definitions = false;
            }
            continue;
        }
        if (token[0] == '#') {
            const SimTime next = std::stoull(token.substr(1));
            EXPECT_GE(next, now) << "time goes backwards";
            now = next;
        } else if (token[0] == 'b') {
            std::string code;
            in >> code;
            wave.changes[wave.names.at(code)].push_back({now, token.substr(1)});
        } else if (token[0] == '0' || token[0] == '1') {
            wave.changes[wave.names.at(token.substr(1))].push_back({now, token.substr(0, 1)});
        }
    }
    return wave;
}

TEST(BusTraceTest, OneCommandGivesAWaveformAndAnAnalyzerLog) {
    ChipBench bench;
    bench.AddDisk(3);
    bench.Initialize();
    std::ostringstream vcd, log;
    scsi::VcdWriter writer(vcd);
    scsi::AnalyzerLog analyzer(log);
    bench.bus.AddTraceSink(&writer);
    bench.bus.AddTraceSink(&analyzer);
    auto buffer = bench.memory.Allocate(512, PagePlacement::Contiguous);
    const std::uint32_t pieces[] = {512};
    bench.BuildTable(buffer, pieces);
    bench.Launch(3, Read10(0, 1), 512);
    ASSERT_TRUE(bench.Serve().completed);
    bench.bus.FinishTrace();

    std::istringstream in(vcd.str());
    const Waveform wave = ParseVcd(in);
    EXPECT_EQ(wave.timescale, "1ns");
    for (const char* name : {"BSY", "SEL", "CD", "IO", "MSG", "REQ", "ACK", "ATN", "RST", "DB"}) {
        EXPECT_TRUE(wave.changes.contains(name)) << name;
    }
    // Every byte of the command was handshaken: identify, 10 CDB bytes, 512 data bytes,
    // status and COMMAND COMPLETE each raise REQ once.
    const auto& req = wave.changes.at("REQ");
    const auto raised =
        std::count_if(req.begin(), req.end(), [](const auto& c) { return c.second == "1"; });
    EXPECT_EQ(raised, 1 + 10 + 512 + 1 + 1);
    // The selection drives the two ids on the data lines: 0x88.
    const auto& db = wave.changes.at("DB");
    EXPECT_TRUE(
        std::any_of(db.begin(), db.end(), [](const auto& c) { return c.second == "10001000"; }));
    // The bus ends free.
    EXPECT_EQ(wave.changes.at("BSY").back().second, "0");

    const std::string text = log.str();
    for (const char* line :
         {"SELECTION    7 -> 3 with ATN", "IDENTIFY LUN 0 disc", "READ(10)",
          "DATA IN       7<->3  512 bytes", "GOOD", "COMMAND COMPLETE", "BUS FREE"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    }
}

}  // namespace
}  // namespace quell::sim::chip::test
