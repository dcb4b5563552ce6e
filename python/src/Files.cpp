#include "Files.h"

#include <pybind11/pybind11.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "ExportParticles.h"
#include "cb/factory/Files.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace py = pybind11;

namespace ztpy {

namespace {

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// A new empty file beside `path`, named after it; returns its name.
std::string temporaryBeside(const std::string& path) {
    const std::filesystem::path target(path);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return Cb::createFileBeside(path);
}

}  // namespace

void writeCache(const std::string& path, const std::vector<std::shared_ptr<BodyHandle>>& bodies, double time,
                bool compress) {
    LibraryLock lock;
    std::vector<Cb::Body*> toWrite;
    for (const auto& handle : bodies) {
        const std::string source = handle->sourcePath();
        if (!source.empty() && sameFile(source, path))
            throw ztx::base(zt::cat("Cannot write body '", handle->body().name(), "' over ", path,
                                    ", the file its data are read from: write to another path"));
        toWrite.push_back(&handle->body());
    }
    const auto session = Session::acquire();
    GilRelease released;
    const std::string temporary = temporaryBeside(path);
    try {
        Cb::ZtpWriter writer;
        writer.setTime(time);
        writer.open(temporary);
        for (Cb::Body* body : toWrite) writer.writeBody(*body, "*.*", compress);
        writer.close();
        if (!Cb::replaceFile(temporary, path))
            throw ztx::base(zt::cat("Cannot rename ", temporary, " to ", path, ": ", std::strerror(errno)));
    } catch (...) {
        std::remove(temporary.c_str());
        throw;
    }
}

ExportResult exportTxscene(const std::string& input, const std::string& output, const std::string& pluginName,
                           float radius, float fps, float frame) {
    LibraryLock lock;
    // The module's session stays up around the converter's own start and end,
    // so its nested start-up finds the library running.
    const auto session = Session::acquire();
    ExportRequest request{input, output, pluginName, radius, fps, frame, false};
    ExportSummary summary;
    bool written = false;
    {
        GilRelease released;
        written = exportParticles(request, &summary);
    }
    if (!written) throw ztx::base(summary.failure.empty() ? std::string("the conversion failed") : summary.failure);
    return ExportResult{summary.particles, summary.min, summary.max, summary.centre};
}

}  // namespace ztpy
