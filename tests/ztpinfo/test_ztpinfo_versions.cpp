// ztpinfo on hand-made caches of every version from 1 to 16: its JSON read
// back and checked against what went into the file, the blocks against the
// file's own bytes and the library's storedBlockInfo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "CaptureOutput.h"
#include "HandMadeCache.h"
#include "InfoTestSupport.h"
#include "TempPath.h"
#include "cb/factory/Startup.h"
#include "cb/io/StoredData.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/Shape.h"

using infotest::CacheBlock;
using infotest::HandMadeCache;
using infotest::Json;

namespace {

std::vector<zt::vec3f> particlesIn(const zt::vec3i& tile, int n) {
    std::vector<zt::vec3f> v;
    for (int i = 0; i < n; ++i)
        v.push_back({{float(tile[0]) + 0.1f + 0.02f * float(i), float(tile[1]) + 0.5f,
                      float(tile[2]) + 0.9f - 0.015f * float(i)}});
    return v;
}

HandMadeCache cacheOf(int32_t version) {
    HandMadeCache cache;
    cache.version = version;
    cache.compressPoints = version % 2 == 1;
    const zt::vec3i tiles[3] = {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, -1}}};
    const int counts[3] = {5, 40, 1};
    for (int t = 0; t < 3; ++t) cache.blocks.push_back({tiles[t], particlesIn(tiles[t], counts[t]), t == 1});
    return cache;
}

// Per component: minimum, maximum, mean (in double, as the program sums).
struct Expected {
    std::vector<double> min, max, mean;
};

template <class T, class Get>
Expected expectedOf(const std::vector<T>& values, int components, Get get) {
    Expected e;
    for (int c = 0; c < components; ++c) {
        double lo = std::numeric_limits<double>::infinity(), hi = -lo, sum = 0;
        for (const T& v : values) {
            const double x = get(v, c);
            lo = std::min(lo, x);
            hi = std::max(hi, x);
            sum += x;
        }
        e.min.push_back(lo);
        e.max.push_back(hi);
        e.mean.push_back(sum / double(values.size()));
    }
    return e;
}

Expected expectedVec(const std::vector<zt::vec3f>& values) {
    return expectedOf(values, 3, [](const zt::vec3f& v, int c) { return double(v[c]); });
}

// Float channels print their figures as the shortest text of the float,
// which reads back as that float.
void checkStats(const Json& stats, const Expected& e, int64_t count, bool floating) {
    ASSERT_FALSE(stats.isNull());
    EXPECT_EQ(stats["count"].integer(), count);
    EXPECT_EQ(stats["notANumber"].integer(), 0);
    const auto as = [floating](double v) { return floating ? double(float(v)) : v; };
    for (size_t c = 0; c < e.min.size(); ++c) {
        EXPECT_EQ(as(stats["min"][c].number()), as(e.min[c])) << c;
        EXPECT_EQ(as(stats["max"][c].number()), as(e.max[c])) << c;
        EXPECT_EQ(as(stats["mean"][c].number()), as(e.mean[c])) << c;
    }
}

const Json& channelOf(const Json& body, const std::string& shape, const std::string& channel) {
    for (const Json& s : body["shapes"].array())
        if (s["name"].text() == shape)
            for (const Json& c : s["channels"].array())
                if (c["name"].text() == channel) return c;
    throw std::runtime_error("no channel " + shape + "." + channel);
}

using InfoVersions = infotest::LibraryTest;

TEST_F(InfoVersions, EveryVersionShowsWhatWentIntoTheFile) {
    for (int32_t version = 1; version <= 16; ++version) {
        SCOPED_TRACE(::testing::Message() << "version " << version);
        const HandMadeCache cache = cacheOf(version);
        const std::string path = dir.file("v" + std::to_string(version) + ".ztp");
        const std::vector<uint8_t> bytes = cache.bytes();
        testsupport::writeFile(path, bytes);

        const infotest::Run run = infotest::runInfo({"--json", "--stats", "--blocks", "--values", path});
        if (run.code != 0) {
            ADD_FAILURE() << run.err << run.out;
            continue;
        }
        const Json files = infotest::parseJson(run.out);
        ASSERT_EQ(files.size(), 1u);
        const Json& file = files[0];
        EXPECT_EQ(file.keys(), (std::vector<std::string>{"file", "ok", "error", "version", "time", "bodyCount",
                                                         "bodiesRead", "damage", "bodies"}));
        EXPECT_EQ(file["file"].text(), path);
        EXPECT_TRUE(file["ok"].flag() && file["error"].isNull() && file["damage"].isNull());
        EXPECT_EQ(file["version"].integer(), version);
        EXPECT_EQ(file["time"].number(), 1.5);
        EXPECT_TRUE(file["bodyCount"].integer() == 1 && file["bodiesRead"].integer() == 1);

        const Json& body = file["bodies"][0];
        EXPECT_EQ(body["name"].text(), "Splash");
        EXPECT_EQ(body["signature"].text(), version >= 9 ? "Particle-Liquid" : "Body");
        EXPECT_EQ(body["particles"].integer(), 46);
        const Json& layout = body["layout"];
        EXPECT_EQ(layout["tileSize"].integer(), 2);
        EXPECT_EQ(layout["voxelSize"].number(), 0.5);
        EXPECT_EQ(layout["fineTiles"].integer(), 3);
        const std::vector<int64_t> tileBox = {layout["tileBox"]["min"][0].integer(), layout["tileBox"]["min"][1].integer(),
                                              layout["tileBox"]["min"][2].integer(), layout["tileBox"]["max"][0].integer(),
                                              layout["tileBox"]["max"][1].integer(), layout["tileBox"]["max"][2].integer()};
        EXPECT_EQ(tileBox, (std::vector<int64_t>{0, 0, -1, 1, 1, 0}));
        EXPECT_EQ(layout["box"]["min"][2].number(), -1.0);
        EXPECT_EQ(layout["box"]["max"][0].number(), 2.0);

        // Values: texts as stored, numbers only for constants.
        const Json& sections = body["sections"];
        ASSERT_EQ(sections.size(), version >= 9 ? 1u : 2u);  // old files gain "Motion Type"
        const Json& look = sections[0];
        EXPECT_EQ(look["name"].text(), "Look");
        ASSERT_EQ(look["values"].size(), 3u);
        EXPECT_EQ(look["values"][0]["type"].text(), "value1f");
        EXPECT_EQ(look["values"][0]["expressions"][0].text(), "0.25");
        EXPECT_EQ(look["values"][0]["numbers"][0].number(), 0.25);
        const Json& wind = look["values"][1];
        EXPECT_EQ(wind["name"].text(), "Wind");
        EXPECT_EQ(wind["expressions"][1].text(), "2 * 3");
        EXPECT_TRUE(wind["numbers"][0].number() == 1 && wind["numbers"][1].isNull() &&
                    wind["numbers"][2].number() == -0.5);
        EXPECT_EQ(look["values"][2]["expressions"][0].text(), "say \"hi\"\tthere");

        // Particle channels: counts, storage, header figures as stored,
        // statistics from the data.
        std::vector<zt::vec3f> all;
        for (const CacheBlock& b : cache.blocks) all.insert(all.end(), b.positions.begin(), b.positions.end());
        const Json& position = channelOf(body, "Particle", "position");
        EXPECT_EQ(position["type"].text(), "particle::vec3f");
        EXPECT_EQ(position["elements"].integer(), 46);
        EXPECT_EQ(position["compression"].text(), "mixed");
        EXPECT_EQ(position["blocks"].integer(), 3);
        if (version >= 12) {
            EXPECT_EQ(position["header"]["count"].integer(), 999);
            EXPECT_EQ(position["header"]["min"][1].number(), -7);
            EXPECT_EQ(position["header"]["mean"][2].number(), 0.25);
        } else {
            EXPECT_TRUE(position["header"].isNull());
        }
        checkStats(position["stats"], expectedVec(all), 46, true);
        const Expected box = expectedVec(all);
        for (size_t c = 0; c < 3; ++c) {
            EXPECT_EQ(float(body["particleBox"]["min"][c].number()), float(box.min[c]));
            EXPECT_EQ(float(body["particleBox"]["max"][c].number()), float(box.max[c]));
        }
        const std::vector<int64_t> ids = cache.ids();
        const Json& id64 = channelOf(body, "Particle", "id64");
        EXPECT_EQ(id64["type"].text(), "particle::id64");
        EXPECT_EQ(id64["stats"]["min"][0].integer(), HandMadeCache::kFirstId);
        EXPECT_EQ(id64["stats"]["max"][0].integer(), HandMadeCache::kFirstId + 45);

        // Blocks: each line against the bytes at its offset and against the library.
        const Json& blocks = position["blockList"];
        ASSERT_EQ(blocks.size(), 3u);
        testsupport::CaptureStderr quiet;
        Cb::ZtpReader reader(path, "*", "Body");
        quiet.finish();
        const auto* channel =
            reader.storedBody(0)->shape("Particle")->channelAs<Cb::ParticleChannelBase>("position");
        for (size_t g = 0; g < 3; ++g) {
            SCOPED_TRACE(::testing::Message() << "block " << g);
            const Json& line = blocks[g];
            const CacheBlock& made = cache.blocks[g];
            EXPECT_EQ(line["block"].integer(), int64_t(g));
            for (int a = 0; a < 3; ++a) EXPECT_EQ(line["tile"][size_t(a)].integer(), made.tile[a]);
            EXPECT_EQ(line["elements"].integer(), int64_t(made.positions.size()));
            EXPECT_EQ(line["compressed"].flag(), made.compress);
            zt::stored_block info;
            ASSERT_TRUE(channel->rawStorage().storedBlockInfo(int64_t(g), info));
            const int64_t offset = line["offset"].integer();
            EXPECT_EQ(offset, info.fileOffset);
            const size_t raw = made.positions.size() * sizeof(zt::vec3f);
            const size_t packed = size_t(zt::compressBuffer(made.positions.data(), raw).count());
            if (version >= 14) {
                EXPECT_EQ(line["storedBytes"].integer(), info.storedBytes);
                EXPECT_EQ(line["storedBytes"].integer(), int64_t(made.compress ? packed : raw));
                if (!made.compress) {
                    EXPECT_EQ(0, std::memcmp(bytes.data() + offset, made.positions.data(), raw));
                }
            } else {
                // The block's own record: its tile, then the legacy array.
                EXPECT_EQ(line["storedBytes"].integer(), int64_t(12 + 4 + 4 + (made.compress ? 4 + packed : raw)));
                int32_t tile[3];
                std::memcpy(tile, bytes.data() + offset, sizeof tile);
                EXPECT_TRUE(tile[0] == made.tile[0] && tile[1] == made.tile[1] && tile[2] == made.tile[2]);
            }
        }

        // Field and buffer channels.
        const std::vector<float> field = cache.fieldValues();
        const Json& density = channelOf(body, "Field", "density");
        EXPECT_EQ(density["type"].text(), "field::float");
        EXPECT_EQ(density["elements"].integer(), int64_t(field.size()));
        EXPECT_EQ(density["compression"].text(), "raw");
        checkStats(density["stats"], expectedOf(field, 1, [](float v, int) { return double(v); }),
                   int64_t(field.size()), true);
        const Json& points = channelOf(body, "Point", "position");
        EXPECT_EQ(points["elements"].integer(), 30);
        EXPECT_EQ(points["compression"].text(), version < 14 && cache.compressPoints ? "compressed" : "raw");

        // The text says the same as the JSON.
        const infotest::Run text = infotest::runInfo({"--stats", "--blocks", path});
        EXPECT_EQ(text.code, 0);
        const std::string signature = version >= 9 ? "Particle-Liquid" : "Body";
        char line[200];
        std::snprintf(line, sizeof line, "      %-18s %-22s%12d%14lld  mixed, 3 blocks\n", "position", "particle::vec3f",
                      46, static_cast<long long>(position["storedBytes"].integer()));
        for (const std::string& expected :
             {path + ": version " + std::to_string(version) + ", time 1.5, 1 body\n",
              "  body \"Splash\"  signature " + signature + "  46 particles\n",
              "    layout: tile size 2, voxel size 0.5, 3 fine and " +
                  std::to_string(layout["coarseTiles"].integer()) + " coarse tiles\n",
              std::string("    fine tiles (0, 0, -1) to (1, 1, 0), box (0, 0, -1) to (2, 2, 1)\n"),
              std::string("      channel            type                      elements  stored bytes  data\n"), std::string(line),
              "        block 1  tile (1, 0, 0)  40 elements  offset " +
                  std::to_string(blocks[1]["offset"].integer()) + "  " +
                  std::to_string(blocks[1]["storedBytes"].integer()) + " bytes  compressed\n"})
            EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "---\n" << text.out;
        if (version >= 12)
            EXPECT_NE(text.out.find("        header:   min (-7, -7, -7)  max (7, 7, 7)  mean (0.25, 0.25, 0.25)  count "
                                    "999\n"),
                      std::string::npos);
        else
            EXPECT_EQ(text.out.find("header:"), std::string::npos);
        checkStats(points["stats"], expectedVec(cache.points()), 30, true);
    }
}

}  // namespace
