#pragma once
// RAII temporary directories and files, and whole-file helpers.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory under the system's temporary folder, removed with all
// its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
void writeFile(const std::string& path, const std::string& text);
std::vector<uint8_t> readBytes(const std::string& path);
std::string readText(const std::string& path);
bool fileExists(const std::string& path);

// Sets or unsets an environment variable for the scope, restoring it after.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool had_;
    std::string old_;
};

}  // namespace testsupport
