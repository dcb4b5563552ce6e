#pragma once
// The built-in channel types and shape kinds, registered by library start-up.
// They sit above the model and the fields because they name the types of
// both.

namespace Cb {

// Every built-in channel type name with its create function and type tests,
// in registration order: field types, particle types, buffer types, each
// branch closed by its "*::base" type test.
void registerChannelTypes();
// The built-in shape kinds: "Field", "Particle", then the buffer shapes.
void registerShapeTypes();

}  // namespace Cb
