#pragma once
// Value declarations of a property section. Children, in order:
//   ValueDecl1f, ValueDecl1i:  name, default, ValueLimits, FlagList, description
//   ValueDecl3f:               name, (default, ValueLimits) for x, y, z, FlagList, description
//   ValueDecl1s, Toggle:       name, default, FlagList, description
//   ValueDecl1e:               group, name, default, FlagList, description
// Names and defaults are StringConstants holding the text between the quotes
// (a default is the expression text of its component); the description slot
// is null when none was written.
//
// buildValue(body) makes the declared value through the value type registry
// (a started library): default texts first, then the flags, then the limits,
// so a default outside its own hard limits is accepted.

#include "cb/sig/SigNode.h"
#include "cb/sig/ValueLimits.h"

namespace Cb {
class ValueBase;
}

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

    // A new value for `body` (not yet added to a section).
    virtual std::unique_ptr<Cb::ValueBase> buildValue(Cb::Body* body) const = 0;

protected:
    // A registry value of `typeName` holding the default texts, then the
    // flags, then every component's limits.
    std::unique_ptr<Cb::ValueBase> valueOfType(const char* typeName) const;

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
    std::unique_ptr<Cb::ValueBase> buildValue(Cb::Body* body) const override;
    const char* className() const override { return "ValueDecl1f"; }
};

class ValueDecl1i : public ValueDecl {
public:
    ValueDecl1i() : ValueDecl({0, 1, true}) {}
    std::unique_ptr<Cb::ValueBase> buildValue(Cb::Body* body) const override;
    const char* className() const override { return "ValueDecl1i"; }
};

class ValueDecl3f : public ValueDecl {
public:
    ValueDecl3f() : ValueDecl({0, 3, true}) {}
    std::unique_ptr<Cb::ValueBase> buildValue(Cb::Body* body) const override;
    const char* className() const override { return "ValueDecl3f"; }
};

// String, FileName, PathName, BodyName and BodyNameList declarations.
class ValueDecl1s : public ValueDecl {
public:
    // "", "file-name", "path-name", "body-name" or "body-name-list".
    explicit ValueDecl1s(std::string stringKind) : ValueDecl({0, 1, false}), stringKind_(std::move(stringKind)) {}
    const std::string& stringKind() const { return stringKind_; }
    // A string value; the kind changes nothing about it.
    std::unique_ptr<Cb::ValueBase> buildValue(Cb::Body* body) const override;
    const char* className() const override { return "ValueDecl1s"; }

private:
    std::string stringKind_;
};

// The default is a name of the "Toggle" group, "Off" or "On".
class ValueDeclToggle : public ValueDecl {
public:
    ValueDeclToggle() : ValueDecl({0, 1, false}) {}
    // Throws "Enumerated name '...' does not exist in group 'Toggle'".
    std::unique_ptr<Cb::ValueBase> buildValue(Cb::Body* body) const override;
    const char* className() const override { return "ValueDeclToggle"; }
};

// An enumerated value: its first child names the group (so name() is the
// group name), the default is one of the group's names.
class ValueDecl1e : public ValueDecl {
public:
    ValueDecl1e() : ValueDecl({1, 1, false}) {}
    std::string groupName() const { return childText(0); }
    // Over the body's group of that name ("_enumerated group '...' in '...'
    // does not exist"); the default must be one of its names.
    std::unique_ptr<Cb::ValueBase> buildValue(Cb::Body* body) const override;
    const char* className() const override { return "ValueDecl1e"; }
};

}  // namespace Cbp
