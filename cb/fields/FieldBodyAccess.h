#pragma once
// What the field hooks read from a body: parameter values evaluated at a
// time, and the particle shape's blocks as kernel views.
//
// Hooks receive the body as const. Evaluating one of its values pushes an
// expression context on the body's context stack for the duration, and a
// hook that must change another channel or the particles (particle removal,
// the solid velocities) takes the body for modification: both are done
// through the one helper mutableBody, on the body that runs the hook.

#include <string>
#include <vector>

#include "cb/fields/FieldKernels.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/qel/FrameTime.h"

namespace Cb::detail {

Body& mutableBody(const Body& body);

// The body's value `name` at `time` as a number; `fallback` without one.
double bodyNumber(const Body& body, const std::string& name, const FrameTime& time, double fallback);
// The body's value `name` at `time` as text (an enumerated value's name);
// empty without one.
std::string bodyText(const Body& body, const std::string& name, const FrameTime& time);

// The particle shape, or null when the body has none.
const ParticleShape* particlesOf(const Body& body);

// One view per block of the position channel (fine blocks only, or all),
// with the values of `values` (stride floats apart, starting at component
// `first`; none when null) and the "droplet" channel's values when the shape
// has one. A block's view is cut to the shortest of its channels' blocks.
// Every channel is made resident first.
template <class T>
std::vector<ParticleBlockView> blockViews(const ParticleShape& shape, const ParticleChannel<T>* values, int first,
                                          bool fineOnly);

}  // namespace Cb::detail
