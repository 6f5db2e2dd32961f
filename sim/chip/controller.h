// The controller chip: an Ultra-SCSI host adapter with an automatic selection and command
// sequencer, a data FIFO, a bus-master engine that follows scatter/gather tables, a memory
// window onto the FIFO, a timer and a level-sensitive interrupt line.
//
// The system bus reaches it through two RegisterDevices: the I/O register window and the
// memory window. It reaches host memory only through PhysicalMemory, the SCSI bus only through
// its lines and bursts, and time only through events on the Clock. sim/chip/README.md is its
// manual.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/chip/chip_config.h"
#include "sim/chip/chip_registers.h"
#include "sim/chip/dma_engine.h"
#include "sim/chip/fifo.h"
#include "sim/pc/physical_memory.h"
#include "sim/pc/register_device.h"
#include "sim/scsi/scsi_bus.h"

namespace quell::sim::chip {

// The sequencer's states, as IDX_05 reports them.
enum class SequencerState : std::uint8_t {
    Idle = 0,
    Arbitrating = 1,
    Selecting = 2,
    Running = 3,
    MessageInStop = 4,   // a message-in byte waits for the driver
    MessageOutStop = 5,  // the target wants a message-out byte from the driver
    Manual = 6,          // stopped: the driver serves the target's phases by hand
    Answering = 7,       // answering a reselection
    Reselected = 8,      // reselected, waiting for the IDENTIFY
};

class Controller final : public scsi::BusListener {
public:
    Controller(Clock& clock, PhysicalMemory& memory, scsi::ScsiBus& bus, scsi::ModelErrors& errors,
               ChipConfig config = {});
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    RegisterDevice& IoRegisters() { return io_; }
    RegisterDevice& MemoryWindow() { return window_; }

    bool InterruptLine() const { return line_; }
    // Told of every change of the line. It may run inside a clock event or a register access,
    // so it only notes the change: whoever delivers the interrupt does so afterwards.
    void SetInterruptCallback(std::function<void(bool)> callback) {
        interrupt_callback_ = std::move(callback);
    }

    // Faults a test can also cause at once.
    void Pull();
    void LoseSetUp();
    bool Pulled() const { return pulled_; }

    const ChipConfig& Config() const { return config_; }
    SequencerState State() const { return state_; }
    std::uint64_t Starts() const { return starts_; }
    std::uint16_t LatencyRegister() const { return latency_; }  // IDX_11 as it stands

    void OnBusChanged(const scsi::BusLines& before, const scsi::BusLines& after) override;

private:
    class IoPort final : public RegisterDevice {
    public:
        explicit IoPort(Controller& chip) : chip_(chip) {}
        std::uint32_t Read(std::uint32_t offset, AccessWidth width) override;
        void Write(std::uint32_t offset, AccessWidth width, std::uint32_t value) override;

    private:
        Controller& chip_;
    };
    class WindowPort final : public RegisterDevice {
    public:
        explicit WindowPort(Controller& chip) : chip_(chip) {}
        std::uint32_t Read(std::uint32_t offset, AccessWidth width) override;
        void Write(std::uint32_t offset, AccessWidth width, std::uint32_t value) override;

    private:
        Controller& chip_;
    };

    // io_registers.cpp
    std::uint32_t ReadIo(std::uint32_t offset, AccessWidth width);
    void WriteIo(std::uint32_t offset, AccessWidth width, std::uint32_t value);
    bool CheckWidth(std::uint32_t offset, AccessWidth width, bool write);
    std::uint16_t ReadIrqStatus(AccessWidth width);
    void WriteScsiControl(std::uint8_t value);
    std::uint8_t ReadDataWithHandshake();
    void WriteDataWithHandshake(std::uint8_t value);
    void WriteTransferControl(std::uint16_t value);
    std::uint32_t ReadFifoData();
    void WriteFifoData(std::uint32_t value);
    void Error(const std::string& message);
    void BadValue(const char* name, std::uint32_t value);

    // indexed_registers.cpp
    std::uint32_t ReadIndexed(AccessWidth width, bool high);
    void WriteIndexed(AccessWidth width, std::uint32_t value);

    // memory_window.cpp
    std::uint32_t ReadWindow(std::uint32_t offset, AccessWidth width);
    void WriteWindow(std::uint32_t offset, AccessWidth width, std::uint32_t value);

    // interrupts.cpp
    std::uint16_t Causes() const;
    bool PhaseRequestPending() const;
    bool FifoServicePending() const;
    void UpdateInterrupt();
    void Publish(std::uint16_t events);
    void Hold(std::uint16_t events) { held_events_ |= events; }

    // sequencer.cpp
    void WriteSequenceControl(std::uint16_t value);
    void Start(std::uint16_t value);
    void Resume(std::uint16_t value);
    void OnArbitration(bool won);
    void SelectionStep();
    void OnSelectionTimeout();
    void OnRequest();
    void RunPhase(scsi::Phase phase);
    void SendAuto(std::uint8_t byte);
    void ReceiveAuto();
    void AutoByteDone();
    void AckAfterDelay();
    void Stop(SequencerState state, std::uint16_t events);
    void OnBusFree();
    void OnBusReset();
    void AnswerReselection();
    void EndConnection();
    void ScheduleRequestCheck();

    // data_engine.cpp
    bool DataEngineReady(scsi::Phase phase) const;
    void StartDataPhase(scsi::Phase phase);
    void StopDataPhase();
    void Pump();
    void OnBurstDone(std::vector<std::uint8_t> in, std::size_t moved);
    void ArmTableFetch();
    SimTime BytePeriod() const;
    std::uint8_t SyncOffset() const { return sync_params_ & 0x0F; }

    // controller.cpp
    void UpdateBusDrive();
    void Event(SimTime delay, std::function<void()> action, const char* what);
    void CancelEvents();
    void StartTimer();

    Clock& clock_;
    PhysicalMemory& memory_;
    scsi::ScsiBus& bus_;
    scsi::ModelErrors& errors_;
    ChipConfig config_;
    IoPort io_{*this};
    WindowPort window_{*this};
    int slot_;
    int cable_slot_;  // a cable fault that holds lines asserted
    Fifo fifo_{reg::kFifoSize};
    DmaEngine dma_;

    bool pulled_ = false;
    bool line_ = false;
    std::function<void(bool)> interrupt_callback_;

    // Register contents.
    std::uint16_t irq_mask_ = reg::MASK_ALL;
    std::uint16_t latched_ = 0;
    std::uint16_t sequence_status_ = 0;
    std::uint16_t held_events_ = 0;  // events reported with the next one that stops or ends
    std::uint16_t transfer_control_ = 0;
    std::uint8_t index_ = 0;
    std::uint8_t scsi_control_ = 0;
    std::uint8_t response_control_ = 0;
    std::uint8_t data_latch_ = 0;
    std::vector<std::uint8_t> cdb_;
    std::uint32_t message_out_ = 0;
    std::uint32_t select_timeout_ = 0;
    std::uint8_t select_status_ = 0;
    std::uint8_t select_id_ = 0;
    std::uint8_t sync_params_ = 0;
    std::uint8_t sync_extra_ = 0;
    std::uint8_t scsi_status_ = 0;
    std::uint32_t transfer_count_ = 0;
    std::uint32_t table_address_ = 0;
    std::uint8_t setup_ = 0;  // IDX_00
    bool supply_on_ = false;
    std::uint16_t config_bits_ = 0;
    std::uint8_t out_threshold_ = 0x10;
    std::uint8_t in_threshold_ = 0x60;
    std::uint16_t burst_ = 0;
    std::uint8_t burst_extra_ = 0;
    std::uint16_t latency_;
    std::uint8_t timing_ = 0;

    // Sequencer.
    SequencerState state_ = SequencerState::Idle;
    enum class SelectStep : std::uint8_t {
        None,
        Won,
        Pattern,
        Released
    } select_step_ = SelectStep::None;
    bool connected_ = false;
    bool attention_ = false;   // ATN from SEQUENCE_CONTROL 0x20
    bool bus_master_ = false;  // 0xC0 of the last start or resume
    std::size_t cdb_sent_ = 0;
    std::vector<std::uint8_t> auto_message_;
    std::size_t auto_sent_ = 0;
    bool sequencer_ack_ = false;  // the sequencer's own handshake
    bool handshake_ack_ = false;  // SCSI_DATA_HS
    bool byte_in_progress_ = false;
    enum class AutoByte : std::uint8_t {
        Message,
        Command,
        Status,
        MessageIn
    } auto_kind_ = AutoByte::Message;
    std::uint8_t auto_byte_ = 0;
    bool extended_length_next_ = false;          // an extended message's length byte comes next
    std::uint8_t extended_left_ = 0;             // its bytes still to come
    std::optional<scsi::Phase> reported_phase_;  // phase request already reported
    Clock::EventId selection_timeout_ = 0;
    bool request_check_pending_ = false;
    std::uint64_t starts_ = 0;
    std::uint64_t reselections_ = 0;
    std::uint64_t resets_ = 0;

    // Data engine.
    bool data_active_ = false;
    scsi::Phase data_phase_ = scsi::Phase::DataOut;
    bool table_taken_ = false;
    bool fetch_pending_ = false;
    bool count_base_pending_ = false;  // TRANSFER_COUNT starts from the engine's address
    bool resume_reselection_ = false;  // the next table fetch follows a reselection
    std::uint64_t drop_decided_for_ = 0;
    std::vector<std::uint8_t> window_read_;  // bytes of a window read not yet taken

    Clock::EventId timer_ = 0;
    std::vector<Clock::EventId> events_;
};

}  // namespace quell::sim::chip
