#include "sim/port/adapter.h"

#include <algorithm>
#include <cstring>

#include "sim/port/port_driver.h"
#include "sim/w9x/adapter_record.h"

namespace quell::sim {

Adapter::Adapter(PortDriver& port, std::size_t index, const Registration& registration,
                 AdapterSetup setup, const OfferedAdapter* discovered)
    : port_(port),
      clock_(port.TheClock("the adapter run time")),
      memory_(port.TheMemory("the adapter run time")),
      index_(index),
      hw_(registration.data),
      setup_(std::move(setup)) {
    if (discovered != nullptr) {
        extension_ = discovered->extension;
        config_ = discovered->config;
        access_ranges_ = discovered->ranges;
        if (access_ranges_.empty()) access_ranges_.resize(1);
        config_.AccessRanges = reinterpret_cast<ACCESS_RANGE(*)[]>(access_ranges_.data());
        uncached_ = discovered->uncached;
        uncached_requested_ = true;
        return;
    }
    // The extension is zero-filled; the 9x port environment keeps its own record in the
    // bytes before it, so they are allocated with it.
    extension_ =
        memory_.Allocate(kAdapterRecordPrefix + hw_.DeviceExtensionSize, setup_.device_extension)
            .data() +
        kAdapterRecordPrefix;

    // What a port driver hands HwFindAdapter before discovery fills in the bus facts.
    access_ranges_.resize(std::max<ULONG>(1, hw_.NumberOfAccessRanges));
    config_.Length = sizeof(config_);
    config_.AdapterInterfaceType = hw_.AdapterInterfaceType;
    config_.NumberOfAccessRanges = hw_.NumberOfAccessRanges;
    config_.AccessRanges = reinterpret_cast<ACCESS_RANGE(*)[]>(access_ranges_.data());
    config_.MaximumTransferLength = SP_UNINITIALIZED_VALUE;
    config_.NumberOfPhysicalBreaks = SP_UNINITIALIZED_VALUE;
    config_.DmaChannel = SP_UNINITIALIZED_VALUE;
    config_.DmaPort = SP_UNINITIALIZED_VALUE;
    config_.NumberOfBuses = 1;
    for (auto& id : config_.InitiatorBusId) id = static_cast<CCHAR>(SP_UNINITIALIZED_VALUE);
    config_.MaximumNumberOfTargets = 8;
    config_.MaximumNumberOfLogicalUnits = 8;
    config_.MapBuffers = hw_.MapBuffers;
    config_.NeedPhysicalAddresses = hw_.NeedPhysicalAddresses;
    config_.TaggedQueuing = hw_.TaggedQueuing;
    config_.AutoRequestSense = hw_.AutoRequestSense;
    config_.MultipleRequestPerLu = hw_.MultipleRequestPerLu;
    config_.ReceiveEvent = hw_.ReceiveEvent;
    config_.DeviceExtensionSize = hw_.DeviceExtensionSize;
    config_.SpecificLuExtensionSize = hw_.SpecificLuExtensionSize;
    config_.SrbExtensionSize = hw_.SrbExtensionSize;
}

Adapter::~Adapter() = default;

void Adapter::Violation(const std::string& what) { port_.RecordViolation(index_, what); }

void Adapter::WakeAt(SimTime when, const char* why) {
    clock_.ScheduleAt(
        when, [] {}, why);
}

std::span<std::byte> Adapter::W9xPrefix() const {
    return {static_cast<std::byte*>(extension_) - kAdapterRecordPrefix, kAdapterRecordPrefix};
}

void Adapter::SetW9xAdapterRecord(std::optional<std::uint32_t> device_node) {
    const auto prefix = W9xPrefix();
    std::fill(prefix.begin(), prefix.end(), std::byte{0});
    if (device_node) {
        WriteAdapterRecord(prefix.first<kAdapterRecordPrefix>(), AdapterRecord{*device_node});
    }
}

void* Adapter::AllocateUncachedExtension(ULONG bytes) {
    if (uncached_requested_) {
        Violation("ScsiPortGetUncachedExtension called a second time for the adapter");
        return nullptr;
    }
    uncached_requested_ = true;
    if (setup_.refuse_uncached_extension || bytes == 0) return nullptr;
    uncached_ = memory_.Allocate(bytes, setup_.uncached_extension);
    return uncached_.data();
}

Adapter::RoutineScope::RoutineScope(Adapter& adapter, const char* routine)
    : adapter_(adapter), entered_(adapter.running_ == nullptr) {
    if (!entered_) {
        adapter_.Violation(std::string(routine) + " would be entered while " + adapter_.running_ +
                           " of the same adapter runs; the port driver does not call it");
        return;
    }
    adapter_.running_ = routine;
}

Adapter::RoutineScope::~RoutineScope() {
    if (entered_) adapter_.running_ = nullptr;
}

bool Adapter::CallRoutine(const char* name, const std::function<bool()>& routine) {
    bool result = false;
    {
        RoutineScope scope(*this, name);
        if (!scope.Entered()) return false;
        result = routine();
    }
    AfterRoutine();
    return result;
}

bool Adapter::Initialize() {
    if (started_) {
        Violation("the adapter was initialised twice");
        return true;
    }
    if (hw_.HwInitialize == nullptr || hw_.HwStartIo == nullptr) {
        Violation("the registration has no HwInitialize or no HwStartIo; the adapter cannot start");
        return false;
    }
    started_ =
        CallRoutine("HwInitialize", [this] { return hw_.HwInitialize(extension_) != FALSE; });
    return started_;
}

void* Adapter::LogicalUnitExtension(UCHAR path, UCHAR target, UCHAR lun) const {
    const auto found = units_.find({path, target, lun});
    if (found == units_.end() || found->second.extension.empty()) return nullptr;
    return found->second.extension.data();
}

Adapter::LogicalUnit& Adapter::UnitAt(UCHAR path, UCHAR target, UCHAR lun) {
    auto [unit, created] = units_.try_emplace({path, target, lun});
    if (created && hw_.SpecificLuExtensionSize > 0) {
        unit->second.extension = memory_.Allocate(hw_.SpecificLuExtensionSize, MemoryLayout{});
    }
    return unit->second;
}

std::optional<RequestResult> Adapter::Result(RequestId id) const {
    const auto found = results_.find(id);
    if (found == results_.end()) return std::nullopt;
    return found->second;
}

std::optional<RequestResult> Adapter::TakeResult(RequestId id) {
    auto result = Result(id);
    results_.erase(id);
    return result;
}

bool Adapter::RunUntilComplete(RequestId id, SimTime within) {
    if (!requests_.contains(id) && !results_.contains(id)) return false;
    return port_.RunUntil([this, id] { return results_.contains(id); }, clock_.Now() + within);
}

bool Adapter::RunUntilIdle(SimTime within) {
    return port_.RunUntil([this] { return requests_.empty(); }, clock_.Now() + within);
}

void Adapter::RunFor(SimTime duration) { port_.RunFor(duration); }

void Adapter::Finish() {
    std::vector<RequestId> owned;
    std::vector<RequestId> waiting;
    for (auto& [id, request] : requests_) {
        (request.state == RequestState::InDriver ? owned : waiting).push_back(id);
    }
    for (const RequestId id : owned) {
        Request& request = requests_.at(id);
        Violation(Describe(request) + " was never returned by the driver");
        request.lost = true;
        request.srb->SrbStatus = SRB_STATUS_TIMEOUT;
        MarkCompleted(request);
    }
    for (const RequestId id : waiting) {
        Request& request = requests_.at(id);
        if (request.state != RequestState::Queued) continue;
        Violation(Describe(request) +
                  " was never started: the driver did not ask for another "
                  "request");
        std::erase(queue_, id);
        request.srb->SrbStatus = SRB_STATUS_ABORTED;
        request.state = RequestState::CompletionPending;
        to_hand_back_.push_back(id);
    }
    AfterRoutine();
    port_.CollectModelErrors(index_);
}

}  // namespace quell::sim
