#include "cb/values/ValueBase.h"

#include "cb/values/ValueObject.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {
std::string creationName(const std::string& name) {
    return name == "Particle Supersampling" ? std::string("Interior Supersampling") : name;
}
}  // namespace

ValueBase::ValueBase(const std::string& name) : Object(creationName(name)) {}

ValueBase::ValueBase(const ValueBase& other) : Object(other.ownName()) {}

ValueBase::~ValueBase() = default;

std::string ValueBase::name() const {
    if (!owner_) throw ztx::base(zt::cat("Attempting to construct NULL-object longname '", ownName(), "'"));
    return owner_->name() + "." + ownName();
}

void ValueBase::setName(const std::string& name) { name_ = name; }

void ValueBase::copyExpressions(const ValueBase& other) {
    for (int c = 0; c < componentCount(); ++c) setExpression(other.expression(c), c);
}

void ValueBase::checkComponent(int component) const {
    if (component < 0 || component >= componentCount())
        throw ztx::base(zt::cat("component ", component, " out of range"));
}

}  // namespace Cb
