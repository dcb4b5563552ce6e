#include "cb/sig/SigNode.h"

#include <iostream>

namespace Cbp {

Node::~Node() {
    if (!ownsChildren_) return;
    for (Node* child : children_) delete child;
}

void Node::addChild(std::unique_ptr<Node> child) {
    children_.push_back(child.get());
    if (Node* adopted = child.release()) adopted->parent_ = this;
}

void Node::apply(Cb::Body* target) {
    for (Node* child : children_)
        if (child) child->apply(target);
}

void Node::outline(std::string& out, int indent) const {
    out.append(size_t(indent > 0 ? indent : 0), ' ');
    out += className();
    out += " [" + std::to_string(slotCount()) + "]";
    if (const std::string literal = text(); !literal.empty()) out += " '" + literal + "'";
    out += '\n';
    for (const Node* child : children_) {
        if (child) {
            child->outline(out, indent + 2);
        } else {
            out.append(size_t(indent > 0 ? indent + 2 : 2), ' ');
            out += "(none)\n";
        }
    }
}

void Node::dump(int indent) const {
    std::string out;
    outline(out, indent);
    std::cerr.write(out.data(), std::streamsize(out.size()));
    std::cerr.flush();
}

std::string Node::name() const { return childText(0); }

std::string Node::kind() const { return std::string(); }

int64_t Node::childCount() const { return children_.count(); }

std::string Node::text() const { return std::string(); }

const char* Node::className() const { return "Node"; }

std::string Node::childText(int64_t i) const {
    if (i < 0 || i >= children_.count() || !children_[i]) return std::string();
    return children_[i]->text();
}

}  // namespace Cbp
