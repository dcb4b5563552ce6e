#pragma once
// Value declarations of a property section. Children, in order:
//   ValueDecl1f, ValueDecl1i:  name, default, ValueLimits, FlagList, description
//   ValueDecl3f:               name, (default, ValueLimits) for x, y, z, FlagList, description
//   ValueDecl1s, Toggle:       name, default, FlagList, description
//   ValueDecl1e:               group, name, default, FlagList, description
// Names and defaults are StringConstants holding the text between the quotes
// (a default is the expression text of its component); the description slot
// is null when none was written. buildValue(body) joins this family once the
// value model exists.

#include "cb/sig/SigNode.h"
#include "cb/sig/ValueLimits.h"

namespace Cbp {

class ValueDecl : public Node {
public:
    // The declared value name.
    std::string valueName() const;
    int componentCount() const { return layout_.components; }
    // The default expression text of a component, "" when out of range.
    std::string defaultText(int component) const;
    // A component's limits; null for the declarations that take none.
    const ValueLimits* limits(int component) const;
    const FlagList* flags() const;
    uint8_t readOnly() const;
    uint8_t hidden() const;
    // The description node, or null.
    const StringConstant* description() const;

protected:
    struct Layout {
        int nameSlot;    // slot of the value name; defaults follow it
        int components;  // 1, or 3 for Vec3f
        bool limited;    // each default is followed by a ValueLimits
    };
    explicit ValueDecl(Layout layout) : layout_(layout) {}

private:
    int componentSlot(int component) const;
    int flagsSlot() const;

    Layout layout_;
};

class ValueDecl1f : public ValueDecl {
public:
    ValueDecl1f() : ValueDecl({0, 1, true}) {}
    const char* className() const override { return "ValueDecl1f"; }
};

class ValueDecl1i : public ValueDecl {
public:
    ValueDecl1i() : ValueDecl({0, 1, true}) {}
    const char* className() const override { return "ValueDecl1i"; }
};

class ValueDecl3f : public ValueDecl {
public:
    ValueDecl3f() : ValueDecl({0, 3, true}) {}
    const char* className() const override { return "ValueDecl3f"; }
};

// String, FileName, PathName, BodyName and BodyNameList declarations.
class ValueDecl1s : public ValueDecl {
public:
    // "", "file-name", "path-name", "body-name" or "body-name-list".
    explicit ValueDecl1s(std::string stringKind) : ValueDecl({0, 1, false}), stringKind_(std::move(stringKind)) {}
    const std::string& stringKind() const { return stringKind_; }
    const char* className() const override { return "ValueDecl1s"; }

private:
    std::string stringKind_;
};

// The default is a name of the "Toggle" group, "Off" or "On".
class ValueDeclToggle : public ValueDecl {
public:
    ValueDeclToggle() : ValueDecl({0, 1, false}) {}
    const char* className() const override { return "ValueDeclToggle"; }
};

// An enumerated value: its first child names the group (so name() is the
// group name), the default is one of the group's names.
class ValueDecl1e : public ValueDecl {
public:
    ValueDecl1e() : ValueDecl({1, 1, false}) {}
    std::string groupName() const { return childText(0); }
    const char* className() const override { return "ValueDecl1e"; }
};

}  // namespace Cbp
