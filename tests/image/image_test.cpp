// The loadable images as a system loader sees them: DriverEntry is their only export, every
// import is a routine the host interface declares, and loading one registers the driver.

#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "sim/nt/nt_kernel.h"
#include "sim/port/loader.h"
#include "sim/port/port_driver.h"

namespace quell::test {
namespace {

const std::filesystem::path kImageDir = QUELL_IMAGE_DIR;
const std::filesystem::path kHostDir = QUELL_HOST_DIR;

struct DynamicSymbols {
    std::set<std::string> defined;
    std::set<std::string> undefined;
};

// Reads the dynamic symbol table of a 32-bit ELF image.
DynamicSymbols ReadDynamicSymbols(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(file)), {});
    DynamicSymbols symbols;
    if (image.size() < sizeof(Elf32_Ehdr)) return symbols;
    Elf32_Ehdr header;
    std::memcpy(&header, image.data(), sizeof(header));
    for (int i = 0; i < header.e_shnum; ++i) {
        Elf32_Shdr section;
        std::memcpy(&section, image.data() + header.e_shoff + i * sizeof(Elf32_Shdr),
                    sizeof(section));
        if (section.sh_type != SHT_DYNSYM) continue;
        Elf32_Shdr strings;
        std::memcpy(&strings, image.data() + header.e_shoff + section.sh_link * sizeof(Elf32_Shdr),
                    sizeof(strings));
        for (std::size_t s = 1; s < section.sh_size / sizeof(Elf32_Sym); ++s) {
            Elf32_Sym symbol;
            std::memcpy(&symbol, image.data() + section.sh_offset + s * sizeof(Elf32_Sym),
                        sizeof(symbol));
            const std::string name = image.data() + strings.sh_offset + symbol.st_name;
            if (name.empty()) continue;
            (symbol.st_shndx == SHN_UNDEF ? symbols.undefined : symbols.defined).insert(name);
        }
    }
    return symbols;
}

// Every routine declared in host/: a name followed by its parameter list on a declaration line.
std::set<std::string> HostRoutines() {
    std::set<std::string> routines;
    const std::regex declaration(R"(^[A-Za-z_][A-Za-z0-9_ \*]*[ \*]([A-Za-z_][A-Za-z0-9_]*)\()");
    for (const auto& entry : std::filesystem::directory_iterator(kHostDir)) {
        std::ifstream file(entry.path());
        for (std::string line; std::getline(file, line);) {
            std::smatch match;
            if (line.starts_with("typedef") || line.starts_with("static_assert")) continue;
            if (std::regex_search(line, match, declaration)) routines.insert(match[1]);
        }
    }
    return routines;
}

class ImageTest : public ::testing::TestWithParam<const char*> {
protected:
    std::filesystem::path Image() const { return kImageDir / GetParam(); }
};

TEST_P(ImageTest, ExportsOnlyDriverEntry) {
    const auto symbols = ReadDynamicSymbols(Image());
    EXPECT_EQ(symbols.defined, std::set<std::string>{"DriverEntry"});
}

TEST_P(ImageTest, ImportsOnlyHostRoutines) {
    const auto symbols = ReadDynamicSymbols(Image());
    const auto host = HostRoutines();
    ASSERT_TRUE(host.contains("ScsiPortInitialize"));
    ASSERT_FALSE(symbols.undefined.empty());
    for (const auto& name : symbols.undefined) {
        EXPECT_TRUE(host.contains(name)) << name << " is not a host routine";
    }
}

TEST_P(ImageTest, LoadingRegistersTheDriverWithThePortDriver) {
    sim::NtKernel kernel;
    sim::PortDriver port;
    sim::NtKernel::Binding kernel_binding(kernel);
    sim::PortDriver::Binding port_binding(port);
    const sim::DriverImage image(Image());
    int driver_object = 0;
    EXPECT_EQ(image.CallEntry(&driver_object, nullptr), sim::kPortStatusSuccess);
    ASSERT_EQ(port.Registrations().size(), 1u);
    EXPECT_EQ(port.Registrations()[0].vendor_id, "1145");
    EXPECT_EQ(port.Registrations()[0].argument1, &driver_object);
}

INSTANTIATE_TEST_SUITE_P(Deliverables, ImageTest, ::testing::Values("quellmp.so", "quellnt.so"));

TEST(ImageLoaderTest, MissingImageIsAClearError) {
    EXPECT_THROW(sim::DriverImage(kImageDir / "absent.so"), std::runtime_error);
}

}  // namespace
}  // namespace quell::test
