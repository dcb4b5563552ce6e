// The writer: bodies written and read back equal, compressed and not; sample
// files rewritten convert to the same scene; which shapes and channels a
// selection writes and what it warns about; the file around the records
// (exact header, body count patched by close, reopening and destructor,
// directories, unopenable paths, failing bodies and streams); layouts with
// empty slots written settled.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "ByteBuilder.h"
#include "CaptureOutput.h"
#include "ExportParticles.h"
#include "MessageOf.h"
#include "ParticleBodies.h"
#include "ScopedThreads.h"
#include "WriterTestSupport.h"
#include "cb/encoding/LayoutRecord.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "zt/tile_layout3.h"

using namespace Cb;
using testsupport::messageOf;
using writertest::describe;
using writertest::warningLine;
using writertest::WriterTest;

namespace {

using Names = std::vector<std::string>;
using Written = std::map<std::string, Names>;  // shape kind -> channel names

// What the converter printed and the scene it wrote; empty when it fails.
std::string convert(const std::string& input, const std::string& output) {
    testsupport::CaptureStderr quiet;
    testsupport::CaptureStdout out;
    if (!exportParticles(input.c_str(), output.c_str(), "particles", 0.1f, 24.0f, 1.0f)) return "";
    return out.finish() + testsupport::readText(output);
}

class Selection : public WriterTest {
protected:
    Selection() {
        auto* points = static_cast<PointShape*>(body->addShape(new PointShape(true)));
        points->resizeElements(5);
        points->createChannel1f("mass", 2.0f);
        body->addShape(new EdgeShape(false));  // no channels
    }

    // Writes the body with the selection; checks the log, the channels read
    // back, and values and layout, which are written whatever the selection.
    void expectWritten(const std::string& selection, const std::string& log, const Written& expected) {
        SCOPED_TRACE("selection '" + selection + "'");
        EXPECT_EQ(log, write(file("sel.ztp"), {body.get()}, selection));
        auto reader = read(file("sel.ztp"));
        ASSERT_EQ(1, reader->bodyCount());
        Written got;
        for (const auto& [kind, shape] : reader->storedBody(0)->shapes()) {
            Names& names = got[kind];
            for (int c = 0; c < shape->channelCount(); ++c) names.push_back(shape->channel(c)->name());
        }
        EXPECT_EQ(expected, got);
        EXPECT_EQ(describe(*body, false), describe(*reader->storedBody(0), false));
    }

    std::string notFound(const std::string& what) const {
        return warningLine(what + ": it will not be written to " + file("sel.ztp"));
    }

    std::unique_ptr<Body> body = writertest::makePlainBody("Sel");
    const Names all{"position", "velocity", "density"};
    const Names points{"position", "mass"};
};

}  // namespace

TEST_F(WriterTest, EverythingComesBackEqualAndWritesTheSameBytesAgain) {
    auto body = writertest::makeRichBody("Everything");
    std::vector<uint8_t> bytes[2];
    for (bool compress : {true, false}) {
        SCOPED_TRACE(compress ? "compressed" : "uncompressed");
        const std::string path = file(compress ? "packed.ztp" : "plain.ztp");
        EXPECT_EQ("", write(path, {body.get()}, "*.*", compress));
        auto reader = read(path);
        ASSERT_EQ(1, reader->bodyCount());
        EXPECT_EQ(describe(*body), describe(*reader->storedBody(0)));
        write(file("again.ztp"), {reader->storedBody(0)}, "*.*", compress);
        bytes[compress] = testsupport::readBytes(path);
        EXPECT_TRUE(bytes[compress] == testsupport::readBytes(file("again.ztp"))) << "the rewritten file differs";
    }
    // Compression is what makes the two files differ.
    EXPECT_LT(bytes[true].size(), bytes[false].size());
}

// The stored statistics combine per-worker partials: their bytes depend on
// how many workers there are, which is the library's count, not the team's.
TEST_F(WriterTest, TheSameBodyWritesTheSameBytesOnAnyTeam) {
    auto body = testsupport::makeParticleBody({"Teams", {{{1, 1, 1}}, {{2, 2, 2}}, {{3, 3, 3}}}});
    // Particles in the coarse blocks of an early and of the last slot, so
    // that the blocks holding particles fall to different workers.
    auto& blocks = body->mutableParticleShape()->positions()->blocks();
    for (const int64_t slot : {int64_t(5), blocks.listCount(1) - 1}) {
        auto* b = blocks.typedBlock(1, slot);
        const zt::vec3i t = b->coord();
        for (int e = 0; e < 4; ++e)
            b->append(zt::vec3f{{9.0f * float(t[0]) + 0.5f * float(e), 9.0f * float(t[1]) + 1, 9.0f * float(t[2]) + 2}});
    }
    body->mutableParticleShape()->syncChannels();
    std::vector<uint8_t> first;
    for (int team : {1, 2, 4}) {
        SCOPED_TRACE(::testing::Message() << "team " << team);
        testsupport::ScopedThreads scope(team);
        write(file("team.ztp"), {body.get()});
        const std::vector<uint8_t> bytes = testsupport::readBytes(file("team.ztp"));
        if (first.empty()) first = bytes;
        EXPECT_TRUE(first == bytes) << "the file differs from the one written by one thread";
    }
}

TEST_F(WriterTest, SampleFilesReadAndWrittenAgainConvertIdentically) {
    const std::string folder = std::string(CB_SOURCE_DIR) + "/../shared/fixtures/cases";
    std::vector<std::string> samples;
    if (std::filesystem::is_directory(folder))
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().extension() == ".ztp") samples.push_back(entry.path().string());
    if (samples.empty()) GTEST_SKIP() << "no sample files in " << folder;
    int rewritten = 0;
    for (const std::string& input : samples) {
        SCOPED_TRACE(input);
        const auto original = convert(input, file("original.txscene"));
        if (original.empty()) continue;  // refused files are the converter's business
        auto reader = read(input);
        std::vector<Body*> bodies;
        for (int i = 0; i < reader->bodyCount(); ++i) bodies.push_back(reader->storedBody(i));
        for (bool compress : {true, false}) {
            SCOPED_TRACE(compress ? "compressed" : "uncompressed");
            write(file("copy.ztp"), bodies, "*.*", compress);
            EXPECT_TRUE(original == convert(file("copy.ztp"), file("again.txscene"))) << "conversions differ";
            auto back = read(file("copy.ztp"));
            ASSERT_EQ(reader->bodyCount(), back->bodyCount());
            for (int i = 0; i < back->bodyCount(); ++i)
                EXPECT_EQ(describe(*bodies[size_t(i)]), describe(*back->storedBody(i)));
            ++rewritten;
        }
    }
    EXPECT_GT(rewritten, 0);
}

TEST_F(Selection, ShapesAndChannelsWritten) {
    // "*.*" leaves out the edge shape, which has no channels.
    expectWritten("*.*", "", {{"Particle", all}, {"Point", points}});
    expectWritten("Particle.position", "", {{"Particle", {"position"}}});
    expectWritten("*.position", "", {{"Particle", {"position"}}, {"Point", {"position"}}});
    // Blanks and tabs separate selectors.
    expectWritten("  Point.*\tParticle.density ", "", {{"Particle", {"density"}}, {"Point", points}});
    // A channel matched twice is written once.
    expectWritten("Particle.position *.position Particle.* *.*", "", {{"Particle", all}, {"Point", points}});
    // Only channels that exist reach the shape, so nothing is said.
    expectWritten("Particle.nothing", "", {});
    expectWritten("", "", {});
}

TEST_F(Selection, NamesThatMatchNothingOrCannotBeWrittenAreReported) {
    // A lone star has an empty shape part.
    expectWritten("Field.distance Particle.velocity Tet.* *",
                  notFound("Shape 'Field' not found in body 'Sel'") + notFound("Shape 'Tet' not found in body 'Sel'") +
                      notFound("Shape '' not found in body 'Sel'"),
                  {{"Particle", {"velocity"}}});
    // Channels keep a qualified name as given; a shape cannot write such a
    // channel under its own name, and says so.
    body->mutableParticleShape()->createChannel1f("Field.temperature", 0.0f);
    body->mutableParticleShape()->createChannel1f("Particle.extra", 0.0f);
    // No reader can recreate a "buffer::int64" channel by name: written, it
    // would make its body, and every body after it, unreadable.
    body->mutablePointShape()->createChannel1i64("big", int64_t(1) << 40);
    expectWritten("Particle.* Point.*",
                  warningLine("Skipping channel 'Point.big': type 'buffer::int64' cannot be read back from " +
                              file("sel.ztp")) +
                      warningLine("Skipping channel 'Field.temperature': cannot be written by Particle-Shape") +
                      notFound("Channel 'Particle.extra' not found in Particle-Shape"),
                  {{"Particle", all}, {"Point", points}});
}

// A channel's name reaches its shape through a space-separated list, where
// an empty name would vanish: such a channel (a file may hold one) is refused,
// with nothing of the body written, instead of being left out unseen.
TEST_F(Selection, AChannelWithoutANameIsRefusedBeforeAnythingIsWritten) {
    auto* shape = body->mutableParticleShape();
    shape->createChannel1f("tab\there", 1.0f);  // other characters come back as they were
    expectWritten("*.*", "", {{"Particle", {"position", "velocity", "density", "tab\there"}}, {"Point", points}});
    shape->createChannel1f("", 1.0f);
    for (const std::string selection : {"*.*", "Particle.*"}) {
        ZtpWriter writer;
        writer.open(file("bad.ztp"));
        const int64_t header = writer.tell();
        EXPECT_EQ("Cannot write a channel without a name: Particle-Shape of body 'Sel'",
                  messageOf([&] { writer.writeBody(*body, selection, true); }));
        EXPECT_EQ(0, writer.bodiesWritten());
        EXPECT_EQ(header, writer.tell());
    }
    // Not selected, it is no matter.
    expectWritten("Point.*", "", {{"Point", points}});
}

TEST_F(WriterTest, ALayoutWithEmptySlotsComesBackWithEveryBlockOnTheTileOfItsSlot) {
    auto body = testsupport::makeParticleBody({"Holes", {{{1, 1, 1}}, {{2, 1, 1}}}});
    zt::tile_layout3& layout = body->mutableLayout();
    auto* shape = body->mutableParticleShape();
    // Promoting a coarse tile empties its coarse slot; an empty fine slot
    // joins it, and every coarse block gets a particle of its own tile.
    layout.addTile(1, 0, 0, false);
    layout.updateNeighbours(true);
    layout.appendEmptyFineSlot();
    shape->updateLayout(layout);
    auto& blocks = shape->positions()->blocks();
    for (int64_t s = 1; s < blocks.listCount(1); ++s)
        if (auto* b = blocks.typedBlock(1, s)) {
            const zt::vec3i t = b->coord();
            b->append(zt::vec3f{{9.0f * float(t[0]) + 0.5f, 9.0f * float(t[1]) + 0.5f, 9.0f * float(t[2]) + 0.5f}});
        }
    shape->syncChannels();
    ASSERT_TRUE(layout.hasEmptyFineSlots() && layout.hasEmptyCoarseSlots());
    EXPECT_EQ("Cannot write a tile layout with empty slots: settle it first", messageOf([&] {
                  ZtpWriter writer;
                  writer.open(file("layout.ztp"));
                  writeLayoutRecord(writer.stream(), layout);
              }));

    EXPECT_EQ("", write(file("holes.ztp"), {body.get()}));
    EXPECT_FALSE(body->layout().hasEmptySlots());  // writing settled it
    auto reader = read(file("holes.ztp"));
    ASSERT_EQ(1, reader->bodyCount());
    Body& back = *reader->storedBody(0);
    EXPECT_EQ(describe(*body), describe(back));
    const zt::tile_layout3& got = back.layout();
    EXPECT_EQ(2, got.fineCount());
    EXPECT_EQ(35, got.coarseCount());  // slot 0, 25 left around (0,0,0), 9 more around (1,0,0)
    auto& gotBlocks = static_cast<ParticleShape*>(back.mutableShape("Particle"))->positions()->blocks();
    for (int list = 0; list < 2; ++list) {
        ASSERT_EQ(list ? got.coarseCount() : got.fineCount(), gotBlocks.listCount(list));
        for (int64_t s = list; s < gotBlocks.listCount(list); ++s) {
            const zt::tile3* tile = list ? got.coarseTile(s) : got.fineTile(s);
            ASSERT_TRUE(tile && gotBlocks.typedBlock(list, s)) << "list " << list << " slot " << s;
            EXPECT_EQ(tile->coord(), gotBlocks.typedBlock(list, s)->coord()) << "list " << list << " slot " << s;
            EXPECT_EQ(list ? 1 : (s ? 0 : 2), gotBlocks.typedBlock(list, s)->count()) << "list " << list << " slot " << s;
        }
    }
}

TEST_F(WriterTest, HeaderCountPatchedByCloseReopeningAndDestructorFoldersAndUnopenablePaths) {
    auto c = writertest::makePlainBody("c"), a = writertest::makePlainBody("a");
    Body bare("b");  // no tiles, no values, and a master shape with no points
    bare.addShape(new PointShape(true));
    Body* bodies[] = {c.get(), a.get(), &bare};
    {
        ZtpWriter writer;
        writer.setTime(2.5);
        writer.open(file("empty.ztp"));
        writer.close();
        writer.close();  // a second close does nothing
        EXPECT_EQ("Ztp::Writer(" + dir.path() + ") failed: Cannot open file for writing.",
                  messageOf([&] { writer.open(dir.path()); }));
        EXPECT_EQ("ZtpWriter(" + dir.path() + ") has no open file",
                  messageOf([&] { writer.writeBody(*a, "*.*", true); }));
        writer.open(file("one/two/three.ztp"));  // missing folders are made
        for (Body* body : bodies) writer.writeBody(*body, "*.*", true);
        writer.open(file("one/one.ztp"));  // opening again finishes the open file first
        writer.writeBody(*a, "*.*", false);
    }
    EXPECT_EQ("B1 AB BA AB 10 00 00 00 00 00 00 00 00 00 04 40 00 00 00 00",
              testsupport::toHex(testsupport::readBytes(file("empty.ztp"))));
    // The body count sits at offset 16.
    auto count = [&](const std::string& name) {
        return testsupport::toHex(testsupport::readBytes(file(name))).substr(48, 11);
    };
    EXPECT_EQ("03 00 00 00", count("one/two/three.ztp"));
    EXPECT_EQ("01 00 00 00", count("one/one.ztp"));
    auto reader = read(file("one/two/three.ztp"));
    ASSERT_EQ(3, reader->bodyCount());
    for (int k = 0; k < 3; ++k) EXPECT_EQ(describe(*bodies[k]), describe(*reader->storedBody(k)));
}

TEST_F(WriterTest, BodyFailingPartWayLeavesNoHalfRecord) {
    auto first = writertest::makePlainBody("first"), last = writertest::makePlainBody("last");
    write(file("source.ztp"), {writertest::makeRichBody("lost").get()});
    auto source = read(file("source.ztp"));
    // The body's channel data wait in a file that is gone by the time they are written.
    std::rename(file("source.ztp").c_str(), file("moved.ztp").c_str());
    {
        testsupport::CaptureStderr quiet;
        ZtpWriter writer;
        writer.open(file("out.ztp"));
        writer.writeBody(*first, "*.*", true);
        EXPECT_EQ("read_ztp(" + file("source.ztp") + ") failed: Cannot open file: No such file or directory",
                  messageOf([&] { writer.writeBody(*source->storedBody(0), "*.*", true); }));
        writer.writeBody(*last, "*.*", true);
        EXPECT_EQ(2, writer.bodiesWritten());
    }
    auto reader = read(file("out.ztp"));
    ASSERT_EQ(2, reader->bodyCount());
    for (int k = 0; k < 2; ++k) EXPECT_EQ(describe(k ? *last : *first), describe(*reader->storedBody(k)));

    // With no body after the failing one, the file still ends with the last
    // record it counts.
    int64_t counted = 0;
    {
        testsupport::CaptureStderr quiet;
        ZtpWriter writer;
        writer.open(file("cut.ztp"));
        writer.writeBody(*first, "*.*", true);
        counted = writer.tell();
        EXPECT_NE("(no failure)", messageOf([&] { writer.writeBody(*source->storedBody(0), "*.*", false); }));
        EXPECT_EQ(counted, writer.tell());
    }
    EXPECT_EQ(counted, int64_t(testsupport::readBytes(file("cut.ztp")).size()));
    ASSERT_EQ(1, read(file("cut.ztp"))->bodyCount());
}

TEST_F(WriterTest, FullDeviceFailsInsteadOfReportingSuccess) {
    if (!testsupport::fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    auto body = writertest::makeRichBody("big");
    testsupport::CaptureStderr err;  // the destructor reports a close that fails again
    ZtpWriter writer;
    writer.open("/dev/full");
    EXPECT_NE("(no failure)", messageOf([&] {
                  writer.writeBody(*body, "*.*", false);
                  writer.close();
              }));
}
