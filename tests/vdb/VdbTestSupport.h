#pragma once
// Helpers of the ztp2vdb tests: caches written by the library, the program
// run in-process with its output captured, the written file read back with
// OpenVDB, and the library started again to compare against.

#include <gtest/gtest.h>
#include <openvdb/openvdb.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "TempPath.h"
#include "VdbConvert.h"
#include "cb/factory/Startup.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"

namespace vdbtest {

struct ProgramRun {
    int code = -1;
    std::string out, err;
};

// The command line, in-process, arguments after the program name.
inline ProgramRun runProgram(std::vector<std::string> args) {
    args.insert(args.begin(), "ztp2vdb");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    ProgramRun r;
    testsupport::CaptureStderr err;
    testsupport::CaptureStdout out;
    r.code = runZtp2Vdb(int(argv.size()), argv.data());
    r.out = out.finish();
    r.err = err.finish();
    return r;
}

// The library, started for a scope with its start-up messages kept quiet.
class Library {
public:
    Library() {
        testsupport::CaptureStderr quiet;
        session_.emplace(true);
    }

private:
    std::optional<Cb::Session> session_;
};

// A ZTP file read back by the library, for the values to compare with.
struct ZtpFile {
    explicit ZtpFile(const std::string& path) : reader(path, "*", "Body") {}
    const Cb::Body& body(const std::string& name) const {
        for (int i = 0; i < reader.bodyCount(); ++i)
            if (reader.bodyName(i) == name) return *reader.storedBody(i);
        throw std::runtime_error("no body " + name);
    }
    Library library;
    Cb::ZtpReader reader;
};

// Every grid of a VDB file by name, and the file's metadata.
struct VdbFile {
    explicit VdbFile(const std::string& path) {
        openvdb::initialize();
        openvdb::io::File file(path);
        file.open();
        metadata = file.getMetadata();
        const openvdb::GridPtrVecPtr all = file.getGrids();
        for (const openvdb::GridBase::Ptr& g : *all) {
            names.push_back(g->getName());
            grids[g->getName()] = g;
        }
        file.close();
    }
    template <class GridT>
    typename GridT::Ptr get(const std::string& name) const {
        const auto found = grids.find(name);
        if (found == grids.end()) return nullptr;
        return openvdb::gridPtrCast<GridT>(found->second);
    }
    std::string meta(const std::string& grid, const std::string& key) const {
        const auto found = grids.find(grid);
        return found == grids.end() ? "(no grid)" : found->second->metaValue<std::string>(key);
    }

    std::vector<std::string> names;  // sorted, as OpenVDB lists them
    std::map<std::string, openvdb::GridBase::Ptr> grids;
    openvdb::MetaMap::Ptr metadata;
};

template <class T>
bool sameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

class VdbTest : public ::testing::Test {
protected:
    // Names of the files in the test's folder.
    std::vector<std::string> folder() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv corix{"CORIX_PATH", dir.path().c_str()};
    const std::string ztp = dir.file("in.ztp");
    const std::string vdb = dir.file("out.vdb");
};

}  // namespace vdbtest
