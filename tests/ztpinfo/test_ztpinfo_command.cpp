// The ztpinfo program as users run it: a sample cache checked against the
// library, damaged and unreadable files among good ones, exit codes, the
// command line, JSON escaping and non-finite numbers, CORIX_PATH.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "HandMadeCache.h"
#include "InfoCommand.h"
#include "InfoTestSupport.h"
#include "JsonWriter.h"
#include "cb/Version.h"
#include "cb/fields/FieldChannel.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/Shape.h"

using infotest::Json;
using infotest::runInfo;

namespace {

const std::string kCorix = std::string("CORIX_PATH=") + infotest::shellQuoted(CB_SOURCE_DIR "/share/corix") + " ";

class InfoCommand : public infotest::LibraryTest {
protected:
    // A sample cache of ztp-sample (version 16).
    std::string sample(const std::string& name, int particles, bool raw = false) {
        std::vector<std::string> args = {file(name), std::to_string(particles)};
        if (raw) args.push_back("--raw");
        const infotest::Run run = infotest::runProgram(CB_SAMPLE_PATH, args, kCorix);
        EXPECT_EQ(run.code, 0) << run.err;
        return file(name);
    }
    std::unique_ptr<Cb::ZtpReader> read(const std::string& path) {
        testsupport::CaptureStderr quiet;
        return std::make_unique<Cb::ZtpReader>(path, "*", "Body");
    }
};

// Minimum, maximum and mean of component c over values, as floats print.
struct Figures {
    double min = std::numeric_limits<double>::infinity(), max = -min, sum = 0;
    int64_t count = 0;
    void add(double v) {
        min = std::min(min, v);
        max = std::max(max, v);
        sum += v;
        ++count;
    }
};

template <class T>
std::vector<Figures> figuresOf(Cb::Channel& channel) {
    std::vector<Figures> f(zt::components<T>::value);
    auto add = [&f](const T& v) {
        for (size_t c = 0; c < f.size(); ++c) {
            if constexpr (zt::is_vec<T>::value)
                f[c].add(double(v[int(c)]));
            else
                f[c].add(double(v));
        }
    };
    if (auto* p = dynamic_cast<Cb::ParticleChannel<T>*>(&channel)) {
        auto& blocks = p->blocks();
        for (int64_t g = 0; g < blocks.blockCount(); ++g)
            for (const T& v : blocks.elements(g)) add(v);
    }
    return f;
}

std::vector<Figures> fieldFigures(Cb::Channel& channel) {
    std::vector<const zt::field3<float>*> fields;
    if (auto* f = dynamic_cast<Cb::FieldChannel1f*>(&channel)) fields.push_back(&f->field());
    if (auto* v = dynamic_cast<Cb::FieldChannel3f*>(&channel))
        for (int c = 0; c < 3; ++c) fields.push_back(&v->field(c));
    std::vector<Figures> out(fields.size());
    for (size_t c = 0; c < fields.size(); ++c)
        for (int64_t i = 0; i < fields[c]->fineValues().count(); ++i) out[c].add(fields[c]->fineValues()[i]);
    return out;
}

void expectFigures(const Json& stats, const std::vector<Figures>& expected, bool floating) {
    ASSERT_EQ(stats["min"].size(), expected.size());
    for (size_t c = 0; c < expected.size(); ++c) {
        const auto as = [floating](double v) { return floating ? double(float(v)) : v; };
        EXPECT_EQ(stats["count"].integer(), expected[c].count);
        EXPECT_EQ(as(stats["min"][c].number()), as(expected[c].min)) << c;
        EXPECT_EQ(as(stats["max"][c].number()), as(expected[c].max)) << c;
        EXPECT_EQ(as(stats["mean"][c].number()), as(expected[c].sum / double(expected[c].count))) << c;
    }
}

// Python's own reader, refusing the bare NaN and Infinity it would accept.
void expectStrictJson(const std::string& text) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("out.json"), text);
    const infotest::Run check = infotest::runProgram(
        "python3",
        {"-c",
         "import json,sys\n"
         "def no(x): raise ValueError('bare constant ' + x)\n"
         "json.load(open(sys.argv[1]), parse_constant=no)\n",
         dir.file("out.json")});
    EXPECT_EQ(check.code, 0) << check.err;
}

TEST_F(InfoCommand, SampleCacheAgreesWithWhatTheLibraryReads) {
    for (const bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "raw" : "compressed");
        const std::string path = sample(raw ? "raw.ztp" : "sample.ztp", 3000, raw);
        const infotest::Run run = runInfo({"--json", "--stats", "--blocks", "--values", path}, kCorix);
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.err, "");
        expectStrictJson(run.out);
        const Json file = infotest::parseJson(run.out)[0];
        EXPECT_TRUE(file["ok"].flag());
        EXPECT_EQ(file["version"].integer(), 16);

        auto reader = read(path);
        ASSERT_EQ(file["bodies"].size(), size_t(reader->bodyCount()));
        int64_t particles = 0;
        for (int b = 0; b < reader->bodyCount(); ++b) {
            Cb::Body& body = *reader->storedBody(b);
            const Json& shown = file["bodies"][size_t(b)];
            SCOPED_TRACE(body.name());
            EXPECT_EQ(shown["name"].text(), body.name());
            EXPECT_EQ(shown["signature"].text(), body.signatureName());
            EXPECT_EQ(shown["layout"]["tileSize"].integer(), int64_t(body.layout().tileSize()));
            EXPECT_EQ(shown["sections"].size(), size_t(body.sectionCount()));
            particles += shown["particles"].integer();
            ASSERT_EQ(shown["shapes"].size(), body.shapes().size());
            size_t s = 0;
            for (const auto& [kind, handle] : body.shapes()) {
                const Json& shape = shown["shapes"][s++];
                EXPECT_EQ(shape["name"].text(), kind);
                Cb::Shape* mutableShape = body.mutableShape(kind);
                ASSERT_EQ(shape["channels"].size(), size_t(mutableShape->channelCount()));
                for (int c = 0; c < mutableShape->channelCount(); ++c) {
                    Cb::Channel& channel = *mutableShape->channel(c).mutableGet();
                    const Json& line = shape["channels"][size_t(c)];
                    SCOPED_TRACE(channel.name());
                    EXPECT_EQ(line["name"].text(), channel.name());
                    EXPECT_EQ(line["type"].text(), channel.typeName());
                    EXPECT_EQ(line["storedBytes"].integer(), channel.recordBytes());
                    if (raw) {
                        EXPECT_EQ(line["compression"].text(), "raw");
                    }
                    if (auto* p = dynamic_cast<Cb::ParticleChannelBase*>(&channel)) {
                        // Block lines first: they must match the tables before anything loads.
                        const zt::block3_array_base& storage = p->rawStorage();
                        ASSERT_EQ(line["blockList"].size(), size_t(storage.blockCount()));
                        for (int64_t g = 0; g < storage.blockCount(); ++g) {
                            zt::stored_block info;
                            ASSERT_TRUE(storage.storedBlockInfo(g, info));
                            const Json& block = line["blockList"][size_t(g)];
                            EXPECT_EQ(block["offset"].integer(), info.fileOffset);
                            EXPECT_EQ(block["storedBytes"].integer(), info.storedBytes);
                            EXPECT_EQ(block["elements"].integer(), info.elements);
                            EXPECT_EQ(block["compressed"].flag(), info.compressed);
                            EXPECT_EQ(block["tile"][2].integer(), info.tile[2]);
                        }
                        if (channel.typeName() == "particle::vec3f")
                            expectFigures(line["stats"], figuresOf<zt::vec3f>(channel), true);
                        else if (channel.typeName() == "particle::float")
                            expectFigures(line["stats"], figuresOf<float>(channel), true);
                        else if (channel.typeName() == "particle::id64")
                            expectFigures(line["stats"], figuresOf<int64_t>(channel), false);
                    } else {
                        expectFigures(line["stats"], fieldFigures(channel), true);
                    }
                    EXPECT_EQ(line["elements"].integer(), int64_t(channel.size()));
                }
            }
        }
        EXPECT_EQ(particles, 3000);
    }
}

TEST_F(InfoCommand, DamagedAndUnreadableFilesSayWhyAndTheNextFileIsStillShown) {
    const std::string good = sample("good.ztp", 500);
    auto bytes = testsupport::readBytes(good);
    // Cut inside the second body record, which starts where the first
    // body's last channel (shapes go in name order) ends.
    auto reader = read(good);
    const Cb::Shape& last = *reader->storedBody(0)->shapes().rbegin()->second;
    const Cb::Channel& lastChannel = *last.channel(last.channelCount() - 1);
    const int64_t secondBody = lastChannel.recordOffset() + lastChannel.recordBytes();
    reader.reset();
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + secondBody + 30);
    testsupport::writeFile(file("cut.ztp"), cut);
    std::vector<uint8_t> magic = bytes;
    magic[0] ^= 0xFF;
    testsupport::writeFile(file("magic.ztp"), magic);
    std::vector<uint8_t> future = bytes;
    future[4] = 17;
    testsupport::writeFile(file("future.ztp"), future);
    const std::string missing = file("missing.ztp");

    const std::vector<std::string> files = {file("cut.ztp"), missing, file("magic.ztp"), file("future.ztp"), good};
    std::vector<std::string> args = {"--json"};
    args.insert(args.end(), files.begin(), files.end());
    const infotest::Run json = runInfo(args);
    EXPECT_EQ(json.code, 1);
    expectStrictJson(json.out);
    const Json shown = infotest::parseJson(json.out);
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_FALSE(shown[0]["ok"].flag());
    EXPECT_EQ(shown[0]["bodyCount"].integer(), 3);
    EXPECT_EQ(shown[0]["bodiesRead"].integer(), 1);
    EXPECT_EQ(shown[0]["bodies"][0]["name"].text(), "Pool");
    EXPECT_EQ(shown[0]["damage"].text().rfind("Corrupt ZTP: ", 0), 0u);
    EXPECT_TRUE(shown[0]["error"].isNull());
    EXPECT_EQ(shown[1]["error"].text(), "ZtpReader(" + missing + ") failed: Cannot open file: No such file or directory");
    EXPECT_TRUE(shown[1]["version"].isNull() && shown[1]["bodies"].size() == 0 && !shown[1]["ok"].flag());
    EXPECT_EQ(shown[2]["error"].text(), "ZtpReader: bad magic in " + file("magic.ztp"));
    EXPECT_EQ(shown[3]["error"].text(), "ZtpReader: unsupported version 17 in " + file("future.ztp"));
    EXPECT_TRUE(shown[4]["ok"].flag() && shown[4]["bodiesRead"].integer() == 3);
    // Standard error: the reader's warning, then one line per file that was not whole.
    const std::string damage = shown[0]["damage"].text();
    EXPECT_NE(json.err.find("Corix ** WARNING ** : " + damage + "\n"), std::string::npos) << json.err;
    EXPECT_NE(json.err.find("ztpinfo: " + file("cut.ztp") + ": " + damage + "\n"), std::string::npos);
    EXPECT_NE(json.err.find("ztpinfo: " + missing + ": ZtpReader(" + missing + ") failed"), std::string::npos);

    args.erase(args.begin());
    const infotest::Run text = runInfo(args);
    EXPECT_EQ(text.code, 1);
    size_t at = 0;
    for (const std::string& expected :
         {file("cut.ztp") + ": version 16, time 0, 3 bodies\n  body \"Pool\"",
          "  damaged: " + damage + " (1 of 3 bodies read)\n",
          missing + ": unreadable: ZtpReader(" + missing + ") failed: Cannot open file: No such file or directory\n",
          file("magic.ztp") + ": unreadable: ZtpReader: bad magic in " + file("magic.ztp") + "\n",
          good + ": version 16, time 0, 3 bodies\n"}) {
        const size_t found = text.out.find(expected, at);
        EXPECT_NE(found, std::string::npos) << expected << "\n---\n" << text.out;
        if (found != std::string::npos) at = found + expected.size();
    }

    // Good files alone: exit 0.
    EXPECT_EQ(runInfo({good, good}).code, 0);
}

TEST_F(InfoCommand, DamagedBlockDataIsReportedOnItsChannel) {
    infotest::HandMadeCache cache;
    cache.version = 12;
    std::vector<zt::vec3f> many(30, zt::vec3f{{0.5f, 0.5f, 0.5f}});
    for (int i = 0; i < 30; ++i) many[size_t(i)][0] = 0.01f * float(i);
    cache.blocks = {{{{0, 0, 0}}, many, true}};
    std::vector<uint8_t> bytes = cache.bytes();
    testsupport::writeFile(file("ok.ztp"), bytes);
    auto reader = read(file("ok.ztp"));
    zt::stored_block info;
    ASSERT_TRUE(reader->storedBody(0)->shape("Particle")->channelAs<Cb::ParticleChannelBase>("position")
                    ->rawStorage().storedBlockInfo(0, info));
    reader.reset();
    // The block's compressed size (after its tile, byte size and flag) now
    // runs past the end of the file.
    bytes[size_t(info.fileOffset) + 20 + 3] = 0x7F;
    testsupport::writeFile(file("bad.ztp"), bytes);
    const infotest::Run run = runInfo({"--json", file("bad.ztp")});
    EXPECT_EQ(run.code, 1);
    const Json shown = infotest::parseJson(run.out)[0];
    EXPECT_FALSE(shown["ok"].flag());
    EXPECT_TRUE(shown["damage"].isNull());
    const Json& particle = shown["bodies"][0]["shapes"][1];
    EXPECT_EQ(particle["channels"][0]["error"].text(), "Error reading ztp array");
    EXPECT_TRUE(particle["channels"][1]["error"].isNull());
    EXPECT_NE(run.err.find("ztpinfo: " + file("bad.ztp") + ": damaged channel data\n"), std::string::npos) << run.err;
    const infotest::Run text = runInfo({file("bad.ztp")});
    EXPECT_NE(text.out.find("        error: Error reading ztp array\n"), std::string::npos) << text.out;
    EXPECT_EQ(runInfo({file("ok.ztp")}).code, 0);
}

TEST_F(InfoCommand, HelpVersionAndWrongCalls) {
    const infotest::Run help = runInfo({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind(std::string("usage: ") + CB_ZTPINFO_PATH + " [options] FILE...\n", 0), 0u) << help.out;
    for (const char* option : {"--values", "--stats", "--blocks", "--json", "--version", "CORIX_PATH"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_EQ(runInfo({"-h"}).out, help.out);
    const infotest::Run version = runInfo({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, std::string("ztpinfo ") + CB_VERSION_STRING + "\n");

    const std::pair<std::vector<std::string>, std::string> wrong[] = {
        {{}, "ztpinfo: no file given\n"},
        {{"--stats"}, "ztpinfo: no file given\n"},
        {{"--bogus", "a.ztp"}, "ztpinfo: unknown option '--bogus'\n"},
        {{"a.ztp", "-x"}, "ztpinfo: unknown option '-x'\n"},
    };
    for (const auto& [args, message] : wrong) {
        const infotest::Run run = runInfo(args);
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind(message + "usage: ", 0), 0u) << run.err;
    }

    // Options go anywhere; "--" ends them.
    ztpinfo::CommandLine line;
    std::string error;
    const char* argv[] = {"ztpinfo", "a", "--stats", "--", "--json", "-"};
    ASSERT_TRUE(ztpinfo::parseCommandLine(6, argv, line, error)) << error;
    EXPECT_TRUE(line.options.stats && !line.options.json && !line.options.values && !line.options.blocks);
    EXPECT_EQ(line.files, (std::vector<std::string>{"a", "--json", "-"}));
}

TEST_F(InfoCommand, JsonEscapesNamesAndWritesNonFiniteNumbersAsStrings) {
    infotest::HandMadeCache cache;
    cache.name = "odd \"name\" \\ tab\t nl\n bell\x01 caf\xC3\xA9";
    std::vector<zt::vec3f> p = {{{0.5f, 0.5f, 0.5f}}, {{0.25f, 0.5f, 0.5f}}, {{0.75f, 0.5f, 0.5f}}};
    p[0][0] = std::numeric_limits<float>::quiet_NaN();
    p[1][1] = std::numeric_limits<float>::infinity();
    p[2][1] = -std::numeric_limits<float>::infinity();
    cache.blocks = {{{{0, 0, 0}}, p, false}};
    testsupport::writeFile(file("odd.ztp"), cache.bytes());
    const infotest::Run run = runInfo({"--json", "--stats", file("odd.ztp")});
    ASSERT_EQ(run.code, 0) << run.err;
    expectStrictJson(run.out);
    EXPECT_NE(run.out.find("\"odd \\\"name\\\" \\\\ tab\\t nl\\n bell\\u0001 caf\xC3\xA9\""), std::string::npos)
        << run.out;
    const Json body = infotest::parseJson(run.out)[0]["bodies"][0];
    EXPECT_EQ(body["name"].text(), cache.name);
    const Json& stats = body["shapes"][1]["channels"][0]["stats"];
    EXPECT_EQ(stats["notANumber"].integer(), 1);
    EXPECT_EQ(stats["min"][0].number(), 0.25);  // NaN left out
    EXPECT_EQ(stats["mean"][0].text(), "NaN");
    EXPECT_EQ(stats["min"][1].text(), "-Infinity");
    EXPECT_EQ(stats["max"][1].text(), "Infinity");
    EXPECT_EQ(stats["mean"][1].text(), "NaN");  // infinity minus infinity
    EXPECT_EQ(body["particleBox"]["max"][1].text(), "Infinity");

    const infotest::Run text = runInfo({file("odd.ztp")});
    EXPECT_NE(text.out.find("  body \"odd \\\"name\\\" \\\\ tab\\t nl\\n bell\\u0001 caf\xC3\xA9\"  signature "),
              std::string::npos)
        << text.out;

    // The writer's layout, byte for byte.
    std::ostringstream out;
    ztpinfo::JsonWriter json(out);
    json.beginArray().beginObject().member("a", int64_t(1)).key("b").beginInlineArray().value(1.5);
    json.value(std::numeric_limits<double>::quiet_NaN()).null().endArray();
    json.key("c").beginArray().endArray().key("d").beginInlineObject().member("e", true).key("f");
    json.beginArray().value("x").endArray().endObject().endObject();
    EXPECT_FALSE(json.complete());
    json.endArray();
    EXPECT_TRUE(json.complete());
    EXPECT_EQ(out.str(),
              "[\n  {\n    \"a\": 1,\n    \"b\": [1.5, \"NaN\", null],\n    \"c\": [],\n"
              "    \"d\": {\"e\": true, \"f\": [\"x\"]}\n  }\n]\n");

    EXPECT_EQ(ztpinfo::numberText(0.1f), "0.1");
    EXPECT_EQ(ztpinfo::numberText(0.1), "0.1");
    EXPECT_EQ(ztpinfo::numberText(double(0.1f)), "0.10000000149011612");
    EXPECT_EQ(ztpinfo::numberText(1000000000001.0), "1000000000001");
    EXPECT_EQ(ztpinfo::numberText(-2.5e-7), "-2.5e-07");
    EXPECT_EQ(ztpinfo::numberText(1e300), "1e+300");
    EXPECT_EQ(ztpinfo::numberText(-std::numeric_limits<double>::infinity()), "-Infinity");
}

TEST_F(InfoCommand, WithoutCorixPathOnlyTheBuiltInTypesAreKnown) {
    const std::string good = sample("good.ztp", 100);
    const infotest::Run without = runInfo({good});
    EXPECT_EQ(without.code, 0);
    EXPECT_EQ(without.err, "ztpinfo: CORIX_PATH is not set: reading without signatures (built-in body types only)\n");
    const infotest::Run with = runInfo({good}, kCorix);
    EXPECT_EQ(with.code, 0);
    EXPECT_EQ(with.err, "");
    EXPECT_EQ(with.out, without.out);

    infotest::HandMadeCache cache;
    cache.type = "Plugged-Thing";
    testsupport::writeFile(file("plugin.ztp"), cache.bytes());
    const infotest::Run unknown = runInfo({file("plugin.ztp")});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_NE(unknown.out.find("damaged: Corrupt ZTP: Error creating body of type 'Plugged-Thing': not registered "
                               "(0 of 1 bodies read)"),
              std::string::npos)
        << unknown.out;
}

}  // namespace
