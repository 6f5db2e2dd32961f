// The targets' command sets, executed directly on their logical units: what each device answers,
// the sense data of what it refuses, unit attention after a reset, and the raw image store.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "sim/scsi/block_device.h"
#include "sim/scsi/scanner.h"

namespace quell::sim::scsi {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::unique_ptr<BlockDevice> Disk(std::uint64_t blocks = 100) {
    return MakeDisk({"VENDOR", "PRODUCT NAME", "0042"},
                    std::make_unique<MemoryStorage>(blocks, 512));
}

Sense SenseAfter(CommandSet& unit) {
    const CommandResult sense = unit.Execute(Bytes{0x03, 0, 0, 0, 18, 0});
    return {static_cast<std::uint8_t>(sense.data_in[2] & 0x0F), sense.data_in[12],
            sense.data_in[13]};
}

TEST(TargetCommandsTest, InquiryCarriesTheMachinesStringsAndType) {
    auto disk = Disk();
    const CommandResult inquiry = disk->Execute(Bytes{0x12, 0, 0, 0, 36, 0});
    ASSERT_EQ(inquiry.data_in.size(), 36u);
    EXPECT_EQ(inquiry.data_in[0], device_type::kDisk);
    EXPECT_EQ(std::string(inquiry.data_in.begin() + 8, inquiry.data_in.begin() + 36),
              "VENDOR  PRODUCT NAME    0042");
    EXPECT_EQ(disk->Execute(Bytes{0x12, 0, 0, 0, 5, 0}).data_in.size(), 5u);  // allocation length
}

// What each device refuses, and the sense data it reports for it.
struct Refusal {
    const char* what;
    std::function<std::unique_ptr<CommandSet>()> make;
    Bytes cdb;
    Sense sense;
};

class TargetRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(TargetRefusalTest, ChecksConditionWithTheNamedSense) {
    auto unit = GetParam().make();
    EXPECT_EQ(unit->Execute(GetParam().cdb).status, status::kCheckCondition);
    EXPECT_EQ(SenseAfter(*unit), GetParam().sense);
    EXPECT_EQ(SenseAfter(*unit), NoSense());  // reported once
}

std::unique_ptr<CommandSet> MakeCd() {
    return std::make_unique<CdRom>(Identity{}, std::make_unique<MemoryStorage>(1000, 2048));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, TargetRefusalTest,
    ::testing::Values(
        Refusal{
            "unknown opcode", [] { return Disk(); }, {0xC7, 0, 0, 0, 0, 0}, IllegalRequest(0x20)},
        Refusal{"read past the end",
                [] { return Disk(100); },
                {0x28, 0, 0, 0, 0, 99, 0, 0, 2, 0},
                IllegalRequest(0x21)},
        Refusal{"vital product data",
                [] { return Disk(); },
                {0x12, 1, 0x80, 0, 36, 0},
                IllegalRequest(0x24)},
        Refusal{
            "write to a CD-ROM", MakeCd, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, IllegalRequest(0x20)},
        Refusal{"TOC format", MakeCd, {0x43, 0, 5, 0, 0, 0, 0, 0, 12, 0}, IllegalRequest(0x24)},
        Refusal{"scanner read before scan",
                [] { return std::make_unique<Scanner>(Identity{}); },
                {0x28, 0, 0, 0, 0, 0, 0, 1, 0, 0},
                NotReady(0x04)}),
    [](const auto& info) { return std::string(1, char('A' + info.index)); });

TEST(TargetCommandsTest, UnitAttentionAfterResetSparesInquiryAndIsReportedOnce) {
    auto disk = Disk();
    disk->OnReset();
    EXPECT_EQ(disk->Execute(Bytes{0x12, 0, 0, 0, 36, 0}).status, status::kGood);
    EXPECT_EQ(disk->Execute(Bytes{0x00, 0, 0, 0, 0, 0}).status, status::kCheckCondition);
    EXPECT_EQ(SenseAfter(*disk), UnitAttention(0x29));
    EXPECT_EQ(disk->Execute(Bytes{0x00, 0, 0, 0, 0, 0}).status, status::kGood);
}

TEST(TargetCommandsTest, BlockDevicesReportTheirCapacityAndBlockLength) {
    const auto capacity = [](CommandSet& unit) {
        const auto data = unit.Execute(Bytes{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}).data_in;
        return std::pair<std::uint32_t, std::uint32_t>(
            (data[0] << 24) | (data[1] << 16) | (data[2] << 8) | data[3],
            (data[4] << 24) | (data[5] << 16) | (data[6] << 8) | data[7]);
    };
    auto disk = Disk(100);
    EXPECT_EQ(capacity(*disk), std::make_pair(99u, 512u));
    auto optical = MakeOptical({}, std::make_unique<MemoryStorage>(50, 2048));
    EXPECT_EQ(optical->Execute(Bytes{0x12, 0, 0, 0, 36, 0}).data_in[0], device_type::kOptical);
    EXPECT_EQ(capacity(*optical), std::make_pair(49u, 2048u));
}

TEST(TargetCommandsTest, WriteThenReadReturnsTheData) {
    auto disk = Disk();
    const Bytes write{0x2A, 0, 0, 0, 0, 7, 0, 0, 1, 0};
    const CommandResult asked = disk->Execute(write);
    ASSERT_EQ(asked.direction, DataDirection::Out);
    ASSERT_EQ(asked.data_out_length, 512u);
    Bytes data(512);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3);
    EXPECT_EQ(disk->FinishDataOut(write, data), status::kGood);
    EXPECT_EQ(disk->Execute(Bytes{0x08, 0, 0, 7, 1, 0}).data_in, data);  // READ(6)
}

TEST(TargetCommandsTest, CdRomAnswersReadTocAndReadCdWithTheRequestedSectorParts) {
    auto cd = MakeCd();
    const auto toc = cd->Execute(Bytes{0x43, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0}).data_in;
    ASSERT_EQ(toc.size(), 4u + 2 * 8);
    EXPECT_EQ(toc[1], 18);     // data length
    EXPECT_EQ(toc[6], 1);      // track 1
    EXPECT_EQ(toc[14], 0xAA);  // lead-out at the capacity
    EXPECT_EQ((toc[18] << 8) | toc[19], 1000);
    const auto msf = cd->Execute(Bytes{0x43, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0}).data_in;
    EXPECT_EQ(msf[10], 2);  // block 0 is at 00:02:00
    EXPECT_EQ(cd->Execute(Bytes{0xBE, 0, 0, 0, 0, 5, 0, 0, 2, 0x10, 0, 0}).data_in.size(),
              2u * 2048);
    const auto raw = cd->Execute(Bytes{0xBE, 0, 0, 0, 0, 5, 0, 0, 1, 0xF8, 0, 0}).data_in;
    ASSERT_EQ(raw.size(), 2352u);
    EXPECT_EQ(raw[1], 0xFF);  // sync
    EXPECT_EQ(raw[15], 1);    // mode 1 header
}

TEST(TargetCommandsTest, ScannerAndProcessorMoveTheirOwnData) {
    Scanner scanner(Identity{}, 301, 2);
    EXPECT_EQ(scanner.Execute(Bytes{0x12, 0, 0, 0, 36, 0}).data_in[0], device_type::kScanner);
    EXPECT_EQ(scanner.Execute(Bytes{0x1B, 0, 0, 0, 0, 0}).status, status::kGood);
    const auto lines = scanner.Execute(Bytes{0x28, 0, 0, 0, 0, 0, 0, 0x10, 0, 0}).data_in;
    EXPECT_EQ(lines.size(), 602u);  // the whole image, shorter than asked
    EXPECT_EQ(lines[301], scanner.ImageByte(301));

    Processor processor(Identity{});
    const Bytes send{0x0A, 0, 0, 0, 5, 0};
    ASSERT_EQ(processor.Execute(send).data_out_length, 5u);
    processor.FinishDataOut(send, Bytes{1, 2, 3, 4, 5});
    EXPECT_EQ(processor.Execute(Bytes{0x08, 0, 0, 0, 3, 0}).data_in, (Bytes{1, 2, 3}));
}

TEST(TargetCommandsTest, AbsentLogicalUnitAnswersInquiryWithNoDevice) {
    AbsentUnit absent;
    EXPECT_EQ(absent.Execute(Bytes{0x12, 0, 0, 0, 36, 0}).data_in[0], device_type::kNoUnit);
    EXPECT_EQ(absent.Execute(Bytes{0x00, 0, 0, 0, 0, 0}).status, status::kCheckCondition);
    EXPECT_EQ(absent.Execute(Bytes{0x03, 0, 0, 0, 18, 0}).data_in[12], 0x25);
}

TEST(TargetCommandsTest, ImageFileStoresBlocksAndAMissingFileIsNamed) {
    const std::string path = ::testing::TempDir() + "quell_image_test.img";
    {
        std::ofstream create(path, std::ios::binary);
        create << std::string(4 * 512, '\0');
    }
    {
        ImageFileStorage image(path, 512);
        EXPECT_EQ(image.Blocks(), 4u);
        Bytes block(512, 0x5A);
        EXPECT_TRUE(image.Write(2, block));
        Bytes back(512);
        EXPECT_TRUE(image.Read(2, back));
        EXPECT_EQ(back, block);
    }
    std::remove(path.c_str());
    try {
        ImageFileStorage missing(path, 512);
        ADD_FAILURE() << "opened a missing image";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos);
    }
}

}  // namespace
}  // namespace quell::sim::scsi
