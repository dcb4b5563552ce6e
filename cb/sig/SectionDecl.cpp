#include "cb/sig/SectionDecl.h"

namespace Cbp {

const ValueDecl* ValueDeclBlock::decl(int64_t i) const { return childAs<ValueDecl>(i); }

const StringConstant* ValueSectionDecl::description() const { return childAs<StringConstant>(1); }

const ValueDeclBlock* ValueSectionDecl::values() const { return childAs<ValueDeclBlock>(2); }

const EnumGroupDeclBlock* EnumGroupDecl::names() const { return childAs<EnumGroupDeclBlock>(1); }

int64_t EnumGroupDecl::childCount() const {
    const EnumGroupDeclBlock* block = names();
    return block ? block->slotCount() : 0;
}

std::string EnumGroupDecl::nameAt(int64_t i) const {
    const EnumGroupDeclBlock* block = names();
    return block ? block->childText(i) : std::string();
}

}  // namespace Cbp
