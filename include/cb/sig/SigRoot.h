#pragma once
// Cbp::Root: a compiled signature. Children: the signature name (the body type
// name, a hyphen identifier), its description (or null), and a plain Node
// listing the items (EnumGroupDecl, ValueSectionDecl, and per "Channels" block
// a plain Node of ChannelDeclStmt) in file order, the order they apply in.

#include "cb/sig/SigNode.h"

namespace Cbp {

class Root : public Node {
public:
    const StringConstant* description() const;
    // The item list, or null in a hand-built tree.
    const Node* items() const;
    // Applies the items in file order; a null body is refused.
    void apply(Cb::Body* body) override;
    const char* className() const override { return "Root"; }
};

}  // namespace Cbp
