#include "cb/values/ValueSection.h"

#include "cb/values/ValueBase.h"
#include "cb/values/ValueObject.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

std::string mapLegacyValueName(const std::string& name) {
    if (name == "Master Cell Size") return "Master Voxel Size";
    if (name == "Cell Scale") return "Voxel Scale";
    if (name == "Particle Supersampling") return "Interior Supersampling";
    if (name == "Fluid Density" || name == "Solid Density") return "Density";
    return name;
}

namespace {
std::string storedValueName(const std::string& name) {
    if (name == "Cell Scale") return "Voxel Scale";
    if (name == "Fluid Density" || name == "Solid Density") return "Density";
    return name;
}
}  // namespace

ValueSection::ValueSection(const std::string& name, ValueObject* owner)
    : name_(name == "Supersampling" ? std::string("Particle Supersampling") : name), owner_(owner) {}

ValueSection::~ValueSection() = default;

void ValueSection::setOwner(ValueObject* owner) {
    owner_ = owner;
    for (auto& v : values_) v->setOwner(owner);
}

ValueBase* ValueSection::addValue(std::unique_ptr<ValueBase> value) {
    value->setName(storedValueName(value->ownName()));
    if (findValue(value->ownName()))
        throw ztx::base(
            zt::cat("Attempting to add duplicate '", value->ownName(), "' to section '", name_, "'"));
    value->setOwner(owner_);
    values_.push_back(std::move(value));
    return values_.back().get();
}

ValueBase* ValueSection::findValue(const std::string& name) const {
    const std::string mapped = mapLegacyValueName(name);
    for (const auto& v : values_)
        if (v->ownName() == mapped) return v.get();
    return nullptr;
}

bool ValueSection::hasValue(const std::string& name) const { return findValue(name) != nullptr; }

ValueBase* ValueSection::value(const std::string& name) const {
    if (ValueBase* v = findValue(name)) return v;
    throw ztx::base(zt::cat("Section '", name_, "' does not have value '", name, "'"));
}

}  // namespace Cb
