#include "RichBody.h"

#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldShape.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueSection.h"
#include "zt/tile_layout3.h"

namespace writertest {

namespace {

using Cb::BufferChannel;
using Cb::ParticleChannel;

// Particles per block: 300 in the first fine block, a few elsewhere, and two
// coarse blocks holding some.
int64_t particlesIn(int list, int64_t slot) {
    if (list == 0) return slot == 0 ? 300 : 1 + slot % 4;
    return slot == 1 ? 3 : slot == 5 ? 1 : 0;
}

zt::vec3f positionOf(const zt::vec3i& tile, int64_t e) {
    const float span = 2.0f;  // tile size 4 at cell size 0.5
    return {{tile[0] * span + 0.01f * float(e % 97), tile[1] * span + 0.5f + 0.003f * float(e),
             tile[2] * span + 1.75f - 0.005f * float(e % 31)}};
}

void setLayout(Cb::Body& body) {
    auto* layout = new zt::tile_layout3(0.5f, 4);
    layout->addTile(0, 0, 0, false);
    layout->addTile(1, 0, 0, false);
    layout->addTile(-1, 2, 3, false);
    layout->updateNeighbours(true);
    body.setLayout(layout);
}

template <class T, class F>
void fillParticles(Cb::ParticleShape& shape, const std::string& name, F value) {
    auto& blocks = shape.mutableChannelAs<ParticleChannel<T>>(name)->blocks();
    for (int64_t g = 0; g < blocks.blockCount(); ++g)
        if (auto* b = blocks.typedBlock(g))
            for (int64_t e = 0; e < b->count(); ++e) (*b)[e] = value(g, e);
}

Cb::ParticleShape* addParticles(Cb::Body& body, bool everyType) {
    auto* shape = static_cast<Cb::ParticleShape*>(body.addShape(new Cb::ParticleShape(true)));
    shape->createChannel3f("velocity", {{0, 0, 0}});
    shape->createChannel1f("density", 1000.0f);
    if (everyType) {
        shape->createChannel1i8("age", int8_t(-3));
        shape->createChannel1i("count", 42);
        shape->createChannel3i("cell", {{1, -2, 3}});
        shape->createChannel1i64("serial", int64_t(1) << 40);
        shape->createChannel1i64("id64", 0);
        shape->createChannel1f("droplet", 0.25f);
    }
    shape->updateLayout(body.layout());
    auto& blocks = shape->positions()->blocks();
    for (int list = 0; list < 2; ++list)
        for (int64_t slot = list; slot < blocks.listCount(list); ++slot)
            if (auto* b = blocks.typedBlock(list, slot))
                for (int64_t e = 0; e < particlesIn(list, slot); ++e) b->append(positionOf(b->coord(), e));
    shape->syncChannels();
    fillParticles<zt::vec3f>(*shape, "velocity", [](int64_t g, int64_t e) {
        return zt::vec3f{{float(g) + 0.5f, -float(e), 0.125f * float(g * e)}};
    });
    fillParticles<float>(*shape, "density", [](int64_t g, int64_t e) { return 990.0f + float(g) + 0.001f * float(e); });
    if (everyType) {
        fillParticles<int8_t>(*shape, "age", [](int64_t g, int64_t e) { return int8_t(int(e * 7 + g) % 256 - 128); });
        fillParticles<int>(*shape, "count", [](int64_t g, int64_t e) { return int(g * 1000 - e); });
        fillParticles<zt::vec3i>(*shape, "cell",
                                 [](int64_t g, int64_t e) { return zt::vec3i{{int(g), int(e), -int(g + e)}}; });
        fillParticles<int64_t>(*shape, "serial",
                               [](int64_t g, int64_t e) { return (int64_t(g) << 33) + e * 5 - 7; });
        fillParticles<float>(*shape, "droplet", [](int64_t g, int64_t e) { return float((g + e) % 3) * 0.5f; });
        auto* droplet = shape->mutableChannelAs<Cb::ParticleChannelDroplet>("droplet");
        droplet->setThreshold(0.75f);  // not stored
        droplet->setMergebackDepth(2.0f);
    }
    shape->setModifiedFlags(0);
    return shape;
}

template <class T, class F>
void fillBuffer(Cb::Shape& shape, const std::string& name, F value) {
    auto* channel = shape.mutableChannelAs<BufferChannel<T>>(name);
    for (int64_t i = 0; i < int64_t(channel->size()); ++i) channel->data()[i] = value(int(i));
}

template <class T>
void appendBuffer(Cb::Shape& shape, const std::string& name, const T& defaultValue) {
    Cb::ChannelHandle handle(new BufferChannel<T>(defaultValue));
    handle->setName(name);
    shape.appendChannel(std::move(handle));
}

void addMeshes(Cb::Body& body) {
    auto* points = static_cast<Cb::PointShape*>(body.addShape(new Cb::PointShape(true)));
    points->resizeElements(4500);  // two pieces of a chunked array
    fillBuffer<zt::vec3f>(*points, "position",
                          [](int i) { return zt::vec3f{{0.1f * float(i % 17), 0.2f * float(i % 23), -0.001f * float(i)}}; });
    points->createChannel1i("flag", 3);
    points->createChannel1f("mass", 1.5f);
    points->createChannel2i("pair", {{-1, 1}});
    appendBuffer<zt::vec2f>(*points, "uv", {{0.5f, 0.25f}});
    points->createChannel3i("cell", {{7, 8, 9}});
    points->createChannel3f("normal", {{0, 0, 1}});
    points->createChannel4i("quad", {{1, 2, 3, 4}});
    appendBuffer<zt::vec4f>(*points, "color", {{1, 0.5f, 0.25f, 1}});
    fillBuffer<int>(*points, "flag", [](int i) { return i % 5 - 2; });
    fillBuffer<float>(*points, "mass", [](int i) { return 1.0f + 0.0625f * float(i % 8); });
    fillBuffer<zt::vec2i>(*points, "pair", [](int i) { return zt::vec2i{{i, -i}}; });
    fillBuffer<zt::vec2f>(*points, "uv", [](int i) { return zt::vec2f{{float(i) / 4500.0f, 0.5f}}; });
    // "cell" keeps its default everywhere: a channel of defaults comes back too.
    fillBuffer<zt::vec3f>(*points, "normal", [](int i) { return zt::vec3f{{0, float(i & 1), 1}}; });
    fillBuffer<zt::vec4i>(*points, "quad", [](int i) { return zt::vec4i{{i, i + 1, i + 2, i + 3}}; });

    auto* edges = static_cast<Cb::BufferShape*>(body.addShape(new Cb::EdgeShape(true)));
    edges->resizeElements(30);
    fillBuffer<zt::vec2i>(*edges, "index", [](int i) { return zt::vec2i{{i, i + 1}}; });
    edges->createChannel1f("length", 0.0f);
    edges->createChannel1i("crease", 0);
    fillBuffer<float>(*edges, "length", [](int i) { return 0.5f * float(i); });
    fillBuffer<int>(*edges, "crease", [](int i) { return i % 2; });

    auto* triangles = static_cast<Cb::BufferShape*>(body.addShape(new Cb::TriangleShape(true)));
    triangles->resizeElements(100);
    fillBuffer<zt::vec3i>(*triangles, "index", [](int i) { return zt::vec3i{{i, i + 2, i + 4}}; });
    triangles->createChannel3f("normal", {{0, 1, 0}});
    triangles->createChannel1f("area", 0.0f);
    triangles->createChannel4i("corner", {{0, 0, 0, 0}});
    fillBuffer<zt::vec3f>(*triangles, "normal", [](int i) { return zt::vec3f{{float(i), 1, -float(i)}}; });
    fillBuffer<float>(*triangles, "area", [](int i) { return float(i) * 0.01f; });
    fillBuffer<zt::vec4i>(*triangles, "corner", [](int i) { return zt::vec4i{{i, -i, 2 * i, -2 * i}}; });

    auto* tets = static_cast<Cb::BufferShape*>(body.addShape(new Cb::TetShape(true)));
    tets->resizeElements(12);
    fillBuffer<zt::vec4i>(*tets, "index", [](int i) { return zt::vec4i{{i, i + 1, i + 2, i + 3}}; });
    tets->createChannel1f("volume", 1.0f);
    tets->createChannel3i("region", {{0, 0, 0}});
    fillBuffer<float>(*tets, "volume", [](int i) { return 1.0f / float(i + 1); });
    fillBuffer<zt::vec3i>(*tets, "region", [](int i) { return zt::vec3i{{i / 4, i % 4, 1}}; });
}

template <class T>
void fillField(zt::field3<T>& field, T base) {
    for (int64_t i = 0; i < field.fineValues().count(); ++i) field.at(i) = T(base + T(i));
    for (int64_t s = 1; s < field.coarseValues().count(); ++s) field.at(-s) = T(base - T(s));
}

void setAttributes(Cb::Channel* channel, int32_t mode, unsigned flags, float attribute) {
    auto* field = static_cast<Cb::FieldChannelBase*>(channel);
    field->setUpdateMode(mode);
    for (int f = 0; f < Cb::kFieldFlagCount; ++f) field->setFlag(Cb::FieldFlag(f), (flags >> f) & 1);
    field->setAttribute(attribute);
}

void addFields(Cb::Body& body) {
    auto* shape = static_cast<Cb::FieldShape*>(body.addShape(new Cb::FieldShape(false)));
    setAttributes(shape->createChannel1f("density", 0.5f), 3, 0b00110, 0.75f);
    setAttributes(shape->createChannel1i("label", -1), 1, 0b00001, -2.0f);
    setAttributes(shape->createChannel1i64("stamp", 7), 1, 0b11000, 0.0f);
    setAttributes(shape->createChannel3f("vel", {{1, 2, 3}}), 2, 0b10101, 1e-3f);
    setAttributes(shape->createChannel1f("fluid-distance", 0.0f), 0, 0b01010, 4.0f);
    setAttributes(shape->createChannel1f("solid-distance", 0.0f), 2, 0b11111, 0.5f);
    setAttributes(shape->createChannel1f("particle-count", 5.0f), 0, 0, 8.0f);
    shape->updateLayout(body.layout());
    fillField(static_cast<Cb::FieldChannel1f&>(*shape->mutableChannel("density").mutableGet()).field(), 0.25f);
    fillField(static_cast<Cb::FieldChannel1i&>(*shape->mutableChannel("label").mutableGet()).field(), -100);
    fillField(static_cast<Cb::FieldChannel1i64&>(*shape->mutableChannel("stamp").mutableGet()).field(),
              int64_t(1) << 36);
    auto& vel = static_cast<Cb::FieldChannel3f&>(*shape->mutableChannel("vel").mutableGet());
    for (int c = 0; c < 3; ++c) fillField(vel.field(c), float(c) * 1000.0f);
    for (const char* name : {"fluid-distance", "solid-distance", "particle-count"})
        fillField(static_cast<Cb::FieldChannel1f&>(*shape->mutableChannel(name).mutableGet()).field(), -3.5f);
}

template <class V>
V* addValue(Cb::ValueSection* section, std::unique_ptr<V> value) {
    return static_cast<V*>(section->addValue(std::move(value)));
}

void addValues(Cb::Body& body) {
    Cb::EnumGroup* motion = body.addEnumGroup(std::make_unique<Cb::EnumGroup>(
        "MotionTypeEnum", std::vector<std::string>{"Dynamic", "Kinematic", "User", "Unsolved"}));
    Cb::EnumGroup* colors =
        body.addEnumGroup(std::make_unique<Cb::EnumGroup>("ColorEnum", std::vector<std::string>{"Red", "Green", "Blue"}));

    Cb::ValueSection* fluid = body.addSection("Fluid");
    auto* density = addValue(fluid, std::make_unique<Cb::Value1f>("Density", std::array<std::string, 1>{"1000"}));
    density->setMin("10", 0);
    density->setMax("5000", 0);
    density->setSoftRange("500", "2000", 0);
    density->setFlags(true, true);
    addValue(fluid, std::make_unique<Cb::Value3f>("Gravity", std::array<std::string, 3>{"0", "-9.8", "frame"}));
    addValue(fluid, std::make_unique<Cb::Value1e>("Color", colors, "Blue"));

    // Added after "Fluid", it goes first.
    Cb::ValueSection* stepping = body.addSection("Stepping");
    addValue(stepping, std::make_unique<Cb::Value1e>("Motion Type", motion, "Dynamic"));
    addValue(stepping, std::make_unique<Cb::Value1i>("Substeps", std::array<std::string, 1>{"4"}));
    auto* fps = addValue(stepping, std::make_unique<Cb::FpsValue>("Frame Rate"));
    fps->setExpression("30", 0);
    addValue(stepping, std::make_unique<Cb::ThreadCountValue>("Thread Count"));

    Cb::ValueSection* controls = body.addSection("Controls");
    addValue(controls, std::make_unique<Cb::Value1i64>("Seed", std::array<std::string, 1>{"0x10"}));
    addValue(controls, std::make_unique<Cb::Value3i>("Resolution", std::array<std::string, 3>{"64", "-2", "frame"}));
    addValue(controls, std::make_unique<Cb::Value1s>("Label", std::array<std::string, 1>{"take `frame`"}));
    addValue(controls, std::make_unique<Cb::ValueToggle>("Enabled", "On"));
    addValue(controls, std::make_unique<Cb::Value1e>("Unset"));  // no group, no selection
    addValue(controls, std::make_unique<Cb::Value1f>("Empty"));  // an empty text
}

}  // namespace

std::unique_ptr<Cb::Body> makeRichBody(const std::string& name) {
    auto body = std::make_unique<Cb::Body>(name);
    body->setSignatureName("Particle-Liquid");
    body->setExtraText("tank 3, second pass");
    const float m[16] = {2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0.5f, 0, 1.25f, -2, 3, 1};
    body->setTransformMatrix(m);
    setLayout(*body);
    addValues(*body);
    addParticles(*body, true);
    addMeshes(*body);
    addFields(*body);
    return body;
}

std::unique_ptr<Cb::Body> makeParticleOnlyBody(const std::string& name) {
    auto body = std::make_unique<Cb::Body>(name);
    body->setSignatureName("Particle");
    setLayout(*body);
    addParticles(*body, false);
    return body;
}

namespace {

std::vector<zt::vec3f> fineValues(const Cb::Body& body, const std::string& channel) {
    const auto& blocks = body.particleShape()->channelAs<ParticleChannel<zt::vec3f>>(channel)->blocks();
    std::vector<zt::vec3f> out;
    for (int64_t slot = 0; slot < blocks.listCount(0); ++slot)
        if (const auto* b = blocks.residentTypedBlock(slot))
            for (int64_t e = 0; e < b->count(); ++e) out.push_back((*b)[e]);
    return out;
}

}  // namespace

std::vector<zt::vec3f> finePositions(const Cb::Body& body) { return fineValues(body, "position"); }
std::vector<zt::vec3f> fineVelocities(const Cb::Body& body) { return fineValues(body, "velocity"); }

}  // namespace writertest
