#pragma once
// Cbp::Node: the base of every node of a compiled body signature. A node owns
// its children (slots may be null, a missing optional part) in the order the
// grammar gives them, and each child knows its parent.
//
// Applying a tree builds a body: apply overrides on the declaration nodes,
// buildValue on ValueDecl, applyToChannel on ChannelQualifier and
// ChannelTransportQuality (cb/sig/ValueApply.cpp, cb/sig/ChannelApply.cpp).
// Every node exposes the data those operations read through plain accessors.

#include <cstdint>
#include <memory>
#include <string>

#include "zt/array1.h"

namespace Cb {
class Body;
}

namespace Cbp {

class Node {
public:
    Node() = default;
    // Deletes the children when it owns them.
    virtual ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // Appends a child (null allowed) and becomes its parent. Ownership moves
    // only once the slot exists, so a failed append leaks nothing.
    void addChild(std::unique_ptr<Node> child);

    // Applies every non-null child in order.
    virtual void apply(Cb::Body* target);
    // Writes an indented outline (class name and child count per node) of the
    // subtree to standard error; `indent` is the number of leading blanks.
    virtual void dump(int indent) const;
    // The text of the first child, "" when there is none.
    virtual std::string name() const;
    // "VALUE_SECTION", "ENUM_GROUP" or "".
    virtual std::string kind() const;
    // The number of child slots; a group declaration counts its names.
    virtual int64_t childCount() const;
    // The literal text of a StringConstant, "" otherwise.
    virtual std::string text() const;
    // The class name without namespace ("ValueDecl1f"), for outlines and tests.
    virtual const char* className() const;

    Node* parent() const { return parent_; }
    // Raw slots, independent of childCount()'s meaning.
    int64_t slotCount() const { return children_.count(); }
    Node* child(int64_t i) const { return children_[i]; }
    // The text of child i, "" for a missing or null slot.
    std::string childText(int64_t i) const;
    // Child i as a T; null when the slot is missing, empty or of another class.
    template <class T>
    const T* childAs(int64_t i) const {
        return i >= 0 && i < slotCount() ? dynamic_cast<const T*>(children_[i]) : nullptr;
    }

protected:
    // Adds this node's outline to `out`.
    void outline(std::string& out, int indent) const;

    Node* parent_ = nullptr;
    zt::array1<Node*> children_;
    uint8_t ownsChildren_ = 1;
};

// A literal of the source: a string between its quotes, a number as written,
// an identifier, or the text of a description.
class StringConstant : public Node {
public:
    explicit StringConstant(std::string text) : text_(std::move(text)) {}
    std::string text() const override { return text_; }
    const char* className() const override { return "StringConstant"; }

private:
    std::string text_;
};

// Gives `node` the children in order (nullptr for an empty slot) and returns it.
template <class T, class... Children>
std::unique_ptr<T> adopt(std::unique_ptr<T> node, Children&&... children) {
    (node->addChild(std::forward<Children>(children)), ...);
    return node;
}

}  // namespace Cbp
