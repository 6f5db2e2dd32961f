// quellsim: puts a machine together, loads one of the drivers and shows what happened.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>

#include "sim/nt/nt_kernel.h"
#include "sim/port/loader.h"
#include "sim/port/port_driver.h"
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
    app.add_option("--driver", driver, "driver build to load: nt (quellnt) or mp (quellmp)")
        ->check(CLI::IsMember({"nt", "mp"}));
    app.add_option("--image-dir", image_dir, "folder that holds quellnt.so and quellmp.so")
        ->check(CLI::ExistingDirectory);
    CLI11_PARSE(app, argc, argv);

    try {
        const auto path = std::filesystem::path(image_dir) / ("quell" + driver + ".so");
        quell::sim::NtKernel kernel;
        quell::sim::PortDriver port;
        quell::sim::NtKernel::Binding kernel_binding(kernel);
        quell::sim::PortDriver::Binding port_binding(port);

        const quell::sim::DriverImage image(path);
        // The system loader passes its driver object and registry path; the driver treats
        // them as opaque, so any two distinct values serve.
        static int driver_object;
        static int registry_path;
        const ULONG status = image.CallEntry(&driver_object, &registry_path);

        quell::tools::PrintRegistrationReport(std::cout, image.Path(), status,
                                              port.Registrations());
        return port.Registrations().empty() ? 1 : 0;
    } catch (const std::exception& error) {
        std::cerr << "quellsim: " << error.what() << "\n";
        return 1;
    }
}
