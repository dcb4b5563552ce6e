#include "cb/sig/ChannelDecl.h"

namespace Cbp {

const ChannelSpec* ChannelDecl::spec() const { return childAs<ChannelSpec>(0); }

std::string ChannelDecl::defaultText(int component) const {
    if (component < 0 || component >= components_) return std::string();
    return childText(component + 1);
}

const ChannelTransportQuality* ChannelTransportQualifier::quality() const {
    return childAs<ChannelTransportQuality>(0);
}

const ShapeDecl* ChannelDeclStmt::shapeDecl() const { return childAs<ShapeDecl>(0); }

const ChannelDecl* ChannelDeclStmt::channelDecl() const { return childAs<ChannelDecl>(0); }

const ChannelQualifier* ChannelDeclStmt::qualifier() const { return childAs<ChannelQualifier>(1); }

}  // namespace Cbp
