// The controller's register file on its own: identification, indexed registers, the interrupt
// mask and line, the timer, the memory window, card removal, lost set-up, and the model errors
// for accesses no real chip would accept.
#include <gtest/gtest.h>

#include "tests/sim/chip_bench.h"

namespace quell::sim::chip::test {
namespace {

TEST(ChipRegistersTest, IdentificationAndIndexedRegistersReportTheMachinesSettings) {
    ChipConfig config;
    config.revision = 0x5A07;
    config.window_base = 0xFEBC1000;
    config.latency_reset = 0x0020;
    ChipBench bench(config);
    EXPECT_EQ(bench.R16(r::CHIP_REVISION), 0x5A07);
    bench.W8(r::INDEX, r::IDX_WINDOW_BASE);
    EXPECT_EQ(bench.R16(r::INDEXED_DATA), 0x1000);
    EXPECT_EQ(bench.R16(r::INDEXED_DATA_HIGH), 0xFEBC);
    // Latency: the high byte reads 0, so discovery writes its setting keeping the low byte.
    EXPECT_EQ(bench.ReadIndexed(r::IDX_LATENCY, AccessWidth::Word), 0x0020);
    bench.WriteIndexed(r::IDX_LATENCY, 0x4020, AccessWidth::Word);
    EXPECT_EQ(bench.ReadIndexed(r::IDX_LATENCY, AccessWidth::Word), 0x4020);
    EXPECT_EQ(bench.ReadIndexed(r::IDX_SETUP), 0);  // not yet initialised
    bench.Initialize();
    EXPECT_EQ(bench.ReadIndexed(r::IDX_SETUP), 1);
    EXPECT_EQ(bench.ReadIndexed(r::IDX_BURST, AccessWidth::Word), 0x0179);
    EXPECT_TRUE(bench.errors.Empty()) << bench.errors.Summary();
}

TEST(ChipRegistersTest, TerminationPowerIsSensedAfterTheSupplyIsSwitchedOff) {
    for (const bool present : {true, false}) {
        ChipConfig config;
        config.termination_power = present;
        ChipBench bench(config);
        bench.WriteIndexed(r::IDX_TERMPOWER, 0);
        EXPECT_EQ(bench.ReadIndexed(r::IDX_TERMPOWER) & r::TERM_SENSED,
                  present ? r::TERM_SENSED : 0);
        bench.WriteIndexed(r::IDX_TERMPOWER, 1);  // the adapter supplies it itself
        EXPECT_EQ(bench.ReadIndexed(r::IDX_TERMPOWER), r::TERM_SENSED | r::TERM_SUPPLY_ON);
    }
}

TEST(ChipRegistersTest, LostSetUpReadsZeroUntilInitialisedAgain) {
    ChipConfig config;
    config.lose_set_up_at = 5 * kMillisecond;
    ChipBench bench(config);
    bench.Initialize();
    EXPECT_EQ(bench.ReadIndexed(r::IDX_SETUP), 1);
    bench.Pass(5 * kMillisecond);
    EXPECT_EQ(bench.ReadIndexed(r::IDX_SETUP), 0);
    bench.Initialize();
    EXPECT_EQ(bench.ReadIndexed(r::IDX_SETUP), 1);
}

TEST(ChipRegistersTest, TimerRaisesItsLatchedCauseAndTheMaskGatesOnlyTheLine) {
    ChipBench bench;
    std::vector<bool> changes;
    bench.chip.SetInterruptCallback([&](bool line) { changes.push_back(line); });
    bench.W16(r::IRQ_CONTROL, 0xF000);
    bench.W16(r::TIMER, r::TIMER_START);
    bench.Pass(kMillisecond);  // well within the port driver's 1 ms probe
    EXPECT_FALSE(bench.chip.InterruptLine());
    bench.W16(r::IRQ_CONTROL, 0xD000);  // everything masked but the timer
    EXPECT_TRUE(bench.chip.InterruptLine());
    EXPECT_EQ(bench.R16(r::IRQ_STATUS) & 0x0080, 0x0080);
    EXPECT_FALSE(bench.chip.InterruptLine());  // cleared by the read that reported it
    EXPECT_EQ(bench.R16(r::IRQ_STATUS) & 0x0FF0, 0);
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    // A stopped timer raises nothing.
    bench.W16(r::TIMER, r::TIMER_START);
    bench.W16(r::TIMER, r::TIMER_STOP);
    bench.Pass(kMillisecond);
    EXPECT_EQ(bench.R16(r::IRQ_STATUS) & 0x0080, 0);
}

TEST(ChipRegistersTest, PulledCardReadsAllOnesAtEveryWidthAndIgnoresWrites) {
    for (const PulledLine line : {PulledLine::Released, PulledLine::Asserted}) {
        ChipConfig config;
        config.pull_at = 2 * kMillisecond;
        config.pulled_line = line;
        ChipBench bench(config);
        bench.Initialize();
        bench.Pass(2 * kMillisecond);
        EXPECT_TRUE(bench.chip.Pulled());
        EXPECT_EQ(bench.R16(r::IRQ_STATUS), 0xFFFF);
        EXPECT_EQ(bench.R16(r::CHIP_REVISION), 0xFFFF);
        EXPECT_EQ(bench.R8(r::BUS_MONITOR), 0xFF);
        EXPECT_EQ(bench.R32(r::TRANSFER_COUNT), 0xFFFFFFFFu);
        EXPECT_EQ(bench.chip.MemoryWindow().Read(0, AccessWidth::Word), 0xFFFFu);
        bench.W8(r::SCSI_CONTROL, 0x02);  // ignored: no reset reaches the bus
        EXPECT_FALSE(bench.bus.Lines().Has(scsi::kRst));
        EXPECT_EQ(bench.chip.InterruptLine(), line == PulledLine::Asserted);
        EXPECT_TRUE(bench.errors.Empty());
    }
}

TEST(ChipRegistersTest, MemoryWindowWritesReachTheFifoOnlyWhenTheWriteIsEnded) {
    ChipBench bench;
    auto& window = bench.chip.MemoryWindow();
    window.Write(0, AccessWidth::Dword, 0x44332211);
    window.Write(0x800, AccessWidth::Word, 0x6655);
    window.Write(0x10, AccessWidth::Byte, 0x77);
    EXPECT_EQ(bench.R16(r::FIFO_COUNT), 7);
    bench.W8(r::INDEX, r::IDX_WINDOW_END);
    // Successive reads anywhere in the window take successive FIFO bytes.
    EXPECT_EQ(window.Read(0x100, AccessWidth::Word), 0x2211u);
    EXPECT_EQ(window.Read(0x004, AccessWidth::Byte), 0x33u);
    EXPECT_EQ(bench.R32(r::FIFO_DATA), 0x77665544u);
    EXPECT_EQ(bench.R16(r::FIFO_COUNT), 0);
    EXPECT_TRUE(bench.errors.Empty()) << bench.errors.Summary();
}

// Accesses no real chip accepts: each is a model error naming what was wrong.
struct BadAccess {
    const char* what;
    std::function<void(ChipBench&)> access;
    const char* named;
};

class ChipModelErrorTest : public ::testing::TestWithParam<BadAccess> {};

TEST_P(ChipModelErrorTest, IsReportedNamingTheRegisterOrAddress) {
    ChipBench bench;
    GetParam().access(bench);
    ASSERT_FALSE(bench.errors.Empty()) << GetParam().what;
    EXPECT_NE(bench.errors.Summary().find(GetParam().named), std::string::npos)
        << bench.errors.Summary();
}

INSTANTIATE_TEST_SUITE_P(
    Accesses, ChipModelErrorTest,
    ::testing::Values(
        BadAccess{"undefined sequencer value",
                  [](ChipBench& b) { b.W16(r::SEQUENCE_CONTROL, 0x0007); }, "SEQUENCE_CONTROL"},
        BadAccess{"wrong width", [](ChipBench& b) { b.W8(r::SEQUENCE_CONTROL, 0x05); },
                  "SEQUENCE_CONTROL written 8 bits"},
        BadAccess{"no register", [](ChipBench& b) { b.W8(0x4E, 1); }, "0x4e"},
        BadAccess{"bus master with FIFO", [](ChipBench& b) { b.W16(r::TRANSFER_CONTROL, 0x0282); },
                  "TRANSFER_CONTROL"},
        BadAccess{"mask low bits", [](ChipBench& b) { b.W16(r::IRQ_CONTROL, 0x0001); },
                  "IRQ_CONTROL"},
        BadAccess{"engine write", [](ChipBench& b) { b.W32(r::BM_CONTROL, 1); }, "BM_CONTROL"},
        BadAccess{"unknown index", [](ChipBench& b) { b.WriteIndexed(0x09, 1); }, "INDEX 0x9"},
        BadAccess{"FIFO port width", [](ChipBench& b) { b.W16(r::FIFO_DATA, 1); },
                  "FIFO_DATA written 16 bits"},
        BadAccess{"empty FIFO", [](ChipBench& b) { b.R32(r::FIFO_DATA); }, "empty FIFO"},
        BadAccess{"handshake without REQ", [](ChipBench& b) { b.R8(r::SCSI_DATA_HS); },
                  "SCSI_DATA_HS"},
        BadAccess{"timer value", [](ChipBench& b) { b.W16(r::TIMER, 3); }, "TIMER"},
        BadAccess{"FIFO overflow",
                  [](ChipBench& b) {
                      for (int i = 0; i < 65; ++i) b.W32(r::FIFO_DATA, i);
                  },
                  "FIFO full"},
        BadAccess{"table outside memory",
                  [](ChipBench& b) {
                      b.AddDisk(1);
                      b.Initialize();
                      b.table = {{0x7F000000, 512 | DmaEngine::kEndOfTable}};
                      b.table_physical = 0x7E000000;
                      b.Launch(1, Read10(0, 1), 512);
                      b.Pass(kMillisecond);
                  },
                  "physical 0x7e000000"},
        BadAccess{"data outside memory",
                  [](ChipBench& b) {
                      b.AddDisk(1);
                      b.Initialize();
                      auto table = b.memory.Allocate(64, PagePlacement::Contiguous);
                      b.table_physical =
                          static_cast<std::uint32_t>(b.memory.ToPhysical(table.data())->physical);
                      b.table = {{0x7F000000, 512 | DmaEngine::kEndOfTable}};
                      b.StoreTable();
                      b.Launch(1, Read10(0, 1), 512);
                      b.Serve(true, 5 * kMillisecond);
                  },
                  "physical 0x7f000000"}),
    [](const auto& info) { return std::string(1, char('A' + info.index)); });

}  // namespace
}  // namespace quell::sim::chip::test
