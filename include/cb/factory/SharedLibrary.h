#pragma once
// Cb::SharedLibrary: one loaded plug-in library, unloaded when the object is
// destroyed. Move-only, so exactly one owner unloads each handle.

#include <string>

namespace Cb {

class SharedLibrary {
public:
    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads `path` (made native, see toNativePath) with every symbol resolved now and none exported to later
    // loads. Returns an empty object when the library cannot be loaded.
    static SharedLibrary open(const std::string& path);

    bool loaded() const { return handle_ != nullptr; }
    const std::string& path() const { return path_; }
    // The address of an exported symbol, or null.
    void* symbol(const std::string& name) const;
    // Unloads now (no-op when empty).
    void close();

private:
    SharedLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}

    void* handle_ = nullptr;
    std::string path_;
};

}  // namespace Cb
