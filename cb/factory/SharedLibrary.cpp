#include "cb/factory/SharedLibrary.h"

#include <dlfcn.h>

#include <utility>

#include "cb/factory/Files.h"

namespace Cb {

SharedLibrary::~SharedLibrary() { close(); }

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), path_(std::move(other.path_)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
        path_ = std::move(other.path_);
    }
    return *this;
}

SharedLibrary SharedLibrary::open(const std::string& given) {
    const std::string path = toNativePath(given);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return SharedLibrary();
    return SharedLibrary(handle, path);
}

void* SharedLibrary::symbol(const std::string& name) const {
    if (!handle_) return nullptr;
    return dlsym(handle_, name.c_str());
}

void SharedLibrary::close() {
    if (!handle_) return;
    dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace Cb
