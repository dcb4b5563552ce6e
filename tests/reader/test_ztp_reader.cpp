// The ZTP reader: header checks, body records of every version, damaged
// records, name patterns, signature names, hand-outs and deferred data.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "ByteBuilder.h"
#include "CaptureOutput.h"
#include "ParticleBodies.h"
#include "TempPath.h"
#include "cb/factory/Startup.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value1e.h"
#include "zt/tile_layout3.h"

using namespace Cb;
using testsupport::ByteBuilder;
using testsupport::makeParticleBody;

namespace {

class Reader : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::CaptureStderr quiet;  // the missing signature folders
        Cb::begin(true);
    }
    void TearDown() override { Cb::end(); }

    std::string file(const std::string& name) const { return dir.file(name); }

    // Reads a file, returning what the reader logged.
    std::unique_ptr<ZtpReader> read(const std::string& path, std::string* log = nullptr,
                                    const std::string& pattern = "*", const std::string& signature = "Body") {
        testsupport::CaptureStderr err;
        auto reader = std::make_unique<ZtpReader>(path, pattern, signature);
        if (log) *log = err.finish();
        return reader;
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv corix{"CORIX_PATH", dir.path().c_str()};
};

std::string message(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no exception>";
}

ByteBuilder header(int32_t version, int32_t bodies, double time = 0.0) {
    ByteBuilder b;
    b.u32(0xABBAABB1u).i32(version).f64(time).i32(bodies);
    return b;
}

// A body record of the given version: no sections, an empty layout, no shapes.
void emptyBody(ByteBuilder& b, int version, const std::string& name, const std::string& type) {
    b.str(name);
    if (version >= 9) b.str(type);
    if (version >= 16) b.str("");
    for (float f : {1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 1.f}) b.f32(f);
    b.i32(0);                        // sections
    b.f32(1.0f).i32(0).i32(1).i32(9);  // layout: cell size, counts, N
    if (version >= 14)
        b.i64(0).i64(1).i32(0).i32(0).i32(0);
    else
        b.u32(0).u32(12).u32(0).i32(0).i32(0).i32(0);  // legacy arrays: empty, one raw coarse slot
    b.i32(0);  // shapes
}

}  // namespace

TEST_F(Reader, HeaderFailures) {
    testsupport::writeFile(file("bad.ztp"), header(16, 0).hex("00").data());
    auto bytes = testsupport::readBytes(file("bad.ztp"));
    bytes[0] = 0xB2;
    testsupport::writeFile(file("bad.ztp"), bytes);
    EXPECT_EQ("ZtpReader: bad magic in " + file("bad.ztp"), message([&] { read(file("bad.ztp")); }));
    EXPECT_EQ("ZtpReader(" + file("none.ztp") + ") failed: Cannot open file: No such file or directory",
              message([&] { read(file("none.ztp")); }));
    testsupport::writeFile(file("short.ztp"), ByteBuilder().u32(0xABBAABB1u).i32(16).data());
    EXPECT_EQ("Error reading ztp value", message([&] { read(file("short.ztp")); }));
    testsupport::writeFile(file("future.ztp"), header(17, 0).data());
    EXPECT_EQ("ZtpReader: unsupported version 17 in " + file("future.ztp"),
              message([&] { read(file("future.ztp")); }));

    ZtpReader quiet;
    quiet.setThrowOnOpenFailure(false);
    EXPECT_FALSE(quiet.open(file("none.ztp"), "*", "Body"));
    EXPECT_EQ(0, quiet.bodyCount());
}

TEST_F(Reader, ZeroBodiesAndHeaderInfo) {
    testsupport::writeFile(file("zero.ztp"), header(16, 0, 2.5).data());
    std::string log;
    auto reader = read(file("zero.ztp"), &log);
    EXPECT_EQ("Corix: Reading ZTP: " + file("zero.ztp") + "\n", log);
    EXPECT_EQ(0, reader->bodyCount());
    EXPECT_EQ(16, reader->version());
    EXPECT_EQ(2.5, reader->time());
    double time = 0;
    ZtpReader other;
    EXPECT_TRUE(other.readHeaderInfo(file("zero.ztp"), time));
    EXPECT_EQ(2.5, time);
    EXPECT_EQ(1, other.version());  // the reader itself is untouched
    EXPECT_FALSE(other.readHeaderInfo(file("none.ztp"), time));
    auto bytes = testsupport::readBytes(file("zero.ztp"));
    bytes[3] = 0;
    testsupport::writeFile(file("bad.ztp"), bytes);
    EXPECT_EQ("bad magic in ztp " + file("bad.ztp"), message([&] { other.readHeaderInfo(file("bad.ztp"), time); }));
    bytes.resize(10);
    bytes[3] = 0xAB;
    testsupport::writeFile(file("cut.ztp"), bytes);
    EXPECT_EQ("Error reading ztp value", message([&] { other.readHeaderInfo(file("cut.ztp"), time); }));
}

TEST_F(Reader, DamagedThirdBodyKeepsTheFirstTwo) {
    auto a = makeParticleBody({"a", {{{0.5f, 0.5f, 0.5f}}}});
    auto b = makeParticleBody({"b", {{{1.5f, 0.5f, 0.5f}}}});
    auto c = makeParticleBody({"c", {{{2.5f, 0.5f, 0.5f}}}});
    auto offsets = testsupport::writeBodies(file("three.ztp"), {a.get(), b.get(), c.get()});
    auto bytes = testsupport::readBytes(file("three.ztp"));
    bytes.resize(size_t(offsets[2]) + 30);  // cut inside the third record
    testsupport::writeFile(file("three.ztp"), bytes);
    std::string log;
    auto reader = read(file("three.ztp"), &log);
    EXPECT_EQ(2, reader->bodyCount());
    EXPECT_EQ("a", reader->bodyName(0));
    EXPECT_EQ("b", reader->bodyName(1));
    EXPECT_NE(std::string::npos, log.find("Corix ** WARNING ** : Corrupt ZTP: ")) << log;
}

TEST_F(Reader, UnknownBodyTypeIsReportedAsCorrupt) {
    ByteBuilder b = header(16, 1);
    emptyBody(b, 16, "x", "No-Such-Type");
    testsupport::writeFile(file("t.ztp"), b.data());
    std::string log;
    auto reader = read(file("t.ztp"), &log);
    EXPECT_EQ(0, reader->bodyCount());
    EXPECT_NE(std::string::npos,
              log.find("Corix ** WARNING ** : Corrupt ZTP: Error creating body of type 'No-Such-Type': not registered"))
        << log;
}

TEST_F(Reader, PatternsPickBodiesByName) {
    ByteBuilder b = header(16, 3);
    for (const char* name : {"water", "foam", "spray"}) emptyBody(b, 16, name, "Particle-Liquid");
    testsupport::writeFile(file("p.ztp"), b.data());
    EXPECT_EQ(3, read(file("p.ztp"))->bodyCount());
    auto two = read(file("p.ztp"), nullptr, "spray\twater");
    ASSERT_EQ(2, two->bodyCount());
    EXPECT_EQ("water", two->bodyName(0));
    EXPECT_EQ("spray", two->bodyName(1));
    EXPECT_EQ(0, read(file("p.ztp"), nullptr, "wat")->bodyCount());
}

TEST_F(Reader, VersionEightBodiesBecomeUnsolved) {
    ByteBuilder b = header(8, 1);
    emptyBody(b, 8, "old", "");
    testsupport::writeFile(file("v8.ztp"), b.data());
    auto reader = read(file("v8.ztp"));
    ASSERT_EQ(1, reader->bodyCount());
    Body* stored = reader->storedBody(0);
    auto* motion = dynamic_cast<Value1e*>(stored->value("Motion Type"));
    ASSERT_NE(nullptr, motion);
    EXPECT_EQ("Unsolved", motion->selected());
    EXPECT_EQ(stored->enumGroup("MotionTypeEnum"), motion->group());
    EXPECT_EQ((std::vector<std::string>{"Dynamic", "Kinematic", "User", "Unsolved"}), motion->group()->names());
    EXPECT_EQ("Body", stored->signatureName());

    ByteBuilder nine = header(9, 1);
    emptyBody(nine, 9, "new", "Particle");
    testsupport::writeFile(file("v9.ztp"), nine.data());
    EXPECT_FALSE(read(file("v9.ztp"))->storedBody(0)->hasValue("Motion Type"));
}

TEST_F(Reader, SignatureNames) {
    ByteBuilder b = header(16, 1);
    emptyBody(b, 16, "w", "Particle-Liquid");
    testsupport::writeFile(file("s.ztp"), b.data());
    EXPECT_EQ("Particle-Liquid", read(file("s.ztp"))->storedBody(0)->signatureName());
    EXPECT_EQ("Rigid-Body", read(file("s.ztp"), nullptr, "*", "Rigid-Body")->storedBody(0)->signatureName());
}

TEST_F(Reader, TakeBodyHandsOutNewUnsolvedCopies) {
    auto a = makeParticleBody({"a", {{{0.5f, 0.5f, 0.5f}}}});
    testsupport::writeBodies(file("one.ztp"), {a.get()});
    auto reader = read(file("one.ztp"));
    std::unique_ptr<Body> first = reader->takeBody(0);
    std::unique_ptr<Body> second = reader->takeBody(0);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(reader->storedBody(0), first.get());
    EXPECT_EQ("a", first->name());
    EXPECT_EQ("Cannot access out-of-bounds body index 1 in BodyReader", message([&] { reader->takeBody(1); }));
    EXPECT_EQ("Cannot access out-of-bounds body index -1 in BodyReader", message([&] { reader->takeBody(-1); }));
}

TEST_F(Reader, ChannelDataStaysInTheFileUntilUsed) {
    auto a = makeParticleBody({"a", {{{0.5f, 0.5f, 0.5f}}, {{10.5f, 0.5f, 0.5f}}}});
    testsupport::writeBodies(file("d.ztp"), {a.get()});
    auto reader = read(file("d.ztp"));
    std::unique_ptr<Body> body = reader->takeBody(0);
    reader->close();
    auto* positions = body->particleShape()->channelAs<ParticleChannel<zt::vec3f>>("position");
    EXPECT_TRUE(positions->rawStorage().loadPending());
    std::rename(file("d.ztp").c_str(), file("moved.ztp").c_str());
    EXPECT_EQ("read_ztp(" + file("d.ztp") + ") failed: Cannot open file: No such file or directory",
              message([&] { positions->makeResident(); }));
    std::rename(file("moved.ztp").c_str(), file("d.ztp").c_str());
    positions->makeResident();
    EXPECT_EQ(2u, positions->size());
    EXPECT_EQ(10.5f, positions->max3f()[0]);
}

TEST_F(Reader, WrittenBodiesReadBackEqual) {
    auto a = makeParticleBody({"a", {{{0.5f, 1.5f, 2.5f}}, {{-3.5f, 20.0f, 7.0f}}, {{0.25f, 0.5f, 0.75f}}}});
    a->setExtraText("hello");
    for (bool compress : {true, false}) {
        testsupport::writeBodies(file("rt.ztp"), {a.get()}, compress);
        auto reader = read(file("rt.ztp"));
        ASSERT_EQ(1, reader->bodyCount());
        std::unique_ptr<Body> b = reader->takeBody(0);
        EXPECT_EQ("hello", b->extraText());
        EXPECT_EQ("Particle-Liquid", b->signatureName());
        EXPECT_EQ(a->layout().fineCount(), b->layout().fineCount());
        EXPECT_EQ(a->layout().coarseCount(), b->layout().coarseCount());
        const auto& pa = *a->particleShape()->channelAs<ParticleChannel<zt::vec3f>>("position");
        const auto& pb = *b->particleShape()->channelAs<ParticleChannel<zt::vec3f>>("position");
        pb.makeResident();
        for (int64_t g = 0; g < a->layout().fineCount(); ++g) {
            auto ea = pa.blockElements(g), eb = pb.blockElements(g);
            ASSERT_EQ(ea.size(), eb.size());
            for (size_t e = 0; e < ea.size(); ++e) EXPECT_EQ(ea[e], eb[e]);
        }
        EXPECT_EQ(pa.storedCount(), pb.storedCount());
        EXPECT_EQ(pa.storedMax(), pb.storedMax());
    }
}
