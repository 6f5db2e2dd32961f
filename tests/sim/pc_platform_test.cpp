// The PC platform: configuration space as the bus-data routines answer it, the processor's
// identification, and the 9x kernel's PCI BIOS and registry services over them.

#include "sim/pc/pc_platform.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "sim/w9x/w9x_kernel.h"

namespace quell::sim {
namespace {

TEST(PciConfigSpace, ReadsTellMissingBusesFromEmptySlots) {
    PciConfigSpace pci;
    pci.Add({1, 3, 0}, 0x1145, 0x8009);
    std::array<std::uint8_t, 256> buffer{};
    EXPECT_EQ(pci.Read(1, PciLocation{1, 3, 0}.Slot(), 0, buffer), 256u);
    EXPECT_EQ(buffer[0] | (buffer[1] << 8), 0x1145);
    // An empty slot on an existing bus: only the invalid vendor ID.
    EXPECT_EQ(pci.Read(0, 5, 0, buffer), 2u);
    EXPECT_EQ(buffer[0] | (buffer[1] << 8), 0xFFFF);
    EXPECT_EQ(pci.Read(2, 0, 0, buffer), 0u);  // no bus 2
    pci.FailReads({1, 3, 0});
    EXPECT_EQ(pci.Read(1, PciLocation{1, 3, 0}.Slot(), 0, buffer), 0u);
}

TEST(PciConfigSpace, WritesAreRecordedAndOnlyWritableFieldsChange) {
    PciConfigSpace pci;
    PciFunction& function = pci.Add({0, 1, 0}, 0x1145, 0x8009);
    function.header.BaseAddresses[0] = 0xE801;
    function.bar_sizes[0] = 0x100;
    const std::uint8_t command[] = {0x07, 0x00};
    const std::uint8_t ids[] = {0x00, 0x00};
    const std::uint8_t ones[] = {0xFF, 0xFF, 0xFF, 0xFF};
    pci.Write(0, 1, 0x04, command);
    pci.Write(0, 1, 0x00, ids);
    pci.Write(0, 1, 0x10, ones);
    EXPECT_EQ(function.header.Command, 0x0007);
    EXPECT_EQ(function.header.VendorID, 0x1145);               // read-only
    EXPECT_EQ(function.header.BaseAddresses[0], 0xFFFFFF01u);  // the size shows in the low bits
    ASSERT_EQ(pci.Writes().size(), 3u);
    EXPECT_EQ(pci.Writes()[0].Word(0x04), 0x0007);
}

TEST(Processor, IdentifiesVendorAndFamily) {
    ProcessorIdentity cpu;
    cpu.vendor = "AuthenticAMD";
    cpu.family = 23;
    PC_CPUID_RESULT vendor = cpu.Identify(0);
    char text[13] = {};
    std::memcpy(text, &vendor.Ebx, 4);
    std::memcpy(text + 4, &vendor.Edx, 4);
    std::memcpy(text + 8, &vendor.Ecx, 4);
    EXPECT_STREQ(text, "AuthenticAMD");
    const ULONG version = cpu.Identify(1).Eax;
    EXPECT_EQ((version >> 8) & 0xF, 0xFu);
    EXPECT_EQ((version >> 20) & 0xFF, 8u);
}

TEST(W9xKernel, PciBiosFindsTheIndexthDevice) {
    PciConfigSpace pci;
    pci.Add({0, 2, 0}, 0x8086, 0x1235);
    pci.Add({1, 4, 1}, 0x8086, 0x1235);
    W9xKernel kernel;
    kernel.AttachPci(pci);
    for (const std::uint32_t index : {0u, 1u, 2u}) {
        VXD_CLIENT_REGISTERS registers{0xB102, 0, 0x1235, 0x8086, index, 0, 0};
        const ULONG arguments[] = {
            0x1A, static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(&registers))};
        kernel.Call(VXD_DEVICE_VMM, VMM_EXEC_VXD_INT, arguments);
        const ULONG code = (registers.Eax >> 8) & 0xFF;
        if (index < 2) {
            EXPECT_EQ(code, 0u);
            EXPECT_EQ(registers.Flags & 1, 0u);
        } else {
            EXPECT_EQ(code, 0x86u);
            EXPECT_EQ(registers.Flags & 1, 1u);
        }
        if (index == 1) {
            EXPECT_EQ(registers.Ebx & 0xFFFF, (1u << 8) | (4u << 3) | 1u);
        }
    }
}

TEST(W9xKernel, ServicesRefuseBuffersTooSmall) {
    W9xKernel kernel;
    kernel.registry().CreateKeyPath("Enum\\PCI\\VEN_1022&DEV_7006");
    ULONG key = 0;
    const char path[] = "enum\\pci";  // names are case-blind
    const ULONG open[] = {VXD_HKEY_LOCAL_MACHINE,
                          static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(path)),
                          static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(&key))};
    ASSERT_EQ(kernel.Call(VXD_DEVICE_VMM, VMM_REG_OPEN_KEY, open), VMM_ERROR_SUCCESS);
    char name[17];
    const auto name_argument = static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(name));
    const ULONG small[] = {key, 0, name_argument, 17};
    EXPECT_EQ(kernel.Call(VXD_DEVICE_VMM, VMM_REG_ENUM_KEY, small), VMM_ERROR_MORE_DATA);
    const ULONG past[] = {key, 1, name_argument, 17};
    EXPECT_EQ(kernel.Call(VXD_DEVICE_VMM, VMM_REG_ENUM_KEY, past), VMM_ERROR_NO_MORE_ITEMS);

    const std::uint32_t node = kernel.AddDevNode(DevNode{0, "ROOT", {}});
    kernel.SetDevNodeString(node, "Driver", "ScsiAdapter\\0000");
    ULONG size = 16;  // one short of the value and its terminator
    char value[32];
    const char value_name[] = "Driver";
    const ULONG read[] = {node,
                          0,
                          static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(value_name)),
                          1,
                          static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(value)),
                          static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(&size)),
                          0};
    EXPECT_EQ(kernel.Call(VXD_DEVICE_CONFIGMG, CONFIGMG_READ_REGISTRY_VALUE, read),
              CR_BUFFER_SMALL);
    EXPECT_EQ(size, 17u);
    EXPECT_EQ(kernel.Call(VXD_DEVICE_CONFIGMG, CONFIGMG_READ_REGISTRY_VALUE, read), CR_SUCCESS);
    EXPECT_STREQ(value, "ScsiAdapter\\0000");
}

}  // namespace
}  // namespace quell::sim
