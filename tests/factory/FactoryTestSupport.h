#pragma once
// Shared by the factory, start-up and plug-in tests: an installation tree
// named by CORIX_PATH, signature files in it, and a guard that leaves the
// library stopped whatever a test did.

#include <filesystem>
#include <string>

#include "TempPath.h"
#include "cb/factory/Startup.h"

namespace factorytest {

// Ends every start-up still open when the scope closes, so a test that
// throws out of Cb::begin leaves the next one a stopped library.
struct LibraryGuard {
    LibraryGuard() = default;
    ~LibraryGuard() {
        while (Cb::startupDepth() > 0) Cb::end();
    }
    LibraryGuard(const LibraryGuard&) = delete;
    LibraryGuard& operator=(const LibraryGuard&) = delete;
};

// Writes `text` to dir/name, creating the directories on the way.
inline std::string writeInto(const std::string& dir, const std::string& name, const std::string& text) {
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/" + name;
    testsupport::writeFile(path, text);
    return path;
}

// A signature of one section with one value, enough to be loaded and
// applied; `note` goes into the description so tests can tell copies apart.
inline std::string smallSignature(const std::string& name, const std::string& note = "") {
    return "BodySignature " + name + " || " + note + "\n{\n    PropSection \"Main\" { Float \"Size\" \"1.0\" }\n}\n";
}

// A temporary installation: CORIX_PATH names its root (no directories under
// it until a test makes them) and CORIX_USER_SIG_PATH is unset.
class Installation {
public:
    Installation() : corixPath_("CORIX_PATH", dir_.path().c_str()), userSigPath_("CORIX_USER_SIG_PATH", nullptr) {}

    const std::string& root() const { return dir_.path(); }
    std::string standardDir() const { return root() + "/server/standard-sig"; }
    std::string userDir() const { return root() + "/server/user-sig"; }
    // A directory beside the server tree, for CORIX_USER_SIG_PATH.
    std::string extraDir(const std::string& name) const { return root() + "/" + name; }

private:
    testsupport::TempDir dir_;
    testsupport::ScopedEnv corixPath_;
    testsupport::ScopedEnv userSigPath_;
};

}  // namespace factorytest
