// The option string: the keyword search itself, and every option's effect on discovery.

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "driver/config/options.h"
#include "tests/support/discovery_fixture.h"

namespace quell::test {
namespace {

struct SearchCase {
    const char* text;  // nullptr: no option string
    const char* keyword;
    bool value;
    ULONG expected;
};

class OptionSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(OptionSearch, AnswersTheFirstOccurrence) {
    const SearchCase& c = GetParam();
    std::optional<std::string> text;
    if (c.text != nullptr) text = c.text;
    PCHAR string = text ? text->data() : nullptr;
    EXPECT_EQ(GetDriverOption(string, c.keyword, static_cast<ULONG>(std::string(c.keyword).size()),
                              c.value ? TRUE : FALSE),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, OptionSearch,
    ::testing::Values(
        SearchCase{nullptr, "fifomax", true, 0}, SearchCase{"", "pio", false, 0},
        SearchCase{"pi", "pio", false, 0},  // shorter than the keyword
        SearchCase{"   \t ", "bmx", false, 0}, SearchCase{"fifomax=32", "fifomax", true, 32},
        SearchCase{"FIFOMAX=32", "fifomax", true, 32},  // case folded
        SearchCase{"fifomax = 32", "fifomax", true, 32},
        SearchCase{"fifomax\t=\t32\tpio", "fifomax", true, 32},
        SearchCase{"fifomax=32k", "fifomax", true, 0},  // not a number
        SearchCase{"fifomax", "fifomax", true, 0},      // no "="
        SearchCase{"fifomax 32", "fifomax", true, 0}, SearchCase{"fifomax=", "fifomax", true, 0},
        SearchCase{"fifomax=  ", "fifomax", true, 0},
        SearchCase{"fifomax=4294967297", "fifomax", true, 1},  // wraps modulo 2^32
        SearchCase{"sync=10 sync=5", "sync", true, 10},        // first occurrence only
        SearchCase{"sync sync=5", "sync", true, 0},            // a bare first one hides the later
        SearchCase{"nodisc-", "disc-", false, 1},              // inside a longer word
        SearchCase{"xxpioxx", "pio", false, 1}, SearchCase{"PIO", "pio", false, 1},
        SearchCase{"pio", "pio", true, 0},  // a value wanted, none given
        SearchCase{"latm=3", "bmx", false, 0}));

TEST(OptionSearchInPlace, FoldsTheWholeStringToLowerCase) {
    std::string text = "FifoMax=32 PIO Sync=10 ~@[Z]";
    GetDriverOption(text.data(), "bmx", 3, FALSE);
    EXPECT_EQ(text, "fifomax=32 pio sync=10 ~@[z]");
}

TEST(OptionSearchInPlace, NeverReadsPastTheTerminator) {
    // Every prefix of a value option, each in a buffer of exactly its own size, so that a read
    // past the terminator shows up under the address sanitizer.
    const std::string full = "fifomax = 12345";
    for (std::size_t length = 0; length <= full.size(); ++length) {
        std::vector<char> buffer(full.begin(), full.begin() + static_cast<long>(length));
        buffer.push_back('\0');
        // A prefix cut inside the number holds the digits so far; before them, no value.
        const std::string prefix = full.substr(0, length);
        const auto first_digit = prefix.find_first_of("0123456789");
        const std::string digits =
            first_digit == std::string::npos ? "" : prefix.substr(first_digit);
        const ULONG expected = digits.empty() ? 0 : static_cast<ULONG>(std::stoul(digits));
        SCOPED_TRACE(prefix);
        EXPECT_EQ(GetDriverOption(buffer.data(), "fifomax", 7, TRUE), expected);
        EXPECT_EQ(GetDriverOption(buffer.data(), "fifomax", 7, FALSE), length >= 7 ? 1u : 0u);
    }
}

// ---- Each option's effect, through discovery with no host quirk -----------------------------

struct EffectCase {
    const char* options;  // nullptr: no option string
    UCHAR mode;
    ULONG maximum_transfer_length;
    USHORT option_flags;
    ULONG chip_clock;
    UCHAR latm;
    UCHAR sync;
};

class OptionEffect : public DiscoveryFixture, public ::testing::WithParamInterface<EffectCase> {};

TEST_P(OptionEffect, SetsTheAdapter) {
    const EffectCase& c = GetParam();
    std::optional<std::string> options;
    if (c.options != nullptr) options = c.options;
    const sim::OfferedAdapter& offer = Discover(options);
    ASSERT_TRUE(offer.Found());
    const ADAPTER_EXTENSION& adapter = Extension(offer);
    EXPECT_EQ(adapter.AdapterTransferMode, c.mode);
    EXPECT_EQ(offer.config.MaximumTransferLength, c.maximum_transfer_length);
    EXPECT_EQ(adapter.OptionFlags, c.option_flags);
    EXPECT_EQ(adapter.ChipClock, c.chip_clock);
    EXPECT_EQ(adapter.LatmSetting, c.latm);
    EXPECT_EQ(adapter.SyncPeriodOption, c.sync);
}

INSTANTIATE_TEST_SUITE_P(
    Options, OptionEffect,
    ::testing::Values(
        EffectCase{nullptr, 3, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"", 3, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"FIFOMAX=32", 3, 32768, 0x0020, 40, 0x20, 0},
        EffectCase{"fifomax=32k", 3, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"fifomax=4194304", 3, 65536, 0x0020, 40, 0x20, 0},  // product wraps to 0
        EffectCase{"pio fifomax=128", 0, 131072, 0x0020, 40, 0x20, 0},
        EffectCase{"disc-", 3, 65536, 0x0021, 40, 0x20, 0},
        EffectCase{"nodisc-", 3, 65536, 0x0021, 40, 0x20, 0},
        EffectCase{"scsi-1", 3, 65536, 0x0030, 40, 0x20, 0},
        EffectCase{"ultra noautop", 3, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"nosg", 3, 65536, 0x00A0, 40, 0x20, 0},
        EffectCase{"mmio", 5, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"pio", 0, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"mmio pio", 0, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"pio bmx", 3, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"bmx pio", 3, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"bmx mmio", 3, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"mclk=33", 3, 65536, 0x0020, 33, 0x20, 0},
        EffectCase{"mclk=20", 3, 65536, 0x0020, 20, 0x20, 0},
        EffectCase{"mclk=50", 3, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"latm=7", 3, 65536, 0x0020, 40, 7, 0},
        EffectCase{"latm=256", 3, 65536, 0x0020, 40, 0x20, 0},  // low byte 0: the default
        EffectCase{"latm=259", 3, 65536, 0x0020, 40, 3, 0},
        EffectCase{"sync=5", 3, 65536, 0x0020, 40, 0x20, 0x32},
        EffectCase{"sync=10", 3, 65536, 0x0020, 40, 0x20, 0x19},
        EffectCase{"sync=20", 3, 65536, 0x0020, 40, 0x20, 0x0C},
        EffectCase{"sync=7", 3, 65536, 0x0020, 40, 0x20, 0x19},
        EffectCase{"sync=10 sync=5", 3, 65536, 0x0020, 40, 0x20, 0x19},
        EffectCase{"sync=261", 3, 65536, 0x0020, 40, 0x20, 0x32},  // low 8 bits are 5
        EffectCase{"sync=0", 3, 65536, 0x0020, 40, 0x20, 0},
        EffectCase{"\tpio\tsync\t=\t20\t", 0, 65536, 0x0020, 40, 0x20, 0x0C},
        EffectCase{"=== \t\t fifomax==3 mclk=33x latm=-1 sync=1e1", 3, 65536, 0x0020, 40, 0x20,
                   0}));

// Whatever the string holds, discovery succeeds with a mode and values from the option table.
TEST_F(DiscoveryFixture, AnyOptionStringLeavesASoundConfiguration) {
    const std::string alphabet =
        "fifomaxdisc-scsi1ultranosgmmiopiobmxnoautopmclklatmsync= \t0123456789K";
    std::mt19937 random(20261211);
    for (int round = 0; round < 200; ++round) {
        std::string options;
        const std::size_t length = random() % 40;
        for (std::size_t i = 0; i < length; ++i) options += alphabet[random() % alphabet.size()];
        SCOPED_TRACE(options);
        const sim::OfferedAdapter& offer = Discover(options);
        ASSERT_TRUE(offer.Found());
        const ADAPTER_EXTENSION& adapter = Extension(offer);
        EXPECT_TRUE(adapter.AdapterTransferMode == 0 || adapter.AdapterTransferMode == 3 ||
                    adapter.AdapterTransferMode == 5);
        EXPECT_TRUE(adapter.ChipClock == 40 || adapter.ChipClock == 33 || adapter.ChipClock == 20);
        EXPECT_NE(offer.config.MaximumTransferLength, 0u);
        EXPECT_NE(adapter.LatmSetting, 0);
        EXPECT_EQ(adapter.OptionFlags & OPTION_AUTO_PROGRAM, 0);
    }
}

// A bus-master request may always have to go through the 64 KiB common buffer, so a larger
// maximum transfer length is held at the buffer's size in that mode only.
TEST_F(DiscoveryFixture, BusMasterTransferLengthStaysWithinTheCommonBuffer) {
    EXPECT_EQ(Discover("fifomax=128").config.MaximumTransferLength, 65536u);
    EXPECT_EQ(Discover("fifomax=128 nosg").config.MaximumTransferLength, 65536u);
    EXPECT_EQ(Discover("fifomax=64").config.MaximumTransferLength, 65536u);
    EXPECT_EQ(Discover("fifomax=128 mmio").config.MaximumTransferLength, 131072u);
}

TEST_F(DiscoveryFixture, NoSgRoutesEveryTargetThroughTheCommonBuffer) {
    const ADAPTER_EXTENSION& adapter = Extension(Discover("nosg"));
    for (const TARGET_STATE& target : adapter.Targets) {
        EXPECT_EQ(target.Flags, TARGET_COMMON_BUFFER);
    }
}

TEST_F(DiscoveryFixture, NoAlignKeepsThePortDriversAlignmentOnlyInQuellmp) {
    const ULONG supplied = Discover("noalign").config.AlignmentMask;
    EXPECT_EQ(supplied, 0u);
    EXPECT_EQ(Discover("").config.AlignmentMask, kTestingMp ? 3u : 0u);
}

}  // namespace
}  // namespace quell::test
