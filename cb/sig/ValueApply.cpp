// Applying the value side of a signature: enumerated groups, sections and the
// values they declare.
#include "cb/model/Body.h"
#include "cb/sig/SectionDecl.h"
#include "cb/sig/SigRoot.h"
#include "cb/sig/ValueDecl.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueBase.h"
#include "cb/values/ValueSection.h"
#include "cb/values/ValueTypes.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cbp {

namespace {

// An enumerated value over `group`, selecting the declared default (checked).
std::unique_ptr<Cb::ValueBase> enumValue(const ValueDecl& decl, const char* typeName, Cb::EnumGroup* group) {
    std::unique_ptr<Cb::ValueBase> value(Cb::createValue(typeName, decl.valueName()));
    auto& enumerated = static_cast<Cb::Value1e&>(*value);
    enumerated.setGroup(group);
    enumerated.select(decl.defaultText(0));
    value->setFlags(decl.readOnly(), decl.hidden());
    return value;
}

}  // namespace

std::unique_ptr<Cb::ValueBase> ValueDecl::valueOfType(const char* typeName) const {
    std::unique_ptr<Cb::ValueBase> value(Cb::createValue(typeName, valueName()));
    for (int c = 0; c < componentCount(); ++c) value->setExpression(defaultText(c), c);
    value->setFlags(readOnly(), hidden());
    // After the defaults: a default outside its own limits stays accepted.
    for (int c = 0; c < componentCount(); ++c) {
        const ValueLimits* group = limits(c);
        if (!group) continue;
        if (const ValueLimitHard* min = group->hardMin()) value->setMin(min->valueText(), c);
        if (const ValueLimitHard* max = group->hardMax()) value->setMax(max->valueText(), c);
        if (const ValueLimitsSoftRange* soft = group->softRange())
            value->setSoftRange(soft->minText(), soft->maxText(), c);
    }
    return value;
}

std::unique_ptr<Cb::ValueBase> ValueDecl1f::buildValue(Cb::Body*) const { return valueOfType("value1f"); }

std::unique_ptr<Cb::ValueBase> ValueDecl1i::buildValue(Cb::Body*) const { return valueOfType("value1i"); }

std::unique_ptr<Cb::ValueBase> ValueDecl3f::buildValue(Cb::Body*) const { return valueOfType("value3f"); }

std::unique_ptr<Cb::ValueBase> ValueDecl1s::buildValue(Cb::Body*) const { return valueOfType("value1s"); }

std::unique_ptr<Cb::ValueBase> ValueDeclToggle::buildValue(Cb::Body*) const {
    return enumValue(*this, "toggle", Cb::toggleGroup());
}

std::unique_ptr<Cb::ValueBase> ValueDecl1e::buildValue(Cb::Body* body) const {
    return enumValue(*this, "enum", body->enumGroup(groupName()));
}

void ValueSectionDecl::apply(Cb::Body* body) {
    Cb::ValueSection* section = body->addSection(name());
    const ValueDeclBlock* block = values();
    if (!block) return;
    for (int64_t i = 0; i < block->slotCount(); ++i)
        if (const ValueDecl* decl = block->decl(i)) section->addValue(decl->buildValue(body));
}

void EnumGroupDecl::apply(Cb::Body* body) {
    auto group = std::make_unique<Cb::EnumGroup>(name());
    for (int64_t i = 0; i < childCount(); ++i) group->addName(nameAt(i));
    body->addEnumGroup(std::move(group));
}

void Root::apply(Cb::Body* body) {
    if (!body) throw ztx::base(zt::cat("Cannot apply signature '", name(), "' to a NULL body"));
    if (Node* list = slotCount() > 2 ? child(2) : nullptr) list->apply(body);
}

}  // namespace Cbp
