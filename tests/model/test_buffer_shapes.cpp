// Point, edge, triangle and tet shapes: the registry, masters and their
// followers, digests, element centres, transforms, point differences and
// velocities.
#include <gtest/gtest.h>

#include <memory>

#include "CaptureOutput.h"
#include "MessageOf.h"
#include "ModelTestSupport.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/PointShape.h"

using Cb::BufferChannel;
using testsupport::messageOf;

namespace {

using Positions = BufferChannel<zt::vec3f>;

std::string hex(const Cb::Md5Digest& digest) {
    static const char* kDigits = "0123456789abcdef";
    std::string text;
    for (uint8_t b : digest) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

std::unique_ptr<Cb::PointShape> pointsWith(std::initializer_list<zt::vec3f> positions) {
    auto shape = std::make_unique<Cb::PointShape>(true);
    shape->resizeElements(int64_t(positions.size()));
    zt::vec3f* p = shape->mutableChannelAs<Positions>("position")->data();
    for (const zt::vec3f& v : positions) *p++ = v;
    shape->setModifiedFlags(0);
    return shape;
}

zt::array1<zt::vec3f> arrayOf(std::initializer_list<zt::vec3f> values) {
    zt::array1<zt::vec3f> a;
    for (const zt::vec3f& v : values) a.push_back(v);
    return a;
}

std::vector<zt::vec3f> valuesOf(const Cb::Shape& shape, const std::string& name) {
    const auto* channel = shape.channelAs<Positions>(name);
    return std::vector<zt::vec3f>(channel->data(), channel->data() + channel->size());
}

TEST(ShapeRegistry, CreatesEveryBufferKindWithOrWithoutItsMaster) {
    struct Kind {
        const char* name;
        const char* master;
        const char* type;
    };
    for (const Kind& kind : {Kind{"Point", "position", "buffer::vec3f"}, Kind{"Edge", "index", "buffer::vec2i"},
                             Kind{"Triangle", "index", "buffer::vec3i"}, Kind{"Tet", "index", "buffer::vec4i"}}) {
        SCOPED_TRACE(kind.name);
        std::unique_ptr<Cb::Shape> with(Cb::createShape(kind.name, true));
        EXPECT_EQ(kind.name, with->name());
        ASSERT_EQ(1, with->channelCount());
        EXPECT_EQ(kind.master, with->channel(0)->name());
        EXPECT_EQ(kind.type, with->channel(0)->typeName());
        EXPECT_EQ(with->channel(0).get(), with->masterChannel());
        EXPECT_EQ(0, with->size());
        EXPECT_TRUE(with->empty());
        EXPECT_EQ("Point.position", with->positionSource());
        EXPECT_EQ((zt::vec3f{0, 0, 0}), with->channel(0)->defaultValue3f());

        std::unique_ptr<Cb::Shape> without(Cb::createShape(kind.name, false));
        EXPECT_EQ(0, without->channelCount());
        EXPECT_EQ(nullptr, without->masterChannel());
        EXPECT_TRUE(without->empty());
        std::unique_ptr<Cb::Shape> clone(without->clone());
        EXPECT_EQ(typeid(*with), typeid(*clone)) << "clone keeps the class";
    }
    EXPECT_EQ("Unknown shape: 'Sphere'", messageOf([] { Cb::createShape("Sphere", true); }));
    EXPECT_EQ("Unknown shape: 'point'", messageOf([] { Cb::createShape("point", true); }));
}

TEST(ShapeRegistry, ASecondRegistrationReplacesTheFirstSilently) {
    testsupport::CaptureStderr capture;
    Cb::registerShapeType("Edge", &Cb::newShapeOf<Cb::TetShape>);
    std::unique_ptr<Cb::Shape> replaced(Cb::createShape("Edge", false));
    Cb::registerShapeTypes();
    std::unique_ptr<Cb::Shape> restored(Cb::createShape("Edge", false));
    EXPECT_EQ("", capture.finish());
    EXPECT_EQ("Tet", replaced->name());
    EXPECT_EQ("Edge", restored->name());
}

TEST(MeshShapes, ResizeElementsBringsEveryChannelToTheCountWithDefaults) {
    Cb::TriangleShape shape(true);
    shape.createChannel1f("area", 2.5f);
    shape.resizeElements(3);
    EXPECT_EQ(3, shape.size());
    EXPECT_FALSE(shape.empty());
    ASSERT_EQ(3u, shape.channel("area")->size());
    for (int64_t i = 0; i < 3; ++i) EXPECT_EQ(2.5f, shape.channel("area")->component(i, 0));
    // Channels added later are sized at once.
    shape.createChannel3f("normal", {0, 0, 1});
    EXPECT_EQ(3u, shape.channel("normal")->size());
    EXPECT_EQ(1.0f, shape.channel("normal")->component(2, 2));
    shape.resizeElements(1);
    EXPECT_EQ(1u, shape.channel("area")->size());
    EXPECT_EQ(1u, shape.channel("normal")->size());
    EXPECT_EQ(uint32_t(0), shape.modifiedFlags());
}

TEST(MeshShapes, MasterRulesAndTheirFailures) {
    Cb::TriangleShape shape(true);
    EXPECT_EQ("Cannot create channel 'index' in Triangle-Shape: channel already exists (of type buffer::vec3i)",
              messageOf([&] { shape.createChannel3i("index", {0, 0, 0}); }));
    EXPECT_EQ("Channel 'index' in Triangle-shape requested: wrong channel type",
              messageOf([&] { shape.channelAs<BufferChannel<zt::vec2i>>("index"); }));
    EXPECT_NE(nullptr, shape.channelAs<Cb::BufferChannelBase>("Triangle.index"));
    shape.createChannel1i64("big", 7);
    EXPECT_EQ("buffer::int64", shape.channel("big")->typeName());

    Cb::EdgeShape bare(false);
    EXPECT_EQ("Channel 'index' not found in Edge-shape", messageOf([&] { bare.resizeElements(2); }));
}

TEST(MeshShapes, ChannelsThatAreNotBufferChannelsCannotFollowTheMaster) {
    Cb::EdgeShape shape(true);
    shape.resizeElements(2);
    Cb::ChannelHandle handle(new modeltest::OtherBranchChannel());
    handle->setName("stranger");
    EXPECT_EQ("Cannot keep channel 'stranger' (test::other) of Edge-Shape at the element count of 'index': not a "
              "buffer channel",
              messageOf([&] { shape.appendChannel(handle); }));
    EXPECT_EQ(1, shape.channelCount());
    EXPECT_EQ(1, handle.refCount());
}

TEST(MeshShapes, AdoptMasterSharesTheOtherIndexAndResizesFollowers) {
    Cb::EdgeShape source(true);
    source.resizeElements(4);
    Cb::EdgeShape target(false);
    target.createChannel1f("weight", 1);
    target.adoptMaster(source);
    ASSERT_EQ(2, target.channelCount());
    EXPECT_EQ("index", target.channel(0)->name());
    EXPECT_TRUE(target.channel("index") == source.channel("index"));
    EXPECT_EQ(4u, target.channel("weight")->size());

    Cb::EdgeShape empty(false);
    EXPECT_EQ("Channel 'index' not found in Edge-shape", messageOf([&] { target.adoptMaster(empty); }));
}

TEST(MeshShapes, DigestIsTheMd5OfTheIndexBytes) {
    Cb::EdgeShape empty(true);
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", hex(empty.masterDigest()));
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", hex(Cb::EdgeShape(false).masterDigest()));

    Cb::EdgeShape edges(true);
    edges.resizeElements(2);
    zt::vec2i* index = edges.mutableChannelAs<BufferChannel<zt::vec2i>>("index")->data();
    index[0] = {0, 2};
    index[1] = {1, 3};
    EXPECT_EQ("924c95df37872d20082bd1758f22b78d", hex(edges.masterDigest()));

    auto points = pointsWith({{0, 0, 0}, {1, 2, 3}});
    EXPECT_EQ("bda16a5549cf0a5ed148f686ed4649a8", hex(points->masterDigest()));

    Cb::Md5 pieces;
    pieces.update("abc", 1);
    pieces.update("bc", 2);
    EXPECT_EQ(Cb::md5Of("abc", 3), pieces.finish());
}

TEST(MeshShapes, ElementCentresComeFromThePointPositions) {
    auto points = pointsWith({{0, 0, 0}, {1, 1, 1}, {2, 4, 6}});
    Cb::EdgeShape edges(true);
    edges.resizeElements(1);
    edges.mutableChannelAs<BufferChannel<zt::vec2i>>("index")->data()[0] = {0, 2};
    const Cb::Channel* pointPositions = points->channel("Point.position").get();
    EXPECT_EQ((zt::vec3f{1, 2, 3}), edges.masterChannel()->position3f(0, pointPositions));

    Cb::TetShape tets(true);
    tets.resizeElements(1);
    tets.mutableChannelAs<BufferChannel<zt::vec4i>>("index")->data()[0] = {0, 1, 2, 1};
    EXPECT_EQ((zt::vec3f{1, 1.5f, 2}), tets.masterChannel()->position3f(0, pointPositions));
}

TEST(PointShape, ConstructionAndFollowers) {
    Cb::PointShape shape(true);
    EXPECT_EQ("Point", shape.name());
    EXPECT_EQ("position", shape.masterChannel()->name());
    shape.createChannel1i("id", -1);
    shape.resizeElements(2);
    EXPECT_EQ(uint32_t(Cb::kPositionModified), shape.modifiedFlags());
    EXPECT_EQ(-1.0f, shape.channel("id")->component(1, 0));

    Cb::PointShape other(true);
    other.resizeElements(5);
    shape.adoptMaster(other);
    EXPECT_TRUE(shape.channel("position") == other.channel("position"));
    EXPECT_EQ(5u, shape.channel("id")->size());
}

TEST(PointShape, TransformMovesPositionsAndTurnsVelocities) {
    auto shape = pointsWith({{1, 2, 3}});
    shape->createChannel3f("velocity", {0, 0, 0});
    shape->mutableChannelAs<Positions>("velocity")->data()[0] = {1, 0, 0};
    shape->setModifiedFlags(0);
    // A quarter turn about z (x -> y) with translation (10, 20, 30).
    const float m[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1};
    std::unique_ptr<Cb::Shape> copy(shape->clone());
    shape->applyTransform(m);
    EXPECT_EQ((std::vector<zt::vec3f>{{8, 21, 33}}), valuesOf(*shape, "position"));
    EXPECT_EQ((std::vector<zt::vec3f>{{0, 1, 0}}), valuesOf(*shape, "velocity"));
    EXPECT_EQ(uint32_t(Cb::kPositionModified | Cb::kVelocityModified), shape->modifiedFlags());
    EXPECT_EQ((std::vector<zt::vec3f>{{1, 2, 3}}), valuesOf(*copy, "position"));
}

TEST(PointShape, TransformWithoutVelocityChangesNothing) {
    auto shape = pointsWith({{1, 2, 3}});
    const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 5, 5, 1};
    EXPECT_EQ("Channel 'velocity' not found in Point-shape", messageOf([&] { shape->applyTransform(m); }));
    shape->createChannel1f("velocity", 0);
    EXPECT_EQ("Channel 'velocity' in Point-shape requested: wrong channel type",
              messageOf([&] { shape->applyTransform(m); }));
    EXPECT_EQ((std::vector<zt::vec3f>{{1, 2, 3}}), valuesOf(*shape, "position"));
    EXPECT_EQ(0u, shape->modifiedFlags());
}

TEST(PointShape, PointDifferenceAndAdvance) {
    auto a = pointsWith({{0, 0, 0}, {1, 1, 1}});
    auto b = pointsWith({{1, 2, 3}, {1, 0, 1}});
    zt::array1<zt::vec3f> dx;
    ASSERT_TRUE(a->pointDifference(*b, dx));
    ASSERT_EQ(2, dx.count());
    EXPECT_EQ((zt::vec3f{1, 2, 3}), dx[0]);
    EXPECT_EQ((zt::vec3f{0, -1, 0}), dx[1]);

    a->advancePositions(dx, 0.5);
    EXPECT_EQ((std::vector<zt::vec3f>{{0.5f, 1, 1.5f}, {1, 0.5f, 1}}), valuesOf(*a, "position"));
    EXPECT_EQ(uint32_t(Cb::kPositionModified), a->modifiedFlags());
    EXPECT_EQ("Cannot advance Point.position: dx holds 1 entries for 2 points",
              messageOf([&] { a->advancePositions(arrayOf({{1, 1, 1}}), 1.0); }));
}

TEST(PointShape, PointDifferenceRefusalsAreWarnings) {
    auto a = pointsWith({{0, 0, 0}, {1, 1, 1}});
    auto fewer = pointsWith({{0, 0, 0}});
    Cb::PointShape none(false);
    Cb::PointShape wrongType(false);
    wrongType.createChannel1f("position", 0);
    zt::array1<zt::vec3f> dx = arrayOf({{7, 7, 7}});

    testsupport::CaptureStderr capture;
    EXPECT_FALSE(a->pointDifference(none, dx));
    EXPECT_FALSE(a->pointDifference(wrongType, dx));
    EXPECT_FALSE(a->pointDifference(*fewer, dx));
    EXPECT_EQ(
        "Corix ** WARNING ** : Cannot calculate point difference: missing Point.position\n"
        "Corix ** WARNING ** : Cannot calculate point difference: missing Point.position\n"
        "Corix ** WARNING ** : Cannot calculate point difference: point count mismatch.\n",
        capture.finish());
    EXPECT_EQ(1, dx.count());
}

TEST(PointShape, ComputeVelocityCreatesTheChannelAndDividesByDt) {
    auto shape = pointsWith({{0, 0, 0}, {1, 1, 1}});
    ASSERT_TRUE(shape->computeVelocity(arrayOf({{1, 2, 3}, {-4, 0, 4}}), 0.5));
    EXPECT_EQ("buffer::vec3f", shape->channel("velocity")->typeName());
    EXPECT_EQ((std::vector<zt::vec3f>{{2, 4, 6}, {-8, 0, 8}}), valuesOf(*shape, "velocity"));
    EXPECT_EQ(uint32_t(Cb::kVelocityModified), shape->modifiedFlags());
    ASSERT_TRUE(shape->computeVelocity(arrayOf({{1, 1, 1}, {0, 0, 0}}), -0.25));
    EXPECT_EQ((std::vector<zt::vec3f>{{-4, -4, -4}, {0, 0, 0}}), valuesOf(*shape, "velocity"));
}

TEST(PointShape, ComputeVelocityRefusalsChangeNothing) {
    auto shape = pointsWith({{0, 0, 0}, {1, 1, 1}});
    const auto dx = arrayOf({{1, 2, 3}, {4, 5, 6}});
    testsupport::CaptureStderr capture;
    EXPECT_FALSE(shape->computeVelocity(dx, 0.0));
    EXPECT_FALSE(shape->computeVelocity(dx, 1e-8));
    EXPECT_FALSE(shape->computeVelocity(arrayOf({{1, 2, 3}}), 1.0));
    EXPECT_EQ(
        "Corix ** WARNING ** : Cannot calculate Point.velocity: dt=0\n"
        "Corix ** WARNING ** : Cannot calculate Point.velocity: dt=1e-08\n"
        "Corix ** WARNING ** : Cannot calculate Point.velocity: dx size mismatch\n",
        capture.finish());
    EXPECT_EQ(-1, shape->indexOf("velocity"));
    EXPECT_EQ(1, shape->channelCount());
    EXPECT_EQ(0u, shape->modifiedFlags());
}

}  // namespace
