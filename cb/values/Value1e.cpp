#include "cb/values/Value1e.h"

#include "cb/values/EnumGroup.h"
#include "cb/values/ValueTypes.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

Value1e::Value1e(const std::string& name) : ValueBase(name) {}

Value1e::Value1e(const std::string& name, EnumGroup* group, const std::string& selected)
    : ValueBase(name), group_(group) {
    select(selected);
}

Value1e::Value1e(const Value1e& other)
    : ValueBase(other), group_(other.group_), selected_(other.selected_), ownedGroup_(other.ownedGroup_) {}

Value1e::~Value1e() = default;

int Value1e::typeCode() const { return 8; }
std::string Value1e::typeName() const { return "enum"; }

void Value1e::evalString(std::string& out, const FrameTime&, int, int) {
    // Old files name the empty construction state "Live".
    if (group_ && group_->name() == "ConstructionEnum" && selected_ == "Live")
        out = "Empty";
    else
        out = selected_;
}

ValueBase* Value1e::clone() const { return new Value1e(*this); }

std::string Value1e::expression(int) const { return selected_; }

void Value1e::setExpression(const std::string& text, int component) {
    if (component != 0) throw ztx::base(zt::cat("component ", component, " out of range"));
    selected_ = text;
}

double Value1e::evalNumber(const FrameTime&, int, int) { return group_ ? group_->indexOf(selected_) : -1; }

void Value1e::select(const std::string& name) {
    if (group_) group_->checkName(name);
    selected_ = name;
}

void Value1e::adoptGroup(std::unique_ptr<EnumGroup> group) {
    ownedGroup_ = std::shared_ptr<EnumGroup>(std::move(group));
    group_ = ownedGroup_.get();
}

ValueToggle::ValueToggle(const std::string& name) : Value1e(name) { setGroup(toggleGroup()); }

ValueToggle::ValueToggle(const std::string& name, const std::string& selected) : ValueToggle(name) {
    select(selected);
}

int ValueToggle::typeCode() const { return 9; }
std::string ValueToggle::typeName() const { return "toggle"; }
ValueBase* ValueToggle::clone() const { return new ValueToggle(*this); }

}  // namespace Cb
