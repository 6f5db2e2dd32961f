// The controller model driven at register level through whole commands: the events each path
// raises, the bytes on the bus and the data moved.
#include <gtest/gtest.h>

#include "sim/scsi/trace_writers.h"
#include "tests/sim/chip_bench.h"

namespace quell::sim::chip::test {
namespace {

using scsi::DisconnectMode;
using scsi::Fault;
using scsi::FaultKind;
using scsi::Moment;
using scsi::PatternByte;
using scsi::SdtrAnswer;
using scsi::Trigger;

::testing::AssertionResult HoldsDiskData(std::span<const std::byte> buffer,
                                         std::uint32_t first_block) {
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        const auto expected =
            PatternByte(first_block + i / 512, static_cast<std::uint32_t>(i % 512));
        if (static_cast<std::uint8_t>(buffer[i]) != expected) {
            return ::testing::AssertionFailure()
                   << "byte " << i << " is " << int(buffer[i]) << ", expected " << int(expected);
        }
    }
    return ::testing::AssertionSuccess();
}

class ChipCommandTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(bench.errors.Empty()) << bench.errors.Summary(); }
    ChipBench bench;
};

TEST_F(ChipCommandTest, BusMasterReadRunsSelectionCommandDataStatusAndCompletionByItself) {
    bench.AddDisk(3);
    bench.Initialize();
    auto buffer = bench.memory.Allocate(4096, PagePlacement::Contiguous);
    const std::uint32_t pieces[] = {4096};
    bench.BuildTable(buffer, pieces);

    EXPECT_EQ(bench.Launch(3, Read10(16, 8), 4096) & 0x06, 0x02);
    const CommandTrace trace = bench.Serve();

    ASSERT_TRUE(trace.completed);
    EXPECT_EQ(trace.status, 0x00);
    // Command done, data-in stop, the status byte, COMMAND COMPLETE with the bus free.
    EXPECT_EQ(trace.all_events, 0x0453);
    EXPECT_EQ(trace.events.back() & 0x0440, 0x0440);
    EXPECT_EQ(bench.bytes_transferred, 4096u);
    EXPECT_TRUE(HoldsDiskData(buffer, 16));
    EXPECT_EQ(bench.R8(r::BUS_MONITOR), 0);
}

// A scattered buffer with an odd start, read by a target that disconnects every `every` bytes:
// at each stop the driver's arithmetic (TRANSFER_COUNT less the entry's low address bits, then
// the table advance) must land on the byte the target continues from.
struct DisconnectCase {
    const char* name;
    std::uint32_t every;
    std::uint32_t misalign;
    ReselectionReport report;
    bool write;
};

class BusMasterDisconnectTest : public ::testing::TestWithParam<DisconnectCase> {};

TEST_P(BusMasterDisconnectTest, DataStopsLeaveTheTableOnTheRightByte) {
    const DisconnectCase& c = GetParam();
    ChipConfig config;
    config.reselection_report = c.report;
    ChipBench bench(config);
    TargetKnobs knobs = ChipBench::Quiet();
    knobs.disconnect = {DisconnectMode::InData, c.every, true, 50 * kMicrosecond, 8};
    auto& disk = bench.AddDisk(2, knobs);
    bench.Initialize();

    constexpr std::uint32_t kLength = 6 * 512;
    auto buffer = bench.memory.Allocate(kLength, PagePlacement::Scattered, c.misalign);
    // Pieces as the page map makes them: up to the first page end, then whole pages.
    std::vector<std::uint32_t> pieces;
    for (std::uint32_t at = 0; at < kLength;) {
        const std::uint32_t piece =
            std::min(kLength - at, at == 0 ? kPageSize - c.misalign : kPageSize);
        pieces.push_back(piece);
        at += piece;
    }
    bench.BuildTable(buffer, pieces);
    if (c.write) {
        for (std::uint32_t i = 0; i < kLength; ++i) buffer[i] = std::byte(i * 7 + 1);
    }

    bench.Launch(2, c.write ? Write10(40, 6) : Read10(40, 6), kLength);
    const CommandTrace trace = bench.Serve();

    ASSERT_TRUE(trace.completed) << c.name;
    EXPECT_EQ(trace.status, 0);
    EXPECT_EQ(trace.reselections, static_cast<int>((kLength - 1) / c.every));
    EXPECT_EQ(bench.bytes_transferred, kLength);
    EXPECT_EQ(bench.sg_index, pieces.size());
    if (c.write) {
        std::vector<std::uint8_t> stored(kLength);
        static_cast<scsi::BlockDevice*>(disk.Unit(0))->Storage().Read(40, stored);
        for (std::uint32_t i = 0; i < kLength; ++i) {
            ASSERT_EQ(stored[i], static_cast<std::uint8_t>(i * 7 + 1)) << "byte " << i;
        }
    } else {
        EXPECT_TRUE(HoldsDiskData(buffer, 40));
    }
    EXPECT_TRUE(bench.errors.Empty()) << bench.errors.Summary();
}

INSTANTIATE_TEST_SUITE_P(Tables, BusMasterDisconnectTest,
                         ::testing::Values(DisconnectCase{"inside an entry, phase request", 1000, 2,
                                                          ReselectionReport::PhaseRequest, false},
                                           DisconnectCase{"inside an entry, message byte", 1000, 3,
                                                          ReselectionReport::MessageByte, false},
                                           DisconnectCase{"at an entry boundary", 4096 - 512, 512,
                                                          ReselectionReport::PhaseRequest, false},
                                           DisconnectCase{"write inside an entry", 700, 1,
                                                          ReselectionReport::MessageByte, true},
                                           DisconnectCase{"write at an entry boundary", 2048, 2048,
                                                          ReselectionReport::PhaseRequest, true}),
                         [](const auto& info) { return std::string(1, char('A' + info.index)); });

TEST_F(ChipCommandTest, DroppedBusMasterSetUpAtReselectionIsRedoneByTheDriver) {
    ChipConfig config;
    config.drop_bus_master_set_up = Trigger::OnceAt(1);
    ChipBench dropping(config);
    TargetKnobs knobs = ChipBench::Quiet();
    knobs.disconnect = {DisconnectMode::InData, 512, true, 50 * kMicrosecond, 8};
    dropping.AddDisk(1, knobs);
    dropping.Initialize();
    auto buffer = dropping.memory.Allocate(1024, PagePlacement::Contiguous);
    const std::uint32_t pieces[] = {1024};
    dropping.BuildTable(buffer, pieces);
    bool saw_drop = false;
    dropping.before_reselection_release = [&] { saw_drop |= dropping.chip.Starts() == 1; };
    dropping.Launch(1, Read10(0, 2), 1024);
    const CommandTrace trace = dropping.Serve();
    ASSERT_TRUE(trace.completed);
    EXPECT_TRUE(saw_drop);
    EXPECT_TRUE(HoldsDiskData(buffer, 0));
    EXPECT_TRUE(dropping.errors.Empty()) << dropping.errors.Summary();
}

// SDTR sent byte by byte through the sequencer's message-out stops; the answer comes back
// through its message-in stops.
struct SdtrCase {
    SdtrAnswer answer;
    std::vector<std::uint8_t> reply;  // message-in bytes the driver takes by hand
    std::uint8_t agreed_offset;
    bool completes;
};

class SdtrTest : public ::testing::TestWithParam<SdtrCase> {};

TEST_P(SdtrTest, TheAnswerArrivesThroughMessageByteStops) {
    const SdtrCase& c = GetParam();
    ChipBench bench;
    TargetKnobs knobs = ChipBench::Quiet();
    knobs.sync.answer = c.answer;
    auto& disk = bench.AddDisk(4, knobs);
    bench.Initialize();
    auto buffer = bench.memory.Allocate(2048, PagePlacement::Contiguous);
    const std::uint32_t pieces[] = {2048};
    bench.BuildTable(buffer, pieces);
    bench.message_out = {0x01, 0x03, 0x01, 0x0C, 0x0F};
    bench.Launch(4, Read10(8, 4), 2048, 0xC0, /*identify_only=*/false);
    const CommandTrace trace = bench.Serve();

    EXPECT_TRUE(trace.all_events & 0x0100);  // message-out byte stops
    EXPECT_EQ(trace.messages_in, c.reply);
    EXPECT_EQ(disk.Agreement().offset, c.agreed_offset);
    EXPECT_EQ(trace.completed, c.completes);
    if (c.completes) {
        EXPECT_TRUE(HoldsDiskData(buffer, 8));
    } else {
        EXPECT_TRUE(trace.unexpected_free);
    }
    EXPECT_TRUE(bench.errors.Empty()) << bench.errors.Summary();
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SdtrTest,
    ::testing::Values(SdtrCase{SdtrAnswer::AsOffered, {1, 3, 1, 0x0C, 15}, 15, true},
                      SdtrCase{SdtrAnswer::Slower, {1, 3, 1, 0x32, 15}, 15, true},
                      SdtrCase{SdtrAnswer::SmallerOffset, {1, 3, 1, 0x0C, 8}, 8, true},
                      SdtrCase{SdtrAnswer::OffsetZero, {1, 3, 1, 0x0C, 0}, 0, true},
                      SdtrCase{SdtrAnswer::Reject, {0x07}, 0, true},
                      SdtrCase{SdtrAnswer::NoAnswer, {}, 0, false}));

TEST_F(ChipCommandTest, OutOfRangeAnswerIsRejectedAndTheTargetStaysAsynchronous) {
    TargetKnobs knobs = ChipBench::Quiet();
    knobs.sync.answer = SdtrAnswer::OutOfRange;
    auto& disk = bench.AddDisk(4, knobs);
    bench.Initialize();
    bench.message_out = {0x01, 0x03, 0x01, 0x0C, 0x0F};
    bench.on_extended = [&](const std::vector<std::uint8_t>& message) {
        EXPECT_EQ(message[4], 0x20);
        bench.message_out = {0x07};  // MESSAGE REJECT, ATN with the last byte's ACK
        bench.message_out_index = 0;
        return true;
    };
    bench.mode = Mode::BusMaster;
    bench.Launch(4, {0x00, 0, 0, 0, 0, 0}, 0, 0xC0, false);
    const CommandTrace trace = bench.Serve();
    EXPECT_TRUE(trace.completed);
    EXPECT_EQ(disk.Agreement(), scsi::TransferAgreement{});
}

TEST_F(ChipCommandTest, TargetInitiatedSdtrIsAnsweredAndDataMovesSynchronously) {
    TargetKnobs knobs = ChipBench::Quiet();
    knobs.sync.target_initiated = true;
    knobs.sync.initiated_factor = 0x19;
    auto& disk = bench.AddDisk(5, knobs);
    bench.Initialize();
    auto buffer = bench.memory.Allocate(4096, PagePlacement::Contiguous);
    const std::uint32_t pieces[] = {4096};
    bench.BuildTable(buffer, pieces);
    bench.on_extended = [&](const std::vector<std::uint8_t>& message) {
        bench.sync_params = (3 << 4) | 15;  // factor 0x19: period code 3
        bench.W8(r::SYNC_EXTRA, 1);
        bench.W8(r::SYNC_PARAMS, bench.sync_params);
        bench.message_out.assign(message.begin(), message.end());
        bench.message_out_index = 0;
        return true;
    };
    std::ostringstream log;
    scsi::AnalyzerLog analyzer(log);
    bench.bus.AddTraceSink(&analyzer);
    const SimTime start = bench.clock.Now();
    bench.Launch(5, Read10(0, 8), 4096);
    const CommandTrace trace = bench.Serve();
    ASSERT_TRUE(trace.completed);
    EXPECT_EQ(disk.Agreement(), (scsi::TransferAgreement{0x19, 15}));
    EXPECT_TRUE(HoldsDiskData(buffer, 0));
    EXPECT_NE(log.str().find("(100 ns/byte)"), std::string::npos) << log.str();
    EXPECT_LT(bench.clock.Now() - start, 4096 * 330u);  // faster than asynchronous
}

// Programmed I/O: FIFO service while the data phase runs, the data-in stop for the rest.
TEST_F(ChipCommandTest, ProgrammedReadsThroughThePortAndTheWindowDeliverEveryByte) {
    for (const Mode mode : {Mode::Port, Mode::Window}) {
        ChipBench pio;
        pio.AddDisk(0);
        pio.Initialize();
        pio.mode = mode;
        std::vector<std::uint8_t> data(3 * 512 + 0);
        pio.pio_buffer = &data;
        pio.Launch(0, Read10(3, 3), static_cast<std::uint32_t>(data.size()));
        const CommandTrace trace = pio.Serve();
        ASSERT_TRUE(trace.completed);
        EXPECT_TRUE(trace.all_irq & 0x0100);
        EXPECT_TRUE(HoldsDiskData(std::as_bytes(std::span(data)), 3));
        EXPECT_TRUE(pio.errors.Empty()) << pio.errors.Summary();
    }
}

TEST_F(ChipCommandTest, ProgrammedWriteThatDisconnectsCountsOnlyTheBytesThatCrossedTheBus) {
    TargetKnobs knobs = ChipBench::Quiet();
    knobs.disconnect = {DisconnectMode::InData, 300, true, 50 * kMicrosecond, 8};
    auto& disk = bench.AddDisk(6, knobs);
    bench.Initialize();
    bench.mode = Mode::Port;
    std::vector<std::uint8_t> data(2 * 512);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i ^ 0xA5);
    bench.pio_buffer = &data;
    bench.data_in = false;
    bench.Launch(6, Write10(100, 2), static_cast<std::uint32_t>(data.size()));
    const CommandTrace trace = bench.Serve();
    ASSERT_TRUE(trace.completed);
    EXPECT_EQ(trace.reselections, 3);
    std::vector<std::uint8_t> stored(data.size());
    static_cast<scsi::BlockDevice*>(disk.Unit(0))->Storage().Read(100, stored);
    EXPECT_EQ(stored, data);
}

// Manual phases: the sequencer stops and the driver serves the target's phases by hand.
TEST_F(ChipCommandTest, MessageOutWithoutAttentionBecomesAManualPhase) {
    TargetKnobs knobs = ChipBench::Quiet();
    knobs.faults = {
        Fault{FaultKind::MessageOutWithoutAtn, Trigger::Always(), Moment::AfterCommand}};
    bench.AddDisk(1, knobs);
    bench.Initialize();
    bench.Launch(1, {0x00, 0, 0, 0, 0, 0}, 0);
    const CommandTrace trace = bench.Serve();
    ASSERT_TRUE(trace.completed);
    EXPECT_TRUE(std::any_of(trace.irq.begin(), trace.irq.end(),
                            [](std::uint16_t irq) { return (irq & 0x0027) == 0x0025; }));
    EXPECT_EQ(trace.status, 0);
}

TEST_F(ChipCommandTest, TargetSkippingMessageOutIsResumedAtTheCommandPhase) {
    TargetKnobs knobs = ChipBench::Quiet();
    knobs.faults = {Fault{FaultKind::SkipMessageOut, Trigger::Always(), Moment::AfterSelection}};
    bench.AddDisk(1, knobs);
    bench.Initialize();
    bench.Launch(1, {0x00, 0, 0, 0, 0, 0}, 0);
    const CommandTrace trace = bench.Serve();
    ASSERT_TRUE(trace.completed);
    EXPECT_EQ(trace.irq.front() & 0x0027, 0x0024);  // phase request in COMMAND
    EXPECT_EQ(trace.status, 0);
}

TEST_F(ChipCommandTest, DataPhaseWithoutSetUpLeavesStatusAndMessagesToTheDriver) {
    // A bus-master command whose set-up moves no data (no 0x0200): every later phase is manual.
    bench.AddDisk(1);
    bench.Initialize();
    std::vector<std::uint8_t> none;
    bench.Launch(1, {0x12, 0, 0, 0, 36, 0}, 0);
    bench.RunUntil([&] { return bench.chip.InterruptLine(); });
    EXPECT_EQ(bench.R16(r::IRQ_STATUS) & 0x0027, 0x0022);  // REQ in DATA IN, not run
    EXPECT_EQ(bench.chip.State(), SequencerState::Manual);
    EXPECT_EQ(bench.R16(r::IRQ_STATUS) & 0x0020, 0);  // reported once
}

TEST_F(ChipCommandTest, SelectionOfAnAbsentTargetTimesOutAfterTheProgrammedTime) {
    bench.Initialize();
    const SimTime start = bench.clock.Now();
    bench.Launch(5, {0x00, 0, 0, 0, 0, 0}, 0);
    const CommandTrace trace = bench.Serve();
    EXPECT_TRUE(trace.timed_out);
    EXPECT_EQ(trace.events, std::vector<std::uint16_t>{0x0200});
    const SimTime elapsed = bench.clock.Now() - start;
    EXPECT_GE(elapsed, 250 * kMillisecond);
    EXPECT_LT(elapsed, 251 * kMillisecond);
    EXPECT_EQ(bench.R8(r::BUS_MONITOR), 0);
}

TEST_F(ChipCommandTest, ReselectionForALogicalUnitWithoutACommandIsAborted) {
    TargetKnobs knobs = ChipBench::Quiet();
    knobs.faults = {
        Fault{FaultKind::UnexpectedReselection, Trigger::OnceAt(1), Moment::AfterCompletion, 0, 2}};
    bench.AddDisk(3, knobs);
    bench.Initialize();
    bench.Launch(3, {0x00, 0, 0, 0, 0, 0}, 0);
    ASSERT_TRUE(bench.Serve().completed);
    // The target comes back for LUN 2: the driver answers with ABORT through the sequencer.
    ASSERT_TRUE(bench.RunUntil([&] { return bench.chip.InterruptLine(); }));
    const std::uint16_t irq = bench.R16(r::IRQ_STATUS);
    EXPECT_EQ(irq & 0x0037, 0x0037);  // reselected, phase request, MESSAGE IN
    EXPECT_EQ(bench.R8(r::SELECT_ID), 0x88);
    EXPECT_EQ(bench.R8(r::SCSI_DATA), 0x82);  // IDENTIFY LUN 2
    bench.W8(r::SCSI_CONTROL, 0xD0);
    bench.WaitReqReleased();
    bench.W16(r::TRANSFER_CONTROL, 0x4080);
    bench.W16(r::SEQUENCE_CONTROL, 0x00E8);
    bench.W8(r::SCSI_CONTROL, 0xC0);
    bench.message_out = {0x06};
    bench.message_out_index = 0;
    const CommandTrace abort = bench.Serve(false);
    EXPECT_TRUE(abort.all_events & 0x0100);
    EXPECT_TRUE(abort.unexpected_free);  // ABORT ends in a bus free without a message
    EXPECT_EQ(bench.R8(r::BUS_MONITOR), 0);
}

TEST_F(ChipCommandTest, StartOnABusHeldByAReselectingTargetIsRefused) {
    TargetKnobs knobs = ChipBench::Quiet();
    knobs.disconnect = {DisconnectMode::AfterCommand, 0, true, 100 * kMicrosecond, 8};
    bench.AddDisk(2, knobs);
    bench.AddDisk(3);
    bench.Initialize();
    auto buffer = bench.memory.Allocate(512, PagePlacement::Contiguous);
    const std::uint32_t pieces[] = {512};
    bench.BuildTable(buffer, pieces);
    bench.Launch(2, Read10(0, 1), 512);
    EXPECT_TRUE(bench.Serve(false).disconnected);
    // Start just as the target begins its reselection.
    ASSERT_TRUE(bench.RunUntil([&] { return bench.bus.Lines().Has(scsi::kBsy); }));
    bench.W16(r::SEQUENCE_CONTROL, 0x0001);
    bench.W8(r::COMMAND_DATA, 0);
    bench.W16(r::SEQUENCE_CONTROL, 0x0025);
    EXPECT_EQ(bench.R8(r::SELECT_STATUS) & 0x06, 0x04);
    bench.W8(r::SELECT_STATUS, 0x02);
    EXPECT_EQ(bench.R8(r::SELECT_STATUS) & 0x06, 0);
}

struct ResetCase {
    const char* name;
    bool from_target;
    bool stuck_lines;
};

class BusResetTest : public ::testing::TestWithParam<ResetCase> {};

TEST_P(BusResetTest, ResetEndsTheConnectionAndIsLatched) {
    const ResetCase& c = GetParam();
    ChipConfig config;
    if (c.stuck_lines) config.lines_stuck_after_reset = Trigger::OnceAt(2);
    ChipBench bench(config);
    TargetKnobs knobs = ChipBench::Quiet();
    if (c.from_target) {
        knobs.faults = {Fault{FaultKind::BusReset, Trigger::Always(), Moment::InData, 512}};
    }
    bench.AddDisk(1, knobs);
    bench.Initialize();
    auto buffer = bench.memory.Allocate(2048, PagePlacement::Contiguous);
    const std::uint32_t pieces[] = {2048};
    bench.BuildTable(buffer, pieces);
    bench.Launch(1, Read10(0, 4), 2048);
    if (!c.from_target) {
        bench.RunUntil([&] { return scsi::IsDataPhase(scsi::PhaseOf(bench.bus.Lines().control)); });
        bench.W8(r::SCSI_CONTROL, 0x02);
        bench.Pass(25 * kMicrosecond);
        bench.W8(r::SCSI_CONTROL, 0x00);
    }
    ASSERT_TRUE(bench.RunUntil([&] { return (bench.R16(r::IRQ_STATUS) & 0x0040) != 0; },
                               10 * kMillisecond));
    EXPECT_EQ(bench.R16(r::IRQ_STATUS) & 0x0040, 0);  // cleared by the read that reported it
    bench.RunUntil([] { return false; }, 100 * kMicrosecond);
    EXPECT_EQ(bench.R8(r::BUS_MONITOR), c.stuck_lines ? 0xEF : 0x00) << c.name;
    EXPECT_EQ(bench.R8(r::SCSI_DATA) != 0, c.stuck_lines);
    EXPECT_EQ(bench.chip.State(), SequencerState::Idle);
    EXPECT_TRUE(bench.errors.Empty()) << bench.errors.Summary();
}

INSTANTIATE_TEST_SUITE_P(Resets, BusResetTest,
                         ::testing::Values(ResetCase{"adapter", false, false},
                                           ResetCase{"target", true, false},
                                           ResetCase{"stuck", false, true}));

}  // namespace
}  // namespace quell::sim::chip::test

namespace quell::sim::chip::test {
namespace {

// A target fault, and what the driver's interrupt loop sees of it.
struct FaultCase {
    const char* name;
    Fault fault;
    std::function<void(ChipBench&, const CommandTrace&)> check;
};

class TargetFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(TargetFaultTest, ReachesTheDriverAsTheBusShowsIt) {
    ChipBench bench;
    TargetKnobs knobs = ChipBench::Quiet();
    knobs.faults = {GetParam().fault};
    bench.AddDisk(2, knobs);
    bench.Initialize();
    auto buffer = bench.memory.Allocate(2048, PagePlacement::Contiguous);
    const std::uint32_t pieces[] = {2048};
    bench.BuildTable(buffer, pieces);
    bench.Launch(2, Read10(0, 4), 2048);
    const CommandTrace trace = bench.Serve(true, 5 * kMillisecond);
    GetParam().check(bench, trace);
    EXPECT_TRUE(bench.errors.Empty()) << bench.errors.Summary();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TargetFaultTest,
    ::testing::Values(
        FaultCase{"busy",
                  {FaultKind::Busy, Trigger::Always(), Moment::AfterCommand},
                  [](ChipBench&, const CommandTrace& t) {
                      EXPECT_TRUE(t.completed);
                      EXPECT_EQ(t.status, 0x08);
                  }},
        FaultCase{"reservation conflict",
                  {FaultKind::ReservationConflict, Trigger::Always(), Moment::AfterCommand},
                  [](ChipBench&, const CommandTrace& t) { EXPECT_EQ(t.status, 0x18); }},
        FaultCase{"short transfer",
                  {FaultKind::ShortTransfer, Trigger::Always(), Moment::AfterCommand, 0, 100},
                  [](ChipBench& b, const CommandTrace& t) {
                      EXPECT_TRUE(t.completed);
                      EXPECT_EQ(t.status, 0);
                      EXPECT_EQ(b.bytes_transferred, 2048u - 100);
                  }},
        FaultCase{"unexpected bus free in data",
                  {FaultKind::UnexpectedBusFree, Trigger::Always(), Moment::InData, 1024},
                  [](ChipBench& b, const CommandTrace& t) {
                      EXPECT_TRUE(t.unexpected_free);
                      EXPECT_EQ(t.events.back() & 0x2C46, 0x0042);  // data stop and bus free only
                      EXPECT_EQ(b.bytes_transferred, 1024u);
                  }},
        FaultCase{"invalid phase",
                  {FaultKind::InvalidPhase, Trigger::Always(), Moment::BeforeStatus},
                  [](ChipBench&, const CommandTrace& t) {
                      EXPECT_TRUE(std::any_of(t.irq.begin(), t.irq.end(), [](std::uint16_t irq) {
                          return (irq & 0x0027) == 0x0021;
                      }));
                      EXPECT_TRUE(t.completed);  // ended by the bus free, as a failed request
                  }},
        FaultCase{"stuck REQ",
                  {FaultKind::StuckReq, Trigger::Always(), Moment::InStatus},
                  [](ChipBench& b, const CommandTrace& t) {
                      EXPECT_FALSE(t.completed);
                      EXPECT_EQ(b.R8(r::BUS_MONITOR) & 0x3F, 0x3E);  // REQ and ACK up in STATUS
                  }},
        FaultCase{"stuck ACK",
                  {FaultKind::StuckAck, Trigger::Always(), Moment::BeforeStatus},
                  [](ChipBench& b, const CommandTrace& t) {
                      EXPECT_FALSE(t.completed);
                      EXPECT_TRUE(b.R8(r::BUS_MONITOR) & r::MON_ACK);
                  }},
        FaultCase{"restore pointers",
                  {FaultKind::RestorePointers, Trigger::Always(), Moment::InData, 1536},
                  [](ChipBench&, const CommandTrace& t) {
                      EXPECT_TRUE(t.all_events & 0x0080);  // stopped for the message
                      EXPECT_EQ(t.messages_in, std::vector<std::uint8_t>{0x03});
                  }}),
    [](const auto& info) { return std::string(1, char('A' + info.index)); });

TEST(ChipCommandPulledTest, CardPulledInTheMiddleOfACommandReadsAllOnes) {
    ChipConfig config;
    ChipBench bench(config);
    bench.AddDisk(1);
    bench.Initialize();
    auto buffer = bench.memory.Allocate(4096, PagePlacement::Contiguous);
    const std::uint32_t pieces[] = {4096};
    bench.BuildTable(buffer, pieces);
    bench.Launch(1, Read10(0, 8), 4096);
    bench.RunUntil([&] { return scsi::IsDataPhase(scsi::PhaseOf(bench.bus.Lines().control)); });
    bench.chip.Pull();
    EXPECT_EQ(bench.R16(r::IRQ_STATUS), 0xFFFF);
    EXPECT_FALSE(bench.chip.InterruptLine());
    bench.Pass(kMillisecond);
    EXPECT_TRUE(bench.errors.Empty()) << bench.errors.Summary();
}

}  // namespace
}  // namespace quell::sim::chip::test
