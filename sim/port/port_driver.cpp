#include "sim/port/port_driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quell::sim {
namespace {

thread_local PortDriver* bound_port = nullptr;

}  // namespace

PortDriver::Binding::Binding(PortDriver& port) : previous_(bound_port) { bound_port = &port; }

PortDriver::Binding::~Binding() { bound_port = previous_; }

PortDriver& PortDriver::Current(const char* routine) {
    if (bound_port == nullptr) {
        std::fprintf(stderr, "quell: %s called with no port driver bound to this thread\n",
                     routine);
        std::abort();
    }
    return *bound_port;
}

void PortDriver::Fatal(const char* routine, const std::string& what) {
    std::fprintf(stderr, "quell: %s: %s\n", routine, what.c_str());
    std::abort();
}

DeviceBus& PortDriver::Bus(const char* routine) {
    if (bus_ == nullptr) Fatal(routine, "register access on a machine without a bus");
    return *bus_;
}

Clock& PortDriver::TheClock(const char* routine) {
    if (clock_ == nullptr) Fatal(routine, "the machine has no clock attached to the port driver");
    return *clock_;
}

PhysicalMemory& PortDriver::TheMemory(const char* routine) {
    if (memory_ == nullptr) Fatal(routine, "the machine has no memory attached to the port driver");
    return *memory_;
}

Adapter& PortDriver::AddAdapter(const Registration& registration, AdapterSetup setup) {
    adapters_.push_back(std::make_unique<Adapter>(*this, adapters_.size(), registration,
                                                  std::move(setup), nullptr));
    return *adapters_.back();
}

Adapter& PortDriver::AdoptAdapter(const Registration& registration, const OfferedAdapter& found,
                                  AdapterSetup setup) {
    adapters_.push_back(
        std::make_unique<Adapter>(*this, adapters_.size(), registration, std::move(setup), &found));
    return *adapters_.back();
}

Adapter* PortDriver::AdapterOf(const void* device_extension) {
    for (const auto& adapter : adapters_) {
        if (adapter->DeviceExtension() == device_extension) return adapter.get();
    }
    return nullptr;
}

Adapter& PortDriver::AdapterFor(const char* routine, const void* device_extension) {
    Adapter* adapter = AdapterOf(device_extension);
    if (adapter == nullptr) Fatal(routine, "called with a device extension of no adapter");
    return *adapter;
}

void PortDriver::RemoveAdapter(Adapter& adapter) {
    std::erase_if(adapters_, [&](const auto& held) { return held.get() == &adapter; });
}

void PortDriver::CollectModelErrors(std::size_t adapter) {
    if (memory_ == nullptr) return;
    const auto& faults = memory_->DmaFaults();
    for (; dma_faults_reported_ < faults.size(); ++dma_faults_reported_) {
        RecordViolation(adapter, "model error: " + faults[dma_faults_reported_]);
    }
}

void PortDriver::RecordViolation(std::size_t adapter, std::string what) {
    violations_.push_back(
        Violation{adapter, clock_ != nullptr ? clock_->Now() : 0, std::move(what)});
}

std::vector<std::string> PortDriver::ViolationTexts() const {
    std::vector<std::string> texts;
    for (const Violation& violation : violations_) texts.push_back(violation.what);
    return texts;
}

ULONG PortDriver::Initialize(PVOID argument1, PVOID argument2, const HW_INITIALIZATION_DATA* data,
                             PVOID hw_context) {
    if (data == nullptr) {
        return kPortStatusRevisionMismatch;
    }
    const ULONG size = data->HwInitializationDataSize;
    if (size != HW_INITIALIZATION_DATA_SIZE_WITHOUT_ADAPTER_CONTROL &&
        size != sizeof(HW_INITIALIZATION_DATA)) {
        return kPortStatusRevisionMismatch;
    }
    Registration registration;
    std::memcpy(&registration.data, data, size);
    registration.declared_size = size;
    if (data->VendorId != nullptr) {
        registration.vendor_id.assign(static_cast<const char*>(data->VendorId),
                                      data->VendorIdLength);
    }
    if (data->DeviceId != nullptr) {
        registration.device_id.assign(static_cast<const char*>(data->DeviceId),
                                      data->DeviceIdLength);
    }
    // The copy must not point into the caller's frame once the call has returned.
    registration.data.VendorId = nullptr;
    registration.data.DeviceId = nullptr;
    registration.argument1 = argument1;
    registration.argument2 = argument2;
    registration.hw_context = hw_context;
    registrations_.push_back(std::move(registration));
    if (!discovery_.Ready()) {
        return initialize_result_;
    }
    if (memory_ == nullptr) {
        Fatal("ScsiPortInitialize", "adapter discovery on a machine without memory");
    }
    const std::size_t found = discovery_.OfferAll(registrations_.back(), *memory_, mappings_);
    return found != 0 ? initialize_result_ : kPortStatusNoSuchDevice;
}

}  // namespace quell::sim
