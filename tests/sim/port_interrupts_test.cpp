// Interrupt delivery, the adapter timer, stalls and request time-outs, against small
// miniports driving the toy controller.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/sim/port_test_machine.h"

namespace quell::sim::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

struct State {
    PortTestMachine* machine;
    PSCSI_REQUEST_BLOCK held;
    SimTime interrupt_at;
    ULONG polls;
    ULONG resets;
};
State& StateOf(PVOID extension) { return *static_cast<State*>(extension); }

void CompleteHeld(PVOID extension, UCHAR status = SRB_STATUS_SUCCESS) {
    State& state = StateOf(extension);
    state.held->SrbStatus = status;
    ScsiPortNotification(RequestComplete, extension, state.held);
    ScsiPortNotification(NextRequest, extension);
    state.held = nullptr;
}

// Starts a 50 us toy operation and waits for its interrupt.
BOOLEAN StartOperation(PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    StateOf(extension).held = srb;
    ScsiPortWritePortUlong(ToyPort32(kToyStart), 50);
    return TRUE;
}

BOOLEAN TakeInterrupt(PVOID extension) {
    State& state = StateOf(extension);
    if ((ScsiPortReadPortUchar(ToyPort(kToyStatus)) & 1) == 0) return FALSE;
    state.interrupt_at = state.machine->clock.Now();
    ScsiPortWritePortUchar(ToyPort(kToyStatus), 0);
    if (state.held != nullptr) CompleteHeld(extension);
    return TRUE;
}

// Polls the interrupt routine every millisecond while a request is held, as a driver does
// whose interrupt never arrives.
VOID PollTimer(PVOID extension) {
    ++StateOf(extension).polls;
    TakeInterrupt(extension);
    if (StateOf(extension).held != nullptr) {
        ScsiPortNotification(RequestTimerCall, extension, PollTimer, ULONG{1000});
    }
}

BOOLEAN StartPolledOperation(PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    StartOperation(extension, srb);
    ScsiPortNotification(RequestTimerCall, extension, PollTimer, ULONG{1000});
    return TRUE;
}

TEST(PortInterruptTest, InterruptArrivesADispatchDelayAfterTheLineRises) {
    PortTestMachine machine;
    Adapter& adapter = machine.Start({.start_io = StartOperation, .interrupt = TakeInterrupt});
    const RequestId id = *adapter.Submit(TestUnitReady()).id;
    ASSERT_TRUE(adapter.RunUntilComplete(id));
    const RequestResult result = *adapter.Result(id);
    EXPECT_EQ(result.srb_status, SRB_STATUS_SUCCESS);
    // The start write, the operation, the dispatch, then the status read inside the routine.
    const SimTime line_up = result.started + AccessCosts::kDefaultWrite + 50 * kMicrosecond;
    EXPECT_EQ(StateOf(adapter.DeviceExtension()).interrupt_at,
              line_up + PortTiming{}.interrupt_dispatch + AccessCosts::kDefaultRead);
    EXPECT_EQ(adapter.Counters().interrupt_calls, 1u);
    EXPECT_THAT(machine.port.ViolationTexts(), IsEmpty());
}

TEST(PortInterruptTest, AnInterruptThatIsNotWiredIsNeverDeliveredAndPollingCompletes) {
    PortTestMachine machine;
    AdapterSetup setup;
    setup.interrupt_wired = false;
    Adapter& adapter = machine.Start({.start_io = StartPolledOperation, .interrupt = TakeInterrupt},
                                     std::move(setup));
    const RequestId id = *adapter.Submit(TestUnitReady()).id;
    ASSERT_TRUE(adapter.RunUntilComplete(id));
    EXPECT_EQ(adapter.Result(id)->srb_status, SRB_STATUS_SUCCESS);
    EXPECT_EQ(adapter.Counters().interrupt_calls, 0u);
    EXPECT_EQ(StateOf(adapter.DeviceExtension()).polls, 1u);
    EXPECT_EQ(adapter.Result(id)->completed - adapter.Result(id)->started,
              kMillisecond + AccessCosts::kDefaultRead + 2 * AccessCosts::kDefaultWrite);
}

TEST(PortInterruptTest, ALineThatStaysUpWhileTheRoutineAnswersFalseIsAStorm) {
    PortTestMachine machine;
    Adapter& adapter = machine.Start(
        {.start_io = StartOperation, .interrupt = [](PVOID) -> BOOLEAN { return FALSE; }});
    machine.toy.SetStuck(true);
    machine.port.RunFor(100 * kMillisecond);
    EXPECT_TRUE(adapter.InterruptMasked());
    EXPECT_EQ(adapter.Counters().interrupt_calls, PortTiming{}.storm_limit);
    EXPECT_THAT(machine.port.ViolationTexts(),
                ElementsAre(HasSubstr("interrupt storm: the line stayed up through 1000 calls")));
}

TEST(PortInterruptTest, TimerReplacesThePendingOneAndZeroCancels) {
    PortTestMachine machine;
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
            StateOf(extension).held = srb;
            const PHW_TIMER complete = [](PVOID ext) { CompleteHeld(ext); };
            const PHW_TIMER wrong = [](PVOID ext) { CompleteHeld(ext, SRB_STATUS_ERROR); };
            if (srb->TargetId == 0) {
                ScsiPortNotification(RequestTimerCall, extension, wrong, ULONG{100});
                ScsiPortNotification(RequestTimerCall, extension, complete, ULONG{500});
            } else {
                // Cancelled: only the time-out returns this one.
                ScsiPortNotification(RequestTimerCall, extension, wrong, ULONG{100});
                ScsiPortNotification(RequestTimerCall, extension, wrong, ULONG{0});
            }
            return TRUE;
        }});
    const RequestId id = *adapter.Submit(TestUnitReady(0)).id;
    ASSERT_TRUE(adapter.RunUntilComplete(id));
    EXPECT_EQ(adapter.Result(id)->srb_status, SRB_STATUS_SUCCESS);
    EXPECT_EQ(adapter.Result(id)->completed - adapter.Result(id)->started, 500 * kMicrosecond);
    EXPECT_EQ(adapter.Counters().timer_calls, 1u);

    const RequestId cancelled = *adapter.Submit(TestUnitReady(1)).id;
    machine.port.RunFor(100 * kMillisecond);
    EXPECT_FALSE(adapter.Result(cancelled));
    EXPECT_EQ(adapter.Counters().timer_calls, 1u);
}

TEST(PortInterruptTest, StallRunsDeviceEventsAndTheInterruptFollowsTheRoutine) {
    PortTestMachine machine;
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
                           StateOf(extension).held = srb;
                           ScsiPortWritePortUlong(ToyPort32(kToyStart), 10);
                           ScsiPortStallExecution(20);
                           // The operation ended during the stall; the routine leaves it to the
                           // interrupt.
                           EXPECT_EQ(ScsiPortReadPortUchar(ToyPort(kToyStatus)), 1);
                           return TRUE;
                       },
                       .interrupt = TakeInterrupt});
    const RequestId id = *adapter.Submit(TestUnitReady()).id;
    ASSERT_TRUE(adapter.RunUntilComplete(id));
    const RequestResult result = *adapter.Result(id);
    const SimTime routine_end =
        result.started + AccessCosts::kDefaultWrite + 20 * kMicrosecond + AccessCosts::kDefaultRead;
    EXPECT_EQ(StateOf(adapter.DeviceExtension()).interrupt_at,
              routine_end + PortTiming{}.interrupt_dispatch + AccessCosts::kDefaultRead);
    EXPECT_EQ(adapter.Counters().stalled, 20 * kMicrosecond);
}

// Never completes a request; its bus reset returns everything or, in the forgetful
// variant, nothing.
BOOLEAN KeepRequest(PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    StateOf(extension).held = srb;
    ScsiPortNotification(NextRequest, extension);
    return TRUE;
}

BOOLEAN ResetReturningAll(PVOID extension, ULONG path) {
    ++StateOf(extension).resets;
    ScsiPortCompleteRequest(extension, static_cast<UCHAR>(path), SP_UNTAGGED, SP_UNTAGGED,
                            SRB_STATUS_BUS_RESET);
    ScsiPortNotification(NextRequest, extension);
    ScsiPortNotification(ResetDetected, extension);
    return TRUE;
}

BOOLEAN ResetForgettingAll(PVOID extension, ULONG) {
    ++StateOf(extension).resets;
    ScsiPortNotification(NextRequest, extension);
    return TRUE;
}

TEST(PortTimeoutTest, TimedOutRequestIsReturnedByTheBusReset) {
    PortTestMachine machine;
    Adapter& adapter = machine.Start({.start_io = KeepRequest, .reset_bus = ResetReturningAll});
    RequestSpec request_spec = TestUnitReady();
    request_spec.timeout_seconds = 3;
    const RequestId id = *adapter.Submit(request_spec).id;
    const RequestId after = *adapter.Submit(TestUnitReady(1)).id;
    ASSERT_TRUE(adapter.RunUntilComplete(id));
    const RequestResult result = *adapter.Result(id);
    EXPECT_TRUE(result.timed_out);
    EXPECT_FALSE(result.lost);
    EXPECT_EQ(result.srb_status, SRB_STATUS_BUS_RESET);
    EXPECT_GE(result.completed - result.started, 3 * kSecond);
    EXPECT_LE(result.completed - result.started, 4 * kSecond);
    // The request of the other unit was in the driver too, and the reset returned it.
    EXPECT_EQ(adapter.Result(after)->srb_status, SRB_STATUS_BUS_RESET);
    EXPECT_EQ(StateOf(adapter.DeviceExtension()).resets, 1u);
    ASSERT_EQ(adapter.ErrorLog().size(), 1u);
    EXPECT_EQ(adapter.ErrorLog()[0].source, LogSource::Port);
    EXPECT_EQ(adapter.ErrorLog()[0].error_code, SP_REQUEST_TIMEOUT);
    EXPECT_THAT(machine.port.ViolationTexts(), IsEmpty());

    // Nothing starts during the reset hold that follows.
    const RequestId next = *adapter.Submit(TestUnitReady(2)).id;
    machine.port.RunFor(kSecond);
    ASSERT_EQ(adapter.Outstanding(), 1u);
    machine.port.RunFor(4 * kSecond);
    EXPECT_EQ(StateOf(adapter.DeviceExtension()).held->TargetId, 2);
    EXPECT_FALSE(adapter.Result(next));
}

TEST(PortTimeoutTest, RequestNotReturnedAfterTheResetIsLostAndALateCompletionCaught) {
    PortTestMachine machine;
    Adapter& adapter = machine.Start({.start_io = KeepRequest, .reset_bus = ResetForgettingAll});
    RequestSpec request_spec = TestUnitReady();
    request_spec.timeout_seconds = 1;
    const RequestId id = *adapter.Submit(request_spec).id;
    ASSERT_TRUE(adapter.RunUntilComplete(id));
    EXPECT_TRUE(adapter.Result(id)->lost);
    EXPECT_EQ(adapter.Result(id)->srb_status, SRB_STATUS_TIMEOUT);

    // The driver completes it much later, from a routine of its own.
    const PHW_TIMER late = [](PVOID extension) { CompleteHeld(extension); };
    {
        Adapter::RoutineScope scope(adapter, "HwTimer");
        ScsiPortNotification(RequestTimerCall, adapter.DeviceExtension(), late, ULONG{10});
    }
    machine.port.RunFor(kMillisecond);
    EXPECT_THAT(
        machine.port.ViolationTexts(),
        ElementsAre(
            HasSubstr("request 1 (EXECUTE_SCSI 0x0 to 0:0:0) timed out and was not returned "
                      "after the bus reset: lost"),
            HasSubstr("RequestComplete for request 1, which was already handed back")));
}

TEST(PortTimeoutTest, RequestStillInTheDriverAtTheEndOfTheRunIsNeverReturned) {
    PortTestMachine machine;
    Adapter& adapter = machine.Start({.start_io = KeepRequest});
    const RequestId id = *adapter.Submit(TestUnitReady()).id;
    machine.port.RunFor(kMillisecond);
    adapter.Finish();
    EXPECT_TRUE(adapter.Result(id)->lost);
    EXPECT_THAT(machine.port.ViolationTexts(),
                ElementsAre(HasSubstr("was never returned by the driver")));
}

}  // namespace
}  // namespace quell::sim::testing
