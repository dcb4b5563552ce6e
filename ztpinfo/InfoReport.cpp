#include "InfoReport.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/Shape.h"
#include "cb/qel/FrameTime.h"
#include "cb/values/Value.h"
#include "cb/values/ValueBase.h"
#include "cb/values/ValueSection.h"
#include "zt/tile_layout3.h"

namespace ztpinfo {

namespace {

// Channels read before version 12 carry no count or statistics.
constexpr int32_t kHeaderStatisticsVersion = 12;

LayoutReport describeLayout(const zt::tile_layout3& layout) {
    LayoutReport report;
    report.tileSize = layout.tileSize();
    report.voxelSize = layout.cellSize();
    for (int64_t s = 1; s < layout.coarseCount(); ++s)
        if (layout.coarseTile(s)) ++report.coarseTiles;
    for (int64_t s = 0; s < layout.fineCount(); ++s) {
        const zt::tile3* tile = layout.fineTile(s);
        if (!tile) continue;
        ++report.fineTiles;
        const zt::vec3i c = tile->coord();
        if (!report.tileBox) {
            report.tileBox.emplace(c, c);
            continue;
        }
        for (int a = 0; a < 3; ++a) {
            report.tileBox->first[a] = std::min(report.tileBox->first[a], c[a]);
            report.tileBox->second[a] = std::max(report.tileBox->second[a], c[a]);
        }
    }
    return report;
}

std::vector<SectionReport> describeValues(const Cb::Body& body) {
    std::vector<SectionReport> sections;
    const Cb::FrameTime time;
    for (int s = 0; s < body.sectionCount(); ++s) {
        const Cb::ValueSection* section = body.sectionAt(s);
        SectionReport& out = sections.emplace_back();
        out.name = section->name();
        for (int v = 0; v < section->valueCount(); ++v) {
            Cb::ValueBase* value = section->valueAt(v);
            ValueReport& report = out.values.emplace_back();
            report.name = value->ownName();
            report.type = value->typeName();
            report.floating = dynamic_cast<const Cb::Value1f*>(value) || dynamic_cast<const Cb::Value3f*>(value);
            for (int c = 0; c < value->componentCount(); ++c) {
                report.expressions.push_back(value->expression(c));
                std::optional<double> number;
                if (value->isConstant(c)) {
                    try {
                        number = value->evalNumber(time, c, 0);
                    } catch (const std::exception&) {
                        // A constant that does not evaluate is shown by its text alone.
                    }
                }
                report.numbers.push_back(number);
            }
        }
    }
    return sections;
}

void describeChannel(Cb::Channel& channel, int32_t version, Cb::StoredDataFile& stored, const InfoOptions& options,
                     ChannelReport& report) {
    report.name = channel.name();
    report.type = channel.typeName();
    report.hasHeaderStatistics = version >= kHeaderStatisticsVersion;
    report.headerCount = channel.storedCount();
    report.headerMin = channel.storedMin();
    report.headerMax = channel.storedMax();
    report.headerMean = channel.storedMean();
    try {
        report.stored = stored.channel(channel);
        if (options.blocks) {
            if (auto* particles = dynamic_cast<Cb::ParticleChannelBase*>(&channel)) {
                const zt::block3_array_base& storage = particles->rawStorage();
                for (int64_t g = 0; g < storage.blockCount(); ++g) {
                    BlockReport block;
                    block.index = g;
                    if (stored.block(storage, g, block.stored))
                        report.blocks.push_back(block);
                    else if (storage.residentBlock(g))
                        ++report.residentBlocks;
                }
            }
        }
        if (options.stats) report.computed = Cb::computeStatistics(channel);
    } catch (const std::exception& e) {
        report.error = e.what();
    }
}

BodyReport describeBody(Cb::Body& body, int32_t version, Cb::StoredDataFile& stored, const InfoOptions& options) {
    BodyReport report;
    report.name = body.name();
    report.signature = body.signatureName();
    report.layout = describeLayout(body.layout());
    if (options.values) report.sections = describeValues(body);
    std::vector<std::string> kinds;
    for (const auto& [kind, shape] : body.shapes()) kinds.push_back(kind);
    for (const std::string& kind : kinds) {
        Cb::Shape* shape = body.mutableShape(kind);
        ShapeReport& shapeReport = report.shapes.emplace_back();
        shapeReport.name = shape->name();
        for (int c = 0; c < shape->channelCount(); ++c) {
            Cb::Channel* channel = shape->channel(c).mutableGet();
            ChannelReport& channelReport = shapeReport.channels.emplace_back();
            describeChannel(*channel, version, stored, options, channelReport);
            if (kind != "Particle" || channelReport.name != "position") continue;
            report.particles = std::max<int64_t>(channelReport.stored.elements, 0);
            const auto& computed = channelReport.computed;
            if (computed && computed->components == 3 && computed->count > 0)
                report.particleBox.emplace(
                    zt::vec3f{{float(computed->min[0]), float(computed->min[1]), float(computed->min[2])}},
                    zt::vec3f{{float(computed->max[0]), float(computed->max[1]), float(computed->max[2])}});
        }
    }
    return report;
}

}  // namespace

bool FileReport::whole() const {
    if (!opened || !damage.empty()) return false;
    for (const BodyReport& body : bodies)
        for (const ShapeReport& shape : body.shapes)
            for (const ChannelReport& channel : shape.channels)
                if (!channel.error.empty()) return false;
    return true;
}

FileReport inspectFile(const std::string& path, const InfoOptions& options) {
    FileReport report;
    report.path = path;
    std::unique_ptr<Cb::ZtpReader> reader;
    try {
        reader = std::make_unique<Cb::ZtpReader>(path, "*", "Body");
    } catch (const std::exception& e) {
        report.error = e.what();
        return report;
    }
    // The bodies reopen the file by name for their data.
    reader->close();
    report.opened = true;
    report.version = reader->version();
    report.time = reader->time();
    report.headerBodies = reader->headerBodyCount();
    report.damage = reader->damage();
    Cb::StoredDataFile stored(path, reader->version());
    for (int i = 0; i < reader->bodyCount(); ++i) {
        // One body's data at a time: each is described, then freed with the reader.
        if (Cb::Body* body = reader->storedBody(i))
            report.bodies.push_back(describeBody(*body, reader->version(), stored, options));
    }
    return report;
}

}  // namespace ztpinfo
