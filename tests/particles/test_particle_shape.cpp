// Particle shapes: typed creation, channels kept in step through erasing and
// reblocking, transforms, the position digest, the plain-data export and the
// shape record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>

#include "MessageOf.h"
#include "ParticleTestSupport.h"
#include "cb/io/ZtpEncoding.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/Ztd.h"
#include "zt/tile_layout3.h"

namespace {

using namespace particletest;
using Cb::ParticleChannel;
using Cb::ParticleShape;
using testsupport::messageOf;
using zt::vec3f;
using zt::vec3i;

std::string hex(const Cb::Md5Digest& digest) {
    std::string out;
    char buf[3];
    for (uint8_t b : digest) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
}

TEST(ParticleShapeChannels, ConstructionAndTheRegistry) {
    ParticleShape bare(false);
    EXPECT_EQ(bare.name(), "Particle");
    EXPECT_EQ(bare.channelCount(), 0);
    EXPECT_EQ(bare.masterChannel(), nullptr);
    EXPECT_EQ(bare.size(), 0);
    EXPECT_TRUE(bare.empty());
    std::unique_ptr<Cb::Shape> made(Cb::createShape("Particle", true));
    ASSERT_EQ(made->channelCount(), 1);
    EXPECT_EQ(made->channel(0)->typeName(), "particle::vec3f");
    EXPECT_EQ(made->channel(0)->name(), "position");
    EXPECT_EQ(made->masterChannel(), made->channel(0).get());
}

TEST(ParticleShapeChannels, TypedCreationAndItsSpecialNames) {
    ParticleShape shape(true);
    EXPECT_EQ(shape.createChannel1f("droplet", 0.5f)->typeName(), "particle::droplet");
    EXPECT_EQ(messageOf([&] { shape.createChannel1f("Particle.droplet", 0.0f); }),
              "Cannot create channel 'droplet' in Particle-Shape: channel already exists (of type particle::droplet)");
    Cb::Channel* other = shape.createChannel1f("Particle.heat", 1.0f);
    EXPECT_EQ(other->typeName(), "particle::float");
    EXPECT_EQ(other->name(), "Particle.heat");
    EXPECT_EQ(shape.createChannel1i64("Particle.id64", 0)->typeName(), "particle::id64");
    EXPECT_EQ(shape.channel("id64")->name(), "id64");
    EXPECT_EQ(shape.createChannel1i64("serial", 0)->typeName(), "particle::int64");
    EXPECT_EQ(shape.createChannel1i("count", 0)->typeName(), "particle::int");
    EXPECT_EQ(shape.createChannel3i("cell", {})->typeName(), "particle::vec3i");
    EXPECT_EQ(shape.createChannel1i8("flag", 0)->typeName(), "particle::int8");
    EXPECT_EQ(messageOf([&] { shape.createChannel3f("position", {}); }),
              "Cannot create channel 'position' in Particle-Shape: channel already exists (of type particle::vec3f)");
    EXPECT_EQ(messageOf([&] { shape.createChannel2i("pair", {}); }), "2i channels not supported in a Particle-Shape");
    EXPECT_EQ(shape.channelCount(), 8);
}

// A shape over a layout of h = 1, N = 4 with tile (0,0,0) and its shell;
// particle k lies at `places[k]` in block 0 and carries id k and velocity
// (k, 0, 0).
struct ShapeFixture : ::testing::Test {
    zt::tile_layout3 layout{1.0f, 4};
    ParticleShape shape{true};
    std::vector<vec3f> places;

    void build(const std::vector<vec3f>& at) {
        places = at;
        layout.addTile(0, 0, 0, false);
        layout.updateNeighbours(true);
        shape.createChannel3f("velocity", {});
        shape.createChannel1i("id", -1);
        shape.updateLayout(layout);
        auto& positions = *shape.mutableChannelAs<ParticleChannel<vec3f>>("position");
        for (const vec3f& p : at) positions.blocks().typedBlock(0)->append(p);
        shape.syncChannels();
        auto& ids = *shape.mutableChannelAs<ParticleChannel<int>>("id");
        auto& velocities = *shape.mutableChannelAs<ParticleChannel<vec3f>>("velocity");
        for (int k = 0; k < int(at.size()); ++k) {
            ids.blocks().typedBlock(0)->elements()[k] = k;
            velocities.blocks().typedBlock(0)->elements()[k] = vec3f{{float(k), 0, 0}};
        }
    }

    // Every particle's id, velocity and position still belong together, and
    // all channels hold the same block counts. Returns the ids seen.
    std::vector<int> checkInStep() {
        const auto& positions = *shape.channelAs<ParticleChannel<vec3f>>("position");
        const auto& ids = *shape.channelAs<ParticleChannel<int>>("id");
        const auto& velocities = *shape.channelAs<ParticleChannel<vec3f>>("velocity");
        std::vector<int> seen;
        for (int64_t g = 0; g < positions.rawStorage().blockCount(); ++g) {
            const auto p = blockValues(positions, g);
            const auto i = blockValues(ids, g);
            const auto v = blockValues(velocities, g);
            EXPECT_EQ(p.size(), i.size()) << "block " << g;
            EXPECT_EQ(p.size(), v.size()) << "block " << g;
            for (size_t e = 0; e < std::min(p.size(), i.size()); ++e) {
                EXPECT_EQ(p[e], places[size_t(i[e])]);
                EXPECT_EQ(v[e][0], float(i[e]));
                seen.push_back(i[e]);
            }
        }
        std::sort(seen.begin(), seen.end());
        return seen;
    }
};

TEST_F(ShapeFixture, NewChannelsMirrorThePositionsAndStayShared) {
    build({{{0.5f, 0.5f, 0.5f}}, {{1.5f, 0.5f, 0.5f}}});
    Cb::Channel* extra = shape.createChannel1f("heat", 3.0f);
    auto& heat = dynamic_cast<ParticleChannel<float>&>(*extra);
    EXPECT_EQ(blockValues(heat, 0), (std::vector<float>{3.0f, 3.0f}));
    EXPECT_EQ(heat.rawStorage().blockCount(), shape.positions()->rawStorage().blockCount());
    // A copy shares every channel; syncing channels already in step keeps it so.
    std::unique_ptr<Cb::Shape> copy(shape.clone());
    copy->syncChannels();
    for (int i = 0; i < copy->channelCount(); ++i) EXPECT_TRUE(copy->channel(i).shared());
    EXPECT_EQ(shape.size(), 2);
}

TEST_F(ShapeFixture, EraseRemovesTheSameParticlesFromEveryChannel) {
    build({{{0.5f, 0.5f, 0.5f}}, {{1.5f, 0.5f, 0.5f}}, {{2.5f, 0.5f, 0.5f}}, {{3.5f, 0.5f, 0.5f}}});
    EXPECT_EQ(messageOf([&] { shape.addErase(0, 1); }), "addErase called outside beginErase/endErase block.");
    std::unique_ptr<Cb::Shape> untouched(shape.clone());
    shape.beginErase();
    shape.addErase(0, 1);
    shape.addErase(0, 3);
    shape.endErase();
    EXPECT_EQ(checkInStep(), (std::vector<int>{0, 2}));
    EXPECT_EQ(shape.size(), 2);
    EXPECT_EQ(untouched->size(), 4);
    EXPECT_EQ(messageOf([&] { shape.addErase(0, 0); }), "addErase called outside beginErase/endErase block.");
}

TEST_F(ShapeFixture, MarksFromManyWorkersAndAPendingEraseDuringSync) {
    build({{{0.5f, 0.5f, 0.5f}}, {{1.5f, 0.5f, 0.5f}}, {{2.5f, 0.5f, 0.5f}}});
    shape.beginErase();
    const int64_t blocks = shape.positions()->rawStorage().blockCount();
#pragma omp parallel for schedule(dynamic, 1) num_threads(2)
    for (int64_t g = 0; g < blocks; ++g)
        if (g == 0) shape.addErase(g, 2);
    // syncChannels carries out the pending erase first.
    shape.syncChannels();
    EXPECT_EQ(checkInStep(), (std::vector<int>{0, 1}));
}

TEST_F(ShapeFixture, ReblockMovesCrossedParticlesAndKeepsChannelsInStep) {
    // Staying, crossed into (1,0,0), into the coarse (0,-1,0), exactly on
    // (2,0,0)'s low face far from any tile, and at -0.5 cell.
    build({{{1.5f, 1.5f, 1.5f}},
           {{5.5f, 0.5f, 0.5f}},
           {{0.5f, -0.5f, 0.5f}},
           {{8.0f, 1.5f, 1.5f}},
           {{-0.5f, 1.5f, 1.5f}}});
    std::unique_ptr<Cb::Shape> before(shape.clone());
    shape.reblock(layout, 0);
    EXPECT_EQ(checkInStep(), (std::vector<int>{0, 1, 2, 3, 4}));
    const auto& positions = *shape.channelAs<ParticleChannel<vec3f>>("position");
    for (int64_t g = 0; g < positions.rawStorage().blockCount(); ++g) {
        // Blocks of coarse slots emptied by promotion wait for compaction.
        const zt::block3_base* b = positions.rawStorage().residentBlock(g);
        if (!b) continue;
        for (const vec3f& p : blockValues(positions, g)) {
            vec3i voxel;
            ASSERT_TRUE(layout.voxelAt(p, 0, voxel));
            EXPECT_EQ(layout.tileOfVoxel(voxel), b->coord()) << "block " << g;
        }
    }
    // Blocks follow the layout slot by slot.
    ASSERT_EQ(positions.rawStorage().listCount(0), layout.fineCount());
    ASSERT_EQ(positions.rawStorage().listCount(1), layout.coarseCount());
    for (int64_t s = 0; s < layout.fineCount(); ++s)
        EXPECT_EQ(positions.rawStorage().residentBlock(0, s)->coord(), layout.fineTile(s)->coord());
    // The copy taken before is untouched.
    EXPECT_EQ(blockValues(*before->channelAs<ParticleChannel<int>>("id"), 0), (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(ShapeFixture, ReblockCanDropEmptyBlocksAndRebuildTheLayout) {
    build({{{5.5f, 0.5f, 0.5f}}, {{6.5f, 0.5f, 0.5f}}});
    shape.reblock(layout, 0);  // both leave block 0, which stays empty
    shape.reblock(layout, Cb::kReblockRemoveEmptyBlocks);
    EXPECT_TRUE(shape.holdsParticles());
    EXPECT_EQ(checkInStep(), (std::vector<int>{0, 1}));
    const auto& storage = shape.positions()->rawStorage();
    ASSERT_EQ(storage.listCount(0), layout.fineCount());
    for (int64_t s = 0; s < layout.fineCount(); ++s)
        EXPECT_EQ(storage.residentBlock(0, s)->coord(), layout.fineTile(s)->coord());
    // The rebuilt layout starts with the one block that holds particles.
    EXPECT_EQ(storage.residentBlock(0, 0)->coord(), (vec3i{{1, 0, 0}}));
    EXPECT_EQ(storage.residentBlock(0, 0)->count(), 2);
}

TEST_F(ShapeFixture, DropletsAboveTheThresholdAskForNoTile) {
    build({{{20.5f, 0.5f, 0.5f}}, {{1.5f, 0.5f, 0.5f}}});
    auto* droplet = static_cast<Cb::ParticleChannelDroplet*>(shape.createChannel1f("droplet", 0.0f));
    droplet->setThreshold(1.0f);
    droplet->blocks().typedBlock(0)->elements()[0] = 5.0f;  // the far particle is a droplet
    shape.reblock(layout, 0);
    EXPECT_EQ(layout.findTile(5, 0, 0), nullptr);
    // It stays in its block: no tile was made for it.
    EXPECT_EQ(checkInStep(), (std::vector<int>{0, 1}));
    EXPECT_EQ(shape.positions()->rawStorage().residentBlock(0)->count(), 2);
}

TEST_F(ShapeFixture, ApplyTransformMovesPositionsAndTurnsVelocities) {
    build({{{1, 2, 3}}, {{0.5f, 0.5f, 0.5f}}});
    const float m[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 2, 0, 10, 20, 30, 1};
    shape.setModifiedFlags(0);
    shape.applyTransform(m);
    const auto& positions = *shape.channelAs<ParticleChannel<vec3f>>("position");
    const auto& velocities = *shape.channelAs<ParticleChannel<vec3f>>("velocity");
    // (x, y, z) -> (-y + 10, x + 20, 2z + 30); velocities without the translation.
    EXPECT_EQ(blockValues(positions, 0)[0], (vec3f{{8, 21, 36}}));
    EXPECT_EQ(blockValues(velocities, 0)[1], (vec3f{{0, 1, 0}}));
    EXPECT_EQ(shape.modifiedFlags(), Cb::kPositionModified | Cb::kVelocityModified);

    ParticleShape noVelocity(true);
    noVelocity.positions()->blocks().appendBlock(0, noVelocity.positions()->blocks().newBlock(0, 0, 0));
    noVelocity.positions()->blocks().typedBlock(0)->append({{1, 1, 1}});
    EXPECT_EQ(messageOf([&] { noVelocity.applyTransform(m); }), "Channel 'velocity' not found in Particle-shape");
    EXPECT_EQ(blockValues(*noVelocity.positions(), 0)[0], (vec3f{{1, 1, 1}}));
    EXPECT_EQ(noVelocity.modifiedFlags(), 0u);
}

TEST(ParticleShapeDigest, Md5OverPositionsInGlobalBlockOrder) {
    ParticleShape shape(true);
    EXPECT_EQ(hex(shape.masterDigest()), "d41d8cd98f00b204e9800998ecf8427e");
    auto& positions = *shape.positions();
    addBlock<vec3f>(positions, 0, {{0, 0, 0}}, {{{1, 2, 3}}, {{4, 5, 6}}});
    addBlock<vec3f>(positions, 0, {{1, 0, 0}}, {});
    addBlock<vec3f>(positions, 1, {{2, 0, 0}}, {{{7, 8, 9}}});
    EXPECT_EQ(hex(shape.masterDigest()), "32e96b75d8ac957868b42f3d79ad392e");
    ParticleShape none(false);
    EXPECT_EQ(hex(none.masterDigest()), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(ParticleShapeExport, ChannelsJoinTheParticleShapeOfThePlainBody) {
    ParticleShape shape(true);
    shape.createChannel1i64("id64", 0);
    shape.createChannel1i8("flag", 0);
    ztd::body body;
    body.particles.channels.push_back({"flag", 99, nullptr});
    shape.pushZtdBody(body);
    ASSERT_EQ(body.particles.channels.size(), 3u);
    EXPECT_EQ(body.particles.channels[0].name, "flag");  // reused, not added again
    EXPECT_EQ(body.particles.channels[0].typeCode, Cb::kTypeInt8);
    const ztd::channel* position = body.particles.find("position");
    ASSERT_NE(position, nullptr);
    EXPECT_EQ(position->typeCode, Cb::kTypeVec3f);
    EXPECT_EQ(position->blocks, &shape.positions()->rawStorage());
    EXPECT_EQ(body.particles.find("id64")->typeCode, Cb::kTypeInt64);

    shape.setSyncDeferral(1);
    shape.appendChannel(Cb::ChannelHandle(new Cb::BufferChannel<int>()));
    shape.channel(shape.channelCount() - 1)->setName("mesh");
    ztd::body other;
    EXPECT_EQ(messageOf([&] { shape.pushZtdBody(other); }), "Unhandled channel 'mesh' in Cb::ParticleShape::pushZtdBody");
    EXPECT_TRUE(other.particles.channels.empty());
    shape.setSyncDeferral(0);
    EXPECT_EQ(messageOf([&] { shape.syncChannels(); }),
              "Cannot keep channel 'mesh' (buffer::int) of Particle-Shape in step with its particles: not a particle "
              "channel");
}

TEST_F(ShapeFixture, ShapeRecordRoundTripLeavesBlocksInTheFile) {
    build({{{0.5f, 0.5f, 0.5f}}, {{5.5f, 0.5f, 0.5f}}, {{1.5f, 1.5f, 1.5f}}});
    ZtpFile file;
    for (bool compress : {true, false}) {
        file.write([&](Cb::ZtpWriter& w) { shape.write(w, "*", compress); });
        auto reader = file.reader();
        EXPECT_EQ(Cb::readString(reader->stream()), "Particle");
        ParticleShape back(false);
        back.read(*reader);
        reader->close();
        ASSERT_EQ(back.channelCount(), 3);
        EXPECT_TRUE(back.positions()->rawStorage().loadPending());
        EXPECT_EQ(hex(back.masterDigest()), hex(shape.masterDigest()));
        // The read shape reblocks like the original.
        zt::tile_layout3 copy(layout);
        back.reblock(copy, 0);
        EXPECT_EQ(back.size(), 3);
        const int64_t g = copy.blockIndex(*copy.findTile(1, 0, 0));
        EXPECT_EQ(blockValues(*back.channelAs<ParticleChannel<int>>("id"), g), std::vector<int>{1});
    }
}

}  // namespace
