// What the port driver hands out in memory: physical addresses of data buffers, SRB
// extensions and the uncached extension, the 9x records around the extension and behind each
// request, and the determinism of a whole run.

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
    ULONG pieces;
    ULONG extension_misalign;
    ULONG extension_contiguous;
    // What the 9x system request behind the last request said.
    ULONG os_request;
    UCHAR os_flags;
    UCHAR os_shift;
    ULONG os_byte_count;
    ULONG os_descriptors[8];
};
State& StateOf(PVOID extension) { return *static_cast<State*>(extension); }

template <typename T>
T At(ULONG address, ULONG offset) {
    T value;
    std::memcpy(&value, reinterpret_cast<const void*>(address + offset), sizeof(T));
    return value;
}

// Describes the data buffer to the toy's DMA engine piece by piece, as a scatter/gather
// builder does, then completes from the interrupt.
BOOLEAN DmaStartIo(PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    State& state = StateOf(extension);
    state.held = srb;
    state.pieces = 0;
    auto* buffer = static_cast<PUCHAR>(srb->DataBuffer);
    for (ULONG done = 0; done < srb->DataTransferLength;) {
        ULONG length = 0;
        const SCSI_PHYSICAL_ADDRESS physical =
            ScsiPortGetPhysicalAddress(extension, srb, buffer + done, &length);
        if (length == 0) break;
        const ULONG piece = std::min(length, srb->DataTransferLength - done);
        ScsiPortWritePortUlong(ToyPort32(kToyDmaAddress), physical.u.LowPart);
        ScsiPortWritePortUlong(ToyPort32(kToyDmaAddressHigh),
                               static_cast<ULONG>(physical.u.HighPart));
        ScsiPortWritePortUlong(ToyPort32(kToyDmaLength), piece);
        ++state.pieces;
        done += piece;
    }
    ULONG length = 0;
    const auto misalign = reinterpret_cast<std::uintptr_t>(srb->SrbExtension) % 4;
    ScsiPortGetPhysicalAddress(extension, nullptr, srb->SrbExtension, &length);
    state.extension_misalign = static_cast<ULONG>(misalign);
    state.extension_contiguous = length;
    state.os_request = At<ULONG>(reinterpret_cast<ULONG>(srb), 64);
    if (state.os_request != 0) {
        state.os_flags = At<UCHAR>(state.os_request, 108);
        state.os_shift = At<UCHAR>(At<ULONG>(state.os_request, 4), 60);
        state.os_byte_count = At<ULONG>(state.os_request, 124);
        const ULONG list = At<ULONG>(state.os_request, 128);
        for (ULONG i = 0; i < 8; ++i) state.os_descriptors[i] = At<ULONG>(list, 4 * i);
    }
    ScsiPortWritePortUlong(ToyPort32(kToyStart), 30);
    return TRUE;
}

BOOLEAN DmaInterrupt(PVOID extension) {
    State& state = StateOf(extension);
    if ((ScsiPortReadPortUchar(ToyPort(kToyStatus)) & 1) == 0) return FALSE;
    ScsiPortWritePortUchar(ToyPort(kToyStatus), 0);
    if (state.held != nullptr) {
        state.held->SrbStatus = SRB_STATUS_SUCCESS;
        ScsiPortNotification(RequestComplete, extension, state.held);
        ScsiPortNotification(NextRequest, extension);
        state.held = nullptr;
    }
    return TRUE;
}

const TestMiniport kDmaMiniport{.start_io = DmaStartIo, .interrupt = DmaInterrupt};

TEST(PortMemoryTest, DmaThroughEachBufferLayoutLandsInTheRequestsBytes) {
    struct Case {
        MemoryLayout layout;
        ULONG pieces;
    };
    const Case cases[] = {
        {{PagePlacement::Contiguous, 0}, 1},    {{PagePlacement::Contiguous, 3}, 1},
        {{PagePlacement::Scattered, 0x200}, 4}, {{PagePlacement::UnalignedPieces, 1}, 3},
        {{PagePlacement::Above4G, 0}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToString(c.layout.placement));
        PortTestMachine machine;
        Adapter& adapter = machine.Start(kDmaMiniport);
        RequestSpec request_spec = ReadOf(3 * kPageSize);
        request_spec.buffer_layout = c.layout;
        const RequestId id = *adapter.Submit(request_spec).id;
        ASSERT_TRUE(adapter.RunUntilComplete(id));
        const RequestResult result = *adapter.Result(id);
        ASSERT_EQ(result.data.size(), 3 * kPageSize);
        for (std::size_t i = 0; i < result.data.size(); ++i) {
            ASSERT_EQ(result.data[i], ToyPattern(i)) << "byte " << i;
        }
        EXPECT_EQ(StateOf(adapter.DeviceExtension()).pieces, c.pieces);
        EXPECT_THAT(machine.port.ViolationTexts(), IsEmpty());
    }
}

TEST(PortMemoryTest, DmaOutsideSimulatedMemoryIsAModelError) {
    PortTestMachine machine;
    Adapter& adapter =
        machine.Start({.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) -> BOOLEAN {
            ScsiPortWritePortUlong(ToyPort32(kToyDmaAddress), 0x00000100);  // below every block
            ScsiPortWritePortUlong(ToyPort32(kToyDmaLength), 64);
            srb->SrbStatus = SRB_STATUS_SUCCESS;
            ScsiPortNotification(RequestComplete, extension, srb);
            ScsiPortNotification(NextRequest, extension);
            return TRUE;
        }});
    adapter.Submit(TestUnitReady());
    ASSERT_TRUE(adapter.RunUntilIdle());
    EXPECT_THAT(machine.port.ViolationTexts(),
                ElementsAre(HasSubstr("model error: DMA write of 64 bytes at physical 0x100")));
}

TEST(PortMemoryTest, SrbExtensionsAreMisalignedOnRequestAndTranslateWithoutARequest) {
    PortTestMachine machine;
    Adapter& adapter = machine.Start(kDmaMiniport);
    for (std::uint32_t misalign = 0; misalign < 4; ++misalign) {
        RequestSpec request_spec = TestUnitReady();
        request_spec.srb_extension_misalign = misalign;
        const RequestId id = *adapter.Submit(request_spec).id;
        ASSERT_TRUE(adapter.RunUntilComplete(id));
        EXPECT_EQ(StateOf(adapter.DeviceExtension()).extension_misalign, misalign);
        EXPECT_EQ(StateOf(adapter.DeviceExtension()).extension_contiguous,
                  TestMiniport{}.srb_extension_size);
    }
    EXPECT_THAT(machine.port.ViolationTexts(), IsEmpty());
}

TEST(PortMemoryTest, UncachedExtensionIsGivenOnceAndTranslatesToItsEnd) {
    PortTestMachine machine;
    Adapter& adapter = machine.Start(kDmaMiniport);
    auto* uncached = static_cast<PUCHAR>(adapter.AllocateUncachedExtension(65540));
    ASSERT_NE(uncached, nullptr);
    EXPECT_EQ(uncached[100], 0);
    ULONG length = 0;
    const auto physical =
        ScsiPortGetPhysicalAddress(adapter.DeviceExtension(), nullptr, uncached + 4, &length);
    EXPECT_EQ(length, 65536u);
    EXPECT_EQ(static_cast<PhysicalAddress>(physical.QuadPart),
              machine.memory.ToPhysical(uncached + 4)->physical);
    EXPECT_EQ(adapter.AllocateUncachedExtension(16), nullptr);

    UCHAR elsewhere = 0;
    ScsiPortGetPhysicalAddress(adapter.DeviceExtension(), nullptr, &elsewhere, &length);
    EXPECT_EQ(length, 0u);
    EXPECT_THAT(
        machine.port.ViolationTexts(),
        ElementsAre(HasSubstr("ScsiPortGetUncachedExtension called a second time"),
                    HasSubstr("neither in the uncached extension nor in the SRB extension")));

    PortTestMachine refusing;
    AdapterSetup setup;
    setup.refuse_uncached_extension = true;
    EXPECT_EQ(refusing.Start(kDmaMiniport, std::move(setup)).AllocateUncachedExtension(65540),
              nullptr);
}

TEST(PortMemoryTest, W9xSystemRequestCarriesTheFieldsOfTheRequest) {
    PortTestMachine machine;
    AdapterSetup setup;
    setup.personality = PortPersonality::W9x;
    Adapter& adapter = machine.Start(kDmaMiniport, std::move(setup));
    State& state = StateOf(adapter.DeviceExtension());

    RequestSpec listed = ReadOf(6 * 512);
    listed.os_request = OsRequestSpec{.flags = kOsRequestHasDescriptorList,
                                      .shift = 9,
                                      .descriptors = {{1, 0}, {2, 512}, {3, 1536}},
                                      .byte_count = 2352};
    const RequestId id = *adapter.Submit(listed).id;
    ASSERT_TRUE(adapter.RunUntilComplete(id));
    EXPECT_EQ(state.os_flags, kOsRequestHasDescriptorList);
    EXPECT_EQ(state.os_shift, 9);
    EXPECT_EQ(state.os_byte_count, 2352u);
    EXPECT_EQ(state.os_descriptors[0], 1u);
    EXPECT_EQ(state.os_descriptors[2], 2u);
    EXPECT_EQ(state.os_descriptors[3] - state.os_descriptors[1], 512u);
    EXPECT_EQ(state.os_descriptors[5] - state.os_descriptors[1], 1536u);
    EXPECT_EQ(state.os_descriptors[6], 0u);  // the list's end

    // The default record has no list and the request's own length; "none" leaves 0.
    ASSERT_TRUE(adapter.RunUntilComplete(*adapter.Submit(ReadOf(1024)).id));
    EXPECT_EQ(state.os_flags, 0);
    EXPECT_EQ(state.os_byte_count, 1024u);
    RequestSpec without = ReadOf(1024);
    without.os_request = OsRequestSpec{};
    without.os_request->present = false;
    ASSERT_TRUE(adapter.RunUntilComplete(*adapter.Submit(without).id));
    EXPECT_EQ(state.os_request, 0u);
    EXPECT_THAT(machine.port.ViolationTexts(), IsEmpty());

    RequestSpec beyond = ReadOf(1024);
    beyond.os_request = OsRequestSpec{};
    beyond.os_request->flags = kOsRequestHasDescriptorList;
    beyond.os_request->descriptors = {{4, 0}};
    EXPECT_THAT(adapter.Submit(beyond).error,
                HasSubstr("descriptor 0 reaches beyond the data buffer"));
}

TEST(PortMemoryTest, W9xAdapterRecordStandsBeforeTheExtensionOrIsAbsent) {
    PortTestMachine machine;
    Adapter& adapter = machine.Start(kDmaMiniport);
    const auto* extension = static_cast<const std::byte*>(adapter.DeviceExtension());
    adapter.SetW9xAdapterRecord(0x00C0FFEE);
    std::uint16_t signature;
    std::uint32_t node;
    std::memcpy(&signature, extension - 0x7A, 2);
    std::memcpy(&node, extension - 0x74, 4);
    EXPECT_EQ(signature, 0x4442);
    EXPECT_EQ(node, 0x00C0FFEEu);
    adapter.SetW9xAdapterRecord(std::nullopt);
    std::memcpy(&signature, extension - 0x7A, 2);
    EXPECT_EQ(signature, 0);
}

TEST(PortMemoryTest, AnAdapterDiscoveryFoundKeepsItsExtensionConfigurationAndUncachedMemory) {
    PortTestMachine machine;
    OfferedAdapter found;
    found.storage = machine.memory.Allocate(kAdapterRecordPrefix + 256, MemoryLayout{});
    found.extension = found.storage.data() + kAdapterRecordPrefix;
    found.ranges = {ACCESS_RANGE{{}, 0x100, FALSE}};
    found.config.MaximumTransferLength = 65536;
    found.config.InitiatorBusId[0] = 7;
    found.uncached = machine.memory.Allocate(65540, MemoryLayout{});
    Registration registration;
    registration.data.HwInitialize = [](PVOID) -> BOOLEAN { return TRUE; };
    registration.data.HwStartIo = [](PVOID, PSCSI_REQUEST_BLOCK) -> BOOLEAN { return TRUE; };

    Adapter& adapter = machine.port.AdoptAdapter(registration, found);
    EXPECT_EQ(adapter.DeviceExtension(), found.extension);
    EXPECT_EQ(adapter.ConfigInfo().MaximumTransferLength, 65536u);
    EXPECT_EQ(adapter.AccessRanges()[0].RangeLength, 0x100u);
    EXPECT_EQ(&(*adapter.ConfigInfo().AccessRanges)[0], adapter.AccessRanges().data());
    ULONG length = 0;
    ScsiPortGetPhysicalAddress(found.extension, nullptr, found.uncached.data(), &length);
    EXPECT_EQ(length, 65540u);
    EXPECT_EQ(adapter.AllocateUncachedExtension(16), nullptr);
    EXPECT_THAT(machine.port.ViolationTexts(), ElementsAre(HasSubstr("a second time")));
}

// A mixed workload on scattered buffers; everything a run can show about its timing.
struct RunRecord {
    std::vector<std::pair<SimTime, SimTime>> requests;  // started, completed
    AdapterCounters counters;
    std::vector<std::uint64_t> register_reads;
    SimTime end;
    std::uint64_t events;
    bool operator==(const RunRecord&) const = default;
};

RunRecord RunWorkload(std::uint64_t seed) {
    PortTestMachine machine(seed);
    AdapterSetup setup;
    setup.request_buffers = {PagePlacement::Scattered, 0x40};
    Adapter& adapter = machine.Start(kDmaMiniport, std::move(setup));
    RunRecord record;
    std::vector<RequestId> ids;
    for (ULONG i = 0; i < 12; ++i) {
        ids.push_back(*adapter.Submit(ReadOf(512 * (1 + i % 5) * 3, static_cast<UCHAR>(i % 3))).id);
    }
    EXPECT_TRUE(adapter.RunUntilIdle());
    for (const RequestId id : ids) {
        const auto result = *adapter.Result(id);
        record.requests.emplace_back(result.started, result.completed);
    }
    record.counters = adapter.Counters();
    for (const auto& [where, counters] : machine.bus.Counters())
        record.register_reads.push_back(counters.reads);
    record.end = machine.clock.Now();
    record.events = machine.clock.EventsRun();
    EXPECT_THAT(machine.port.ViolationTexts(), IsEmpty());
    return record;
}

TEST(PortMemoryTest, TheSameSeedGivesTheSameRunToTheNanosecond) {
    const RunRecord first = RunWorkload(11);
    EXPECT_EQ(first, RunWorkload(11));
    EXPECT_GT(first.counters.interrupt_calls, 0u);
}

}  // namespace
}  // namespace quell::sim::testing
