// The port driver's request rules, against small miniports: who may complete what and when,
// the one-request-per-logical-unit queue, NextRequest, and the checks on submitted requests.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/sim/port_test_machine.h"

namespace quell::sim::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// What the test miniports keep in their device extension.
struct State {
    PortTestMachine* machine;
    PSCSI_REQUEST_BLOCK held[4];
    PSCSI_REQUEST_BLOCK previous;
    ULONG start_io_calls;
    SimTime interrupt_at;
};
State& StateOf(PVOID extension) { return *static_cast<State*>(extension); }

void Complete(PVOID extension, PSCSI_REQUEST_BLOCK srb, UCHAR status = SRB_STATUS_SUCCESS) {
    srb->SrbStatus = status;
    ScsiPortNotification(RequestComplete, extension, srb);
}

// Completes every request inside HwStartIo.
BOOLEAN CompletingStartIo(PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    ++StateOf(extension).start_io_calls;
    Complete(extension, srb);
    ScsiPortNotification(NextRequest, extension);
    return TRUE;
}

// Starts the toy for 50 us and completes from the interrupt; asks for the next request at
// once, so that requests for other logical units can overlap.
BOOLEAN OverlappingStartIo(PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    State& state = StateOf(extension);
    ++state.start_io_calls;
    for (auto& slot : state.held) {
        if (slot == nullptr) {
            slot = srb;
            break;
        }
    }
    ScsiPortWritePortUlong(ToyPort32(kToyStart), 50);
    ScsiPortNotification(NextRequest, extension);
    return TRUE;
}

BOOLEAN CompletingInterrupt(PVOID extension) {
    State& state = StateOf(extension);
    if ((ScsiPortReadPortUchar(ToyPort(kToyStatus)) & 1) == 0) return FALSE;
    state.interrupt_at = state.machine->clock.Now();
    do {
        ScsiPortWritePortUchar(ToyPort(kToyStatus), 0);
        // Operations take equally long, so the oldest held request is the one that ended.
        if (state.held[0] != nullptr) {
            Complete(extension, state.held[0]);
            std::copy(state.held + 1, state.held + 4, state.held);
            state.held[3] = nullptr;
        }
    } while ((ScsiPortReadPortUchar(ToyPort(kToyStatus)) & 1) != 0);
    return TRUE;
}

class PortRequestsTest : public ::testing::Test {
protected:
    RequestId SubmitOk(Adapter& adapter, RequestSpec request_spec) {
        const Submission submission = adapter.Submit(std::move(request_spec));
        EXPECT_TRUE(submission) << submission.error;
        return submission.id.value_or(0);
    }
    PortTestMachine machine;
};

TEST_F(PortRequestsTest, RequestCompletedInStartIoComesBackWithItsStatusAndData) {
    Adapter& adapter = machine.Start({.start_io = CompletingStartIo});
    const RequestId id = SubmitOk(adapter, ReadOf(1024));
    ASSERT_TRUE(adapter.RunUntilComplete(id));
    const RequestResult result = *adapter.Result(id);
    EXPECT_EQ(result.srb_status, SRB_STATUS_SUCCESS);
    EXPECT_EQ(result.data.size(), 1024u);
    EXPECT_FALSE(result.timed_out);
    EXPECT_THAT(machine.port.ViolationTexts(), IsEmpty());
    EXPECT_EQ(adapter.Counters().start_io_calls, 1u);
}

TEST_F(PortRequestsTest, OneRequestPerLogicalUnitWhileOtherUnitsOverlap) {
    Adapter& adapter =
        machine.Start({.start_io = OverlappingStartIo, .interrupt = CompletingInterrupt});
    const RequestId first = SubmitOk(adapter, TestUnitReady(0, 0));
    const RequestId same_unit = SubmitOk(adapter, TestUnitReady(0, 0));
    const RequestId other_unit = SubmitOk(adapter, TestUnitReady(1, 0));
    ASSERT_TRUE(adapter.RunUntilIdle());
    const auto a = *adapter.Result(first), b = *adapter.Result(same_unit),
               c = *adapter.Result(other_unit);
    // The other unit's request was started while the first was in the driver; the second
    // request of the busy unit only after the first came back.
    EXPECT_LT(c.started, a.completed);
    EXPECT_GE(b.started, a.completed);
    EXPECT_THAT(machine.port.ViolationTexts(), IsEmpty());
}

TEST_F(PortRequestsTest, NoFurtherRequestBeforeNextRequest) {
    // Completes but never asks for the next request: the second request stays queued and
    // the end of the run says so.
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
            ++StateOf(extension).start_io_calls;
            Complete(extension, srb);
            return TRUE;
        }});
    const RequestId first = SubmitOk(adapter, TestUnitReady(0));
    const RequestId second = SubmitOk(adapter, TestUnitReady(1));
    EXPECT_FALSE(adapter.RunUntilIdle(kSecond));
    EXPECT_TRUE(adapter.Result(first));
    EXPECT_EQ(StateOf(adapter.DeviceExtension()).start_io_calls, 1u);
    adapter.Finish();
    EXPECT_EQ(adapter.Result(second)->srb_status, SRB_STATUS_ABORTED);
    EXPECT_THAT(machine.port.ViolationTexts(),
                ElementsAre(HasSubstr("request 2 (EXECUTE_SCSI 0x0 to 0:1:0) was never started")));
}

TEST_F(PortRequestsTest, CompletingARequestTwiceInOneRoutineIsCaught) {
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
            Complete(extension, srb);
            Complete(extension, srb);
            ScsiPortNotification(NextRequest, extension);
            return TRUE;
        }});
    const RequestId id = SubmitOk(adapter, TestUnitReady());
    ASSERT_TRUE(adapter.RunUntilComplete(id));
    EXPECT_THAT(machine.port.ViolationTexts(),
                ElementsAre(HasSubstr("a second time (completed twice)")));
}

TEST_F(PortRequestsTest, CompletingRequestsTheDriverDoesNotOwnIsCaught) {
    // Completes its request, then on the next call the previous one again and a request
    // block of its own making.
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
            State& state = StateOf(extension);
            if (state.previous != nullptr) {
                ScsiPortNotification(RequestComplete, extension, state.previous);
                static_assert(sizeof(State) + sizeof(SCSI_REQUEST_BLOCK) <= 256);
                auto* forged = reinterpret_cast<PSCSI_REQUEST_BLOCK>(&state + 1);
                ScsiPortNotification(RequestComplete, extension, forged);
            }
            state.previous = srb;
            Complete(extension, srb);
            ScsiPortNotification(NextRequest, extension);
            return TRUE;
        }});
    SubmitOk(adapter, TestUnitReady());
    SubmitOk(adapter, TestUnitReady());
    ASSERT_TRUE(adapter.RunUntilIdle());
    EXPECT_THAT(machine.port.ViolationTexts(),
                ElementsAre(HasSubstr("request 1, which was already handed back (completed twice)"),
                            HasSubstr("never handed to the driver")));
}

TEST_F(PortRequestsTest, CompletionWithStatusPendingIsCaught) {
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
            Complete(extension, srb, SRB_STATUS_PENDING);
            ScsiPortNotification(NextRequest, extension);
            return TRUE;
        }});
    SubmitOk(adapter, TestUnitReady());
    ASSERT_TRUE(adapter.RunUntilIdle());
    EXPECT_THAT(machine.port.ViolationTexts(),
                ElementsAre(HasSubstr("completed with SRB_STATUS_PENDING")));
}

TEST_F(PortRequestsTest, StatusWrittenAfterCompletionButBeforeReturnCounts) {
    // A port driver hands requests back once the routine ends, so a bus-reset request that
    // ScsiPortCompleteRequest returned and the driver then marks successful ends successful.
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
            ScsiPortCompleteRequest(extension, srb->PathId, SP_UNTAGGED, SP_UNTAGGED,
                                    SRB_STATUS_BUS_RESET);
            srb->SrbStatus = SRB_STATUS_SUCCESS;
            ScsiPortNotification(NextRequest, extension);
            return TRUE;
        }});
    RequestSpec reset;
    reset.function = SRB_FUNCTION_RESET_BUS;
    const RequestId id = SubmitOk(adapter, reset);
    ASSERT_TRUE(adapter.RunUntilComplete(id));
    EXPECT_EQ(adapter.Result(id)->srb_status, SRB_STATUS_SUCCESS);
    EXPECT_THAT(machine.port.ViolationTexts(), IsEmpty());
}

TEST_F(PortRequestsTest, CompleteRequestWildcardsReturnOnlyTheMatchingRequests) {
    // Holds every request; an IO_CONTROL request then returns those of target 1 only.
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
            if (srb->Function == SRB_FUNCTION_IO_CONTROL) {
                ScsiPortCompleteRequest(extension, 0, 1, SP_UNTAGGED, SRB_STATUS_ABORTED);
                Complete(extension, srb);
            }
            ScsiPortNotification(NextRequest, extension);
            return TRUE;
        }});
    const RequestId t1l0 = SubmitOk(adapter, TestUnitReady(1, 0));
    const RequestId t1l1 = SubmitOk(adapter, TestUnitReady(1, 1));
    const RequestId t2l0 = SubmitOk(adapter, TestUnitReady(2, 0));
    RequestSpec control;
    control.function = SRB_FUNCTION_IO_CONTROL;
    const RequestId ioctl = SubmitOk(adapter, control);
    ASSERT_TRUE(adapter.RunUntilComplete(ioctl));
    EXPECT_EQ(adapter.Result(t1l0)->srb_status, SRB_STATUS_ABORTED);
    EXPECT_EQ(adapter.Result(t1l1)->srb_status, SRB_STATUS_ABORTED);
    EXPECT_FALSE(adapter.Result(t2l0));
    EXPECT_EQ(adapter.Outstanding(), 1u);
}

TEST_F(PortRequestsTest, EnteringThePortDriverFromInsideStartIoIsRefused) {
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
            // A routine that tries to make the port driver run (and so call it again) from inside.
            EXPECT_FALSE(StateOf(extension).machine->port.AdapterAt(0).RunUntilIdle(kSecond));
            Complete(extension, srb);
            ScsiPortNotification(NextRequest, extension);
            return TRUE;
        }});
    SubmitOk(adapter, TestUnitReady());
    ASSERT_TRUE(adapter.RunUntilIdle());
    EXPECT_THAT(machine.port.ViolationTexts(),
                ElementsAre(HasSubstr("dispatch loop was entered while HwStartIo runs")));
}

TEST_F(PortRequestsTest, NotificationsOutsideRoutinesAndNextLuRequestAreCaught) {
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
            Complete(extension, srb);
            ScsiPortNotification(NextLuRequest, extension, 0, 0, 0);
            return TRUE;
        }});
    SubmitOk(adapter, TestUnitReady());
    ASSERT_TRUE(adapter.RunUntilIdle());
    ScsiPortNotification(NextRequest, adapter.DeviceExtension());
    EXPECT_THAT(
        machine.port.ViolationTexts(),
        ElementsAre(
            HasSubstr("NextLuRequest for 0:0:0 from a driver registered for one request"),
            HasSubstr("ScsiPortNotification(NextRequest) called outside the adapter's routines")));
}

TEST_F(PortRequestsTest, LogicalUnitExtensionsAppearZeroFilledOnFirstUseAndStay) {
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
            auto* unit = static_cast<PUCHAR>(
                ScsiPortGetLogicalUnit(extension, srb->PathId, srb->TargetId, srb->Lun));
            EXPECT_NE(unit, nullptr);
            if (unit != nullptr) ++unit[0];  // counts the requests this unit saw
            Complete(extension, srb);
            ScsiPortNotification(NextRequest, extension);
            return TRUE;
        }});
    EXPECT_EQ(ScsiPortGetLogicalUnit(adapter.DeviceExtension(), 0, 3, 0), nullptr);
    SubmitOk(adapter, TestUnitReady(3, 0));
    SubmitOk(adapter, TestUnitReady(3, 0));
    SubmitOk(adapter, TestUnitReady(3, 1));
    ASSERT_TRUE(adapter.RunUntilIdle());
    auto* unit30 = static_cast<PUCHAR>(ScsiPortGetLogicalUnit(adapter.DeviceExtension(), 0, 3, 0));
    auto* unit31 = static_cast<PUCHAR>(ScsiPortGetLogicalUnit(adapter.DeviceExtension(), 0, 3, 1));
    ASSERT_NE(unit30, nullptr);
    ASSERT_NE(unit31, nullptr);
    EXPECT_EQ(unit30[0], 2);
    EXPECT_EQ(unit31[0], 1);
    EXPECT_EQ(unit31[1], 0);
}

TEST_F(PortRequestsTest, ImpossibleRequestsAreRefusedBeforeTheDriverSeesThem) {
    Adapter& adapter = machine.Start({.start_io = CompletingStartIo});
    adapter.ConfigInfo().MaximumTransferLength = 65536;
    std::vector<std::byte> host_buffer(512);
    struct Case {
        const char* name;
        RequestSpec request_spec;
        const char* error;
    };
    RequestSpec lun8 = TestUnitReady(0, 8);
    RequestSpec zero_length_in = TestUnitReady();
    zero_length_in.srb_flags = SRB_FLAGS_DATA_IN;
    RequestSpec outside = ReadOf(512);
    outside.buffer = host_buffer;
    RequestSpec no_cdb = TestUnitReady();
    no_cdb.cdb.clear();
    RequestSpec initiator = TestUnitReady(7);
    RequestSpec too_long = ReadOf(65536 + 512);
    RequestSpec no_direction = ReadOf(512);
    no_direction.srb_flags = 0;
    const Case cases[] = {
        {"LUN above 7", lun8, "LUN 8 is above 7"},
        {"zero length with a direction", zero_length_in, "zero-length data with a data direction"},
        {"buffer outside simulated memory", outside, "outside simulated memory"},
        {"no CDB", no_cdb, "CDB of 1 to 16 bytes"},
        {"the adapter's own id", initiator, "is the adapter's own id"},
        {"longer than the maximum transfer", too_long,
         "exceed the adapter's maximum transfer length"},
        {"data without a direction", no_direction, "without a data direction"},
    };
    for (const Case& c : cases) {
        const Submission submission = adapter.Submit(c.request_spec);
        EXPECT_FALSE(submission) << c.name;
        EXPECT_THAT(submission.error, HasSubstr(c.error)) << c.name;
    }
    ASSERT_TRUE(adapter.RunUntilIdle());
    EXPECT_EQ(StateOf(adapter.DeviceExtension()).start_io_calls, 0u);
}

}  // namespace
}  // namespace quell::sim::testing
