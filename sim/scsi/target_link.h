// The target side of the bus protocol: the part of a target device that answers selection,
// arbitrates and reselects, runs each information phase's REQ/ACK handshake and serves the
// initiator's data bursts. It knows bytes and phases only; what they mean is its client's
// business (the target device).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "sim/scsi/scsi_bus.h"

namespace quell::sim::scsi {

class TargetLinkClient {
public:
    virtual ~TargetLinkClient() = default;
    // Selected by an initiator; `attention` is ATN at selection.
    virtual void OnSelected(int initiator_id, bool attention) = 0;
    // The phase begun last has moved its last byte (for an out phase: the bytes received).
    virtual void OnPhaseDone(Phase phase, std::span<const std::uint8_t> received) = 0;
    // A reselection asked for by Reselect ended: the initiator answered, or it did not.
    virtual void OnReselectionDone(bool answered) = 0;
    // RST seen on the bus: the link has released every line.
    virtual void OnBusReset() = 0;
};

class TargetLink final : public BusListener, public BurstPeer {
public:
    TargetLink(ScsiBus& bus, int scsi_id, std::string name, TargetLinkClient& client);
    TargetLink(const TargetLink&) = delete;
    TargetLink& operator=(const TargetLink&) = delete;

    int Id() const { return id_; }
    bool Connected() const { return state_ != State::Idle && state_ != State::Reselecting; }
    bool AttentionAsserted() const { return bus_.Lines().Has(kAtn); }

    // Information phases. Send: an in phase (DATA IN, STATUS, MESSAGE IN, or an invalid phase
    // for a faulty target). Receive: an out phase; for MESSAGE OUT with `until_attention` the
    // phase lasts while the initiator keeps ATN asserted.
    void Send(Phase phase, std::vector<std::uint8_t> bytes);
    void Receive(Phase phase, std::size_t count, bool until_attention = false);
    void ExtendReceive(std::size_t more);  // from OnPhaseDone's caller's side: more bytes wanted

    // Releases BSY and every other line: the bus goes free.
    void Disconnect();
    // Arbitrates (again at every bus free until it wins) and reselects the initiator.
    void Reselect(int initiator_id);
    // Drives RST for `hold`.
    void ResetBus(SimTime hold);

    // The agreed synchronous transfer, used for data bursts; offset 0 is asynchronous.
    void SetAgreement(SimTime period, std::uint8_t offset);
    void SetAsyncByteTime(SimTime time) { async_byte_time_ = time; }
    void SetSelectionResponse(SimTime delay) { selection_response_ = delay; }
    void SetDeaf(bool deaf) { deaf_ = deaf; }  // answers no selection: an absent device
    // Faults of the handshake: REQ is not released after the next ACK / ACK is held asserted.
    void StickReqAtNextByte() { stick_req_ = true; }
    void StickAck();

    // BurstPeer
    std::size_t BurstReady() const override;
    SimTime BurstPeriod() const override;
    std::uint8_t BurstOffset() const override { return offset_; }
    std::vector<std::uint8_t> BurstTakeIn(std::size_t count) override;
    void BurstDeliverOut(std::span<const std::uint8_t> bytes) override;
    void BurstEnded(std::size_t moved) override;

    void OnBusChanged(const BusLines& before, const BusLines& after) override;

private:
    enum class State {
        Idle,
        Selected,        // BSY asserted, waiting for the initiator to release SEL
        Reselecting,     // arbitrating or driving SEL
        Connected,       // holding BSY between phases
        PhaseSettle,     // phase lines changed, REQ after the settle delay
        WaitAck,         // REQ asserted
        WaitAckRelease,  // REQ released after ACK, waiting for ACK to drop
        Burst,           // a data burst moves the bytes
    };

    void Schedule(SimTime delay, std::function<void()> action, const char* what);
    void CancelAll();
    void DriveLines(std::uint16_t control, std::uint8_t data);
    void StartPhase(Phase phase);
    void PresentByte();
    void OnAck();
    void OnAckReleased();
    void FinishPhase();
    bool PhaseComplete() const;
    void TryArbitrate();
    void OnArbitration(bool won);
    void ReleaseAll();

    ScsiBus& bus_;
    Clock& clock_;
    int id_;
    std::string name_;
    TargetLinkClient& client_;
    int slot_;

    State state_ = State::Idle;
    Phase phase_ = Phase::DataOut;
    std::uint16_t control_ = 0;  // what this target drives
    std::uint8_t data_ = 0;
    std::vector<std::uint8_t> send_;
    std::size_t sent_ = 0;
    std::vector<std::uint8_t> received_;
    std::size_t wanted_ = 0;
    bool until_attention_ = false;
    bool last_byte_ = false;  // MESSAGE OUT: ATN was released before this byte's ACK

    int selected_by_ = -1;
    bool attention_at_selection_ = false;
    int reselect_initiator_ = -1;
    bool waiting_bus_free_ = false;
    Clock::EventId reselection_timeout_ = 0;

    SimTime period_ = 0;
    std::uint8_t offset_ = 0;
    SimTime async_byte_time_ = 0;
    SimTime selection_response_ = 0;
    bool deaf_ = false;
    bool stick_req_ = false;
    bool req_stuck_ = false;
    bool ack_stuck_ = false;
    std::vector<Clock::EventId> events_;
};

}  // namespace quell::sim::scsi
