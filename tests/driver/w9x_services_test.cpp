// quellmp's 9x services: the PCI enumeration lookup, the parent device node, and the adapter
// status values in the class key.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/discovery_fixture.h"

// The 9x services are linked into quellmp only; quellnt's test executable has no such routines.
#if defined(QUELL_BUILD_MP)
#include "driver/platform9x/w9x_services.h"

namespace quell::test {
namespace {

class W9xServices : public DiscoveryFixture {
protected:
    void SetUp() override {
        adapter_ = &Extension(Discover());
        w9x.SetDevNodeString(adapter_devnode, "Driver", "ScsiAdapter\\0003");
        w9x.registry().CreateKeyPath(kClassKey);
    }

    std::vector<std::uint8_t> Published(const char* name) {
        const auto value = w9x.registry().GetValue(kClassKey, name);
        return value ? value->data : std::vector<std::uint8_t>{};
    }

    static constexpr char kClassKey[] =
        "system\\CurrentControlSet\\Services\\Class\\ScsiAdapter\\0003";
    ADAPTER_EXTENSION* adapter_ = nullptr;
};

struct ListCase {
    const char* subkey;
    const char* pattern;
    bool found;
};

class PciList : public W9xServices, public ::testing::WithParamInterface<ListCase> {};

TEST_P(PciList, MatchesWithWildcardsAndExactCase) {
    ListPciDevice("VEN_8086&DEV_7190&SUBSYS_00000000&REV_03");
    ListPciDevice(GetParam().subkey);
    EXPECT_EQ(RegistryPciDevicePresent(adapter_, GetParam().pattern), GetParam().found);
    EXPECT_EQ(w9x.registry().OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PciList,
    ::testing::Values(
        ListCase{"VEN_1022&DEV_7006&SUBSYS_00000000", "VEN_1022&DEV_????", true},
        ListCase{"ven_1022&dev_7006", "VEN_1022&DEV_????", false},
        ListCase{"VEN_1022&DEV_7006", "VEN_1022&DEV_7006", true},
        ListCase{"VEN_1022&DEV_70", "VEN_1022&DEV_????", false},
        ListCase{"VEN_1023&DEV_7006", "VEN_1022&DEV_????", false},
        // A name that does not fit the 64-byte enumeration buffer is no match.
        ListCase{"VEN_10B9&DEV_1521&SUBSYS_00000000&REV_00&A_NAME_FAR_TOO_LONG_FOR_THE_BUFFER",
                 "VEN_10B9&DEV_1521", false}));

TEST_F(W9xServices, PciListLookupsThatCannotBeMadeAnswerFalse) {
    ListPciDevice("VEN_10B9&DEV_1521");
    w9x.registry().FailOperation(sim::W9xRegistryOperation::QueryInfo, "Enum\\PCI");
    EXPECT_FALSE(RegistryPciDevicePresent(adapter_, "VEN_10B9&DEV_1521"));
    w9x.registry().FailOperation(sim::W9xRegistryOperation::Open, "Enum\\PCI");
    EXPECT_FALSE(RegistryPciDevicePresent(adapter_, "VEN_10B9&DEV_1521"));
    EXPECT_EQ(w9x.registry().OpenHandleCount(), 0u);
}

TEST_F(W9xServices, ParentMatchesTheHardwareIdInItsKeyName) {
    struct Case {
        std::string key_name;
        bool matches;
    };
    const std::string id = "VEN_1180&DEV_0478";
    for (const Case& c :
         {Case{"PCI\\" + id + "&SUBSYS_00000000\\BUS_00&DEV_0A", true}, Case{id, true},
          Case{"PCI\\ven_1180&dev_0478", false},
          Case{std::string(59, 'x') + id, true},  // "VEN_" at position 59
          Case{std::string(63, 'x') + id, true},  // the last position searched
          Case{std::string(64, 'x') + id, true},  // found at the fallback, 64
          Case{std::string(65, 'x') + id, false}, Case{"PCI\\VEN_104C&DEV_AC1C", false}}) {
        SCOPED_TRACE(c.key_name);
        SetParentKeyName(c.key_name);
        EXPECT_EQ(ParentDeviceMatches(adapter_, id.c_str()), c.matches);
    }
}

TEST_F(W9xServices, WithoutThePortRecordNothingIsLookedUpOrPublished) {
    RemovePortRecord();
    ADAPTER_EXTENSION& bare = Extension(Discover());
    const std::uint32_t before = w9x.CallCount(VXD_DEVICE_CONFIGMG, CONFIGMG_GET_PARENT);
    SetParentKeyName("PCI\\VEN_1180&DEV_0478");
    EXPECT_FALSE(ParentDeviceMatches(&bare, "VEN_1180&DEV_0478"));
    PublishAdapterStatus(&bare);
    EXPECT_EQ(bare.AdapterDevNode, 0u);
    EXPECT_EQ(w9x.CallCount(VXD_DEVICE_CONFIGMG, CONFIGMG_GET_PARENT), before);
    EXPECT_EQ(w9x.CallCount(VXD_DEVICE_CONFIGMG, CONFIGMG_READ_REGISTRY_VALUE), 0u);
    EXPECT_TRUE(Published("StatXferMode").empty());
}

TEST_F(W9xServices, PublishesTheThreeStatusValues) {
    struct Case {
        UCHAR mode;
        UCHAR term_power;
        UCHAR cable;
        std::vector<std::uint8_t> mode_text;
    };
    for (const Case& c : {Case{0, 1, 1, {0x49, 0x20}}, Case{3, 0, 1, {0x44, 0x20}},
                          Case{5, 1, 1, {0x4D, 0x20}}, Case{4, 1, 1, {0x3F, 0x00}},
                          // a failed bus check
                          Case{3, TERM_POWER_BUS_UNUSABLE, 0, {0x44, 0x20}}}) {
        SCOPED_TRACE(c.mode);
        adapter_->AdapterTransferMode = c.mode;
        adapter_->TermPowerStatus = c.term_power;
        adapter_->CableStatus = c.cable;
        PublishAdapterStatus(adapter_);
        EXPECT_EQ(adapter_->AdapterDevNode, adapter_devnode);
        EXPECT_EQ(Published("StatTermPower"), std::vector<std::uint8_t>{c.term_power});
        EXPECT_EQ(Published("StatCable"), std::vector<std::uint8_t>{c.cable});
        EXPECT_EQ(Published("StatXferMode"), c.mode_text);
        EXPECT_EQ(w9x.registry().GetValue(kClassKey, "StatXferMode")->type, 3u);
        EXPECT_EQ(w9x.registry().OpenHandleCount(), 0u);
    }
}

TEST_F(W9xServices, ClassKeyThatCannotBeNamedOrOpenedGetsNothing) {
    // 17 characters fit the room after the prefix with the terminator; 18 do not.
    w9x.SetDevNodeString(adapter_devnode, "Driver", "ScsiAdapter\\00003");
    w9x.registry().CreateKeyPath("system\\CurrentControlSet\\Services\\Class\\ScsiAdapter\\00003");
    PublishAdapterStatus(adapter_);
    EXPECT_TRUE(w9x.registry().GetValue(
        "system\\CurrentControlSet\\Services\\Class\\ScsiAdapter\\00003", "StatCable"));
    w9x.SetDevNodeString(adapter_devnode, "Driver", "ScsiAdapter\\000003");
    w9x.registry().CreateKeyPath("system\\CurrentControlSet\\Services\\Class\\ScsiAdapter\\000003");
    PublishAdapterStatus(adapter_);
    EXPECT_FALSE(w9x.registry().GetValue(
        "system\\CurrentControlSet\\Services\\Class\\ScsiAdapter\\000003", "StatCable"));
    // A class key that does not exist is not created.
    w9x.SetDevNodeString(adapter_devnode, "Driver", "ScsiAdapter\\0009");
    PublishAdapterStatus(adapter_);
    EXPECT_FALSE(
        w9x.registry().KeyExists("system\\CurrentControlSet\\Services\\Class\\ScsiAdapter\\0009"));
}

TEST_F(W9xServices, UnmappablePhysicalRangeIsNull) {
    w9x.SetPhysicalMapper([](std::uint64_t, std::uint32_t) -> void* { return nullptr; });
    EXPECT_EQ(MapPhysicalRange(0xFEBFF000, 4096), nullptr);
}

}  // namespace
}  // namespace quell::test

#endif  // QUELL_BUILD_MP
