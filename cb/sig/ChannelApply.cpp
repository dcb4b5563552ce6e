// Applying the "Channels" statements of a signature: shapes, typed channels
// with their defaults, and the update qualifiers of field channels.
#include <cstdlib>

#include "cb/fields/FieldChannel.h"
#include "cb/model/Body.h"
#include "cb/model/Shape.h"
#include "cb/sig/ChannelDecl.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cbp {

namespace {

// The body's shape of that kind, created with its master channel when the
// body has none.
Cb::Shape& shapeOf(Cb::Body* body, const std::string& kind) {
    if (!body->hasShape(kind)) body->addShape(Cb::createShape(kind, true));
    return *body->mutableShape(kind);
}

}  // namespace

// addShape owns the shape from the call on, refused or not.
void ShapeDecl::apply(Cb::Body* body) { body->addShape(Cb::createShape(shapeName(), true)); }

float ChannelDecl::defaultFloat(int component) const {
    return float(std::atof(defaultText(component).c_str()));
}

int ChannelDecl::defaultInt(int component) const {
    const std::string text = defaultText(component);
    const bool hex = text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    // Parsed wide, then cut to 32 bits, so 0xFFFFFFFF reads as -1.
    return int(hex ? int64_t(std::strtoull(text.c_str(), nullptr, 16)) : std::strtoll(text.c_str(), nullptr, 10));
}

void ChannelDecl::apply(Cb::Body* body) {
    const ChannelSpec* channelSpec = spec();
    if (!channelSpec) return;
    Cb::Shape& shape = shapeOf(body, channelSpec->shapeName());
    const std::string name = channelSpec->channelName();
    if (shape.indexOf(name) >= 0) return;
    createIn(shape, name);
}

void ChannelDecl1f::createIn(Cb::Shape& shape, const std::string& name) const {
    shape.createChannel1f(name, defaultFloat(0));
}

void ChannelDecl1i::createIn(Cb::Shape& shape, const std::string& name) const {
    shape.createChannel1i(name, defaultInt(0));
}

void ChannelDecl2i::createIn(Cb::Shape& shape, const std::string& name) const {
    shape.createChannel2i(name, zt::vec2i{defaultInt(0), defaultInt(1)});
}

void ChannelDecl3i::createIn(Cb::Shape& shape, const std::string& name) const {
    shape.createChannel3i(name, zt::vec3i{defaultInt(0), defaultInt(1), defaultInt(2)});
}

void ChannelDecl4i::createIn(Cb::Shape& shape, const std::string& name) const {
    shape.createChannel4i(name, zt::vec4i{defaultInt(0), defaultInt(1), defaultInt(2), defaultInt(3)});
}

void ChannelDecl3f::createIn(Cb::Shape& shape, const std::string& name) const {
    shape.createChannel3f(name, zt::vec3f{defaultFloat(0), defaultFloat(1), defaultFloat(2)});
}

void ChannelQualifier::applyToChannel(Cb::Body* body, const std::string& shapeName,
                                      const std::string& channelName) const {
    Cb::Shape* shape = body->mutableShape(shapeName);
    configure(*shape->mutableChannelAs<Cb::FieldChannelBase>(channelName));
}

void ChannelKeepQualifier::configure(Cb::FieldChannelBase& channel) const {
    channel.setUpdateMode(Cb::kFieldUpdateKeep);
}

void ChannelTransportQuality::applyToChannel(Cb::FieldChannelBase& channel) const {
    if (high()) channel.setFlag(Cb::kFieldFlagA, true);
}

void ChannelTransportQualifier::configure(Cb::FieldChannelBase& channel) const {
    channel.setUpdateMode(Cb::kFieldUpdateTransport);
    if (const ChannelTransportQuality* q = quality()) q->applyToChannel(channel);
}

// The letters written inside the parentheses change nothing.
void ChannelParticleSplatQualifier::configure(Cb::FieldChannelBase& channel) const {
    channel.setUpdateMode(Cb::kFieldUpdateParticleSplat);
    channel.setFlag(Cb::kFieldFlagB, true);
    channel.setFlag(Cb::kFieldFlagC, true);
}

void ChannelDeclStmt::apply(Cb::Body* body) {
    Node* declaration = slotCount() > 0 ? child(0) : nullptr;
    if (!declaration) return;
    declaration->apply(body);
    const ChannelQualifier* q = qualifier();
    if (!q) return;
    if (const ChannelDecl* channel = channelDecl()) {
        if (const ChannelSpec* spec = channel->spec()) q->applyToChannel(body, spec->shapeName(), spec->channelName());
    } else if (const ShapeDecl* shape = shapeDecl()) {
        q->applyToChannel(body, shape->shapeName(), "*");
    }
}

}  // namespace Cbp
