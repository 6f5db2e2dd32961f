// quellnt's registry work: the plug-and-play interface setting written at load and the lookup
// of a device in the PCI enumeration.

#include "driver/platformnt/nt_registry.h"

#include <gtest/gtest.h>

#include <string>

#include "driver/config/entry_points.h"
#include "tests/support/host_fixture.h"

namespace quell::test {
namespace {

constexpr char16_t kService[] = u"\\Registry\\Machine\\System\\ControlSet001\\Services\\quellnt";
constexpr char16_t kParameters[] =
    u"\\Registry\\Machine\\System\\ControlSet001\\Services\\quellnt\\Parameters";
constexpr char16_t kPnpInterface[] =
    u"\\Registry\\Machine\\System\\ControlSet001\\Services\\quellnt\\Parameters\\PnpInterface";
constexpr char16_t kPciEnum[] = u"\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\PCI";

class NtRegistryTest : public HostFixture {
protected:
    sim::Registry& registry() { return kernel.registry(); }
    void ListPciDevices(std::initializer_list<std::u16string> names) {
        registry().CreateKeyPath(kPciEnum);
        for (const auto& name : names) {
            registry().CreateKeyPath(std::u16string(kPciEnum) + u"\\" + name);
        }
    }
    ADAPTER_EXTENSION adapter{};
};

// quellmp has no NT registry work; these cases build into quellnt's tests only.
#if defined(QUELL_BUILD_NT)

TEST_F(NtRegistryTest, MissingParametersKeyIsCreatedWithTheInterfaceValue) {
    registry().CreateKeyPath(kService);
    RegisterPnpInterface(PCIBus);
    const auto value = registry().GetValue(kPnpInterface, u"5");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, static_cast<ULONG>(REG_DWORD));
    ASSERT_EQ(value->data.size(), 4u);
    EXPECT_EQ(static_cast<int>(value->data[0]), 1);
    EXPECT_EQ(registry().OpenHandleCount(), 0u);
}

TEST_F(NtRegistryTest, ExistingInterfaceKeyIsLeftAsItIs) {
    registry().CreateKeyPath(kPnpInterface);
    RegisterPnpInterface(PCIBus);
    EXPECT_EQ(registry().ValueCount(kPnpInterface), 0u);
    EXPECT_EQ(registry().OpenHandleCount(), 0u);
}

TEST_F(NtRegistryTest, FailuresEndQuietly) {
    // No service key: the parameters key cannot be created, nothing is written.
    RegisterPnpInterface(PCIBus);
    EXPECT_FALSE(registry().KeyExists(kParameters));

    registry().CreateKeyPath(kParameters);
    registry().FailOperation(sim::RegistryOperation::Create, kPnpInterface, STATUS_ACCESS_DENIED);
    RegisterPnpInterface(PCIBus);
    EXPECT_FALSE(registry().KeyExists(kPnpInterface));
    EXPECT_EQ(registry().OpenHandleCount(), 0u);
}

TEST_F(NtRegistryTest, AboveApcLevelNothingIsTouchedAndDevicesCountAsPresent) {
    registry().CreateKeyPath(kService);
    kernel.SetIrql(DISPATCH_LEVEL);
    RegisterPnpInterface(PCIBus);
    EXPECT_FALSE(registry().KeyExists(kParameters));
    EXPECT_TRUE(RegistryPciDevicePresent(&adapter, "VEN_10B9&DEV_1521"));
}

TEST_F(NtRegistryTest, PciLookupMatchesTheFirst17CharactersInAnyCase) {
    struct Case {
        std::u16string listed;
        bool found;
    } cases[] = {
        {u"ven_10b9&dev_1521&subsys_00000000", true},
        {u"VEN_10B9&DEV_1521", true},
        {u"VEN_10B9&DEV_152", false},  // shorter than the pattern
        {u"VEN_10B9&DEV_1522&SUBSYS_00000000", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.listed.begin(), c.listed.end()));
        sim::NtKernel fresh;
        sim::NtKernel::Binding binding(fresh);
        fresh.registry().CreateKeyPath(kPciEnum);
        for (const auto& name : {std::u16string(u"VEN_8086&DEV_7190&SUBSYS_00000000"), c.listed}) {
            fresh.registry().CreateKeyPath(std::u16string(kPciEnum) + u"\\" + name);
        }
        EXPECT_EQ(RegistryPciDevicePresent(&adapter, "VEN_10B9&DEV_1521"), c.found);
        EXPECT_EQ(fresh.registry().OpenHandleCount(), 0u);
    }
}

TEST_F(NtRegistryTest, PciLookupFailuresAnswerNotPresent) {
    EXPECT_FALSE(RegistryPciDevicePresent(&adapter, "VEN_1180&DEV_0478"));  // no key

    ListPciDevices({});
    EXPECT_FALSE(RegistryPciDevicePresent(&adapter, "VEN_1180&DEV_0478"));  // no subkeys
    EXPECT_EQ(registry().OpenHandleCount(), 0u);

    ListPciDevices({u"VEN_1180&DEV_0478&SUBSYS_00000000"});
    registry().FailOperation(sim::RegistryOperation::EnumerateKey, kPciEnum, STATUS_ACCESS_DENIED);
    EXPECT_FALSE(RegistryPciDevicePresent(&adapter, "VEN_1180&DEV_0478"));
    registry().FailOperation(sim::RegistryOperation::QueryKey, kPciEnum, STATUS_ACCESS_DENIED);
    EXPECT_FALSE(RegistryPciDevicePresent(&adapter, "VEN_1180&DEV_0478"));
    EXPECT_EQ(registry().OpenHandleCount(), 0u);
}

TEST_F(NtRegistryTest, RegistrationWritesTheSettingFromVersion5On) {
    for (const ULONG major : {4u, 5u}) {
        SCOPED_TRACE(major);
        sim::NtKernel fresh;
        sim::NtKernel::Binding binding(fresh);
        fresh.registry().CreateKeyPath(kService);
        fresh.SetVersion(major, 0, 0);
        EXPECT_EQ(DriverEntry(nullptr, nullptr), sim::kPortStatusSuccess);
        EXPECT_EQ(fresh.registry().GetValue(kPnpInterface, u"5").has_value(), major >= 5);
    }
}

#endif

}  // namespace
}  // namespace quell::test
