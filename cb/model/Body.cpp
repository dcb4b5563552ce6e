#include "cb/model/Body.h"

#include <cstring>
#include <memory>
#include <vector>

#include "cb/Log.h"
#include "cb/encoding/LayoutRecord.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Channel.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "cb/model/Shape.h"
#include "cb/qel/QelContext.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueBase.h"
#include "cb/values/ValueIo.h"
#include "cb/values/ValueSection.h"
#include "zt/cat.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

constexpr float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
constexpr float kDefaultCellSize = 1.0f;
constexpr uint32_t kDefaultTileSize = 9;

std::vector<std::string> splitBlanks(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

// A write selector: the text before the first "." names shapes, the text
// after it channels; without a "." the shape part is empty.
struct Selector {
    std::string shape;
    std::string channel;
};

Selector parseSelector(const std::string& token) {
    const size_t dot = token.find('.');
    if (dot == std::string::npos) return {std::string(), token};
    return {token.substr(0, dot), token.substr(dot + 1)};
}

bool recreatableByName(const std::string& typeName) {
    const ChannelCreateTable& table = channelCreateTable();
    const auto found = table.find(typeName);
    return found != table.end() && found->second != nullptr;
}

template <class S>
const S* typedShape(const Body& body, const std::string& kind) {
    return dynamic_cast<const S*>(body.shape(kind).get());
}

}  // namespace

Body::Body(const std::string& name)
    : ValueObject(name), layout_(new zt::tile_layout3(kDefaultCellSize, kDefaultTileSize)) {
    std::memcpy(transform_, kIdentity, sizeof transform_);
}

Body::Body(const Body& other)
    : ValueObject(other),
      layout_(other.layout_),
      shapes_(other.shapes_),
      userValue_(other.userValue_),
      firstFlag_(other.firstFlag_),
      secondFlag_(other.secondFlag_),
      signatureName_(other.signatureName_),
      savedFile_(other.savedFile_),
      extraText_(other.extraText_) {
    std::memcpy(transform_, other.transform_, sizeof transform_);
}

Body::~Body() = default;

Body* Body::copy() const { return new Body(*this); }

bool Body::isEvolving() const {
    // A body without "Motion Type" (built from body code without a
    // signature) is not evolving.
    if (!hasValue("Motion Type")) return false;
    return value("Motion Type")->expression(0) != "Unsolved";
}

Body* Body::clone() const {
    if (isEvolving()) throw ztx::base(zt::cat("Attempting to clone evolving body '", name(), "'"));
    return copy();
}

void Body::setMotionTypeUnsolved() {
    if (hasValue("Motion Type")) value("Motion Type")->setExpression("Unsolved", 0);
}

Body* Body::cloneUnsolved() const {
    std::unique_ptr<Body> c(copy());
    c->setMotionTypeUnsolved();
    c->firstFlag_ = 0;
    return c.release();
}

void Body::matchSignature(const Body* signature) {
    if (!signature) throw ztx::base(zt::cat("Cannot match NULL signature on Body '", name(), "'"));
    // Groups, sections and values the body lacks come from the signature.
    for (int g = 0; g < signature->enumGroupCount(); ++g) {
        const EnumGroup* group = signature->enumGroupAt(g);
        if (!hasEnumGroup(group->name())) addEnumGroup(std::make_unique<EnumGroup>(*group));
    }
    for (int s = 0; s < signature->sectionCount(); ++s) {
        const ValueSection* source = signature->sectionAt(s);
        ValueSection* target = section(source->name());
        if (!target) target = addSection(source->name());
        for (int v = 0; v < source->valueCount(); ++v) {
            const ValueBase* value = source->valueAt(v);
            if (hasValue(value->ownName())) continue;
            std::unique_ptr<ValueBase> copy(value->clone());
            if (auto* e = dynamic_cast<Value1e*>(copy.get()))
                if (e->group() && !e->ownsGroup() && hasEnumGroup(e->group()->name()))
                    e->setGroup(enumGroup(e->group()->name()));
            target->addValue(std::move(copy));
        }
    }
    for (const auto& [kind, handle] : signature->shapes_) {
        auto it = shapes_.find(kind);
        if (it != shapes_.end())
            it->second.mutableGet()->addMissingChannels(*handle);
        else
            shapes_.emplace(kind, ShapeHandle(handle->clone()));
    }
    signatureName_ = signature->name();
}

bool Body::matchesSignature(const Body* signature) const {
    if (!signature) return true;
    for (const auto& [kind, handle] : signature->shapes_) {
        auto it = shapes_.find(kind);
        if (it == shapes_.end()) {
            if (verbose()) logInfo(zt::cat("Shape '", kind, "' not found"));
            return false;
        }
        const Shape& mine = *it->second;
        for (int c = 0; c < handle->channelCount(); ++c) {
            const Channel& wanted = *handle->channel(c);
            const int i = mine.indexOf(wanted.name());
            if (i < 0) {
                if (verbose()) logInfo(zt::cat("Channel '", wanted.name(), "' not found"));
                return false;
            }
            if (mine.channel(i)->typeCode() != wanted.typeCode()) {
                if (verbose()) logInfo(zt::cat("Type mismatch on channel '", wanted.name(), "'"));
                return false;
            }
        }
    }
    return true;
}

bool Body::hasPoints() const { return hasShape("Point"); }

void Body::followPoints(const Body& other, double dt, double t, bool move, bool setVelocity) {
    if (!hasShape("Point")) return;
    PointShape* points = mutablePointShape();
    zt::array1<zt::vec3f> dx;
    if (!points->pointDifference(*other.shape("Point"), dx)) return;
    if (move) points->advancePositions(dx, t / dt);
    if (setVelocity) points->computeVelocity(dx, dt);
}

void Body::applyTransform(const float m[16]) {
    bool identity = true;
    for (int i = 0; i < 16; ++i) identity = identity && m[i] == kIdentity[i];
    if (identity) return;
    if (hasShape("Point")) mutableShape("Point")->applyTransform(m);
    if (!hasShape("Particle")) return;
    if (hasShape("Field")) {
        logWarning(zt::cat("Import transform applied to body '", name(), ": Field-Shape will be destroyed"));
        eraseShape("Field");
    }
    mutableParticleShape()->applyTransform(m);
    shapeHooks(FrameTime());
    mutableParticleShape()->markModified("position");
    updateTileLayout(true);
}

void Body::setTransformMatrix(const float m[16]) { std::memcpy(transform_, m, sizeof transform_); }

void Body::setTransform(const zt::vec3f& a, const zt::vec3f& b, const zt::vec3f& c) {
    // Row-vector form: the three axes are the rows of the linear part.
    const float m[16] = {a[0], a[1], a[2], 0, b[0], b[1], b[2], 0, c[0], c[1], c[2], 0, 0, 0, 0, 1};
    setTransformMatrix(m);
}

zt::tile_layout3& Body::mutableLayout() { return *layout_.mutableGet(); }

void Body::setLayout(zt::tile_layout3* layout) {
    if (layout != layout_.get()) layout_.reset(layout);
}

bool Body::hasShape(const std::string& kind) const { return shapes_.count(kind) != 0; }

const ShapeHandle& Body::shape(const std::string& kind) const {
    auto it = shapes_.find(kind);
    if (it == shapes_.end()) throw ztx::base(zt::cat("Cannot find shape '", kind, "' in Body ", name()));
    return it->second;
}

Shape* Body::mutableShape(const std::string& kind) {
    auto it = shapes_.find(kind);
    if (it == shapes_.end()) throw ztx::base(zt::cat("Cannot find shape '", kind, "' in Body ", name()));
    return it->second.mutableGet();
}

void Body::badShapeType(const std::string& kind) const {
    throw ztx::base(zt::cat("Cannot access const shape '", kind, "' in Body '", name(), "': bad shape type"));
}

const ParticleShape* Body::particleShape() const {
    const auto* s = typedShape<ParticleShape>(*this, "Particle");
    if (!s) badShapeType("Particle");
    return s;
}

ParticleShape* Body::mutableParticleShape() {
    particleShape();  // the lookup's errors
    return static_cast<ParticleShape*>(mutableShape("Particle"));
}

const PointShape* Body::pointShape() const {
    const auto* s = typedShape<PointShape>(*this, "Point");
    if (!s) badShapeType("Point");
    return s;
}

PointShape* Body::mutablePointShape() {
    pointShape();
    return static_cast<PointShape*>(mutableShape("Point"));
}

Shape* Body::addShape(Shape* added) {
    std::unique_ptr<Shape> owned(added);
    const std::string kind = owned->name();
    if (hasShape(kind))
        throw ztx::base(zt::cat("Cannot create shape '", kind, "' in Body ", name(), ": shape already exists"));
    Shape* raw = owned.get();
    shapes_.emplace(kind, ShapeHandle(owned.release()));
    return raw;
}

void Body::setShape(Shape* replacement) {
    std::unique_ptr<Shape> owned(replacement);
    const std::string kind = owned->name();
    shapes_[kind] = ShapeHandle(owned.release());
}

void Body::eraseShape(const std::string& kind) {
    if (verbose()) logInfo(zt::cat("Erasing shape '", kind, "'"));
    shapes_.erase(kind);
}

bool Body::hasChannels(const std::string& list) const {
    for (const std::string& qualified : splitBlanks(list)) {
        auto it = shapes_.find(shapePart(qualified));
        if (it == shapes_.end() || it->second->indexOf(qualified) < 0) return false;
    }
    return true;
}

Channel* Body::channel(const std::string& qualifiedName) const {
    const Shape& s = *shape(shapePart(qualifiedName));
    const int i = s.indexOf(qualifiedName);
    return i < 0 ? nullptr : s.channel(i).get();
}

double Body::valueNumber(const std::string& name, const FrameTime& time, double fallback) const {
    if (!hasValue(name)) return fallback;
    // Evaluating binds the body's values to a context over it for the while.
    Body& self = const_cast<Body&>(*this);
    QelContext context(&self, "", time);
    return self.value(name)->evalNumber(time, 0, 0);
}

std::string Body::valueText(const std::string& name, const FrameTime& time) const {
    if (!hasValue(name)) return std::string();
    Body& self = const_cast<Body&>(*this);
    QelContext context(&self, "", time);
    std::string text;
    self.value(name)->evalString(text, time, 0, 0);
    return text;
}

void Body::settleLayout() {
    zt::tile_layout3& layout = mutableLayout();
    const bool emptySlots = layout.hasEmptySlots();
    layout.settle();
    if (emptySlots) {
        if (hasShape("Particle")) mutableShape("Particle")->updateLayout(layout);
        if (hasShape("Field")) mutableShape("Field")->updateLayout(layout);
    }
}

void Body::updateTileLayout(bool flag) {
    zt::tile_layout3& layout = mutableLayout();
    layout.updateNeighbours(true);
    if (hasShape("Particle")) {
        ParticleShape* particles = mutableParticleShape();
        particles->updateLayout(layout);
        if (particles->modifiedFlags() & kPositionModified) {
            particles->reblock(layout, flag ? 1 : 0);
            particles->updateLayout(layout);
        }
        particles->compactBlocks();
    }
    if (hasShape("Field")) {
        Shape* field = mutableShape("Field");
        field->updateLayout(layout);
        field->compactBlocks();
    }
    settleLayout();
}

void Body::shapeHooks(const FrameTime& time) {
    for (auto& entry : shapes_) entry.second.mutableGet()->updateFromBody(time, *this);
    updateTileLayout(false);
    for (auto& entry : shapes_) entry.second.mutableGet()->rebuildStep(time, *this);
    for (auto& entry : shapes_) entry.second.mutableGet()->syncChannels();
    for (auto& entry : shapes_) entry.second.mutableGet()->setModifiedFlags(0);
}

void Body::step(const double* params) {
    if (!params || params[kStepTimeStep] == 0.0) return;
    FrameTime time;
    time.frame = float(params[0]);
    time.timestep = int32_t(params[1]);
    time.time = params[2];
    time.frameDt = params[3];
    time.dt = params[kStepTimeStep];
    for (auto& entry : shapes_) entry.second.mutableGet()->updateFromBody(time, *this);
    if (hasChannels("Particle.droplet")) {
        const Shape& particles = *shape("Particle");
        const int d = particles.indexOf("droplet");
        if (d >= 0 && particles.channel(d)->typeCode() == kTypeFloat) fieldOperation("particle-count", time);
    }
    if (!isEvolving()) {
        shapeHooks(time);
        return;
    }
    preTransportSolve(time);
    transport(time);
    postTransportSolve(time);
    if (hasShape("Particle")) mutableShape("Particle")->compactBlocks();
    if (hasShape("Field")) mutableShape("Field")->compactBlocks();
    settleLayout();
}

void Body::fieldOperation(const std::string& /*operation*/, const FrameTime& time) {
    // The field shape's per-step work: its channels' update and rebuild hooks.
    if (!hasShape("Field")) return;
    Shape* field = mutableShape("Field");
    field->updateStep(time, *this);
    field->rebuildStep(time, *this);
}

void Body::addOccluder(Body*) {
    throw ztx::base(zt::cat(name(), "::addOccluder() unimplemented; use Body subclass"));
}

Object* Body::occluder(int) { throw ztx::base(zt::cat(name(), "::occluder() unimplemented; use Body subclass")); }

void Body::transport(const FrameTime&) {
    throw ztx::base(zt::cat(name(), "::transport() unimplemented; use Body subclass"));
}

void Body::addAcceleration(const zt::vec3f&) {
    throw ztx::base(zt::cat(name(), "::addAcceleration() requires a Dynamics Server"));
}

void Body::addForce(const zt::vec3f&) {
    throw ztx::base(zt::cat(name(), "::addForce() requires a Dynamics Server"));
}

// Without a dynamics server (none in this system) there is nothing to solve.
void Body::preTransportSolve(const FrameTime&) {}
void Body::postTransportSolve(const FrameTime&) {}

void Body::accelerate(const FrameTime&) {
    throw ztx::base(zt::cat(name(), "::accelerate() unimplemented; use Body subclass"));
}

void Body::writeHook(ZtpWriter&) {}
void Body::readHook(ZtpReader&) {}

void Body::settleForWriting() {
    if (!layout_->hasEmptySlots()) return;
    zt::tile_layout3& layout = mutableLayout();
    for (const char* kind : {"Particle", "Field"}) {
        if (!hasShape(kind)) continue;
        Shape* s = mutableShape(kind);
        s->updateLayout(layout);
        s->compactBlocks();
    }
    settleLayout();
}

void Body::write(ZtpWriter& writer, const std::string& selection, bool compress) {
    // The layout record has no way to mark a slot empty: a reader would give
    // every later slot of the list to the wrong block.
    settleForWriting();

    // Each shape's own selection, settled before anything is written: the
    // names of its channels that a selector matches, each followed by a space.
    std::vector<Selector> selectors;
    for (const std::string& token : splitBlanks(selection)) selectors.push_back(parseSelector(token));
    for (const Selector& sel : selectors)
        if (sel.shape != "*" && !hasShape(sel.shape))
            logWarning(zt::cat("Shape '", sel.shape, "' not found in body '", name(),
                               "': it will not be written to ", writer.fileName()));
    std::vector<std::pair<Shape*, std::string>> written;
    for (auto& [kind, handle] : shapes_) {
        // A channel no reader can recreate by its type name would make this
        // body, and every body after it, unreadable: it stays out.
        std::vector<bool> unreadable(size_t(handle->channelCount()), false);
        std::string own;
        for (const Selector& sel : selectors) {
            if (sel.shape != "*" && sel.shape != kind) continue;
            for (int c = 0; c < handle->channelCount(); ++c) {
                const Channel& channel = *handle->channel(c);
                if (sel.channel != "*" && sel.channel != channel.name()) continue;
                if (!recreatableByName(channel.typeName())) {
                    if (!unreadable[size_t(c)])
                        logWarning(zt::cat("Skipping channel '", kind, ".", channel.name(), "': type '",
                                           channel.typeName(), "' cannot be read back from ", writer.fileName()));
                    unreadable[size_t(c)] = true;
                    continue;
                }
                // The shape takes its channels by name, space-separated (names
                // hold no spaces): an empty name would be lost unseen.
                if (channel.name().empty())
                    throw ztx::base(zt::cat("Cannot write a channel without a name: ", kind, "-Shape of body '",
                                            name(), "'"));
                own += channel.name() + " ";
            }
        }
        if (!own.empty()) written.emplace_back(handle.get(), own);
    }

    ZtpOutput& out = writer.stream();
    writeString(out, name());
    writeString(out, signatureName_);
    writeString(out, extraText_);
    out.writeExact(transform_, sizeof transform_, "Error writing ztp value");
    writeHook(writer);

    out.writeI32(sectionCount());
    for (int s = 0; s < sectionCount(); ++s) {
        const ValueSection* section = sectionAt(s);
        writeString(out, section->name());
        out.writeI32(section->valueCount());
        for (int v = 0; v < section->valueCount(); ++v) writeValue(out, *section->valueAt(v));
    }

    writeLayoutRecord(out, *layout_);
    out.writeI32(int32_t(written.size()));
    for (auto& [shape, own] : written) shape->write(writer, own, compress);
    savedFile_ = writer.fileName();
}

}  // namespace Cb
