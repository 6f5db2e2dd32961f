#include "sim/port/loader.h"

#include <dlfcn.h>

#include <stdexcept>
#include <utility>

namespace quell::sim {

DriverImage::DriverImage(const std::filesystem::path& path) : path_(path) {
    // Bind every symbol now: an image that needs a routine the host does not offer fails here,
    // not in the middle of a request.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        throw std::runtime_error("cannot load driver image " + path.string() + ": " + dlerror());
    }
    void* entry = dlsym(handle_, "DriverEntry");
    if (entry == nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
        throw std::runtime_error("driver image " + path.string() + " has no DriverEntry");
    }
    entry_ = reinterpret_cast<EntryPoint>(entry);
}

DriverImage::~DriverImage() {
    if (handle_ != nullptr) {
        dlclose(handle_);
    }
}

DriverImage::DriverImage(DriverImage&& other) noexcept
    : path_(std::move(other.path_)),
      handle_(std::exchange(other.handle_, nullptr)),
      entry_(std::exchange(other.entry_, nullptr)) {}

DriverImage& DriverImage::operator=(DriverImage&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
        path_ = std::move(other.path_);
        handle_ = std::exchange(other.handle_, nullptr);
        entry_ = std::exchange(other.entry_, nullptr);
    }
    return *this;
}

}  // namespace quell::sim
