// Field shape and field channels in memory: what the shape creates, the
// type names, values through the Channel interface (component, sample,
// statistics), following a layout through resize and compaction, copies,
// the fluid-distance background rule and the occluder list.
#include <gtest/gtest.h>

#include <memory>

#include "CaptureOutput.h"
#include "FieldTestSupport.h"
#include "MessageOf.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldShape.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/values/Object.h"

using Cb::FieldChannel1f;
using Cb::FieldChannel1i;
using Cb::FieldChannel1i64;
using Cb::FieldChannel3f;
using Cb::FieldShape;
using testsupport::messageOf;

namespace {

zt::vec3f all(float s) { return {s, s, s}; }

class Thing : public Cb::Object {
public:
    explicit Thing(std::string name) : Object(std::move(name)) {}
    std::string name() const override { return ownName(); }
};

}  // namespace

TEST(FieldShapeCreate, SpecialNamesGetTheirClassesNamesAndFixedBackgrounds) {
    FieldShape shape(true);
    EXPECT_EQ("Field", shape.name());
    EXPECT_EQ(0, shape.channelCount());  // no master to create

    auto* count = dynamic_cast<Cb::FieldChannelParticleCount*>(shape.createChannel1f("particle-count", 5));
    ASSERT_NE(nullptr, count);
    EXPECT_EQ(0.0f, count->field().background());
    EXPECT_EQ(1, count->field().sampleSet());
    EXPECT_EQ("field::particle-count", count->typeName());
    EXPECT_EQ(10, count->hookPriority());

    auto* fluid = dynamic_cast<Cb::FieldChannelFluidDistance*>(shape.createChannel1f("Field.fluid-distance", 5));
    ASSERT_NE(nullptr, fluid);
    EXPECT_EQ("fluid-distance", fluid->name());
    EXPECT_EQ(100000.0f, fluid->field().background());
    EXPECT_EQ(0, fluid->field().sampleSet());

    auto* solid = dynamic_cast<Cb::FieldChannelSolidDistance*>(shape.createChannel1f("solid-distance", 5));
    ASSERT_NE(nullptr, solid);
    EXPECT_EQ(100000.0f, solid->field().background());
    EXPECT_EQ(-1, solid->companion().background());
    EXPECT_EQ("field::solid-distance", solid->typeName());
    EXPECT_EQ(1, solid->hookPriority());

    Cb::Channel* plain = shape.createChannel1f("Field.pressure", 2.5f);
    EXPECT_EQ("Field.pressure", plain->name());
    EXPECT_EQ("field::float", plain->typeName());
    EXPECT_EQ(all(2.5f), plain->defaultValue3f());
}

TEST(FieldShapeCreate, IntVectorAndRefusedChannels) {
    FieldShape shape(false);
    Cb::Channel* i = shape.createChannel1i("flags", -3);
    EXPECT_EQ("field::int", i->typeName());
    EXPECT_EQ(Cb::kTypeInt, i->typeCode());
    EXPECT_EQ(all(-3), i->defaultValue3f());
    Cb::Channel* big = shape.createChannel1i64("ids", int64_t(1) << 40);
    EXPECT_EQ("field::int64", big->typeName());
    EXPECT_EQ(Cb::kTypeInt64, big->typeCode());
    EXPECT_EQ(all(float(int64_t(1) << 40)), big->defaultValue3f());
    Cb::Channel* v = shape.createChannel3f("velocity", {1, 2, 3});
    EXPECT_EQ("field::vec3f", v->typeName());
    EXPECT_EQ(Cb::kTypeVec3f, v->typeCode());
    EXPECT_EQ((zt::vec3f{1, 2, 3}), v->defaultValue3f());

    EXPECT_EQ("Cannot create field3i channel", messageOf([&] { shape.createChannel3i("cells", {1, 2, 3}); }));
    EXPECT_EQ("2i channels not supported in a Field-Shape", messageOf([&] { shape.createChannel2i("e", {0, 1}); }));
    EXPECT_EQ("4i channels not supported in a Field-Shape",
              messageOf([&] { shape.createChannel4i("t", {0, 1, 2, 3}); }));
    EXPECT_EQ("Cannot create channel 'flags' in Field-Shape: channel already exists (of type field::int)",
              messageOf([&] { shape.createChannel1f("flags", 0); }));
    EXPECT_EQ(3, shape.channelCount());
    EXPECT_EQ(nullptr, shape.masterChannel());
}

TEST(FieldShapeCreate, SizeAndEmptinessAreThoseOfTheFirstChannel) {
    FieldShape shape(false);
    EXPECT_TRUE(shape.empty());
    EXPECT_EQ(0, shape.size());
    auto layout = fieldtest::twoTileLayout(2);
    shape.createChannel1f("a", 0);
    shape.createChannel1f("b", 0);
    EXPECT_TRUE(shape.empty());
    shape.mutableChannel(1).mutableGet()->updateLayout(*layout);
    EXPECT_TRUE(shape.empty());  // only "b" has values
    shape.updateLayout(*layout);
    EXPECT_FALSE(shape.empty());
    EXPECT_EQ(16, shape.size());

    std::unique_ptr<Cb::Shape> registered(Cb::createShape("Field", true));
    ASSERT_NE(nullptr, dynamic_cast<FieldShape*>(registered.get()));
    EXPECT_EQ(0, registered->channelCount());
    std::unique_ptr<Cb::Shape> copy(shape.clone());
    EXPECT_TRUE(copy->channel(0) == shape.channel(0));
}

TEST(FieldChannelTypes, RegistryCreatesEveryFieldClassAndTestsTheBranch) {
    const char* names[] = {"field::int",           "field::int64",          "field::float",
                           "field::vec3f",         "field::particle-count", "field::fluid-distance",
                           "field::solid-distance"};
    for (const char* name : names) {
        std::unique_ptr<Cb::Channel> channel(Cb::createChannel(name));
        EXPECT_EQ(name, channel->typeName());
        EXPECT_TRUE(Cb::isChannelType(channel.get(), "field::base")) << name;
        EXPECT_FALSE(Cb::isChannelType(channel.get(), "buffer::base")) << name;
    }
    std::unique_ptr<Cb::Channel> fluid(Cb::createChannel("field::fluid-distance"));
    EXPECT_TRUE(Cb::isChannelType(fluid.get(), "field::float"));
    EXPECT_FALSE(Cb::isChannelType(fluid.get(), "field::solid-distance"));
    Cb::BufferChannel<float> buffer;
    EXPECT_FALSE(Cb::isChannelType(&buffer, "field::base"));
    EXPECT_EQ("Unknown channel type: 'field::base'", messageOf([] { Cb::createChannel("field::base"); }));
    EXPECT_EQ("Unknown channel type: 'field::vec3i'", messageOf([] { Cb::createChannel("field::vec3i"); }));
}

TEST(FieldChannelValues, ComponentReadsFineAndCoarseValuesAndRefusesOthers) {
    auto layout = fieldtest::twoTileLayout(2);
    FieldChannel3f v({1, 2, 3});
    v.setName("v");
    v.updateLayout(*layout);
    v.field(0).at(5) = 10;
    v.field(2).at(5) = 30;
    v.field(1).at(-4) = -7;
    EXPECT_EQ(10.0f, v.component(5, 0));
    EXPECT_EQ(2.0f, v.component(5, 1));
    EXPECT_EQ(30.0f, v.component(5, 2));
    EXPECT_EQ(-7.0f, v.component(-4, 1));
    EXPECT_EQ(0.0f, v.component(5, 3));  // a component the vector lacks

    FieldChannel1i64 big(int64_t(1) << 40);
    big.setName("big");
    big.updateLayout(*layout);
    EXPECT_EQ(float(int64_t(1) << 40), big.component(15, 2));  // scalars ignore c
    EXPECT_EQ("Voxel index 16 is not held by field-channel 'big' (16 fine and 35 coarse values)",
              messageOf([&] { big.component(16, 0); }));
    EXPECT_EQ("Voxel index -35 is not held by field-channel 'big' (16 fine and 35 coarse values)",
              messageOf([&] { big.component(-35, 0); }));
    EXPECT_EQ("Voxel index -9223372036854775808 is not held by field-channel 'big' (16 fine and 35 coarse values)",
              messageOf([&] { big.component(INT64_MIN, 0); }));
    EXPECT_EQ("Invalid reference to Field.position", messageOf([&] { big.position3f(0, nullptr); }));
}

TEST(FieldChannelValues, SampleBlendsTheComponentFieldTrilinearly) {
    auto layout = fieldtest::twoTileLayout(2);
    FieldChannel3f v({0, 0, 0});
    v.updateLayout(*layout);
    // Voxels (1,0,0) and (2,0,0): the second lies in tile (1,0,0) at local 0.
    v.field(1).at(layout->indexAt({1.5f, 0.5f, 0.5f}, 0)) = 4.0f;
    v.field(1).at(layout->indexAt({2.5f, 0.5f, 0.5f}, 0)) = 8.0f;
    // Sample set 0: (1.25, 0, 0) lies a quarter of the way from voxel 1 to 2.
    EXPECT_FLOAT_EQ(5.0f, v.sample({1.25f, 0.0f, 0.0f}, layout.get(), 1));
    EXPECT_FLOAT_EQ(0.0f, v.sample({1.25f, 0.0f, 0.0f}, layout.get(), 0));
    // Outside the fine tiles, and without a layout: the background.
    FieldChannel1f s(9.0f);
    s.updateLayout(*layout);
    EXPECT_EQ(9.0f, s.sample({-5.0f, 0.0f, 0.0f}, layout.get(), 0));
    EXPECT_EQ(9.0f, s.sample({0.5f, 0.5f, 0.5f}, nullptr, 0));
}

TEST(FieldChannelValues, StatisticsSizeAndMemoryCoverTheFineValues) {
    auto layout = fieldtest::twoTileLayout(2);
    FieldChannel1i c(4);
    EXPECT_TRUE(c.empty());
    EXPECT_EQ(all(4), c.min3f());  // no values: the background
    EXPECT_EQ(all(4), c.mean3f());
    c.updateLayout(*layout);
    EXPECT_EQ(16u, c.size());
    EXPECT_FALSE(c.empty());
    EXPECT_FLOAT_EQ(float(c.field().fineValues().capacity() * 4) * 1e-6f, c.memoryMB());
    c.field().at(3) = -12;
    c.field().at(9) = 20;
    c.field().at(-2) = 1000;  // coarse values do not count
    EXPECT_EQ(all(-12), c.min3f());
    EXPECT_EQ(all(20), c.max3f());
    EXPECT_EQ(all((14 * 4 - 12 + 20) / 16.0f), c.mean3f());

    FieldChannel3f v({1, 2, 3});
    v.updateLayout(*layout);
    v.field(1).at(0) = -2;
    EXPECT_EQ((zt::vec3f{1, -2, 3}), v.min3f());
    EXPECT_EQ((zt::vec3f{1, 2, 3}), v.max3f());
    EXPECT_EQ(16u, v.size());
}

TEST(FieldChannelLayout, CompactionFollowsTheEmptySlotsTheLayoutReported) {
    zt::tile_layout3 layout(1.0f, 2);
    layout.addTile(0, 0, 0, false);
    layout.addTile(3, 0, 0, false);
    layout.updateNeighbours(true);
    FieldChannel1f c(-1.0f, 1);
    c.updateLayout(layout);
    for (int64_t i = 0; i < c.field().fineValues().count(); ++i) c.field().at(i) = float(i);
    for (int64_t s = 1; s < c.field().coarseValues().count(); ++s) c.field().at(-s) = float(-s);

    // A coarse neighbour becomes fine: its coarse slot empties.
    layout.addTile(1, 0, 0, false);
    c.updateLayout(layout);
    zt::field3<float> reference(c.field());
    reference.compact(layout);
    c.compactBlocks();
    ASSERT_EQ(reference.fineValues().count(), c.field().fineValues().count());
    ASSERT_EQ(reference.coarseValues().count(), c.field().coarseValues().count());
    for (int64_t i = 0; i < reference.fineValues().count(); ++i) EXPECT_EQ(reference.at(i), c.field().at(i)) << i;
    for (int64_t s = 1; s < reference.coarseValues().count(); ++s)
        EXPECT_EQ(reference.at(-s), c.field().at(-s)) << s;
    EXPECT_LT(c.field().coarseValues().count(), layout.coarseCount());

    // Compacting again before the layout settles changes nothing.
    const zt::array1<float> before = c.field().coarseValues();
    c.compactBlocks();
    EXPECT_EQ(before.count(), c.field().coarseValues().count());
    layout.settle();
    c.updateLayout(layout);
    EXPECT_EQ(layout.coarseCount(), c.field().coarseValues().count());
    EXPECT_EQ(layout.fineVoxelCount(), c.field().fineValues().count());
}

TEST(FieldChannelCopies, AreDeepWithAttributesAndALockOfTheirOwn) {
    auto layout = fieldtest::twoTileLayout(2);
    FieldChannel1f a(3.0f, 4);
    a.setName("a");
    a.setUpdateMode(Cb::kFieldUpdateParticleSplat);
    a.setFlag(Cb::kFieldFlagB, true);
    a.setFlag(Cb::kFieldFlagE, true);
    a.setAttribute(0.25f);
    a.updateLayout(*layout);
    a.field().at(1) = 7;
    std::unique_ptr<Cb::Channel> copy(a.clone());
    auto& b = dynamic_cast<FieldChannel1f&>(*copy);
    EXPECT_EQ("a", b.name());
    EXPECT_EQ(3, b.updateMode());
    EXPECT_FALSE(b.flag(Cb::kFieldFlagA));
    EXPECT_TRUE(b.flag(Cb::kFieldFlagB));
    EXPECT_TRUE(b.flag(Cb::kFieldFlagE));
    EXPECT_EQ(0.25f, b.attribute());
    EXPECT_EQ(4, b.field().sampleSet());
    EXPECT_NE(&a.lock(), &b.lock());
    b.field().at(1) = 8;
    EXPECT_EQ(7.0f, a.component(1, 0));
    EXPECT_EQ(8.0f, b.component(1, 0));

    a.clear();
    EXPECT_TRUE(a.empty());
    EXPECT_TRUE(a.loaded());
    EXPECT_EQ("a", a.name());
}

TEST(FluidDistanceBackground, StaysFarWhateverIsCopiedReplacedOrUpdated) {
    auto layout = fieldtest::twoTileLayout(2);
    Cb::FieldChannelFluidDistance fluid;
    fluid.field().setBackground(5.0f);
    {
        testsupport::CaptureStderr err;
        std::unique_ptr<Cb::Channel> copy(fluid.clone());
        EXPECT_EQ(100000.0f, static_cast<Cb::FieldChannelFluidDistance&>(*copy).field().background());
        EXPECT_NE(std::string::npos,
                  err.finish().find("Ignored attempt to construct Field.fluid-distance  with background value 5"));
    }
    {
        testsupport::CaptureStderr err;
        fluid.updateLayout(*layout);
        EXPECT_NE(std::string::npos,
                  err.finish().find("Ignored attempt to update Field.fluid-distance  with background value 5"));
        EXPECT_EQ(100000.0f, fluid.field().at(3));
    }
    zt::field3<float> other(-2.5f);
    other.resize(*layout);
    other.at(3) = 1.0f;
    {
        testsupport::CaptureStderr err;
        fluid.replaceField(other);
        EXPECT_NE(std::string::npos,
                  err.finish().find("Ignored attempt to replace Field.fluid-distance  with background value -2.5"));
    }
    EXPECT_EQ(100000.0f, fluid.field().background());
    EXPECT_EQ(1.0f, fluid.component(3, 0));
    // A far background is taken without a word.
    testsupport::CaptureStderr err;
    std::unique_ptr<Cb::Channel> quiet(fluid.clone());
    EXPECT_EQ("", err.finish());
}

TEST(SolidDistanceOccluders, RemovalMovesTheLastEntryAndRefusesStrangers) {
    Cb::FieldChannelSolidDistance solid;
    Thing a("Wall"), b("Floor"), c("Lid"), stranger("Ghost");
    solid.addOccluder(&a);
    solid.addOccluder(&b);
    solid.addOccluder(&c);
    solid.addOccluder(&a);  // listed once
    ASSERT_EQ(3u, solid.occluders().size());
    solid.removeOccluder(&a);
    EXPECT_EQ((std::vector<const Cb::Object*>{&c, &b}), solid.occluders());
    EXPECT_EQ("FieldChannelSolidDistance (solid-distance): Could not clear occluder 'Ghost'",
              messageOf([&] { solid.removeOccluder(&stranger); }));
    std::unique_ptr<Cb::Channel> copy(solid.clone());
    EXPECT_EQ(solid.occluders(), static_cast<Cb::FieldChannelSolidDistance&>(*copy).occluders());
    // Other channels ignore occluders.
    FieldChannel1f plain;
    plain.removeOccluder(&stranger);
}
