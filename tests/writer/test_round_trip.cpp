// Bodies written and read back: every value type, enumerated groups, section
// order, layouts with fine and coarse tiles, every channel of every shape kind,
// compressed and not; what a record keeps and what it does not; and a body
// read back writes the same bytes again.
#include <gtest/gtest.h>

#include <algorithm>

#include "ByteBuilder.h"
#include "RichBody.h"
#include "ScopedThreads.h"
#include "WriterTestSupport.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldShape.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "zt/tile_layout3.h"

using namespace Cb;
using writertest::makeRichBody;

namespace {

class RoundTrip : public writertest::WriterTest {};

const ValueBase& valueOf(const Body& body, const std::string& name) { return *body.value(name); }

std::vector<std::string> shapeKinds(const Body& body) {
    std::vector<std::string> kinds;
    for (const auto& [kind, shape] : body.shapes()) kinds.push_back(kind);
    return kinds;
}

// "" for equal byte strings, else where they part and the bytes from there.
std::string firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const auto [pa, pb] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (pa == a.end() && pb == b.end()) return "";
    const auto window = [](auto from, auto end) {
        return testsupport::toHex(std::vector<uint8_t>(from, from + std::min<long>(16, end - from)));
    };
    return "offset " + std::to_string(pa - a.begin()) + ": " + window(pa, a.end()) + " against " + window(pb, b.end());
}

}  // namespace

TEST_F(RoundTrip, EveryShapeAndChannelComesBackEqual) {
    auto body = makeRichBody("Everything");
    for (bool compress : {true, false}) {
        SCOPED_TRACE(compress ? "compressed" : "uncompressed");
        const std::string path = file(compress ? "packed.ztp" : "plain.ztp");
        EXPECT_EQ("", write(path, {body.get()}, "*.*", compress));
        EXPECT_EQ(path, body->savedFile());
        std::string log;
        auto reader = read(path, &log);
        EXPECT_EQ("Corix: Reading ZTP: " + path + "\n", log);
        ASSERT_EQ(1, reader->bodyCount());
        EXPECT_EQ(16, reader->version());
        const Body& back = *reader->storedBody(0);
        writertest::expectSameBody(*body, back);
        EXPECT_EQ((std::vector<std::string>{"Edge", "Field", "Particle", "Point", "Tet", "Triangle"}),
                  shapeKinds(back));
    }
    // Compression is what makes the two files differ.
    EXPECT_LT(testsupport::readBytes(file("packed.ztp")).size(), testsupport::readBytes(file("plain.ztp")).size());
}

TEST_F(RoundTrip, BodyReadBackWritesTheSameBytes) {
    // A particle channel's stored mean is the mean of per-worker means, which
    // depends on how the blocks fell to the workers: one worker makes it
    // repeatable.
    testsupport::ScopedThreads one(1);
    auto body = makeRichBody("Again");
    for (bool compress : {true, false}) {
        SCOPED_TRACE(compress ? "compressed" : "uncompressed");
        write(file("first.ztp"), {body.get()}, "*.*", compress);
        auto reader = read(file("first.ztp"));
        ASSERT_EQ(1, reader->bodyCount());
        write(file("second.ztp"), {reader->storedBody(0)}, "*.*", compress);
        const auto first = testsupport::readBytes(file("first.ztp"));
        const auto second = testsupport::readBytes(file("second.ztp"));
        EXPECT_EQ("", firstDifference(testsupport::readBytes(file("first.ztp")),
                                      testsupport::readBytes(file("second.ztp"))));
    }
}

TEST_F(RoundTrip, ValueTextsComeBackButNotLimitsOrFlags) {
    auto body = makeRichBody("Values");
    write(file("v.ztp"), {body.get()});
    auto reader = read(file("v.ztp"));
    const Body& back = *reader->storedBody(0);

    // Sections in the body's order: "Stepping" went first when it was added.
    std::vector<std::string> sections;
    for (int s = 0; s < back.sectionCount(); ++s) sections.push_back(back.sectionAt(s)->name());
    EXPECT_EQ((std::vector<std::string>{"Stepping", "Fluid", "Controls"}), sections);

    // The texts are stored, the limits and flags are not.
    const auto& density = dynamic_cast<const Value1f&>(valueOf(back, "Density"));
    EXPECT_EQ("1000", density.expression(0));
    EXPECT_EQ(kDefaultMinLimit, density.hardMin(0));
    EXPECT_EQ(kDefaultMaxLimit, density.hardMax(0));
    EXPECT_FALSE(density.readOnly());
    EXPECT_FALSE(density.hidden());
    const auto& gravity = dynamic_cast<const Value3f&>(valueOf(back, "Gravity"));
    EXPECT_EQ("frame", gravity.expression(2));
    EXPECT_EQ("0x10", valueOf(back, "Seed").expression(0));
    EXPECT_EQ("take `frame`", valueOf(back, "Label").expression(0));
    EXPECT_NE(nullptr, dynamic_cast<const Value1i64*>(&valueOf(back, "Seed")));
    EXPECT_NE(nullptr, dynamic_cast<const Value3i*>(&valueOf(back, "Resolution")));
    EXPECT_NE(nullptr, dynamic_cast<const Value1s*>(&valueOf(back, "Label")));

    // Frame rate and thread count are written as plain integer values.
    for (const char* name : {"Frame Rate", "Thread Count"}) {
        const ValueBase& v = valueOf(back, name);
        EXPECT_EQ("value1i", v.typeName()) << name;
        EXPECT_NE(nullptr, dynamic_cast<const Value1i*>(&v)) << name;
        EXPECT_EQ(nullptr, dynamic_cast<const FpsValue*>(&v)) << name;
        EXPECT_EQ(nullptr, dynamic_cast<const ThreadCountValue*>(&v)) << name;
    }
    EXPECT_EQ("30", valueOf(back, "Frame Rate").expression(0));
    EXPECT_EQ("2", valueOf(back, "Thread Count").expression(0));

    // Enumerated values carry their group: the value owns the copy read with it.
    const auto& color = dynamic_cast<const Value1e&>(valueOf(back, "Color"));
    EXPECT_EQ("enum", color.typeName());
    EXPECT_EQ("Blue", color.selected());
    ASSERT_NE(nullptr, color.group());
    EXPECT_EQ("ColorEnum", color.group()->name());
    EXPECT_EQ((std::vector<std::string>{"Red", "Green", "Blue"}), color.group()->names());
    EXPECT_TRUE(color.ownsGroup());
    const auto& enabled = dynamic_cast<const ValueToggle&>(valueOf(back, "Enabled"));
    EXPECT_EQ("toggle", enabled.typeName());
    EXPECT_TRUE(enabled.on());
    EXPECT_EQ((std::vector<std::string>{"Off", "On"}), enabled.group()->names());
    const auto& unset = dynamic_cast<const Value1e&>(valueOf(back, "Unset"));
    EXPECT_EQ("", unset.selected());
    EXPECT_EQ("", valueOf(back, "Empty").expression(0));

    // The stored body keeps its motion; a body handed out is unsolved.
    EXPECT_EQ("Dynamic", dynamic_cast<const Value1e&>(valueOf(back, "Motion Type")).selected());
    EXPECT_TRUE(back.isEvolving());
    std::unique_ptr<Body> taken = reader->takeBody(0);
    EXPECT_EQ("Unsolved", dynamic_cast<const Value1e&>(valueOf(*taken, "Motion Type")).selected());
    writertest::expectSameShapes(*body, *taken);
}

TEST_F(RoundTrip, ConstructionGroupComesBackWithEmptyForLive) {
    // The one value that does not come back as written: a "Construction"
    // group's "Live" entry is read as "Empty", while the selection is kept.
    Body body("Walls");
    EnumGroup* group = body.addEnumGroup(
        std::make_unique<EnumGroup>("Construction", std::vector<std::string>{"Live", "Solid"}));
    body.addSection("Build")->addValue(std::make_unique<Value1e>("Construction", group, "Live"));
    write(file("c.ztp"), {&body});
    auto reader = read(file("c.ztp"));
    const auto& construction = dynamic_cast<const Value1e&>(valueOf(*reader->storedBody(0), "Construction"));
    EXPECT_EQ("Construction", construction.group()->name());
    EXPECT_EQ((std::vector<std::string>{"Empty", "Solid"}), construction.group()->names());
    EXPECT_EQ("Live", construction.selected());
}

TEST_F(RoundTrip, LayoutKeepsCellSizeTileSizeAndBothTileLists) {
    auto body = makeRichBody("Layout");
    const zt::tile_layout3& layout = body->layout();
    ASSERT_EQ(3, layout.fineCount());
    ASSERT_GT(layout.coarseCount(), 1);
    write(file("l.ztp"), {body.get()});
    auto reader = read(file("l.ztp"));
    const zt::tile_layout3& back = reader->storedBody(0)->layout();
    EXPECT_EQ(0.5f, back.cellSize());
    EXPECT_EQ(4u, back.tileSize());
    EXPECT_EQ(layout.fineCount(), back.fineCount());
    EXPECT_EQ(layout.coarseCount(), back.coarseCount());
    EXPECT_EQ(layout.fineVoxelCount(), back.fineVoxelCount());
    writertest::expectSameLayout(*body, *reader->storedBody(0));
    // Every coarse tile is a tile of the read layout too, found by its coordinates.
    const auto coarse = layout.coarseCoordinates();
    for (int64_t s = 1; s < coarse.count(); ++s) EXPECT_NE(nullptr, back.findTile(coarse[s])) << s;
}

TEST_F(RoundTrip, ChannelDetailsThatTravelWithTheData) {
    auto body = makeRichBody("Details");
    write(file("d.ztp"), {body.get()}, "*.*", false);
    auto reader = read(file("d.ztp"));
    const Body& back = *reader->storedBody(0);

    // Statistics and counts are refreshed by the write and read back.
    const Channel& position = *back.particleShape()->channel("position");
    EXPECT_EQ(body->particleShape()->positions()->size(), position.storedCount());
    EXPECT_EQ(body->particleShape()->positions()->max3f(), position.storedMax());

    // The next id continues where the written channel stopped.
    auto* ids = const_cast<ParticleChannelId64*>(back.particleShape()->channelAs<ParticleChannelId64>("id64"));
    auto* idsWritten = body->mutableParticleShape()->mutableChannelAs<ParticleChannelId64>("id64");
    EXPECT_EQ(int64_t(position.storedCount()), idsWritten->nextId());
    EXPECT_EQ(idsWritten->nextId(), ids->nextId());

    // The droplet channel keeps its class and data; its two parameters are
    // not stored.
    const auto* droplet = back.particleShape()->channelAs<ParticleChannelDroplet>("droplet");
    EXPECT_EQ("particle::droplet", droplet->typeName());
    EXPECT_EQ(0.0f, droplet->threshold());
    EXPECT_EQ(0.0f, droplet->mergebackDepth());
    EXPECT_EQ(0.25f, droplet->defaultValue());

    // Buffer channels made without a shape create call come back by type name.
    EXPECT_EQ("buffer::vec2f", back.pointShape()->channel("uv")->typeName());
    EXPECT_EQ("buffer::vec4f", back.pointShape()->channel("color")->typeName());

    // The special field channels keep their classes and fixed backgrounds.
    const FieldShape& fields = *back.fieldShape();
    EXPECT_EQ("field::fluid-distance", fields.channel("fluid-distance")->typeName());
    EXPECT_EQ("field::solid-distance", fields.channel("solid-distance")->typeName());
    EXPECT_EQ("field::particle-count", fields.channel("particle-count")->typeName());
    EXPECT_EQ(kFarDistance, fields.channelAs<FieldChannel1f>("fluid-distance")->field().background());
    EXPECT_EQ(kFarDistance, fields.channelAs<FieldChannel1f>("solid-distance")->field().background());
    const auto* count = fields.channelAs<FieldChannel1f>("particle-count");
    EXPECT_EQ(0.0f, count->field().background());
    EXPECT_EQ(1, count->field().sampleSet());
    EXPECT_EQ(3, fields.channelAs<FieldChannelBase>("density")->updateMode());
    EXPECT_TRUE(fields.channelAs<FieldChannelBase>("density")->flag(kFieldFlagB));
    EXPECT_EQ(int64_t(1) << 36, fields.channelAs<FieldChannel1i64>("stamp")->field().at(0));
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
    EXPECT_FALSE(back.hasShape("Field"));
    ASSERT_TRUE(back.hasShape("Point"));
    EXPECT_EQ(0u, back.pointShape()->channel("position")->size());
    writertest::expectSameBody(body, back);
}

TEST_F(RoundTrip, BufferInt64ChannelIsLeftOutSoTheFileStaysReadable) {
    // No reader can recreate a "buffer::int64" channel by name: written, it
    // would make its body, and every body after it, unreadable.
    auto first = makeRichBody("First");
    first->mutablePointShape()->createChannel1i64("big", int64_t(1) << 40);
    auto second = writertest::makeParticleOnlyBody("Second");
    const std::string log = write(file("i64.ztp"), {first.get(), second.get()});
    EXPECT_EQ(writertest::warningLine("Skipping channel 'Point.big': type 'buffer::int64' cannot be read back from " +
                                      file("i64.ztp")),
              log);
    std::string readLog;
    auto reader = read(file("i64.ztp"), &readLog);
    EXPECT_EQ(std::string::npos, readLog.find("Corrupt")) << readLog;
    ASSERT_EQ(2, reader->bodyCount());
    EXPECT_EQ(-1, reader->storedBody(0)->pointShape()->indexOf("big"));
    EXPECT_EQ(9, reader->storedBody(0)->pointShape()->channelCount());
    writertest::expectSameBody(*second, *reader->storedBody(1));
}
