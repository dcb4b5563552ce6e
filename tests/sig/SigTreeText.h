#pragma once
// A one-line rendering of a signature tree for pinning expected trees:
// Class(child child ...), a StringConstant as 'text', an empty slot as -.

#include <string>

#include "cb/sig/SigNode.h"

namespace sigtest {

inline std::string treeText(const Cbp::Node* node) {
    if (!node) return "-";
    if (std::string(node->className()) == "StringConstant") return "'" + node->text() + "'";
    std::string out = node->className();
    if (node->slotCount() == 0) return out;
    out += '(';
    for (int64_t i = 0; i < node->slotCount(); ++i) {
        if (i) out += ' ';
        out += treeText(node->child(i));
    }
    return out + ')';
}

}  // namespace sigtest
