// The port driver's register-access routines. Port addresses are I/O-space bus addresses;
// register addresses are either memory-space device mappings the port driver handed out or
// ordinary simulated memory (the uncached extension), which they copy like memory.

#include <cstring>
#include <string>

#include "host/scsiport.h"
#include "sim/port/port_driver.h"

using quell::sim::AccessWidth;
using quell::sim::AddressSpace;
using quell::sim::PortDriver;

namespace {

template <typename T>
constexpr AccessWidth WidthOf() {
    return sizeof(T) == 1   ? AccessWidth::Byte
           : sizeof(T) == 2 ? AccessWidth::Word
                            : AccessWidth::Dword;
}

template <typename T>
T ReadPort(const char* routine, const T* port, bool string_element = false) {
    return static_cast<T>(PortDriver::Current(routine).Bus(routine).Read(
        AddressSpace::Io, reinterpret_cast<std::uintptr_t>(port), WidthOf<T>(), string_element));
}

template <typename T>
void WritePort(const char* routine, T* port, T value, bool string_element = false) {
    PortDriver::Current(routine).Bus(routine).Write(AddressSpace::Io,
                                                    reinterpret_cast<std::uintptr_t>(port),
                                                    WidthOf<T>(), value, string_element);
}

// String forms on a port: every element is one access to the same port.
template <typename T>
void ReadPortString(const char* routine, const T* port, T* buffer, ULONG count) {
    for (ULONG i = 0; i < count; ++i) buffer[i] = ReadPort(routine, port, true);
}

template <typename T>
void WritePortString(const char* routine, T* port, const T* buffer, ULONG count) {
    for (ULONG i = 0; i < count; ++i) WritePort(routine, port, buffer[i], true);
}

// A register address is a device mapping or simulated memory; anything else is a driver fault.
template <typename T>
T ReadRegister(const char* routine, const T* address, bool string_element = false) {
    PortDriver& port = PortDriver::Current(routine);
    if (const auto bus_address = port.Mappings().ToBusAddress(address)) {
        return static_cast<T>(port.Bus(routine).Read(AddressSpace::Memory, *bus_address,
                                                     WidthOf<T>(), string_element));
    }
    if (port.Memory() == nullptr || !port.Memory()->ToPhysical(address)) {
        PortDriver::Fatal(routine, "address is neither a device mapping nor simulated memory");
    }
    T value;
    std::memcpy(&value, address, sizeof(T));
    return value;
}

template <typename T>
void WriteRegister(const char* routine, T* address, T value, bool string_element = false) {
    PortDriver& port = PortDriver::Current(routine);
    if (const auto bus_address = port.Mappings().ToBusAddress(address)) {
        port.Bus(routine).Write(AddressSpace::Memory, *bus_address, WidthOf<T>(), value,
                                string_element);
        return;
    }
    if (port.Memory() == nullptr || !port.Memory()->ToPhysical(address)) {
        PortDriver::Fatal(routine, "address is neither a device mapping nor simulated memory");
    }
    std::memcpy(address, &value, sizeof(T));
}

// String forms on registers walk successive addresses, as a memory copy does.
template <typename T>
void ReadRegisterString(const char* routine, const T* address, T* buffer, ULONG count) {
    for (ULONG i = 0; i < count; ++i) buffer[i] = ReadRegister(routine, address + i, true);
}

template <typename T>
void WriteRegisterString(const char* routine, T* address, const T* buffer, ULONG count) {
    for (ULONG i = 0; i < count; ++i) WriteRegister(routine, address + i, buffer[i], true);
}

}  // namespace

extern "C" {

UCHAR ScsiPortReadPortUchar(PUCHAR Port) { return ReadPort(__func__, Port); }
USHORT ScsiPortReadPortUshort(PUSHORT Port) { return ReadPort(__func__, Port); }
ULONG ScsiPortReadPortUlong(PULONG Port) { return ReadPort(__func__, Port); }
VOID ScsiPortWritePortUchar(PUCHAR Port, UCHAR Value) { WritePort(__func__, Port, Value); }
VOID ScsiPortWritePortUshort(PUSHORT Port, USHORT Value) { WritePort(__func__, Port, Value); }
VOID ScsiPortWritePortUlong(PULONG Port, ULONG Value) { WritePort(__func__, Port, Value); }

VOID ScsiPortReadPortBufferUchar(PUCHAR Port, PUCHAR Buffer, ULONG Count) {
    ReadPortString(__func__, Port, Buffer, Count);
}
VOID ScsiPortReadPortBufferUshort(PUSHORT Port, PUSHORT Buffer, ULONG Count) {
    ReadPortString(__func__, Port, Buffer, Count);
}
VOID ScsiPortReadPortBufferUlong(PULONG Port, PULONG Buffer, ULONG Count) {
    ReadPortString(__func__, Port, Buffer, Count);
}
VOID ScsiPortWritePortBufferUchar(PUCHAR Port, PUCHAR Buffer, ULONG Count) {
    WritePortString(__func__, Port, Buffer, Count);
}
VOID ScsiPortWritePortBufferUshort(PUSHORT Port, PUSHORT Buffer, ULONG Count) {
    WritePortString(__func__, Port, Buffer, Count);
}
VOID ScsiPortWritePortBufferUlong(PULONG Port, PULONG Buffer, ULONG Count) {
    WritePortString(__func__, Port, Buffer, Count);
}

UCHAR ScsiPortReadRegisterUchar(PUCHAR Register) { return ReadRegister(__func__, Register); }
USHORT ScsiPortReadRegisterUshort(PUSHORT Register) { return ReadRegister(__func__, Register); }
ULONG ScsiPortReadRegisterUlong(PULONG Register) { return ReadRegister(__func__, Register); }
VOID ScsiPortWriteRegisterUchar(PUCHAR Register, UCHAR Value) {
    WriteRegister(__func__, Register, Value);
}
VOID ScsiPortWriteRegisterUshort(PUSHORT Register, USHORT Value) {
    WriteRegister(__func__, Register, Value);
}
VOID ScsiPortWriteRegisterUlong(PULONG Register, ULONG Value) {
    WriteRegister(__func__, Register, Value);
}

VOID ScsiPortReadRegisterBufferUchar(PUCHAR Register, PUCHAR Buffer, ULONG Count) {
    ReadRegisterString(__func__, Register, Buffer, Count);
}
VOID ScsiPortReadRegisterBufferUshort(PUSHORT Register, PUSHORT Buffer, ULONG Count) {
    ReadRegisterString(__func__, Register, Buffer, Count);
}
VOID ScsiPortReadRegisterBufferUlong(PULONG Register, PULONG Buffer, ULONG Count) {
    ReadRegisterString(__func__, Register, Buffer, Count);
}
VOID ScsiPortWriteRegisterBufferUchar(PUCHAR Register, PUCHAR Buffer, ULONG Count) {
    WriteRegisterString(__func__, Register, Buffer, Count);
}
VOID ScsiPortWriteRegisterBufferUshort(PUSHORT Register, PUSHORT Buffer, ULONG Count) {
    WriteRegisterString(__func__, Register, Buffer, Count);
}
VOID ScsiPortWriteRegisterBufferUlong(PULONG Register, PULONG Buffer, ULONG Count) {
    WriteRegisterString(__func__, Register, Buffer, Count);
}

}  // extern "C"
