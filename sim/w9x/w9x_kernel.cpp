#include "sim/w9x/w9x_kernel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quell::sim {
namespace {

thread_local W9xKernel* bound_kernel = nullptr;

[[noreturn]] void Fault(const char* what, USHORT device, USHORT service) {
    std::fprintf(stderr, "quell: VxdCall(0x%04X, 0x%04X): %s\n", device, service, what);
    std::abort();
}

template <typename T>
T* Pointer(ULONG argument) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(argument));
}

// Argument counts of the services, in the order the services take them.
std::optional<std::size_t> ArgumentCount(USHORT device, USHORT service) {
    if (device == VXD_DEVICE_VMM) {
        switch (service) {
            case VMM_MAP_PHYSICAL_TO_LINEAR:
                return 3;
            case VMM_EXEC_VXD_INT:
                return 2;
            case VMM_REG_OPEN_KEY:
                return 3;
            case VMM_REG_CLOSE_KEY:
                return 1;
            case VMM_REG_ENUM_KEY:
                return 4;
            case VMM_REG_SET_VALUE_EX:
                return 6;
            case VMM_REG_QUERY_INFO_KEY:
                return 12;
            default:
                return std::nullopt;
        }
    }
    if (device == VXD_DEVICE_CONFIGMG) {
        switch (service) {
            case CONFIGMG_GET_PARENT:
                return 3;
            case CONFIGMG_GET_DEVNODE_KEY_NAME:
                return 5;
            case CONFIGMG_READ_REGISTRY_VALUE:
                return 7;
            default:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

constexpr ULONG kPciBiosInterrupt = 0x1A;
constexpr ULONG kPciBiosFindDevice = 0xB102;
constexpr ULONG kPciBiosSuccessful = 0x00;
constexpr ULONG kPciBiosFunctionNotSupported = 0x81;
constexpr ULONG kPciBiosDeviceNotFound = 0x86;
constexpr ULONG kCarryFlag = 0x1;
constexpr ULONG kMapFailed = 0xFFFFFFFFu;

void SetReturnCode(VXD_CLIENT_REGISTERS& registers, ULONG code) {
    registers.Eax = (registers.Eax & ~0xFF00u) | (code << 8);
    registers.Flags =
        code == kPciBiosSuccessful ? registers.Flags & ~kCarryFlag : registers.Flags | kCarryFlag;
}

}  // namespace

W9xKernel::Binding::Binding(W9xKernel& kernel) : previous_(bound_kernel) { bound_kernel = &kernel; }
W9xKernel::Binding::~Binding() { bound_kernel = previous_; }

W9xKernel& W9xKernel::Current(const char* routine) {
    if (bound_kernel == nullptr) {
        std::fprintf(stderr, "quell: %s called with no 9x kernel bound to this thread\n", routine);
        std::abort();
    }
    return *bound_kernel;
}

std::uint32_t W9xKernel::AddDevNode(DevNode node) {
    const std::uint32_t handle = next_devnode_;
    next_devnode_ += 0x40;
    devnodes_[handle] = std::move(node);
    return handle;
}

DevNode* W9xKernel::FindDevNode(std::uint32_t handle) {
    const auto found = devnodes_.find(handle);
    return found == devnodes_.end() ? nullptr : &found->second;
}

void W9xKernel::SetDevNodeString(std::uint32_t handle, const std::string& name,
                                 const std::string& text) {
    if (DevNode* node = FindDevNode(handle)) {
        W9xRegistry::Value value{1, {text.begin(), text.end()}};
        value.data.push_back(0);
        node->values[name] = std::move(value);
    }
}

std::uint32_t W9xKernel::CallCount(USHORT device, USHORT service) const {
    const auto found = calls_.find({device, service});
    return found == calls_.end() ? 0 : found->second;
}

ULONG W9xKernel::Call(USHORT device, USHORT service, std::span<const ULONG> arguments) {
    const auto expected = ArgumentCount(device, service);
    if (!expected) Fault("no such service", device, service);
    if (arguments.size() != *expected) Fault("wrong number of arguments", device, service);
    ++calls_[{device, service}];
    const auto a = arguments;
    if (device == VXD_DEVICE_VMM) {
        switch (service) {
            case VMM_MAP_PHYSICAL_TO_LINEAR:
                return MapPhysicalToLinear(a);
            case VMM_EXEC_VXD_INT:
                return RunSoftwareInterrupt(a);
            case VMM_REG_OPEN_KEY:
                return registry_.OpenKey(a[0], Pointer<const char>(a[1]), Pointer<ULONG>(a[2]));
            case VMM_REG_CLOSE_KEY:
                return registry_.CloseKey(a[0]);
            case VMM_REG_ENUM_KEY:
                return registry_.EnumerateKey(a[0], a[1], Pointer<char>(a[2]), a[3]);
            case VMM_REG_SET_VALUE_EX:
                return registry_.SetValue(a[0], Pointer<const char>(a[1]), a[3],
                                          Pointer<const void>(a[4]), a[5]);
            case VMM_REG_QUERY_INFO_KEY:
                return registry_.QuerySubkeyCount(a[0], Pointer<ULONG>(a[4]));
        }
    }
    switch (service) {
        case CONFIGMG_GET_PARENT:
            return GetParent(a);
        case CONFIGMG_GET_DEVNODE_KEY_NAME:
            return GetKeyName(a);
        default:
            return ReadDevNodeValue(a);
    }
}

ULONG W9xKernel::MapPhysicalToLinear(std::span<const ULONG> arguments) {
    if (!mapper_) return kMapFailed;
    void* linear = mapper_(arguments[0], arguments[1]);
    return linear == nullptr ? kMapFailed
                             : static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(linear));
}

ULONG W9xKernel::RunSoftwareInterrupt(std::span<const ULONG> arguments) {
    auto* registers = Pointer<VXD_CLIENT_REGISTERS>(arguments[1]);
    if (registers == nullptr) return 0;
    if (arguments[0] == kPciBiosInterrupt) {
        PciBios(*registers);
    }
    return 0;
}

// Find device: the index-th function with the device and vendor IDs in Cx and Dx, in bus,
// device, function order; found: bus in Bh, device and function in Bl.
void W9xKernel::PciBios(VXD_CLIENT_REGISTERS& registers) const {
    if ((registers.Eax & 0xFFFF) != kPciBiosFindDevice) {
        SetReturnCode(registers, kPciBiosFunctionNotSupported);
        return;
    }
    const std::uint16_t device = registers.Ecx & 0xFFFF;
    const std::uint16_t vendor = registers.Edx & 0xFFFF;
    std::uint32_t index = registers.Esi & 0xFFFF;
    if (pci_ != nullptr) {
        for (const PciLocation& location : pci_->Locations()) {
            const PciFunction* function = pci_->Find(location);
            if (function->header.VendorID != vendor || function->header.DeviceID != device) {
                continue;
            }
            if (index-- == 0) {
                registers.Ebx = (registers.Ebx & ~0xFFFFu) | ((location.bus & 0xFF) << 8) |
                                (location.device << 3) | location.function;
                SetReturnCode(registers, kPciBiosSuccessful);
                return;
            }
        }
    }
    SetReturnCode(registers, kPciBiosDeviceNotFound);
}

ULONG W9xKernel::GetParent(std::span<const ULONG> arguments) {
    auto* parent = Pointer<ULONG>(arguments[0]);
    const DevNode* node = FindDevNode(arguments[1]);
    if (parent == nullptr) return CR_INVALID_DEVNODE;
    if (node == nullptr || node->parent == 0) return CR_NO_SUCH_DEVNODE;
    *parent = node->parent;
    return CR_SUCCESS;
}

ULONG W9xKernel::GetKeyName(std::span<const ULONG> arguments) {
    const DevNode* node = FindDevNode(arguments[0]);
    auto* buffer = Pointer<char>(arguments[2]);
    if (node == nullptr) return CR_INVALID_DEVNODE;
    if (buffer == nullptr || node->key_name.size() + 1 > arguments[3]) return CR_BUFFER_SMALL;
    std::memcpy(buffer, node->key_name.c_str(), node->key_name.size() + 1);
    return CR_SUCCESS;
}

ULONG W9xKernel::ReadDevNodeValue(std::span<const ULONG> arguments) {
    const DevNode* node = FindDevNode(arguments[0]);
    const auto* name = Pointer<const char>(arguments[2]);
    auto* buffer = Pointer<std::uint8_t>(arguments[4]);
    auto* size = Pointer<ULONG>(arguments[5]);
    if (node == nullptr) return CR_INVALID_DEVNODE;
    if (name == nullptr || size == nullptr) return CR_NO_SUCH_VALUE;
    const auto found = node->values.find(name);
    if (found == node->values.end() || found->second.type != arguments[3]) return CR_NO_SUCH_VALUE;
    const auto& data = found->second.data;
    if (buffer == nullptr || data.size() > *size) {
        *size = static_cast<ULONG>(data.size());
        return CR_BUFFER_SMALL;
    }
    std::memcpy(buffer, data.data(), data.size());
    *size = static_cast<ULONG>(data.size());
    return CR_SUCCESS;
}

}  // namespace quell::sim
