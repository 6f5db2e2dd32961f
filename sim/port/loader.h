// Loads a driver image as a system loader would and calls its entry point.
#pragma once

#include <filesystem>
#include <string>

#include "host/ntdef.h"

namespace quell::sim {

class DriverImage {
public:
    using EntryPoint = ULONG (*)(PVOID, PVOID);

    // Opens the image and resolves DriverEntry; throws std::runtime_error with the loader's
    // message when either fails.
    explicit DriverImage(const std::filesystem::path& path);
    ~DriverImage();
    DriverImage(DriverImage&& other) noexcept;
    DriverImage& operator=(DriverImage&& other) noexcept;
    DriverImage(const DriverImage&) = delete;
    DriverImage& operator=(const DriverImage&) = delete;

    // Calls DriverEntry with the two opaque values a system loader passes (its driver object
    // and registry path); the driver hands them on to ScsiPortInitialize unchanged.
    ULONG CallEntry(PVOID argument1, PVOID argument2) const { return entry_(argument1, argument2); }

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
    void* handle_ = nullptr;
    EntryPoint entry_ = nullptr;
};

}  // namespace quell::sim
