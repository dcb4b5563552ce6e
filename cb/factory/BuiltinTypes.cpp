// The built-in channel type names, registered at start-up in this order:
// field types, particle types, buffer types, each branch closed by its
// "*::base" type test. "buffer::int64" is deliberately absent: such channels
// are written under that name but cannot be recreated from it.
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/ParticleChannel.h"

namespace Cb {

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

}  // namespace Cb
