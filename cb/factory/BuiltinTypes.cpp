#include "cb/factory/BuiltinTypes.h"

#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldShape.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "cb/model/Shape.h"

namespace Cb {

// "buffer::int64" is deliberately absent: such channels are written under that
// name but cannot be recreated from it.
void registerChannelTypes() {
    registerChannelClass<FieldChannel1i>();
    registerChannelClass<FieldChannel1i64>();
    registerChannelClass<FieldChannel1f>();
    registerChannelClass<FieldChannel3f>();
    registerChannelClass<FieldChannelParticleCount>();
    registerChannelClass<FieldChannelFluidDistance>();
    registerChannelClass<FieldChannelSolidDistance>();
    registerChannelTest<FieldChannelBase>();

    registerChannelClass<ParticleChannel<int>>();
    registerChannelClass<ParticleChannel<int8_t>>();
    registerChannelClass<ParticleChannel<int64_t>>();
    registerChannelClass<ParticleChannel<float>>();
    registerChannelClass<ParticleChannel<zt::vec3f>>();
    registerChannelClass<ParticleChannel<zt::vec3i>>();
    registerChannelClass<ParticleChannelId64>();
    registerChannelClass<ParticleChannelDroplet>();
    registerChannelTest<ParticleChannelBase>();

    registerChannelClass<BufferChannel<int>>();
    registerChannelClass<BufferChannel<float>>();
    registerChannelClass<BufferChannel<zt::vec2f>>();
    registerChannelClass<BufferChannel<zt::vec2i>>();
    registerChannelClass<BufferChannel<zt::vec3f>>();
    registerChannelClass<BufferChannel<zt::vec3i>>();
    registerChannelClass<BufferChannel<zt::vec4f>>();
    registerChannelClass<BufferChannel<zt::vec4i>>();
    registerChannelTest<BufferChannelBase>();
}

void registerShapeTypes() {
    registerShapeType("Field", &newShapeOf<FieldShape>);

    registerShapeType("Particle", &newShapeOf<ParticleShape>);

    registerShapeType("Triangle", &newShapeOf<TriangleShape>);
    registerShapeType("Point", &newShapeOf<PointShape>);
    registerShapeType("Edge", &newShapeOf<EdgeShape>);
    registerShapeType("Tet", &newShapeOf<TetShape>);
}

}  // namespace Cb
