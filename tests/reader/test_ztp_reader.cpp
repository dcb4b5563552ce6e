// The ZTP reader: header checks, body records of versions 8, 9 and 16,
// damaged records, name patterns, signature names, hand-outs and deferred
// data. Bodies written by the library and read back, the reader's log line and
// deferred data whose file has gone are the writer's tests.
#include <gtest/gtest.h>

#include <atomic>

#include "ByteBuilder.h"
#include "CaptureOutput.h"
#include "LibraryTest.h"
#include "MessageOf.h"
#include "ParticleBodies.h"
#include "TempPath.h"
#include "cb/factory/Startup.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value1e.h"

using namespace Cb;
using testsupport::ByteBuilder;
using testsupport::messageOf;

namespace {

class Reader : public testsupport::LibraryTest {
protected:
    // Writes the bytes to the file; its path.
    std::string make(const std::string& name, const ByteBuilder& bytes) const {
        testsupport::writeFile(file(name), bytes.data());
        return file(name);
    }
    // Reads a file, keeping what the reader logged.
    std::unique_ptr<ZtpReader> read(const std::string& path, const std::string& pattern = "*",
                                    const std::string& signature = "Body") {
        testsupport::CaptureStderr err;
        auto reader = std::make_unique<ZtpReader>(path, pattern, signature);
        log = err.finish();
        return reader;
    }

    std::string log;
};

ByteBuilder header(int32_t version, int32_t bodies, double time = 0.0, uint32_t magic = 0xABBAABB1u) {
    return std::move(ByteBuilder().u32(magic).i32(version).f64(time).i32(bodies));
}

// A body record of the given version: no sections, an empty layout, no shapes.
ByteBuilder& emptyBody(ByteBuilder& b, int version, const std::string& name, const std::string& type) {
    b.str(name);
    if (version >= 9) b.str(type);
    if (version >= 16) b.str("");
    for (float f : {1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 1.f}) b.f32(f);
    b.i32(0).f32(1.0f).i32(0).i32(1).i32(9);  // no sections; layout: cell size, counts, N
    if (version >= 14)
        b.i64(0).i64(1).i32(0).i32(0).i32(0);
    else
        b.u32(0).u32(12).u32(0).i32(0).i32(0).i32(0);  // legacy arrays: empty, one raw coarse slot
    return b.i32(0);                                      // no shapes
}

}  // namespace

TEST_F(Reader, HeaderFailuresAndHeaderInfo) {
    const std::string magic = make("magic.ztp", header(16, 0, 0.0, 0xABBAABB2u));
    const std::string cut = make("cut.ztp", ByteBuilder().u32(0xABBAABB1u).i32(16).u8(0).u8(0));
    const std::string none = file("none.ztp");
    const std::pair<std::string, std::string> cases[] = {
        {"ZtpReader: bad magic in " + magic, messageOf([&] { read(magic); })},
        {"Error reading ztp value", messageOf([&] { read(cut); })},
        {"ZtpReader: unsupported version 17 in " + file("future.ztp"),
         messageOf([&] { read(make("future.ztp", header(17, 0))); })},
        {"ZtpReader(" + none + ") failed: Cannot open file: No such file or directory", messageOf([&] { read(none); })},
    };
    for (const auto& [expected, actual] : cases) EXPECT_EQ(expected, actual);
    ZtpReader quiet;
    quiet.setThrowOnOpenFailure(false);
    EXPECT_FALSE(quiet.open(none, "*", "Body"));
    EXPECT_EQ(0, quiet.bodyCount());

    // Zero bodies; the header alone, leaving the reader itself untouched.
    auto reader = read(make("zero.ztp", header(16, 0, 2.5)));
    EXPECT_TRUE(reader->bodyCount() == 0 && reader->version() == 16 && reader->time() == 2.5);
    double time = 0;
    EXPECT_TRUE(quiet.readHeaderInfo(file("zero.ztp"), time));
    EXPECT_EQ(2.5, time);
    EXPECT_EQ(1, quiet.version());
    EXPECT_FALSE(quiet.readHeaderInfo(none, time));
    EXPECT_EQ("bad magic in ztp " + magic, messageOf([&] { quiet.readHeaderInfo(magic, time); }));
    EXPECT_EQ("Error reading ztp value", messageOf([&] { quiet.readHeaderInfo(cut, time); }));
}

TEST_F(Reader, DamagedRecordsKeepTheBodiesReadBefore) {
    auto a = testsupport::makeParticleBody({"a", {{{0.5f, 0.5f, 0.5f}}}});
    auto b = testsupport::makeParticleBody({"b", {{{1.5f, 0.5f, 0.5f}}}});
    const auto offsets = testsupport::writeBodies(file("three.ztp"), {a.get(), b.get(), a.get()});
    auto bytes = testsupport::readBytes(file("three.ztp"));
    bytes.resize(size_t(offsets[2]) + 30);  // cut inside the third record
    testsupport::writeFile(file("three.ztp"), bytes);
    auto reader = read(file("three.ztp"));
    ASSERT_EQ(2, reader->bodyCount());
    EXPECT_TRUE(reader->bodyName(0) == "a" && reader->bodyName(1) == "b");
    EXPECT_NE(std::string::npos, log.find("Corix ** WARNING ** : Corrupt ZTP: ")) << log;
    EXPECT_EQ(0u, reader->damage().find("Corrupt ZTP: ")) << reader->damage();
    testsupport::writeBodies(file("two.ztp"), {a.get(), b.get()});
    EXPECT_EQ("", read(file("two.ztp"))->damage());
    ByteBuilder unknown = header(16, 1);
    auto none = read(make("t.ztp", emptyBody(unknown, 16, "x", "No-Such-Type")));
    EXPECT_EQ(0, none->bodyCount());
    EXPECT_EQ("Corrupt ZTP: Error creating body of type 'No-Such-Type': not registered", none->damage());
    EXPECT_NE(std::string::npos,
              log.find("Corix ** WARNING ** : Corrupt ZTP: Error creating body of type 'No-Such-Type': not registered"))
        << log;
}

TEST_F(Reader, PatternsPickBodiesByNameAndTheCallerMayNameTheSignature) {
    ByteBuilder b = header(16, 3);
    for (const char* name : {"water", "foam", "spray"}) emptyBody(b, 16, name, "Particle-Liquid");
    const std::string path = make("p.ztp", b);
    EXPECT_EQ(3, read(path)->bodyCount());
    EXPECT_EQ(0, read(path, "wat")->bodyCount());
    auto two = read(path, "spray\twater");
    ASSERT_EQ(2, two->bodyCount());
    EXPECT_TRUE(two->bodyName(0) == "water" && two->bodyName(1) == "spray");
    EXPECT_EQ("Particle-Liquid", two->storedBody(0)->signatureName());
    EXPECT_EQ("Rigid-Body", read(path, "*", "Rigid-Body")->storedBody(0)->signatureName());
}

TEST_F(Reader, VersionEightBodiesBecomeUnsolved) {
    ByteBuilder eight = header(8, 1), nine = header(9, 1);
    auto reader = read(make("v8.ztp", emptyBody(eight, 8, "old", "")));
    ASSERT_EQ(1, reader->bodyCount());
    Body* stored = reader->storedBody(0);
    auto* motion = dynamic_cast<Value1e*>(stored->value("Motion Type"));
    ASSERT_NE(nullptr, motion);
    EXPECT_EQ("Unsolved", motion->selected());
    EXPECT_EQ(stored->enumGroup("MotionTypeEnum"), motion->group());
    EXPECT_EQ((std::vector<std::string>{"Dynamic", "Kinematic", "User", "Unsolved"}), motion->group()->names());
    EXPECT_EQ("Body", stored->signatureName());
    EXPECT_FALSE(read(make("v9.ztp", emptyBody(nine, 9, "new", "Particle")))->storedBody(0)->hasValue("Motion Type"));
}

TEST_F(Reader, TakeBodyHandsOutCopiesWhoseDataStaysInTheFileUntilUsed) {
    auto a = testsupport::makeParticleBody({"a", {{{0.5f, 0.5f, 0.5f}}, {{10.5f, 0.5f, 0.5f}}}});
    testsupport::writeBodies(file("d.ztp"), {a.get()});
    auto reader = read(file("d.ztp"));
    std::unique_ptr<Body> body = reader->takeBody(0), second = reader->takeBody(0);
    ASSERT_TRUE(body && second);
    EXPECT_TRUE(body != second && reader->storedBody(0) != body.get() && body->name() == "a");
    EXPECT_EQ("Cannot access out-of-bounds body index 1 in BodyReader", messageOf([&] { reader->takeBody(1); }));
    EXPECT_EQ("Cannot access out-of-bounds body index -1 in BodyReader", messageOf([&] { reader->takeBody(-1); }));
    reader->close();
    // Detached, the copy's channel loads alone: the stored body keeps its data in the file.
    body->mutableParticleShape()->channel("position").detach();
    auto* positions = body->particleShape()->channelAs<ParticleChannel<zt::vec3f>>("position");
    EXPECT_TRUE(positions->rawStorage().loadPending());
    positions->makeResident();
    EXPECT_TRUE(positions->size() == 2u && positions->max3f()[0] == 10.5f);
    auto* stored = reader->storedBody(0)->particleShape()->channelAs<ParticleChannel<zt::vec3f>>("position");
    EXPECT_TRUE(stored != positions && stored->rawStorage().loadPending());
}

namespace {

// What a QEL channel node does per element: many threads read values of a
// channel whose blocks are still in the file, each first touch racing the
// others. Every read must see its value; none may crash.
TEST_F(Reader, ChannelsReadFromManyThreadsAtFirstTouchLoadOnce) {
    std::vector<zt::vec3f> positions;
    for (int i = 0; i < 20000; ++i)
        positions.push_back({{float(i % 97) * 0.7f, float(i % 89) * 0.9f, float(i % 23) * 1.3f}});
    auto a = testsupport::makeParticleBody({"a", positions});
    testsupport::writeBodies(file("many.ztp"), {a.get()});
    auto reader = read(file("many.ztp"));
    // Copies share the stored body's channels until detached: each gets its own.
    auto own = [](Body& body) { body.mutableParticleShape()->channel("velocity").detach(); };
    std::unique_ptr<Body> expected = reader->takeBody(0);
    own(*expected);
    const auto* want = expected->particleShape()->channelAs<ParticleChannel<zt::vec3f>>("velocity");
    want->makeResident();
    std::vector<int64_t> indices;
    for (int64_t g = 0; g < want->rawStorage().blockCount(); ++g)
        for (int64_t e = 0; e < int64_t(want->blockElements(g).size()); ++e) indices.push_back(g << 32 | e);
    ASSERT_EQ(indices.size(), positions.size());
    for (int round = 0; round < 20; ++round) {
        std::unique_ptr<Body> body = reader->takeBody(0);
        own(*body);
        const auto* velocity = body->particleShape()->channelAs<ParticleChannel<zt::vec3f>>("velocity");
        ASSERT_TRUE(velocity->rawStorage().loadPending());
        const int64_t n = int64_t(indices.size());
        std::atomic<int64_t> wrong{0};
#pragma omp parallel for num_threads(8) schedule(dynamic, 7)
        for (int64_t k = 0; k < n; ++k) {
            const int64_t index = indices[size_t(k)];
            if (velocity->value(index) != want->value(index) ||
                velocity->component(index, 1) != want->component(index, 1))
                ++wrong;
        }
        EXPECT_EQ(wrong.load(), 0) << "round " << round;
        EXPECT_FALSE(velocity->rawStorage().loadPending());
    }
}

}  // namespace
