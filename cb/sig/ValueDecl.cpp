#include "cb/sig/ValueDecl.h"

#include "cb/sig/ValueLimits.h"

namespace Cbp {

void FlagList::addMarker(bool readOnly) {
    addChild(std::make_unique<StringConstant>(readOnly ? "R" : "H"));
    (readOnly ? readOnly_ : hidden_) = 1;
}

const ValueLimitHard* ValueLimits::hardMin() const {
    return childAs<ValueLimitHard>(0);
}

const ValueLimitHard* ValueLimits::hardMax() const {
    return childAs<ValueLimitHard>(1);
}

const ValueLimitsSoftRange* ValueLimits::softRange() const {
    return childAs<ValueLimitsSoftRange>(2);
}

int ValueDecl::componentSlot(int component) const {
    if (component < 0 || component >= layout_.components) return -1;
    return layout_.nameSlot + 1 + component * (layout_.limited ? 2 : 1);
}

int ValueDecl::flagsSlot() const {
    return layout_.nameSlot + 1 + layout_.components * (layout_.limited ? 2 : 1);
}

std::string ValueDecl::valueName() const { return childText(layout_.nameSlot); }

std::string ValueDecl::defaultText(int component) const {
    const int i = componentSlot(component);
    return i < 0 ? std::string() : childText(i);
}

const ValueLimits* ValueDecl::limits(int component) const {
    const int i = componentSlot(component);
    if (i < 0 || !layout_.limited) return nullptr;
    return childAs<ValueLimits>(i + 1);
}

const FlagList* ValueDecl::flags() const { return childAs<FlagList>(flagsSlot()); }

uint8_t ValueDecl::readOnly() const {
    const FlagList* list = flags();
    return list ? list->readOnly() : 0;
}

uint8_t ValueDecl::hidden() const {
    const FlagList* list = flags();
    return list ? list->hidden() : 0;
}

const StringConstant* ValueDecl::description() const {
    return childAs<StringConstant>(flagsSlot() + 1);
}

}  // namespace Cbp
