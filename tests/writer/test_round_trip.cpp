// Bodies written and read back: every value type, enumerated groups, section
// order, layouts with fine and coarse tiles, every channel of every shape kind,
// compressed and not; what a record does not keep; a body read back writes
// the same bytes again, and every sample file read and written again converts
// to exactly the same scene as the original.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <tuple>

#include "CaptureOutput.h"
#include "ExportParticles.h"
#include "ScopedThreads.h"
#include "WriterTestSupport.h"
#include "cb/fields/FieldShape.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "cb/values/Value.h"
#include "zt/tile_layout3.h"

using namespace Cb;
using writertest::describe;

namespace {

class RoundTrip : public writertest::WriterTest {};

// Whether the converter succeeded, what it printed, and the scene it wrote.
std::tuple<bool, std::string, std::string> convert(const std::string& input, const std::string& output) {
    std::remove(output.c_str());
    testsupport::CaptureStderr quiet;
    testsupport::CaptureStdout out;
    const bool ok = exportParticles(input.c_str(), output.c_str(), "particles", 0.1f, 24.0f, 1.0f);
    return {ok, out.finish(), testsupport::fileExists(output) ? testsupport::readText(output) : ""};
}

}  // namespace

TEST_F(RoundTrip, EverythingComesBackEqualAndWritesTheSameBytesAgain) {
    // A particle channel's stored mean is the mean of per-worker means, which
    // depends on how the blocks fell to the workers: one worker makes it
    // repeatable.
    testsupport::ScopedThreads one(1);
    auto body = writertest::makeRichBody("Everything");
    std::vector<uint8_t> bytes[2];
    for (bool compress : {true, false}) {
        SCOPED_TRACE(compress ? "compressed" : "uncompressed");
        const std::string path = file(compress ? "packed.ztp" : "plain.ztp");
        EXPECT_EQ("", write(path, {body.get()}, "*.*", compress));
        EXPECT_EQ(path, body->savedFile());
        std::string log;
        auto reader = read(path, &log);
        EXPECT_EQ("Corix: Reading ZTP: " + path + "\n", log);
        ASSERT_EQ(1, reader->bodyCount());
        const Body& back = *reader->storedBody(0);
        EXPECT_EQ(describe(*body), describe(back));
        EXPECT_EQ((writertest::Names{"Edge", "Field", "Particle", "Point", "Tet", "Triangle"}),
                  writertest::kindsOf(back));
        write(file("again.ztp"), {reader->storedBody(0)}, "*.*", compress);
        bytes[compress] = testsupport::readBytes(path);
        EXPECT_TRUE(bytes[compress] == testsupport::readBytes(file("again.ztp"))) << "the rewritten file differs";
    }
    // Compression is what makes the two files differ.
    EXPECT_LT(bytes[true].size(), bytes[false].size());
}

TEST_F(RoundTrip, WhatARecordDoesNotKeepAndWhatReadingRebuilds) {
    auto rich = writertest::makeRichBody("Rich");
    write(file("rich.ztp"), {rich.get()});
    auto reader = read(file("rich.ztp"));
    const Body& back = *reader->storedBody(0);
    // Flags are not stored, nor the droplet channel's two parameters.
    EXPECT_FALSE(back.value("Density")->readOnly() || back.value("Density")->hidden());
    const auto* droplet = back.particleShape()->channelAs<ParticleChannelDroplet>("droplet");
    EXPECT_EQ(0.0f, droplet->threshold());
    EXPECT_EQ(0.0f, droplet->mergebackDepth());
    // Every coarse tile is found by its coordinates in the read layout.
    const auto coarse = rich->layout().coarseCoordinates();
    ASSERT_GT(coarse.count(), 1);
    for (int64_t s = 1; s < coarse.count(); ++s) EXPECT_NE(nullptr, back.layout().findTile(coarse[s])) << s;
}

TEST_F(RoundTrip, EmptyShapesAreLeftOutAndAnEmptyBodyComesBack) {
    Body body("Bare");
    body.addShape(new FieldShape(false));  // no channels: nothing to write
    body.addShape(new PointShape(true));   // a master with no points
    write(file("e.ztp"), {&body});
    auto reader = read(file("e.ztp"));
    ASSERT_EQ(1, reader->bodyCount());
    const Body& back = *reader->storedBody(0);
    EXPECT_EQ("Body", back.signatureName());
    EXPECT_EQ(writertest::Names{"Point"}, writertest::kindsOf(back));
    EXPECT_EQ(describe(body), describe(back));
}

TEST_F(RoundTrip, BufferInt64ChannelIsLeftOutSoTheFileStaysReadable) {
    // No reader can recreate a "buffer::int64" channel by name: written, it
    // would make its body, and every body after it, unreadable.
    auto first = writertest::makeRichBody("First");
    first->mutablePointShape()->createChannel1i64("big", int64_t(1) << 40);
    auto second = writertest::makePlainBody("Second");
    EXPECT_EQ(writertest::warningLine("Skipping channel 'Point.big': type 'buffer::int64' cannot be read back from " +
                                      file("i64.ztp")),
              write(file("i64.ztp"), {first.get(), second.get()}));
    std::string log;
    auto reader = read(file("i64.ztp"), &log);
    EXPECT_EQ("Corix: Reading ZTP: " + file("i64.ztp") + "\n", log);
    ASSERT_EQ(2, reader->bodyCount());
    EXPECT_EQ(-1, reader->storedBody(0)->pointShape()->indexOf("big"));
    EXPECT_EQ(9, reader->storedBody(0)->pointShape()->channelCount());
    EXPECT_EQ(describe(*second), describe(*reader->storedBody(1)));
}

TEST_F(RoundTrip, SampleFilesReadAndWrittenAgainConvertIdentically) {
    const std::string folder = std::string(CB_SOURCE_DIR) + "/../shared/fixtures/cases";
    std::vector<std::string> samples;
    if (std::filesystem::is_directory(folder))
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().extension() == ".ztp") samples.push_back(entry.path().string());
    if (samples.empty()) GTEST_SKIP() << "no sample files in " << folder;
    std::sort(samples.begin(), samples.end());
    int rewritten = 0;
    for (const std::string& input : samples) {
        SCOPED_TRACE(input);
        const auto original = convert(input, file("original.txscene"));
        if (!std::get<0>(original)) {
            // A file the converter refuses is one the reader refuses too.
            testsupport::CaptureStderr quiet;
            EXPECT_ANY_THROW({ ZtpReader refused(input, "*", "Body"); });
            continue;
        }
        std::unique_ptr<ZtpReader> reader = read(input);
        std::vector<Body*> bodies;
        for (int i = 0; i < reader->bodyCount(); ++i) bodies.push_back(reader->storedBody(i));
        for (bool compress : {true, false}) {
            SCOPED_TRACE(compress ? "compressed" : "uncompressed");
            write(file("copy.ztp"), bodies, "*.*", compress);
            EXPECT_TRUE(original == convert(file("copy.ztp"), file("again.txscene"))) << "conversions differ";
            auto back = read(file("copy.ztp"));
            ASSERT_EQ(reader->bodyCount(), back->bodyCount());
            for (int i = 0; i < back->bodyCount(); ++i) EXPECT_EQ(describe(*bodies[size_t(i)]), describe(*back->storedBody(i)));
            ++rewritten;
        }
    }
    EXPECT_GT(rewritten, 0);
}
