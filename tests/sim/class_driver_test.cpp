// The class-driver layer against a miniport that answers like a simple disk: the bus scan,
// reads and writes split to the adapter's limit, sense retrieval and the retries.

#include "sim/classdriver/class_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "host/scsi.h"
#include "tests/sim/port_test_machine.h"

namespace quell::sim::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr ULONG kBlock = 512;
constexpr ULONG kBlocks = 64;
constexpr ULONG kMediumErrorBlock = 50;

// Units behind the simple-disk miniport, answered from StartIo without any bus.
struct SimpleDisk {
    struct Unit {
        UCHAR type = DIRECT_ACCESS_DEVICE;
        bool present = true;  // false: answers INQUIRY with "no unit here"
        std::vector<std::byte> blocks = std::vector<std::byte>(kBlocks * kBlock);
        bool unit_attention = false;
        std::vector<std::byte> sense{};
    };
    std::map<std::pair<UCHAR, UCHAR>, Unit> units;
    unsigned busy_answers = 0;  // the next n commands end busy
    ULONG largest_transfer = 0;
    std::map<UCHAR, unsigned> commands;  // by operation code
    std::vector<std::uint8_t> last_cdb;
};

struct State {
    PortTestMachine* machine;
    SimpleDisk* disk;
};

ULONG Lba(const PSCSI_REQUEST_BLOCK srb) {
    if (srb->Cdb[0] == SCSIOP_READ6 || srb->Cdb[0] == SCSIOP_WRITE6) {
        return ULONG{srb->Cdb[1] & 0x1Fu} << 16 | ULONG{srb->Cdb[2]} << 8 | srb->Cdb[3];
    }
    return ULONG{srb->Cdb[2]} << 24 | ULONG{srb->Cdb[3]} << 16 | ULONG{srb->Cdb[4]} << 8 |
           srb->Cdb[5];
}

void CheckCondition(PSCSI_REQUEST_BLOCK srb, SimpleDisk::Unit& unit, UCHAR key, UCHAR asc) {
    unit.sense.assign(18, std::byte{0});
    unit.sense[0] = std::byte{0x70};
    unit.sense[2] = std::byte{key};
    unit.sense[7] = std::byte{10};
    unit.sense[12] = std::byte{asc};
    srb->ScsiStatus = SCSISTAT_CHECK_CONDITION;
    srb->SrbStatus = SRB_STATUS_ERROR;
}

void Answer(SimpleDisk& disk, PSCSI_REQUEST_BLOCK srb) {
    auto* data = static_cast<std::byte*>(srb->DataBuffer);
    const UCHAR op = srb->Cdb[0];
    ++disk.commands[op];
    disk.last_cdb.assign(srb->Cdb, srb->Cdb + srb->CdbLength);
    disk.largest_transfer = std::max(disk.largest_transfer, srb->DataTransferLength);
    const auto found = disk.units.find({srb->TargetId, srb->Lun});
    const bool target_present =
        std::any_of(disk.units.begin(), disk.units.end(),
                    [&](const auto& unit) { return unit.first.first == srb->TargetId; });
    if (!target_present) {
        srb->SrbStatus = SRB_STATUS_SELECTION_TIMEOUT;
        return;
    }
    srb->SrbStatus = SRB_STATUS_SUCCESS;
    srb->ScsiStatus = SCSISTAT_GOOD;
    if (op == SCSIOP_INQUIRY) {
        std::fill(data, data + srb->DataTransferLength, std::byte{' '});
        data[0] = found == disk.units.end() || !found->second.present
                      ? std::byte{0x7F}
                      : std::byte{found->second.type};
        std::memcpy(data + 8, "QUELLSIMDISK", 12);
        return;
    }
    if (found == disk.units.end()) {
        srb->SrbStatus = SRB_STATUS_INVALID_LUN;
        return;
    }
    SimpleDisk::Unit& unit = found->second;
    if (op == SCSIOP_REQUEST_SENSE) {
        std::copy(unit.sense.begin(), unit.sense.end(), data);
        unit.sense.clear();
        return;
    }
    if (disk.busy_answers > 0) {
        --disk.busy_answers;
        srb->ScsiStatus = SCSISTAT_BUSY;
        srb->SrbStatus = SRB_STATUS_BUSY;
        return;
    }
    if (unit.unit_attention) {
        unit.unit_attention = false;
        CheckCondition(srb, unit, SCSI_SENSE_UNIT_ATTENTION, 0x29);
        return;
    }
    const ULONG bytes = srb->DataTransferLength;
    switch (op) {
        case SCSIOP_READ_CAPACITY: {
            const std::uint8_t answer[8] = {0, 0, 0, kBlocks - 1, 0, 0, kBlock >> 8, kBlock & 0xFF};
            std::memcpy(data, answer, sizeof(answer));
            return;
        }
        case SCSIOP_READ6:
        case SCSIOP_READ: {
            const ULONG lba = Lba(srb);
            if (lba <= kMediumErrorBlock && kMediumErrorBlock < lba + bytes / kBlock) {
                CheckCondition(srb, unit, SCSI_SENSE_MEDIUM_ERROR, 0x11);
                return;
            }
            std::memcpy(data, unit.blocks.data() + lba * kBlock, bytes);
            return;
        }
        case SCSIOP_WRITE6:
        case SCSIOP_WRITE:
            std::memcpy(unit.blocks.data() + Lba(srb) * kBlock, data, bytes);
            return;
        default:
            std::fill(data, data + bytes, std::byte{0x11});
            return;
    }
}

BOOLEAN DiskStartIo(PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    State& state = *static_cast<State*>(extension);
    if (srb->Function == SRB_FUNCTION_EXECUTE_SCSI) {
        Answer(*state.disk, srb);
    } else if (srb->Function == SRB_FUNCTION_IO_CONTROL) {
        auto* header = static_cast<PSRB_IO_CONTROL>(srb->DataBuffer);
        header->ReturnCode = header->ControlCode + 1;
        srb->SrbStatus = SRB_STATUS_SUCCESS;
    } else {
        srb->SrbStatus = SRB_STATUS_SUCCESS;
    }
    ScsiPortNotification(RequestComplete, extension, srb);
    ScsiPortNotification(NextRequest, extension);
    return TRUE;
}

class ClassDriverTest : public ::testing::Test {
protected:
    ClassDriverTest() {
        disk.units[{0, 0}] = {};
        disk.units[{2, 0}] = {};
        disk.units[{2, 1}] = {.type = READ_ONLY_DIRECT_ACCESS_DEVICE};
        disk.units[{2, 2}] = {.present = false};
        Adapter& adapter = machine.Start({.start_io = DiskStartIo});
        static_cast<State*>(adapter.DeviceExtension())->disk = &disk;
        adapter.ConfigInfo().MaximumTransferLength = 16 * kBlock;
        class_driver.emplace(adapter);
    }
    ~ClassDriverTest() override { EXPECT_THAT(machine.port.ViolationTexts(), IsEmpty()); }

    PortTestMachine machine;
    SimpleDisk disk;
    std::optional<ClassDriver> class_driver;
};

TEST_F(ClassDriverTest, ScanAsksLunZeroEverywhereAndFurtherLunsWhereADeviceAnswered) {
    const auto found = class_driver->ScanBus();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(std::make_tuple(found[0].target, found[0].lun, found[0].peripheral_type),
              std::make_tuple(0, 0, DIRECT_ACCESS_DEVICE));
    EXPECT_EQ(std::make_tuple(found[2].target, found[2].lun, found[2].peripheral_type),
              std::make_tuple(2, 1, READ_ONLY_DIRECT_ACCESS_DEVICE));
    EXPECT_EQ(found[0].vendor, "QUELLSIM");
    // Seven ids answer LUN 0 (the adapter's own is skipped); two of them are asked 7 more.
    EXPECT_EQ(disk.commands[SCSIOP_INQUIRY], 7u + 2 * 7u);
}

TEST_F(ClassDriverTest, ReadsAndWritesAreSplitToTheMaximumTransferLength) {
    std::vector<std::byte> pattern(40 * kBlock);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = std::byte(static_cast<unsigned>(i * 13 + 1));
    for (const CdbForm form : {CdbForm::Six, CdbForm::Ten}) {
        const TransferResult written = class_driver->Write(0, 0, 4, pattern, kBlock, form);
        EXPECT_TRUE(written.ok);
        EXPECT_EQ(written.requests.size(), 3u);  // 16 + 16 + 8 blocks
        const TransferResult read = class_driver->Read(0, 0, 4, 40, kBlock, form);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(read.data, pattern);
    }
    EXPECT_EQ(disk.largest_transfer, 16 * kBlock);
    EXPECT_EQ(disk.commands[SCSIOP_READ6], 3u);
    EXPECT_EQ(disk.commands[SCSIOP_WRITE], 3u);
}

TEST_F(ClassDriverTest, CheckConditionBringsTheSenseDataAndAUnitAttentionIsRetried) {
    disk.units[{0, 0}].unit_attention = true;
    const CommandResult ready = class_driver->TestUnitReady(0);
    EXPECT_TRUE(ready.Ok());
    EXPECT_EQ(ready.attempts, 2u);

    const TransferResult read = class_driver->Read(0, 0, 48, 4, kBlock);
    EXPECT_FALSE(read.ok);
    ASSERT_EQ(read.requests.size(), 1u);
    const CommandResult& failed = read.requests[0];
    EXPECT_EQ(failed.srb_status, SRB_STATUS_ERROR);
    ASSERT_TRUE(failed.sense);
    EXPECT_EQ(std::make_tuple(failed.sense->key, failed.sense->asc),
              std::make_tuple(SCSI_SENSE_MEDIUM_ERROR, 0x11));
    EXPECT_EQ(failed.attempts, 1u);
}

TEST_F(ClassDriverTest, BusyIsRetriedAfterADelayAndSelectionTimeoutsUpToTheLimit) {
    disk.busy_answers = 2;
    const SimTime before = machine.clock.Now();
    const auto capacity = class_driver->ReadCapacity(0);
    ASSERT_TRUE(capacity);
    EXPECT_EQ(capacity->last_block, kBlocks - 1);
    EXPECT_EQ(capacity->block_size, kBlock);
    EXPECT_GE(machine.clock.Now() - before, 2 * ClassOptions{}.busy_delay);

    const CommandResult absent = class_driver->TestUnitReady(5);
    EXPECT_EQ(absent.srb_status, SRB_STATUS_SELECTION_TIMEOUT);
    EXPECT_EQ(absent.attempts, ClassOptions{}.max_retries + 1);
}

TEST_F(ClassDriverTest, CommandsCarryTheirCdbs) {
    struct Case {
        const char* name;
        std::function<CommandResult()> send;
        std::vector<std::uint8_t> cdb;
    };
    const Case cases[] = {
        {"MODE SENSE(10)",
         [&] { return class_driver->ModeSense10(2, 0, 0x2A, 64); },
         {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 64, 0}},
        {"READ TOC",
         [&] { return class_driver->ReadToc(2, 1, true, 0, 1, 804); },
         {0x43, 0x22, 0, 0, 0, 0, 1, 0x03, 0x24, 0}},
        {"READ CD",
         [&] { return class_driver->ReadCd(2, 1, 0x10, 2, true); },
         {0xBE, 0, 0, 0, 0, 0x10, 0, 0, 2, 0xF8, 0, 0}},
    };
    for (const Case& c : cases) {
        const CommandResult result = c.send();
        EXPECT_TRUE(result.Ok()) << c.name;
        EXPECT_EQ(disk.last_cdb, c.cdb) << c.name;
    }
}

TEST_F(ClassDriverTest, ControlAbortAndResetRequestsComeBack) {
    const std::byte payload[4] = {std::byte{1}, std::byte{2}, std::byte{3}, std::byte{4}};
    const ControlResult control = class_driver->IoControl("QLVXSIOC", 0x80013150, payload);
    EXPECT_TRUE(control.command.Ok());
    EXPECT_EQ(control.return_code, 0x80013151u);
    EXPECT_THAT(control.payload,
                ElementsAre(std::byte{1}, std::byte{2}, std::byte{3}, std::byte{4}));
    EXPECT_TRUE(class_driver->Abort(0, 0).Ok());
    EXPECT_TRUE(class_driver->ResetBus().Ok());
}

}  // namespace
}  // namespace quell::sim::testing
