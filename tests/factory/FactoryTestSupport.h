#pragma once
// Shared by the factory, start-up and plug-in tests: an installation tree
// named by CORIX_PATH, signature files in it, and a guard that leaves the
// library stopped whatever a test did.

#include <filesystem>
#include <string>

#include "TempPath.h"
#include "cb/factory/Startup.h"
#include "cb/model/Body.h"

namespace factorytest {

// Ends every start-up still open, so a test that throws out of Cb::begin
// leaves the next one a stopped library.
struct LibraryGuard {
    ~LibraryGuard() { while (Cb::startupDepth() > 0) Cb::end(); }
};

// Writes `text` to dir/name, creating the directories on the way.
inline std::string writeInto(const std::string& dir, const std::string& name, const std::string& text) {
    std::filesystem::create_directories(dir);
    testsupport::writeFile(dir + "/" + name, text);
    return dir + "/" + name;
}

// One section with one value, enough to be loaded and applied.
inline std::string smallSignature(const std::string& name) {
    return "BodySignature " + name + "\n{\n    PropSection \"Main\" { Float \"Size\" \"1.0\" }\n}\n";
}

// Body code for signatures without a plug-in.
inline Cb::Object* allocNamed(const char*, const char* name) { return new Cb::Body(name); }

// A temporary installation: CORIX_PATH names its root (empty until a test
// fills it) and CORIX_USER_SIG_PATH is unset.
struct Installation {
    testsupport::TempDir dir;
    testsupport::ScopedEnv corixPath{"CORIX_PATH", dir.path().c_str()};
    testsupport::ScopedEnv userSigPath{"CORIX_USER_SIG_PATH", nullptr};
    const std::string root = dir.path(), standardDir = root + "/server/standard-sig",
                      userDir = root + "/server/user-sig";
};

}  // namespace factorytest
