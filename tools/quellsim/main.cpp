// quellsim: puts a machine together, loads one of the drivers and shows what happened.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include "sim/machine/machine.h"
#include "sim/port/loader.h"
#include "tools/quellsim/discovery_report.h"
#include "tools/quellsim/registration_report.h"

namespace {

// The driver images are built next to quellsim.
std::filesystem::path DefaultImageDirectory() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : self.parent_path();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"quellsim: loads a quell driver into a simulated machine and runs it"};
    std::string driver = "nt";
    std::string image_dir = DefaultImageDirectory().string();
    std::optional<std::string> options;
    app.add_option("--driver", driver, "driver build to load: nt (quellnt) or mp (quellmp)")
        ->check(CLI::IsMember({"nt", "mp"}));
    app.add_option("--image-dir", image_dir, "folder that holds quellnt.so and quellmp.so")
        ->check(CLI::ExistingDirectory);
    app.add_option("--options", options, "the driver option string the port driver hands over");
    CLI11_PARSE(app, argc, argv);

    try {
        const auto path = std::filesystem::path(image_dir) / ("quell" + driver + ".so");
        quell::sim::MachineDescription description = quell::sim::DefaultMachineDescription();
        description.option_string = options;
        quell::sim::Machine machine(description);
        machine.SetPersonality(driver == "mp" ? quell::sim::PortPersonality::W9x
                                              : quell::sim::PortPersonality::Nt);
        const quell::sim::Machine::Bindings bindings(machine);

        const quell::sim::DriverImage image(path);
        // The system loader passes its driver object and registry path; the driver treats
        // them as opaque, so any two distinct values serve.
        static int driver_object;
        static int registry_path;
        const ULONG status = image.CallEntry(&driver_object, &registry_path);

        quell::tools::PrintRegistrationReport(std::cout, image.Path(), status,
                                              machine.port.Registrations());
        quell::tools::PrintDiscoveryReport(std::cout, machine, machine.port.discovery());
        return machine.port.Registrations().empty() ||
                       machine.port.discovery().FoundAdapters().empty()
                   ? 1
                   : 0;
    } catch (const std::exception& error) {
        std::cerr << "quellsim: " << error.what() << "\n";
        return 1;
    }
}
