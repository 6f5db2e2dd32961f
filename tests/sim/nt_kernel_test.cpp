// The NT kernel stand-in: registry semantics of the Zw routines and the counted strings.

#include "sim/nt/nt_kernel.h"

#include <gtest/gtest.h>

#include <string>

#include "host/ntkernel.h"

namespace quell::sim {
namespace {

class NtKernelTest : public ::testing::Test {
protected:
    NTSTATUS Open(const char16_t* path, HANDLE* key) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, path);
        OBJECT_ATTRIBUTES attributes{sizeof(OBJECT_ATTRIBUTES), nullptr, &name,
                                     OBJ_CASE_INSENSITIVE,      nullptr, nullptr};
        return ZwOpenKey(key, KEY_ALL_ACCESS, &attributes);
    }
    NTSTATUS Create(const char16_t* path, HANDLE* key, ULONG* disposition = nullptr) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, path);
        OBJECT_ATTRIBUTES attributes{sizeof(OBJECT_ATTRIBUTES), nullptr, &name,
                                     OBJ_CASE_INSENSITIVE,      nullptr, nullptr};
        return ZwCreateKey(key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, disposition);
    }

    NtKernel kernel;
    NtKernel::Binding binding{kernel};
};

TEST_F(NtKernelTest, KeysAreFoundWhateverTheCaseAndCreatedOnlyBelowAnExistingParent) {
    kernel.registry().CreateKeyPath(u"\\Registry\\Machine\\System");
    HANDLE key = nullptr;
    EXPECT_EQ(Open(u"\\REGISTRY\\machine\\SYSTEM", &key), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_INVALID_HANDLE);
    EXPECT_EQ(Open(u"\\Registry\\Machine\\Software", &key), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(Create(u"\\Registry\\Machine\\Software\\Vendor", &key), STATUS_OBJECT_NAME_NOT_FOUND);

    ULONG disposition = 0;
    ASSERT_EQ(Create(u"\\Registry\\Machine\\System\\Fresh", &key, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, static_cast<ULONG>(REG_CREATED_NEW_KEY));
    ZwClose(key);
    ASSERT_EQ(Create(u"\\Registry\\Machine\\System\\FRESH", &key, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, static_cast<ULONG>(REG_OPENED_EXISTING_KEY));
    ZwClose(key);
    EXPECT_EQ(kernel.registry().SubkeyNames(u"\\Registry\\Machine\\System"),
              std::vector<std::u16string>{u"Fresh"});
}

TEST_F(NtKernelTest, QueryAndEnumerateReportSizesAndShortBuffers) {
    auto& registry = kernel.registry();
    registry.CreateKeyPath(u"\\Registry\\Machine\\Enum\\PCI\\VEN_1145&DEV_8009&SUBSYS_00000000");
    registry.CreateKeyPath(u"\\Registry\\Machine\\Enum\\PCI\\VEN_8086&DEV_7190");
    HANDLE key = nullptr;
    ASSERT_EQ(Open(u"\\Registry\\Machine\\Enum\\PCI", &key), STATUS_SUCCESS);

    alignas(8) UCHAR full[48];
    ULONG length = 0;
    EXPECT_EQ(ZwQueryKey(key, KeyFullInformation, full, 40, &length), STATUS_BUFFER_TOO_SMALL);
    ASSERT_EQ(ZwQueryKey(key, KeyFullInformation, full, sizeof(full), &length), STATUS_SUCCESS);
    EXPECT_EQ(reinterpret_cast<KEY_FULL_INFORMATION*>(full)->SubKeys, 2u);

    alignas(8) UCHAR basic[256] = {};
    ASSERT_EQ(ZwEnumerateKey(key, 0, KeyBasicInformation, basic, sizeof(basic), &length),
              STATUS_SUCCESS);
    const auto* info = reinterpret_cast<KEY_BASIC_INFORMATION*>(basic);
    EXPECT_EQ(std::u16string(info->Name, info->NameLength / 2),
              u"VEN_1145&DEV_8009&SUBSYS_00000000");
    EXPECT_EQ(ZwEnumerateKey(key, 1, KeyBasicInformation, basic, 24, &length),
              STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(length, 16u + 17u * 2u);
    EXPECT_EQ(ZwEnumerateKey(key, 2, KeyBasicInformation, basic, sizeof(basic), &length),
              STATUS_NO_MORE_ENTRIES);
    ZwClose(key);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(NtKernelTest, CountedStringsRespectTheirBuffers) {
    WCHAR buffer[8];
    UNICODE_STRING text{0, sizeof(buffer), buffer};
    EXPECT_EQ(RtlAppendUnicodeToString(&text, u"abc"), STATUS_SUCCESS);
    EXPECT_EQ(RtlAppendUnicodeToString(&text, u"defghi"), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(RtlAppendUnicodeToString(&text, u"defg"), STATUS_SUCCESS);
    EXPECT_EQ(text.Length, 14);

    ANSI_STRING ansi;
    RtlInitString(&ansi, "VEN_10B9&DEV_1521");
    WCHAR wide[18];
    UNICODE_STRING converted{0, sizeof(wide), wide};
    ASSERT_EQ(RtlAnsiStringToUnicodeString(&converted, &ansi, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(wide), u"VEN_10B9&DEV_1521");
    UNICODE_STRING small{0, 8, wide};
    EXPECT_EQ(RtlAnsiStringToUnicodeString(&small, &ansi, FALSE), STATUS_BUFFER_OVERFLOW);

    EXPECT_EQ(_wcsnicmp(u"ven_10b9&dev_1521&x", u"VEN_10B9&DEV_1521", 17), 0);
    EXPECT_NE(_wcsnicmp(u"VEN_10B9", u"VEN_10B8", 8), 0);
}

TEST_F(NtKernelTest, VersionAndInterruptLevelAreWhatTheMachineSet) {
    kernel.SetVersion(4, 0, 1381);
    kernel.SetIrql(DISPATCH_LEVEL);
    ULONG major = 0, minor = 9;
    PsGetVersion(&major, &minor, nullptr, nullptr);
    EXPECT_EQ(major, 4u);
    EXPECT_EQ(minor, 0u);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
}

}  // namespace
}  // namespace quell::sim
