#include "ParticleBodies.h"

#include "CaptureOutput.h"
#include "cb/factory/Startup.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "zt/tile_layout3.h"

namespace testsupport {

std::unique_ptr<Cb::Body> makeParticleBody(const ParticleBodySpec& spec) {
    auto body = std::make_unique<Cb::Body>(spec.name);
    body->setSignatureName(spec.signatureName);
    auto* shape = static_cast<Cb::ParticleShape*>(body->addShape(new Cb::ParticleShape(true)));
    if (spec.withVelocity) shape->createChannel3f("velocity", {{0, 0, 0}});
    shape->createChannel1f("density", 1.0f);
    zt::tile_layout3& layout = body->mutableLayout();
    std::vector<zt::vec3i> tiles;
    for (const zt::vec3f& p : spec.positions) {
        zt::vec3i voxel;
        layout.voxelAt(p, 0, voxel);
        tiles.push_back(layout.tileOfVoxel(voxel));
        layout.addTile(tiles.back()[0], tiles.back()[1], tiles.back()[2], false);
    }
    layout.updateNeighbours(true);
    shape->updateLayout(layout);
    std::vector<std::pair<int64_t, int64_t>> at;  // block slot and element of each particle
    for (size_t i = 0; i < tiles.size(); ++i) {
        const int64_t slot = layout.blockIndex(*layout.findTile(tiles[i]));
        auto* block = shape->positions()->blocks().typedBlock(0, slot);
        at.emplace_back(slot, block->count());
        block->append(spec.positions[i]);
    }
    shape->syncChannels();
    if (spec.withVelocity) {
        auto& v = shape->mutableChannelAs<Cb::ParticleChannel<zt::vec3f>>("velocity")->blocks();
        for (size_t i = 0; i < at.size(); ++i) (*v.typedBlock(0, at[i].first))[at[i].second] = velocityOf(int(i));
    }
    shape->setModifiedFlags(0);
    return body;
}

std::vector<int64_t> writeBodies(const std::string& path, const std::vector<Cb::Body*>& bodies, bool compress) {
    Cb::ZtpWriter writer;
    writer.open(path);
    std::vector<int64_t> offsets;
    for (Cb::Body* b : bodies) {
        offsets.push_back(writer.tell());
        writer.writeBody(*b, "*.*", compress);
    }
    writer.close();
    return offsets;
}

void writeParticleFile(const std::string& path, const std::vector<ParticleBodySpec>& specs,
                       const std::function<void(Cb::Body&)>& edit) {
    CaptureStderr quiet;  // the missing signature folders
    Cb::begin(true);
    std::vector<std::unique_ptr<Cb::Body>> bodies;
    std::vector<Cb::Body*> raw;
    for (const auto& s : specs) {
        bodies.push_back(makeParticleBody(s));
        edit(*raw.emplace_back(bodies.back().get()));
    }
    writeBodies(path, raw);
    bodies.clear();
    Cb::end();
}

}  // namespace testsupport
