// What DriverEntry tells the port driver, for each deliverable and system version.

#include <gtest/gtest.h>

#include "driver/config/entry_points.h"
#include "driver/core/adapter.h"
#include "tests/support/host_fixture.h"

namespace quell::test {
namespace {

class RegistrationTest : public HostFixture {
protected:
    const sim::Registration& Register(ULONG major_version) {
        kernel.SetVersion(major_version, 0, 1381);
        EXPECT_EQ(DriverEntry(&driver_object_, &registry_path_), sim::kPortStatusSuccess);
        EXPECT_EQ(port.Registrations().size(), 1u);
        return port.Registrations().back();
    }

    int driver_object_ = 0;
    int registry_path_ = 0;
};

TEST_F(RegistrationTest, RecordDescribesTheDriverForEverySystemVersion) {
    for (const ULONG major : {3u, 4u, 5u, 6u, 10u}) {
        SCOPED_TRACE(major);
        port.ClearRegistrations();
        const sim::Registration& r = Register(major);
        const HW_INITIALIZATION_DATA& d = r.data;
        const bool adapter_control = !kTestingMp && major >= 5;

        EXPECT_EQ(r.declared_size, adapter_control ? 80u : 76u);
        EXPECT_EQ(r.HasAdapterControl(), adapter_control);
        EXPECT_EQ(d.HwAdapterControl != nullptr, adapter_control);
        EXPECT_EQ(d.AdapterInterfaceType, PCIBus);
        EXPECT_EQ(d.HwInitialize, &MiniportInitialize);
        EXPECT_EQ(d.HwStartIo, &MiniportStartIo);
        EXPECT_EQ(d.HwInterrupt, &MiniportInterrupt);
        EXPECT_EQ(d.HwFindAdapter, &MiniportFindAdapter);
        EXPECT_EQ(d.HwResetBus, &MiniportResetBus);
        EXPECT_EQ(d.HwDmaStarted, nullptr);
        EXPECT_EQ(d.HwAdapterState, &MiniportAdapterState);
        EXPECT_EQ(d.DeviceExtensionSize, sizeof(ADAPTER_EXTENSION));
        EXPECT_EQ(d.SpecificLuExtensionSize, sizeof(LU_EXTENSION));
        EXPECT_EQ(d.SrbExtensionSize, 232u);
        EXPECT_EQ(d.NumberOfAccessRanges, 3u);
        EXPECT_EQ(d.MapBuffers, kTestingMp ? TRUE : FALSE);
        EXPECT_EQ(d.NeedPhysicalAddresses, TRUE);
        EXPECT_EQ(d.TaggedQueuing, FALSE);
        EXPECT_EQ(d.AutoRequestSense, FALSE);
        EXPECT_EQ(d.MultipleRequestPerLu, FALSE);
        EXPECT_EQ(d.ReceiveEvent, FALSE);
        EXPECT_EQ(r.vendor_id, "1145");
        EXPECT_EQ(r.device_id, "8009");
        EXPECT_EQ(d.VendorIdLength, 4);
        EXPECT_EQ(d.DeviceIdLength, 4);
        EXPECT_EQ(r.hw_context, nullptr);
    }
}

TEST_F(RegistrationTest, LoaderArgumentsReachThePortDriverUnchanged) {
    const sim::Registration& r = Register(5);
    EXPECT_EQ(r.argument1, &driver_object_);
    EXPECT_EQ(r.argument2, &registry_path_);
}

TEST_F(RegistrationTest, PortDriverStatusBecomesTheLoadStatus) {
    port.SetInitializeResult(sim::kPortStatusNoSuchDevice);
    kernel.SetVersion(5, 0, 2195);
    EXPECT_EQ(DriverEntry(nullptr, nullptr), sim::kPortStatusNoSuchDevice);
}

}  // namespace
}  // namespace quell::test
