#include "ParticleBodies.h"

#include <cmath>
#include <map>

#include "cb/io/ZtpWriter.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "zt/tile_layout3.h"

namespace testsupport {

zt::vec3f velocityOf(int i) { return {{float(i + 1), -float(i + 1), 0.5f}}; }

std::unique_ptr<Cb::Body> makeParticleBody(const ParticleBodySpec& spec) {
    auto body = std::make_unique<Cb::Body>(spec.name);
    body->setSignatureName(spec.signatureName);
    auto* shape = static_cast<Cb::ParticleShape*>(body->addShape(new Cb::ParticleShape(true)));
    if (spec.withVelocity) shape->createChannel3f("velocity", {{0, 0, 0}});
    shape->createChannel1f("density", 1.0f);
    zt::tile_layout3& layout = body->mutableLayout();
    auto tileOf = [&](const zt::vec3f& p) {
        return zt::vec3i{{zt::tile_layout3::floorDiv(int(std::floor(p[0] / layout.cellSize())), int(layout.tileSize())),
                          zt::tile_layout3::floorDiv(int(std::floor(p[1] / layout.cellSize())), int(layout.tileSize())),
                          zt::tile_layout3::floorDiv(int(std::floor(p[2] / layout.cellSize())), int(layout.tileSize()))}};
    };
    for (const auto& p : spec.positions) {
        const zt::vec3i t = tileOf(p);
        layout.addTile(t[0], t[1], t[2], false);
    }
    layout.updateNeighbours(true);
    shape->updateLayout(layout);
    auto& blocks = shape->positions()->blocks();
    // Particle order per block, to set the velocities of the same particles.
    std::map<int64_t, std::vector<int>> members;
    for (size_t i = 0; i < spec.positions.size(); ++i) {
        const zt::vec3i t = tileOf(spec.positions[i]);
        const int64_t slot = layout.blockIndex(*layout.findTile(t));
        blocks.typedBlock(0, slot)->append(spec.positions[i]);
        members[slot].push_back(int(i));
    }
    shape->syncChannels();
    if (spec.withVelocity) {
        auto& v = shape->mutableChannelAs<Cb::ParticleChannel<zt::vec3f>>("velocity")->blocks();
        for (const auto& [slot, ids] : members)
            for (size_t e = 0; e < ids.size(); ++e) (*v.typedBlock(0, slot))[int64_t(e)] = velocityOf(ids[e]);
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

}  // namespace testsupport
