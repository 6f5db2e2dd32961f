// A SCSI target: up to eight logical units behind one id, the connection protocol a target
// runs (messages, command, data, status, disconnection and reselection, synchronous
// negotiation) and the behaviour knobs that make it misbehave on purpose.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "sim/scsi/command_set.h"
#include "sim/scsi/logical_unit.h"
#include "sim/scsi/target_knobs.h"
#include "sim/scsi/target_link.h"

namespace quell::sim::scsi {

namespace message {
inline constexpr std::uint8_t kCommandComplete = 0x00;
inline constexpr std::uint8_t kExtended = 0x01;
inline constexpr std::uint8_t kSaveDataPointer = 0x02;
inline constexpr std::uint8_t kRestorePointers = 0x03;
inline constexpr std::uint8_t kDisconnect = 0x04;
inline constexpr std::uint8_t kInitiatorDetectedError = 0x05;
inline constexpr std::uint8_t kAbort = 0x06;
inline constexpr std::uint8_t kMessageReject = 0x07;
inline constexpr std::uint8_t kNoOperation = 0x08;
inline constexpr std::uint8_t kMessageParityError = 0x09;
inline constexpr std::uint8_t kBusDeviceReset = 0x0C;
inline constexpr std::uint8_t kAbortTag = 0x0D;
inline constexpr std::uint8_t kIdentify = 0x80;
inline constexpr std::uint8_t kIdentifyDisconnect = 0x40;
inline constexpr std::uint8_t kModifyDataPointerCode = 0x00;
inline constexpr std::uint8_t kSdtrCode = 0x01;
}  // namespace message

// The synchronous transfer a target has agreed to; offset 0 is asynchronous.
struct TransferAgreement {
    std::uint8_t factor = 0;
    std::uint8_t offset = 0;
    bool operator==(const TransferAgreement&) const = default;
};

class TargetDevice final : public TargetLinkClient {
public:
    TargetDevice(ScsiBus& bus, int scsi_id, TargetKnobs knobs = {});
    TargetDevice(const TargetDevice&) = delete;
    TargetDevice& operator=(const TargetDevice&) = delete;

    void AddUnit(int lun, std::unique_ptr<LogicalUnit> unit);
    LogicalUnit* Unit(int lun) const;
    TargetKnobs& Knobs() { return knobs_; }
    TargetLink& Link() { return link_; }
    int Id() const { return link_.Id(); }

    TransferAgreement Agreement() const { return agreement_; }
    std::uint64_t Commands() const { return commands_; }
    // Every CDB received, in order.
    const std::vector<std::vector<std::uint8_t>>& CommandLog() const { return command_log_; }

    void OnSelected(int initiator_id, bool attention) override;
    void OnPhaseDone(Phase phase, std::span<const std::uint8_t> received) override;
    void OnReselectionDone(bool answered) override;
    void OnBusReset() override;

private:
    enum class Stage : std::uint8_t { Command, Executing, Data, Status, Complete, Aborted };
    enum class After : std::uint8_t { None, Disconnect, Free, SaveDataPointer, Sdtr, Identify };
    struct Message {
        std::vector<std::uint8_t> bytes;
        After after = After::None;
    };
    struct ActiveFault {
        const Fault* fault;
        bool fired = false;
    };
    struct Nexus {
        int lun = 0;
        int initiator = 7;
        bool disconnect_allowed = false;
        std::vector<std::uint8_t> cdb;
        LogicalUnit* unit = nullptr;
        Stage stage = Stage::Command;
        std::uint8_t status = status::kGood;
        DataDirection direction = DataDirection::None;
        std::vector<std::uint8_t> data;  // data in to send, or data out received
        std::size_t position = 0;
        std::size_t saved_position = 0;
        std::size_t chunk = 0;  // bytes of the data phase in progress
        std::vector<ActiveFault> faults;
        unsigned reselect_failures = 0;
        std::uint64_t number = 0;
    };

    void Continue();
    void CommandReceived();
    void BeginData();
    void DataDone(std::span<const std::uint8_t> received);
    void MessageInDone();
    bool HandleMessageOut(std::span<const std::uint8_t> bytes);  // false: connection ended
    bool HandleSdtr(std::uint8_t factor, std::uint8_t offset);   // false: connection ended
    void Queue(std::vector<std::uint8_t> bytes, After after = After::None);
    void Disconnect();
    void Complete();
    void Abandon();  // the connected nexus ends without status
    void StartReselection();
    void ScheduleReselection(int lun, SimTime delay);
    void Later(SimTime delay, std::function<void()> action);
    // Faults due at a moment of the connected nexus; false when one ended the connection.
    bool FireFaults(Moment moment);
    bool Fire(const Fault& fault);
    void EvaluateFaults(Nexus& nexus);
    bool HasFault(const Nexus& nexus, FaultKind kind, Moment moment) const;
    void SetAgreement(TransferAgreement agreement);
    void EnterMessageOut();

    ScsiBus& bus_;
    TargetKnobs knobs_;
    TargetLink link_;
    std::array<std::unique_ptr<LogicalUnit>, 8> units_;
    AbsentUnit absent_;

    std::optional<Nexus> nexus_;         // the connected one
    std::map<int, Nexus> disconnected_;  // by logical unit
    std::deque<int> reselections_;       // logical units waiting to reselect
    int reselecting_lun_ = -1;
    std::deque<Message> messages_;           // message-in bytes to send, one message a phase
    std::optional<std::uint8_t> last_sent_;  // the last message sent, for MESSAGE REJECT
    bool identified_ = false;
    bool awaiting_sdtr_reply_ = false;
    bool negotiated_ = false;
    TransferAgreement agreement_;
    TransferAgreement offered_;  // in an SDTR reply not yet confirmed
    std::uint64_t commands_ = 0;
    std::map<const Fault*, bool> time_fired_;
    std::vector<std::vector<std::uint8_t>> command_log_;
    std::vector<Clock::EventId> events_;
};

}  // namespace quell::sim::scsi
