#include "VdbConvert.h"

#include <openvdb/openvdb.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <numeric>
#include <set>

#include "FieldGrids.h"
#include "PointGrids.h"
#include "VdbFile.h"
#include "cb/Version.h"
#include "cb/factory/Startup.h"
#include "cb/fields/FieldChannel.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleShape.h"
#include "zt/cat.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace {

void warn(const std::string& text) { std::fprintf(stderr, "ztp2vdb: warning: %s\n", text.c_str()); }

// Writes each grid as it comes and notes it in the summary.
class GridWriter {
public:
    GridWriter(VdbFileWriter& file, VdbSummary& summary) : file_(file), summary_(summary) {}
    void write(const openvdb::GridBase::Ptr& grid, int64_t points, bool isPoints) {
        GridSummary s;
        s.name = grid->getName();
        s.type = isPoints ? "points" : grid->valueType();
        s.activeVoxels = isPoints ? 0 : int64_t(grid->activeVoxelCount());
        s.points = points;
        file_.write(grid);
        summary_.grids.push_back(s);
    }

private:
    VdbFileWriter& file_;
    VdbSummary& summary_;
};

void convertFields(const Cb::Body& body, const GridOrigin& origin, const VdbOptions& options, GridWriter& writer) {
    const Cb::Shape& shape = *body.shape("Field");
    const GridSink sink = [&](openvdb::GridBase::Ptr grid) { writer.write(grid, 0, false); };
    for (int c = 0; c < shape.channelCount(); ++c) {
        const Cb::Channel& channel = *shape.channel(c);
        if (!channelSelected(options, channel.name())) continue;
        {
            // A copy of its own loads the values and takes them along when it goes.
            const std::unique_ptr<Cb::Channel> copy(channel.clone());
            const auto* field = dynamic_cast<const Cb::FieldChannelBase*>(copy.get());
            if (!field || !fieldChannelGrids(*field, body.layout(), origin, options.fineOnly, sink))
                warn(zt::cat("channel '", channel.name(), "' (", channel.typeName(), ") of body '", body.name(),
                             "' is no field channel ztp2vdb knows: not written"));
        }
        releaseFreedMemory();
    }
}

void convertParticles(const Cb::Body& body, const GridOrigin& origin, const VdbOptions& options, GridWriter& writer) {
    const auto* shape = dynamic_cast<const Cb::ParticleShape*>(body.shape("Particle").get());
    if (!shape) {
        warn(zt::cat("the Particle shape of body '", body.name(), "' holds no particles ztp2vdb knows: not written"));
        return;
    }
    {
        const PointGridResult result =
            particleGrid(*shape, body.layout().cellSize(), origin, options.fineOnly,
                         [&](const std::string& name) { return channelSelected(options, name); });
        if (result.grid) writer.write(result.grid, result.points, true);
    }
    releaseFreedMemory();
}

// Names given on the command line that picked nothing, most likely mistyped.
class SelectionCheck {
public:
    explicit SelectionCheck(const VdbOptions& options) : options_(options) {}
    void noteBody(const std::string& name) {
        for (const std::string& glob : options_.bodies)
            if (globMatches(glob, name)) globs_.insert(glob);
    }
    void noteShape(const Cb::Shape& shape) {
        for (int c = 0; c < shape.channelCount(); ++c) channels_.insert(shape.channel(c)->name());
        // Every point grid gets ids, running ones without an id64 channel.
        if (shape.name() == "Particle") channels_.insert("id64");
    }
    void warnAboutUnused() const {
        for (const std::string& glob : options_.bodies)
            if (!globs_.count(glob)) warn(zt::cat("no body matches '", glob, "'"));
        for (const std::string& name : options_.channels)
            if (!channels_.count(name)) warn(zt::cat("no converted body has a channel '", name, "'"));
    }

private:
    const VdbOptions& options_;
    std::set<std::string> globs_, channels_;
};

openvdb::MetaMap fileMetadata(const Cb::ZtpReader& reader, const std::string& input) {
    openvdb::MetaMap meta;
    meta.insertMeta("creator", openvdb::StringMetadata(zt::cat("ztp2vdb ", CB_VERSION_STRING)));
    meta.insertMeta("ztp_source", openvdb::StringMetadata(input));
    meta.insertMeta("ztp_time", openvdb::DoubleMetadata(reader.time()));
    meta.insertMeta("ztp_version", openvdb::Int32Metadata(reader.version()));
    return meta;
}

void refuseOutputOverInput(const VdbOptions& options) {
    std::error_code ec;
    if (std::filesystem::equivalent(options.input, options.output, ec))
        throw ztx::base(zt::cat("The output ", options.output, " is the input file"));
}

}  // namespace

int64_t VdbSummary::activeVoxels() const {
    return std::accumulate(grids.begin(), grids.end(), int64_t(0),
                           [](int64_t n, const GridSummary& g) { return n + g.activeVoxels; });
}

int64_t VdbSummary::points() const {
    return std::accumulate(grids.begin(), grids.end(), int64_t(0),
                           [](int64_t n, const GridSummary& g) { return n + g.points; });
}

bool convertToVdb(const VdbOptions& options, VdbSummary& summary) {
    summary = VdbSummary();
    try {
        refuseOutputOverInput(options);
        openvdb::initialize();
        Cb::Session library(true);
        {
            Cb::ZtpReader reader(options.input, "*", "Body");
            if (!reader.damage().empty() && !options.partial) {
                std::fprintf(stderr,
                             "ztp2vdb: a damaged body record ends %s after %d bodies: nothing written (--partial "
                             "converts the bodies read before it)\n",
                             options.input.c_str(), reader.bodyCount());
                return false;
            }
            VdbFileWriter file(options.output, fileMetadata(reader, options.input));
            GridWriter writer(file, summary);
            SelectionCheck selection(options);
            for (int i = 0; i < reader.bodyCount(); ++i) {
                const Cb::Body* body = reader.storedBody(i);
                if (!body) continue;
                selection.noteBody(body->name());
                if (!bodySelected(options, body->name())) continue;
                const GridOrigin origin{body->name(), body->signatureName(), reader.time()};
                if (options.fields && body->hasShape("Field")) {
                    selection.noteShape(*body->shape("Field"));
                    convertFields(*body, origin, options, writer);
                }
                if (options.points && body->hasShape("Particle")) {
                    selection.noteShape(*body->shape("Particle"));
                    convertParticles(*body, origin, options, writer);
                }
            }
            file.commit();
            selection.warnAboutUnused();
            // The bodies go before the library stops: plug-in bodies need their code until then.
            reader.close();
        }
        library.stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Unhandled exception: %s\n", e.what());
        return false;
    }
    return true;
}

std::string describeSummary(const VdbSummary& summary, const std::string& output) {
    size_t width = 4;
    for (const GridSummary& g : summary.grids) width = std::max(width, g.name.size());
    std::string text = zt::cat("ztp2vdb: wrote ", output, "\n");
    for (const GridSummary& g : summary.grids) {
        char line[512];
        const bool points = g.type == "points";
        std::snprintf(line, sizeof line, "  %-*s  %-6s %12lld %s\n", int(width), g.name.c_str(), g.type.c_str(),
                      static_cast<long long>(points ? g.points : g.activeVoxels), points ? "points" : "active voxels");
        text += line;
    }
    text += zt::cat("  ", summary.grids.size(), summary.grids.size() == 1 ? " grid, " : " grids, ",
                    summary.activeVoxels(), " active voxels, ", summary.points(), " points\n");
    return text;
}

int runZtp2Vdb(int argc, char** argv) {
    VdbOptions options;
    std::string error;
    if (!parseVdbOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "%s\n%s", error.c_str(), vdbUsage().c_str());
        return 1;
    }
    if (options.help) {
        std::fputs(vdbUsage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("ztp2vdb %s (OpenVDB %s)\n", CB_VERSION_STRING, openvdb::getLibraryVersionString());
        return 0;
    }
    VdbSummary summary;
    if (!convertToVdb(options, summary)) return 1;
    std::fputs(describeSummary(summary, options.output).c_str(), stdout);
    std::fflush(stdout);
    return 0;
}
