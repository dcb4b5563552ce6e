#include "InfoOutput.h"

#include <array>
#include <string>
#include <type_traits>

namespace ztpinfo {

namespace {

template <class V>
std::string vecText(const V& v, int n = 3) {
    std::string text = "(";
    for (int c = 0; c < n; ++c) {
        if (c) text += ", ";
        if constexpr (std::is_same_v<typename V::value_type, float>)
            text += numberText(v[c]);
        else
            text += std::to_string(v[c]);
    }
    return text + ")";
}

std::string statsText(const std::array<double, Cb::ChannelStatistics::kMaxComponents>& values,
                      const Cb::ChannelStatistics& stats, bool asFloat) {
    std::string text = stats.components > 1 ? "(" : "";
    for (int c = 0; c < stats.components; ++c) {
        if (c) text += ", ";
        const double v = values[size_t(c)];
        text += asFloat ? numberText(float(v)) : numberText(v);
    }
    return stats.components > 1 ? text + ")" : text;
}

std::string pad(std::string text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string padLeft(const std::string& text, size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

std::string countText(int64_t n) { return n < 0 ? std::string("?") : std::to_string(n); }

void printValues(std::ostream& out, const BodyReport& body) {
    out << "    values\n";
    for (const SectionReport& section : body.sections) {
        out << "      section " << jsonQuoted(section.name) << '\n';
        for (const ValueReport& value : section.values) {
            out << "        " << jsonQuoted(value.name) << ' ' << value.type;
            for (const std::string& e : value.expressions) out << ' ' << jsonQuoted(e);
            bool constant = false;
            for (const auto& n : value.numbers) constant = constant || n.has_value();
            if (constant) {
                out << " =";
                for (size_t c = 0; c < value.numbers.size(); ++c)
                    out << (c ? ", " : " ")
                        << (!value.numbers[c]  ? std::string("?")
                            : value.floating ? numberText(float(*value.numbers[c]))
                                             : numberText(*value.numbers[c]));
            }
            out << '\n';
        }
    }
}

void printChannel(std::ostream& out, const ChannelReport& channel, const InfoOptions& options) {
    const Cb::StoredChannel& s = channel.stored;
    out << "      " << pad(channel.name, 18) << ' ' << pad(channel.type, 22) << padLeft(countText(s.elements), 12)
        << padLeft(countText(s.recordBytes), 14) << "  " << Cb::storedCompressionName(s.compression);
    if (s.blocks > 0) out << ", " << s.blocks << (s.blocks == 1 ? " block" : " blocks");
    out << '\n';
    if (!channel.error.empty()) out << "        error: " << channel.error << '\n';
    if (options.stats && channel.computed) {
        const Cb::ChannelStatistics& c = *channel.computed;
        if (c.count == 0) {
            out << "        computed: no values\n";
        } else {
            out << "        computed: min " << statsText(c.min, c, c.floating) << "  max "
                << statsText(c.max, c, c.floating) << "  mean ";
            std::array<double, Cb::ChannelStatistics::kMaxComponents> means{};
            for (int k = 0; k < c.components; ++k) means[size_t(k)] = c.mean(k);
            out << statsText(means, c, c.floating);
            if (c.notANumber > 0) out << "  (" << c.notANumber << " NaN)";
            out << '\n';
        }
    }
    if (options.stats && channel.hasHeaderStatistics)
        out << "        header:   min " << vecText(channel.headerMin) << "  max " << vecText(channel.headerMax)
            << "  mean " << vecText(channel.headerMean) << "  count " << channel.headerCount << '\n';
    if (options.blocks) {
        for (const BlockReport& b : channel.blocks)
            out << "        block " << b.index << "  tile " << vecText(b.stored.tile) << "  "
                << b.stored.elements << " elements  offset " << b.stored.fileOffset << "  "
                << b.stored.storedBytes << " bytes  " << (b.stored.compressed ? "compressed" : "raw") << '\n';
        if (channel.residentBlocks > 0)
            out << "        (" << channel.residentBlocks << " blocks in memory, not in the file)\n";
    }
}

}  // namespace

std::pair<zt::vec3f, zt::vec3f> worldBox(const LayoutReport& layout) {
    const float span = float(layout.tileSize) * layout.voxelSize;
    std::pair<zt::vec3f, zt::vec3f> box{};
    for (int a = 0; a < 3; ++a) {
        box.first[a] = float(layout.tileBox->first[a]) * span;
        box.second[a] = float(layout.tileBox->second[a] + 1) * span;
    }
    return box;
}

void printText(std::ostream& out, const FileReport& file, const InfoOptions& options) {
    if (!file.opened) {
        out << file.path << ": unreadable: " << file.error << "\n\n";
        return;
    }
    out << file.path << ": version " << file.version << ", time " << numberText(file.time) << ", "
        << file.headerBodies << (file.headerBodies == 1 ? " body" : " bodies") << '\n';
    for (const BodyReport& body : file.bodies) {
        out << "  body " << jsonQuoted(body.name) << "  signature " << body.signature << "  " << body.particles
            << " particles\n";
        const LayoutReport& l = body.layout;
        out << "    layout: tile size " << l.tileSize << ", voxel size " << numberText(l.voxelSize) << ", "
            << l.fineTiles << " fine and " << l.coarseTiles << " coarse tiles\n";
        if (l.tileBox) {
            const auto box = worldBox(l);
            out << "    fine tiles " << vecText(l.tileBox->first) << " to " << vecText(l.tileBox->second)
                << ", box " << vecText(box.first) << " to " << vecText(box.second) << '\n';
        }
        if (options.stats) {
            if (body.particleBox)
                out << "    particles (computed): box " << vecText(body.particleBox->first) << " to "
                    << vecText(body.particleBox->second) << '\n';
            else
                out << "    particles (computed): no positions\n";
        }
        if (options.values) printValues(out, body);
        for (const ShapeReport& shape : body.shapes) {
            out << "    shape " << shape.name << '\n';
            out << "      " << pad("channel", 18) << ' ' << pad("type", 22) << padLeft("elements", 12)
                << padLeft("stored bytes", 14) << "  data\n";
            for (const ChannelReport& channel : shape.channels) printChannel(out, channel, options);
        }
    }
    if (!file.damage.empty())
        out << "  damaged: " << file.damage << " (" << file.bodies.size() << " of " << file.headerBodies
            << " bodies read)\n";
    out << '\n';
}

}  // namespace ztpinfo
