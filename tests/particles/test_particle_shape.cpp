// Particle shapes: typed creation, channels kept in step through erasing and
// reblocking, the position digest and the plain-data export.
#include <algorithm>

#include "ByteBuilder.h"
#include "MessageOf.h"
#include "ParticleTestSupport.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/Ztd.h"
#include "zt/tile_layout3.h"

namespace {

using namespace particletest;
using Cb::ParticleChannel;
using testsupport::messageOf;
using zt::vec3f;

// Particle k at places[k] in block 0 of a shape over tile (0,0,0) and its
// shell (h = 1, N = 4), with velocity (k, 0, 0).
struct Particles : ::testing::Test {
    zt::tile_layout3 layout{1.0f, 4};
    Cb::ParticleShape shape{true};
    std::vector<vec3f> places;

    void build(const std::vector<vec3f>& at) {
        places = at;
        layout.addTile(0, 0, 0, false);
        layout.updateNeighbours(true);
        shape.updateLayout(layout);
        auto* velocities = static_cast<ParticleChannel<vec3f>*>(shape.createChannel3f("velocity", {}));
        for (size_t k = 0; k < at.size(); ++k) {
            shape.positions()->blocks().typedBlock(0)->append(at[k]);
            velocities->blocks().typedBlock(0)->append(vec3f{{float(k), 0, 0}});
        }
    }

    // The particles seen, sorted; each one's velocity must still be its own.
    std::vector<int> checkInStep() const {
        std::vector<int> seen;
        for (int64_t g = 0; g < shape.positions()->rawStorage().blockCount(); ++g) {
            const auto p = blockValues(*shape.positions(), g);
            const auto v = blockValues(*shape.channelAs<ParticleChannel<vec3f>>("velocity"), g);
            if (p.size() != v.size()) ADD_FAILURE() << "block " << g << " out of step";
            for (size_t e = 0; e < std::min(p.size(), v.size()); ++e) {
                seen.push_back(int(v[e][0]));
                EXPECT_EQ(places.at(size_t(seen.back())), p[e]);
            }
        }
        std::sort(seen.begin(), seen.end());
        return seen;
    }
};

TEST(ParticleShapeChannels, QualifiedAndSpecialNamesAndRefusals) {
    Cb::ParticleShape shape(true);
    shape.createChannel1f("droplet", 0.5f);
    const Cb::Channel* heat = shape.createChannel1f("Particle.heat", 1.0f);
    EXPECT_EQ("particle::float", heat->typeName());
    EXPECT_EQ("Particle.heat", heat->name());
    const Cb::Channel* ids = shape.createChannel1i64("Particle.id64", 0);
    EXPECT_EQ("particle::id64", ids->typeName());
    EXPECT_EQ("id64", ids->name());
    EXPECT_EQ(messageOf([&] { shape.createChannel1f("Particle.droplet", 0.0f); }),
              "Cannot create channel 'droplet' in Particle-Shape: channel already exists (of type particle::droplet)");
    EXPECT_EQ(messageOf([&] { shape.createChannel2i("pair", {}); }), "2i channels not supported in a Particle-Shape");
}

TEST_F(Particles, EraseRemovesTheSameParticlesFromEveryChannelAndSyncFinishesAPendingOne) {
    build({{{0.5f, 0.5f, 0.5f}}, {{1.5f, 0.5f, 0.5f}}, {{2.5f, 0.5f, 0.5f}}, {{3.5f, 0.5f, 0.5f}}});
    EXPECT_EQ(messageOf([&] { shape.addErase(0, 1); }), "addErase called outside beginErase/endErase block.");
    shape.beginErase();
    shape.addErase(0, 1);
    shape.addErase(0, 3);
    shape.endErase();
    EXPECT_EQ((std::vector<int>{0, 2}), checkInStep());
    shape.beginErase();
    shape.addErase(0, 1);
    shape.syncChannels();
    EXPECT_EQ((std::vector<int>{0}), checkInStep());
}

TEST_F(Particles, ReblockMovesCrossedParticlesWithAllTheirChannels) {
    // Staying, crossed into (1,0,0), into the coarse (0,-1,0), exactly on
    // (2,0,0)'s low face far from any tile, and at -0.5 cell.
    build({{{1.5f, 1.5f, 1.5f}}, {{5.5f, 0.5f, 0.5f}}, {{0.5f, -0.5f, 0.5f}}, {{8.0f, 1.5f, 1.5f}},
           {{-0.5f, 1.5f, 1.5f}}});
    std::unique_ptr<Cb::Shape> before(shape.clone());
    shape.reblock(layout, 0);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), checkInStep());
    // Blocks follow the layout slot by slot; the tiles particles land in are the blocks' own test.
    const auto& storage = shape.positions()->rawStorage();
    ASSERT_EQ(layout.fineCount(), storage.listCount(0));
    ASSERT_EQ(layout.coarseCount(), storage.listCount(1));
    for (int64_t s = 0; s < layout.fineCount(); ++s)
        EXPECT_EQ(layout.fineTile(s)->coord(), storage.residentBlock(0, s)->coord());
    // The copy taken before is untouched.
    EXPECT_EQ(4.0f, blockValues(*before->channelAs<ParticleChannel<vec3f>>("velocity"), 0)[4][0]);
}

TEST(ParticleShapePlainData, Md5OverPositionsInBlockOrderAndChannelsJoiningThePlainBody) {
    Cb::ParticleShape shape(true);
    auto md5 = [&] { const Cb::Md5Digest d = shape.masterDigest(); return std::vector<uint8_t>(d.begin(), d.end()); };
    EXPECT_EQ(testsupport::fromHex("d41d8cd98f00b204e9800998ecf8427e"), md5());
    addBlock<vec3f>(*shape.positions(), 0, {{0, 0, 0}}, {{{1, 2, 3}}, {{4, 5, 6}}});
    addBlock<vec3f>(*shape.positions(), 0, {{1, 0, 0}}, {});
    addBlock<vec3f>(*shape.positions(), 1, {{2, 0, 0}}, {{{7, 8, 9}}});
    EXPECT_EQ(testsupport::fromHex("32e96b75d8ac957868b42f3d79ad392e"), md5());

    shape.createChannel1i8("flag", 0);
    ztd::body body;
    body.particles.channels.push_back({"flag", 99, nullptr});
    shape.pushZtdBody(body);
    ASSERT_EQ(2u, body.particles.channels.size());
    EXPECT_EQ(Cb::kTypeInt8, body.particles.channels[0].typeCode);  // reused, not added again
    EXPECT_EQ(&shape.positions()->rawStorage(), body.particles.find("position")->blocks);
    shape.setSyncDeferral(1);
    shape.appendChannel(Cb::ChannelHandle(new Cb::BufferChannel<int>()));
    shape.channel(shape.channelCount() - 1)->setName("mesh");
    EXPECT_EQ(messageOf([&] { shape.pushZtdBody(body); }), "Unhandled channel 'mesh' in Cb::ParticleShape::pushZtdBody");
    shape.setSyncDeferral(0);
    EXPECT_EQ(messageOf([&] { shape.syncChannels(); }),
              "Cannot keep channel 'mesh' (buffer::int) of Particle-Shape in step with its particles: not a particle "
              "channel");
}

}  // namespace
