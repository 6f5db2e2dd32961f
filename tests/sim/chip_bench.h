// A controller on a bus with targets, driven at register level by the sequences the driver
// issues: initialisation, launch, the interrupt loop with its sequencer events, message bytes,
// manual phases, FIFO service, data stops with the driver's scatter/gather arithmetic, and the
// reselection set-up. Time passes only through the bench's waits.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "sim/chip/controller.h"
#include "sim/scsi/block_device.h"
#include "sim/scsi/target_device.h"

namespace quell::sim::chip::test {

namespace r = reg;
using scsi::TargetKnobs;

enum class Mode { Port = 0, BusMaster = 3, Window = 5 };

struct SgEntry {
    std::uint32_t address;
    std::uint32_t count;  // with the end flag
};

// What the interrupt loop saw and did for one command.
struct CommandTrace {
    std::vector<std::uint16_t> events;  // every SEQUENCE_STATUS read
    std::vector<std::uint16_t> irq;     // every IRQ_STATUS snapshot at an interrupt's entry
    std::uint8_t status = 0xFF;
    bool completed = false, timed_out = false, disconnected = false, unexpected_free = false;
    int reselections = 0;
    std::vector<std::uint8_t> messages_in;  // bytes the driver took by hand
    std::uint32_t bytes = 0;                // data moved as the driver counts it
    std::uint16_t all_events = 0;
    std::uint16_t all_irq = 0;
};

class ChipBench {
public:
    explicit ChipBench(ChipConfig config = {})
        : errors(clock), bus(clock, errors), chip(clock, memory, bus, errors, config) {}

    Clock clock;
    scsi::ModelErrors errors;
    PhysicalMemory memory{7};
    scsi::ScsiBus bus;
    Controller chip;
    std::vector<std::unique_ptr<scsi::TargetDevice>> targets;

    // ---- register access ----
    RegisterDevice& io() { return chip.IoRegisters(); }
    std::uint8_t R8(std::uint32_t o) {
        return static_cast<std::uint8_t>(io().Read(o, AccessWidth::Byte));
    }
    std::uint16_t R16(std::uint32_t o) {
        return static_cast<std::uint16_t>(io().Read(o, AccessWidth::Word));
    }
    std::uint32_t R32(std::uint32_t o) { return io().Read(o, AccessWidth::Dword); }
    void W8(std::uint32_t o, std::uint32_t v) { io().Write(o, AccessWidth::Byte, v); }
    void W16(std::uint32_t o, std::uint32_t v) { io().Write(o, AccessWidth::Word, v); }
    void W32(std::uint32_t o, std::uint32_t v) { io().Write(o, AccessWidth::Dword, v); }
    std::uint16_t ReadIndexed(std::uint8_t index, AccessWidth width = AccessWidth::Byte) {
        W8(r::INDEX, index);
        return static_cast<std::uint16_t>(io().Read(r::INDEXED_DATA, width));
    }
    void WriteIndexed(std::uint8_t index, std::uint32_t value,
                      AccessWidth width = AccessWidth::Byte) {
        W8(r::INDEX, index);
        io().Write(r::INDEXED_DATA, width, value);
    }

    // ---- time ----
    bool RunUntil(const std::function<bool()>& done, SimTime limit = 20 * kMillisecond) {
        const SimTime end = clock.Now() + limit;
        while (!done()) {
            const auto next = clock.NextEventTime();
            if (!next || *next > end) {
                clock.AdvanceTo(end);
                return done();
            }
            clock.RunNext();
        }
        return true;
    }
    void Pass(SimTime time) { clock.Advance(time); }

    // Bench targets report no unit attention unless a test asks for it.
    static TargetKnobs Quiet(TargetKnobs knobs = {}) {
        knobs.unit_attention_at_power_on = knobs.unit_attention_after_reset = false;
        return knobs;
    }
    scsi::TargetDevice& AddTarget(int id, TargetKnobs knobs = Quiet()) {
        targets.push_back(std::make_unique<scsi::TargetDevice>(bus, id, knobs));
        return *targets.back();
    }
    scsi::TargetDevice& AddDisk(int id, TargetKnobs knobs = Quiet(), std::uint64_t blocks = 4096) {
        auto& target = AddTarget(id, knobs);
        target.AddUnit(0, scsi::MakeDisk({"QUELL", "DISK", "1.0"},
                                         std::make_unique<scsi::MemoryStorage>(blocks, 512)));
        return target;
    }

    // The driver's chip initialisation and bus reset.
    void Initialize() {
        WriteIndexed(r::IDX_CONFIG, 0, AccessWidth::Word);
        W16(r::IRQ_CONTROL, 0xF000);
        W16(r::TRANSFER_CONTROL, 0);
        W32(r::BM_CONTROL, 0);
        R16(r::IRQ_STATUS);
        WriteIndexed(r::IDX_OUT_THRESHOLD, 0x10);
        WriteIndexed(r::IDX_IN_THRESHOLD, 0x60);
        WriteIndexed(r::IDX_SETUP, 1);
        WriteIndexed(r::IDX_CONFIG, 0x047F, AccessWidth::Word);
        W8(r::REG_16, 0);
        W8(r::RESPONSE_CONTROL, 0x3F);
        if ((R16(r::CHIP_REVISION) & 0xFF00) >= 0x5100) {
            WriteIndexed(r::IDX_BURST, 0x0179, AccessWidth::Word);
            WriteIndexed(r::IDX_BURST_EXTRA, 0xC0);
        }
        WriteIndexed(r::IDX_TERMPOWER, 0);
        if (!(ReadIndexed(r::IDX_TERMPOWER) & r::TERM_SENSED)) WriteIndexed(r::IDX_TERMPOWER, 1);
        W8(r::SCSI_CONTROL, 0x02);
        Pass(25 * kMicrosecond);
        W8(r::SCSI_CONTROL, 0x00);
        for (int i = 0; i < 5; ++i) R8(r::IRQ_STATUS);
        Pass(kMillisecond);  // targets recover from the reset
        R16(r::IRQ_STATUS);
    }

    // ---- the command in flight, as the driver keeps it ----
    Mode mode = Mode::BusMaster;
    std::uint32_t table_physical = 0;
    std::vector<SgEntry> table;  // the driver's copy; written to memory before each use
    std::uint32_t sg_index = 0, saved_sg_index = 0;
    std::uint32_t data_remaining = 0, saved_remaining = 0;
    std::uint32_t bytes_transferred = 0, prior_count = 0;
    std::vector<std::uint8_t>* pio_buffer = nullptr;  // programmed I/O: the request's buffer
    std::uint32_t data_pointer = 0, saved_pointer = 0;
    bool data_in = true;
    std::uint8_t sync_params = 0, sync_extra = 0;
    std::vector<std::uint8_t> message_out;  // prepared message-out bytes
    std::size_t message_out_index = 0;
    std::vector<std::uint8_t> message_in;
    std::uint16_t irq_shadow = 0xF000;

    // Writes a table of pieces of `buffer` (physical addresses from the page map) to memory.
    void BuildTable(std::span<std::byte> buffer, std::span<const std::uint32_t> piece_lengths) {
        table.clear();
        std::size_t at = 0;
        for (const auto length : piece_lengths) {
            const auto translation = memory.ToPhysical(buffer.data() + at);
            table.push_back({static_cast<std::uint32_t>(translation->physical), length});
            at += length;
        }
        table.back().count |= DmaEngine::kEndOfTable;
        auto block = memory.Allocate(8 * 32, PagePlacement::Contiguous);
        table_physical = static_cast<std::uint32_t>(memory.ToPhysical(block.data())->physical);
        StoreTable();
    }
    void StoreTable() {
        for (std::size_t i = 0; i < table.size(); ++i) {
            std::uint32_t words[2] = {table[i].address, table[i].count};
            std::byte raw[8];
            std::memcpy(raw, words, 8);
            memory.Write(table_physical + 8 * i, raw);
        }
    }

    // The driver's LaunchCommand; returns the SELECT_STATUS it saw, 0 when the bus was busy.
    std::uint8_t Launch(int target, std::vector<std::uint8_t> cdb, std::uint32_t data_length,
                        std::uint8_t identify = 0xC0, bool identify_only = true) {
        sg_index = 0;
        prior_count = 0;
        bytes_transferred = 0;
        data_remaining = saved_remaining = data_length;
        data_pointer = saved_pointer = 0;
        message_in.clear();
        if (mode == Mode::BusMaster && data_length) {
            W32(r::BM_CONTROL, 0);
            W32(r::SG_TABLE_ADDRESS, table_physical);
        }
        W16(r::IRQ_CONTROL, 0xF000);
        W32(r::SELECT_TIMEOUT, 10000);
        W8(r::SCSI_DATA, (1u << target) | 0x80);
        W8(r::REG_0F, 0);
        W8(r::SYNC_PARAMS, sync_params);
        W8(r::SYNC_EXTRA, sync_extra);
        WriteIndexed(r::IDX_TIMING, 0);
        W16(r::SEQUENCE_CONTROL, 0x0001);
        for (const auto byte : cdb) W8(r::COMMAND_DATA, byte);
        if (identify_only) {
            W32(r::MESSAGE_OUT, (std::uint32_t{identify} << 24) | 0x81);
            message_out.clear();
        } else {
            W32(r::MESSAGE_OUT, 0);
            message_out.insert(message_out.begin(), identify);
            message_out_index = 0;
        }
        const std::uint16_t burst = ReadIndexed(r::IDX_BURST, AccessWidth::Word) & 0x00F9;
        WriteIndexed(r::IDX_BURST, burst | (mode == Mode::BusMaster ? 0x0100 : 0),
                     AccessWidth::Word);
        if (mode != Mode::BusMaster) {
            WriteIndexed(r::IDX_OUT_THRESHOLD, 0x60);
            WriteIndexed(r::IDX_IN_THRESHOLD, 0x40);
        }
        W16(r::TRANSFER_CONTROL, 0x4080 | DataBits(data_length));
        if (R8(r::BUS_MONITOR) != 0) {
            W16(r::TRANSFER_CONTROL, 0);
            W32(r::BM_CONTROL, 0);
            return 0;
        }
        W16(r::SEQUENCE_CONTROL, 0x0025 | (mode == Mode::BusMaster ? 0xC0 : 0));
        std::uint8_t select = 0;
        RunUntil([&] { return ((select = R8(r::SELECT_STATUS)) & 0x06) != 0; }, kMillisecond);
        W8(r::SELECT_STATUS, 0x02);
        if (select & 0x04) {
            W16(r::TRANSFER_CONTROL, 0);
            W32(r::BM_CONTROL, 0);
        }
        irq_shadow = mode == Mode::BusMaster ? 0x6000 : 0x2000;
        W16(r::IRQ_CONTROL, irq_shadow);
        return select;
    }

    std::uint16_t DataBits(std::uint32_t remaining) const {
        switch (mode) {
            case Mode::BusMaster:
                return remaining ? 0x0200 : 0;
            case Mode::Port:
                return 0x0002;
            case Mode::Window:
                return 0x0001;
        }
        return 0;
    }

    // ---- the interrupt side ----
    bool WaitBus(std::uint8_t mask, std::uint8_t value, SimTime limit = 100 * kMicrosecond) {
        return RunUntil([&] { return (R8(r::BUS_MONITOR) & mask) == value; }, limit);
    }

    // The driver's interrupt loop until the command completes, times out or disconnects
    // (`through_reselection`: keep serving until it completes).
    CommandTrace Serve(bool through_reselection = true, SimTime limit = 500 * kMillisecond) {
        CommandTrace trace;
        const SimTime end = clock.Now() + limit;
        while (!trace.completed && !trace.timed_out && !trace.unexpected_free &&
               (through_reselection || !trace.disconnected) && clock.Now() < end) {
            if (!RunUntil([&] { return chip.InterruptLine(); }, end - clock.Now())) break;
            Pass(kMicrosecond);  // interrupt latency
            std::uint16_t irq = R16(r::IRQ_STATUS);
            W16(r::IRQ_CONTROL, 0xF000);
            trace.irq.push_back(irq);
            for (int pass = 0; pass < 64 && (irq & 0x0FF0); ++pass) {
                trace.all_irq |= irq;
                if (irq & 0x0800) {
                    irq &= ~0x0800;
                    SequencerEvents(trace, irq);
                }
                if (trace.completed || trace.timed_out) break;
                if (irq & 0x0020) {
                    PhaseRequest(trace, irq);  // refreshes irq as the driver's handlers do
                    if (irq & 0x0FF0) continue;
                }
                if (irq & 0x0100) {
                    irq &= ~0x0100;
                    if (data_remaining) ServiceFifo(irq);
                }
                irq = R16(r::IRQ_STATUS);
            }
            W16(r::IRQ_CONTROL, irq_shadow);
        }
        return trace;
    }

    void SequencerEvents(CommandTrace& trace, std::uint16_t& irq) {
        const std::uint16_t seq = R16(r::SEQUENCE_STATUS);
        trace.events.push_back(seq);
        trace.all_events |= seq;
        if (seq & 0x0006) DataStop(seq);
        if (seq & 0x0010) trace.status = R8(r::SCSI_STATUS);
        if (seq & 0x0040) {
            W16(r::TRANSFER_CONTROL, 0);
            W32(r::BM_CONTROL, 0);
            message_out.clear();
            if (seq & 0x0400) {
                trace.completed = true;
            } else if (seq & 0x2000) {
                trace.disconnected = true;
                saved_pointer = data_pointer;
                saved_remaining = data_remaining;
                saved_sg_index = sg_index;
                prior_count += R32(r::TRANSFER_COUNT);
            } else {
                trace.unexpected_free = true;
            }
        }
        if (seq & 0x0080) ReceiveMessageByte(trace, irq);
        if (seq & 0x0100) SendMessageByte();
        if (seq & 0x0200) trace.timed_out = true;
    }

    // The driver's data-stop accounting.
    void DataStop(std::uint16_t seq) {
        if (mode == Mode::BusMaster) {
            R32(r::BM_CONTROL);
            const std::uint32_t n = R32(r::TRANSFER_COUNT) - (table[sg_index].address & 3);
            AdvanceTable(n);
            return;
        }
        if ((seq & 0x0002) && data_remaining) ReadFifo(true);
        if (seq & 0x0004) {
            const std::uint32_t c = R32(r::TRANSFER_COUNT);
            const std::uint32_t unsent = bytes_transferred - prior_count - c;
            data_remaining += unsent;
            data_pointer -= unsent;
            bytes_transferred -= unsent;
        }
    }

    // FindScatterGatherEntry / SumScatterGatherLengths / AdvanceScatterGatherList.
    void AdvanceTable(std::uint32_t moved) {
        const std::uint32_t first = sg_index;
        std::uint32_t k = first;
        std::uint32_t total = table[k].count & 0x7FFFFFFF;
        while (total <= moved && !(table[k].count & 0x80000000)) {
            ++k;
            total = (total + table[k].count) & 0x7FFFFFFF;
        }
        std::uint32_t sum = 0;
        for (std::uint32_t i = first; i <= k; ++i) sum += table[i].count;
        const std::uint32_t left = (sum & 0x7FFFFFFF) - moved;
        sg_index = k;
        table[k].count &= 0x7FFFFFFF;
        if (left == 0) {
            sg_index = k + 1;
        } else {
            table[k].address += table[k].count - left;
            table[k].count = left;
        }
        if (k == table.size() - 1) table[k].count |= 0x80000000;
        StoreTable();
        bytes_transferred += moved;
        data_pointer += moved;
        data_remaining -= moved;
    }

    void WaitReqReleased() { WaitBus(r::MON_REQ, 0); }

    void ReceiveMessageByte(CommandTrace& trace, std::uint16_t& irq) {
        if ((R8(r::BUS_MONITOR) & 0x3F) == 0x2F) {
            const std::uint8_t byte = R8(r::SCSI_DATA);
            W8(r::SCSI_CONTROL, R8(r::SCSI_CONTROL) | 0xD0);
            WaitReqReleased();
            trace.messages_in.push_back(byte);
            if ((byte & 0x80) && message_in.empty()) {
                if (irq & 0x0010) {
                    Reselect(trace);
                    irq &= ~0x0030;
                    return;
                }
            } else {
                message_in.push_back(byte);
            }
        }
        std::uint16_t ctrl = 0;
        if (!message_in.empty() && message_in[0] == 0x01 && message_in.size() > 1 &&
            message_in.size() == message_in[1] + 2u) {
            if (ExtendedMessage()) ctrl = 0x20;
            message_in.clear();
        } else if (!message_in.empty() && message_in[0] != 0x01) {
            SingleMessage(message_in[0]);
            message_in.clear();
        }
        if ((message_in.empty() || message_in[0] != 0x01) && mode == Mode::BusMaster) ctrl |= 0xC0;
        W16(r::SEQUENCE_CONTROL, ctrl | 0x0B);
        W8(r::SCSI_CONTROL, R8(r::SCSI_CONTROL) & 0xEF);
    }

    void SingleMessage(std::uint8_t byte) {
        if (byte == 0x03) {  // RESTORE POINTERS
            data_pointer = saved_pointer;
            data_remaining = saved_remaining;
        }
    }

    // SDTR reply accepted as it stands; MODIFY DATA POINTER applied; anything else rejected.
    std::function<bool(const std::vector<std::uint8_t>&)> on_extended;
    bool ExtendedMessage() {
        if (on_extended) return on_extended(message_in);
        if (message_in[2] == 0x01 && message_in[1] == 3) {
            const std::uint8_t offset = message_in[4];
            sync_params = offset ? static_cast<std::uint8_t>((1 << 4) | (offset & 0x0F)) : 0;
            W8(r::SYNC_EXTRA, 0);
            W8(r::SYNC_PARAMS, sync_params);
            return false;
        }
        if (message_in[2] == 0x00 && message_in[1] == 5) {
            const std::int32_t argument = static_cast<std::int32_t>(
                (std::uint32_t{message_in[3]} << 24) | (message_in[4] << 16) |
                (message_in[5] << 8) | message_in[6]);
            data_remaining -= argument;
            data_pointer += argument;
            return false;
        }
        message_out = {0x07};
        message_out_index = 0;
        return true;
    }

    void SendMessageByte() {
        if (message_out_index >= message_out.size()) {
            message_out = {0x08};
            message_out_index = 0;
        }
        if ((R8(r::BUS_MONITOR) & 0x3F) == 0x2D) {
            std::uint16_t ctrl = 0x20;
            if (message_out_index + 1 == message_out.size()) {
                W16(r::SEQUENCE_CONTROL, 0);
                ctrl = 0;
            }
            W8(r::SCSI_DATA, message_out[message_out_index]);
            const std::uint8_t control = R8(r::SCSI_CONTROL) | 0xD0;
            W8(r::SCSI_CONTROL, control);
            WaitReqReleased();
            if (mode == Mode::BusMaster) ctrl |= 0xC0;
            W16(r::SEQUENCE_CONTROL, ctrl | 0x0B);
            W8(r::SCSI_CONTROL, control & 0xEF);
            ++message_out_index;
        }
    }

    // The driver's HandleReselection for the request in flight.
    std::function<void()> before_reselection_release;
    void Reselect(CommandTrace& trace) {
        ++trace.reselections;
        R8(r::SELECT_ID);
        for (int attempt = 0; attempt < 4; ++attempt) {
            data_pointer = saved_pointer;
            data_remaining = saved_remaining;
            sg_index = saved_sg_index;
            W8(r::SYNC_PARAMS, sync_params);
            W8(r::SYNC_EXTRA, sync_extra);
            WriteIndexed(r::IDX_TIMING, 0);
            if (data_remaining) W32(r::SG_TABLE_ADDRESS, table_physical + sg_index * 8);
            W32(r::BM_CONTROL, 0);
            W8(r::RESPONSE_CONTROL, 0x2F);
            W16(r::SEQUENCE_CONTROL, 0x0008 | (mode == Mode::BusMaster ? 0xC0 : 0));
            const std::uint16_t value = 0x0080 | DataBits(data_remaining);
            W16(r::TRANSFER_CONTROL, value);
            irq_shadow = mode == Mode::BusMaster ? (irq_shadow | 0x4000) : (irq_shadow & ~0x4000);
            if (!(value & 0x0200)) break;
            bool dropped = false;
            RunUntil(
                [&] {
                    const std::uint8_t select = R8(r::SELECT_STATUS);
                    if (!(R16(r::TRANSFER_CONTROL) & 0x0200)) return dropped = true;
                    return (select & 0x10) != 0;
                },
                kMillisecond);
            if (!dropped) break;
        }
        if (before_reselection_release) before_reselection_release();
        W8(r::SCSI_CONTROL, R8(r::SCSI_CONTROL) & ~0x10);
    }

    // ---- phase requests (manual phases) ----
    void PhaseRequest(CommandTrace& trace, std::uint16_t& irq) {
        if (irq & 0x0008) {
            W16(r::TRANSFER_CONTROL, 0);
            W32(r::BM_CONTROL, 0);
            if (manual_complete)
                trace.completed = true;
            else
                trace.unexpected_free = true;
            irq &= ~0x0028;
            return;
        }
        ReadIndexed(r::IDX_SEQUENCER_STATE);
        switch (irq & 7) {
            case 4:
                if (R8(r::BUS_MONITOR) & 0x80) W8(r::SCSI_CONTROL, 0xC0);
                W16(r::TRANSFER_CONTROL, 0x4080);
                W16(r::SEQUENCE_CONTROL, 0x0003);
                irq &= ~0x0020;
                return;
            case 5:
                SendMessagePhase(irq);
                return;
            case 6:
                if ((R8(r::BUS_MONITOR) & 0x3F) == 0x2E) {
                    trace.status = R8(r::SCSI_DATA_HS);
                    WaitBus(r::MON_ACK, 0);
                }
                irq &= ~0x0020;
                return;
            case 7:
                ReceiveMessagePhase(trace, irq);
                return;
            default:
                manual_complete = true;  // an invalid phase ends the request at the bus free
                irq &= ~0x0020;
                return;
        }
    }
    bool manual_complete = false;

    void ReceiveMessagePhase(CommandTrace& trace, std::uint16_t& irq) {
        message_in.clear();
        if ((R8(r::BUS_MONITOR) & 0x3F) == 0x2F) {
            const std::uint8_t byte = R8(r::SCSI_DATA);
            W8(r::SCSI_CONTROL, R8(r::SCSI_CONTROL) | 0xD0);
            WaitReqReleased();
            trace.messages_in.push_back(byte);
            if ((byte & 0x80) && (irq & 0x0010)) {
                Reselect(trace);
                irq &= ~0x0030;
                return;
            }
            if (byte == 0x00) manual_complete = true;
            W8(r::SCSI_CONTROL, R8(r::SCSI_CONTROL) & 0xEF);
        }
        for (int guard = 0; guard < 2000; ++guard) {
            irq = R16(r::IRQ_STATUS);
            if (irq & 0x0020) return;  // the target changed phase: the caller serves it
            if ((R8(r::BUS_MONITOR) & 0x3F) != 0x2F) {
                Pass(200);
                continue;
            }
            const std::uint8_t byte = R8(r::SCSI_DATA);
            trace.messages_in.push_back(byte);
            if (byte == 0x00) manual_complete = true;
            W8(r::SCSI_CONTROL, R8(r::SCSI_CONTROL) | 0x10);
            WaitReqReleased();
            W8(r::SCSI_CONTROL, R8(r::SCSI_CONTROL) & 0xEF);
        }
    }

    void SendMessagePhase(std::uint16_t& irq) {
        if (message_out_index >= message_out.size()) {
            message_out = {0x08};
            message_out_index = 0;
        }
        irq = R16(r::IRQ_STATUS);
        while (!(irq & 0x0020) && message_out_index < message_out.size()) {
            W8(r::SCSI_CONTROL, R8(r::SCSI_CONTROL) | 0x40);
            if ((R8(r::BUS_MONITOR) & 0x3F) == 0x2D) {
                if (message_out_index + 1 == message_out.size()) W16(r::SEQUENCE_CONTROL, 0);
                W8(r::SCSI_DATA_HS, message_out[message_out_index++]);
                WaitBus(r::MON_ACK, 0);
            } else {
                Pass(kMicrosecond);
            }
            irq = R16(r::IRQ_STATUS);
        }
    }

    // ---- programmed I/O ----
    void ServiceFifo(std::uint16_t irq) {
        if ((irq & 7) == 2) ReadFifo(false);
        if ((irq & 7) == 0) WriteFifo();
    }
    std::uint32_t Take(std::uint32_t count) {
        std::uint32_t taken = 0;
        while (taken < count) {
            std::uint32_t word;
            if (mode == Mode::Window) {
                word = chip.MemoryWindow().Read(0, AccessWidth::Dword);
            } else {
                word = R32(r::FIFO_DATA);
            }
            for (int i = 0; i < 4 && taken < count; ++i, ++taken) {
                (*pio_buffer)[data_pointer + taken] = static_cast<std::uint8_t>(word >> (8 * i));
            }
        }
        data_pointer += count;
        data_remaining -= count;
        bytes_transferred += count;
        return count;
    }
    void ReadFifo(bool phase_over) {
        const std::uint32_t held = R16(r::FIFO_COUNT) & 0x1FF;
        const std::uint32_t n = phase_over ? std::min(held, data_remaining) : (held & ~3u);
        if (n) Take(n);
    }
    void WriteFifo() {
        const std::uint32_t n = std::min<std::uint32_t>(data_remaining, 32);
        for (std::uint32_t i = 0; i < n; i += 4) {
            std::uint32_t word = 0;
            for (std::uint32_t b = 0; b < 4 && i + b < n; ++b) {
                word |= std::uint32_t{(*pio_buffer)[data_pointer + i + b]} << (8 * b);
            }
            if (mode == Mode::Window) {
                chip.MemoryWindow().Write(i, AccessWidth::Dword, word);
            } else {
                W32(r::FIFO_DATA, word);
            }
        }
        if (mode == Mode::Window) W8(r::INDEX, r::IDX_WINDOW_END);
        data_pointer += n;
        data_remaining -= n;
        bytes_transferred += n;
    }
};

inline std::vector<std::uint8_t> Read10(std::uint32_t block, std::uint16_t count) {
    return {0x28,
            0,
            static_cast<std::uint8_t>(block >> 24),
            static_cast<std::uint8_t>(block >> 16),
            static_cast<std::uint8_t>(block >> 8),
            static_cast<std::uint8_t>(block),
            0,
            static_cast<std::uint8_t>(count >> 8),
            static_cast<std::uint8_t>(count),
            0};
}
inline std::vector<std::uint8_t> Write10(std::uint32_t block, std::uint16_t count) {
    auto cdb = Read10(block, count);
    cdb[0] = 0x2A;
    return cdb;
}

}  // namespace quell::sim::chip::test
