#pragma once
// Property sections and enumerated groups of a signature. Applied to a body,
// a group declaration adds its EnumGroup and a section declaration adds its
// section ("Stepping" goes first) filled with the built values in order.

#include "cb/sig/SigNode.h"
#include "cb/sig/ValueDecl.h"

namespace Cbp {

// The value declarations of one section, in source order.
class ValueDeclBlock : public Node {
public:
    const ValueDecl* decl(int64_t i) const;
    const char* className() const override { return "ValueDeclBlock"; }
};

// "PropSection". Children: name, description (or null), ValueDeclBlock. A
// relevance condition is accepted by the parser and not kept.
class ValueSectionDecl : public Node {
public:
    std::string kind() const override { return "VALUE_SECTION"; }
    const StringConstant* description() const;
    const ValueDeclBlock* values() const;
    void apply(Cb::Body* body) override;
    const char* className() const override { return "ValueSectionDecl"; }
};

// The names of one enumerated group, in declaration order.
class EnumGroupDeclBlock : public Node {
public:
    const char* className() const override { return "EnumGroupDeclBlock"; }
};

// "EnumGroup". Children: the group name (an identifier), EnumGroupDeclBlock.
class EnumGroupDecl : public Node {
public:
    std::string kind() const override { return "ENUM_GROUP"; }
    // The number of names.
    int64_t childCount() const override;
    // Name i of the group, "" when out of range.
    std::string nameAt(int64_t i) const;
    const EnumGroupDeclBlock* names() const;
    // A group of the same name fails ("... group exists").
    void apply(Cb::Body* body) override;
    const char* className() const override { return "EnumGroupDecl"; }
};

}  // namespace Cbp
