#include "RichBodies.h"

#include <bit>
#include <iomanip>
#include <sstream>
#include <string_view>

#include "ParticleBodies.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldShape.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueSection.h"
#include "zt/tile_layout3.h"

namespace testsupport {

namespace {

// Varied elements: quarters for floats.
template <class T>
T varied(int64_t seed, int k) {
    return T(int((seed * 37 + k * 11) % 1001) - 300) / T(4);
}

}  // namespace

void addRichParticles(Cb::Body& body, int64_t firstBlock) {
    auto* shape = static_cast<Cb::ParticleShape*>(body.addShape(new Cb::ParticleShape(true)));
    // Every channel keeps a default of its own, so that no channel's data can pass for another's.
    shape->createChannel3f("velocity", {{0.5f, -1, 2}});
    shape->createChannel1f("density", 1000.0f);
    shape->createChannel1i8("age", int8_t(-3));
    shape->createChannel1i("count", 42);
    shape->createChannel3i("cell", {{1, -2, 3}});
    shape->createChannel1i64("serial", int64_t(1) << 40);
    shape->createChannel1i64("id64", 0);
    shape->createChannel1f("droplet", 0.25f);
    shape->updateLayout(body.layout());
    auto& blocks = shape->positions()->blocks();
    for (int list = 0; list < 2; ++list)
        for (int64_t slot = list; slot < blocks.listCount(list); ++slot) {
            auto* b = blocks.typedBlock(list, slot);
            const int64_t n = list == 0 ? (slot == 0 ? firstBlock : 1 + slot % 4) : (slot == 1 ? 3 : slot == 5 ? 1 : 0);
            for (int64_t e = 0; b && e < n; ++e)
                b->append(zt::vec3f{{float(b->coord()[0]) * 2 + 0.01f * float(e % 97), float(b->coord()[1]) * 2 + 0.5f,
                                     float(b->coord()[2]) * 2 + 1.75f - 0.005f * float(e % 31)}});
        }
    shape->syncChannels();  // which numbers the ids
    shape->setModifiedFlags(0);
}

namespace {

// Every buffer channel of the shape but `keep` gets varied elements.
void fillBuffers(Cb::Shape& shape, const std::string& keep = "") {
    for (int c = 0; c < shape.channelCount(); ++c) {
        auto& channel = static_cast<Cb::BufferChannelBase&>(*shape.mutableChannel(c).mutableGet());
        if (channel.name() == keep) continue;
        const bool isFloat = channel.typeName() == "buffer::float" || channel.typeName().back() == 'f';
        auto* words = static_cast<int32_t*>(channel.rawData());
        for (size_t i = 0; i < channel.size() * channel.elementBytes() / 4; ++i)
            words[i] = isFloat ? std::bit_cast<int32_t>(varied<float>(int64_t(i), c)) : varied<int32_t>(int64_t(i), c);
    }
}

}  // namespace

void addRichMeshes(Cb::Body& body, int64_t pointCount, int64_t meshElements, int64_t meshStep) {
    auto* points = static_cast<Cb::PointShape*>(body.addShape(new Cb::PointShape(true)));
    points->resizeElements(pointCount);
    points->createChannel1i("flag", 3);
    points->createChannel1f("mass", 1.5f);
    points->createChannel2i("pair", {{-1, 1}});
    points->createChannel3i("cell", {{7, 8, 9}});
    points->createChannel3f("normal", {{0, 0, 1}});
    points->createChannel4i("quad", {{1, 2, 3, 4}});
    for (const std::string type : {"vec2f", "vec4f"}) {  // no shape makes these by name
        Cb::ChannelHandle handle(Cb::createChannel("buffer::" + type));
        handle->setName(type);
        points->appendChannel(std::move(handle));
    }
    fillBuffers(*points, "cell");  // a channel of defaults comes back too
    Cb::Shape* meshes[] = {body.addShape(new Cb::EdgeShape(true)), body.addShape(new Cb::TriangleShape(true)),
                           body.addShape(new Cb::TetShape(true))};
    for (int m = 0; m < 3; ++m) {
        static_cast<Cb::BufferShape*>(meshes[m])->resizeElements(meshElements + meshStep * m);
        meshes[m]->createChannel1f("weight", 0.5f);
        fillBuffers(*meshes[m]);
    }
}

namespace {

template <class T>
void fillField(zt::field3<T>& field, int salt) {
    for (int64_t i = 0; i < field.fineValues().count(); ++i) field.at(i) = varied<T>(i + salt, 0);
    for (int64_t s = 1; s < field.coarseValues().count(); ++s) field.at(-s) = varied<T>(-s - salt, 0);
}

}  // namespace

void addRichFields(Cb::Body& body) {
    auto* shape = static_cast<Cb::FieldShape*>(body.addShape(new Cb::FieldShape(false)));
    auto* density = static_cast<Cb::FieldChannelBase*>(shape->createChannel1f("density", 0.5f));
    density->setUpdateMode(Cb::kFieldUpdateParticleSplat);
    density->setFlag(Cb::kFieldFlagB, true);
    density->setAttribute(0.75f);
    shape->createChannel1i64("stamp", 7);
    shape->createChannel3f("vel", {{1, 2, 3}});
    shape->createChannel1f("particle-count", 5.0f);  // a special class, of sample set 1
    shape->updateLayout(body.layout());
    fillField(shape->mutableChannelAs<Cb::FieldChannel1f>("density")->field(), 1);
    fillField(shape->mutableChannelAs<Cb::FieldChannel1f>("particle-count")->field(), 2);
    fillField(shape->mutableChannelAs<Cb::FieldChannel1i64>("stamp")->field(), 3);
    for (int c = 0; c < 3; ++c) fillField(shape->mutableChannelAs<Cb::FieldChannel3f>("vel")->field(c), 4 + c);
}

void addRichValues(Cb::Body& body) {
    Cb::EnumGroup* motion = body.addEnumGroup(std::make_unique<Cb::EnumGroup>(
        "MotionTypeEnum", std::vector<std::string>{"Dynamic", "Kinematic", "User", "Unsolved"}));
    Cb::EnumGroup* colors = body.addEnumGroup(
        std::make_unique<Cb::EnumGroup>("ColorEnum", std::vector<std::string>{"Red", "Green", "Blue"}));
    Cb::ValueSection* fluid = body.addSection("Fluid");
    fluid->addValue(std::make_unique<Cb::Value1f>("Density", std::array<std::string, 1>{"1000"}));
    fluid->addValue(std::make_unique<Cb::Value3f>("Gravity", std::array<std::string, 3>{"0", "-9.8", "frame"}));
    fluid->addValue(std::make_unique<Cb::Value1e>("Color", colors, "Blue"));
    Cb::ValueSection* stepping = body.addSection("Stepping");  // added after "Fluid", it goes first
    stepping->addValue(std::make_unique<Cb::Value1e>("Motion Type", motion, "Dynamic"));
    stepping->addValue(std::make_unique<Cb::Value1i>("Substeps", std::array<std::string, 1>{"4"}));
    Cb::ValueSection* controls = body.addSection("Controls");
    controls->addValue(std::make_unique<Cb::Value1i64>("Seed", std::array<std::string, 1>{"0x10"}));
    controls->addValue(std::make_unique<Cb::Value3i>("Resolution", std::array<std::string, 3>{"64", "-2", "frame"}));
    controls->addValue(std::make_unique<Cb::Value1s>("Label", std::array<std::string, 1>{"take `frame`"}));
    controls->addValue(std::make_unique<Cb::ValueToggle>("Enabled", "On"));
    controls->addValue(std::make_unique<Cb::Value1e>("Unset"));  // no group, no selection
}

namespace {

template <int N, class T>
std::string text(const zt::vec<N, T>& v) {
    std::ostringstream os;
    os << std::setprecision(9) << '(' << v[0];
    for (int i = 1; i < N; ++i) os << ' ' << v[i];
    return os.str() + ')';
}

std::string digest(const void* data, size_t n) {
    std::string text = "#";
    text += std::to_string(std::hash<std::string_view>()({static_cast<const char*>(data), n}));
    return text;
}

template <class T>
void describeField(std::ostream& os, const zt::field3<T>& f) {
    os << " background " << f.background() << " samples " << f.sampleSet() << " fine "
       << digest(f.fineValues().data(), size_t(f.fineValues().count()) * sizeof(T)) << " coarse "
       << digest(f.coarseValues().data(), size_t(f.coarseValues().count()) * sizeof(T));
}

std::string describe(const Cb::Channel& channel) {
    std::ostringstream os;
    os << std::setprecision(9) << channel.typeName() << " '" << channel.name() << "' " << channel.storedCount()
       << " of " << channel.size() << " min " << text(channel.storedMin()) << " max " << text(channel.storedMax())
       << " mean " << text(channel.storedMean()) << " default " << text(channel.defaultValue3f());
    if (const auto* p = dynamic_cast<const Cb::ParticleChannelBase*>(&channel)) {
        p->makeResident();
        const zt::block3_array_base& blocks = p->storage();
        os << " blocks " << blocks.listCount(0) << " + " << blocks.listCount(1) << ':';
        for (int64_t g = 0; g < blocks.blockCount(); ++g) {
            const auto bytes = p->blockBytes(g);
            const zt::block3_base* b = blocks.residentBlock(g);
            os << ' ' << (b ? text(b->coord()) : "-") << ' ' << digest(bytes.data(), bytes.size());
        }
    } else if (const auto* b = dynamic_cast<const Cb::BufferChannelBase*>(&channel)) {
        os << ' ' << digest(b->rawData(), b->size() * b->elementBytes());
    } else if (const auto* f = dynamic_cast<const Cb::FieldChannelBase*>(&channel)) {
        os << " mode " << f->updateMode() << " flags";
        for (int i = 0; i < Cb::kFieldFlagCount; ++i) os << ' ' << f->flag(Cb::FieldFlag(i));
        os << " attribute " << f->attribute();
        if (const auto* vector = dynamic_cast<const Cb::FieldChannel3f*>(f))
            for (int c = 0; c < 3; ++c) describeField(os, vector->field(c));
        else if (const auto* real = dynamic_cast<const Cb::FieldChannel1f*>(f))
            describeField(os, real->field());
        else if (const auto* whole = dynamic_cast<const Cb::FieldChannel1i*>(f))
            describeField(os, whole->field());
        else if (const auto* wide = dynamic_cast<const Cb::FieldChannel1i64*>(f))
            describeField(os, wide->field());
    }
    return os.str();
}

}  // namespace

void setRichLayout(Cb::Body& body, int tileSize, const std::vector<zt::vec3i>& tiles) {
    auto* layout = new zt::tile_layout3(0.5f, tileSize);
    for (const zt::vec3i& t : tiles) layout->addTile(t[0], t[1], t[2], false);
    layout->updateNeighbours(true);
    body.setLayout(layout);
}

std::unique_ptr<Cb::Body> makeRichBody(const std::string& name) {
    auto body = std::make_unique<Cb::Body>(name);
    body->setSignatureName("Particle-Liquid");
    body->setExtraText("tank 3, second pass");
    const float m[16] = {2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0.5f, 0, 1.25f, -2, 3, 1};
    body->setTransformMatrix(m);
    setRichLayout(*body, 4, {{{0, 0, 0}}, {{1, 0, 0}}, {{-1, 2, 3}}});
    addRichValues(*body);
    addRichParticles(*body, 300);
    addRichMeshes(*body, 4500, 12, 40);  // 4500 points: two pieces of a chunked array
    addRichFields(*body);
    return body;
}

std::unique_ptr<Cb::Body> makePlainBody(const std::string& name) {
    std::vector<zt::vec3f> positions;
    for (int i = 0; i < 40; ++i) positions.push_back({{0.2f * float(i), 1.5f, 4.0f - 0.25f * float(i)}});
    return makeParticleBody({name, positions});
}

std::string describeBody(const Cb::Body& body, bool shapes) {
    std::ostringstream os;
    os << std::setprecision(9) << "body '" << body.name() << "' of '" << body.signatureName() << "' extra '"
       << body.extraText() << "' transform";
    for (int i = 0; i < 16; ++i) os << ' ' << body.transform()[i];
    for (int s = 0; s < body.sectionCount(); ++s) {
        const Cb::ValueSection& section = *body.sectionAt(s);
        os << "\nsection " << section.name();
        for (int v = 0; v < section.valueCount(); ++v) {
            const Cb::ValueBase& value = *section.valueAt(v);
            os << "\n  " << value.typeName() << " '" << value.ownName() << "'";
            for (int c = 0; c < value.componentCount(); ++c) os << " '" << value.expression(c) << "'";
            const auto* e = dynamic_cast<const Cb::Value1e*>(&value);
            // A value without a group reads back with an empty one.
            if (!e || !e->group() || e->group()->count() == 0) continue;
            os << " group " << e->group()->name();
            for (const std::string& name : e->group()->names()) os << ' ' << name;
        }
    }
    const zt::tile_layout3& layout = body.layout();
    os << "\nlayout " << layout.cellSize() << ' ' << layout.tileSize() << " fine";
    for (const zt::vec3i& t : layout.fineCoordinates()) os << ' ' << text(t);
    os << " coarse";
    for (const zt::vec3i& t : layout.coarseCoordinates()) os << ' ' << text(t);
    for (const auto& [kind, shape] : body.shapes()) {
        if (!shapes || shape->channelCount() == 0) continue;  // shapes without channels are not written
        os << "\nshape " << kind << " '" << shape->name() << "'";
        for (int c = 0; c < shape->channelCount(); ++c) os << "\n  " << describe(*shape->channel(c));
    }
    return os.str();
}

}  // namespace testsupport
