#pragma once
// Cb::Value1e: an enumerated value, one name selected from an enumerated group.
// Cb::ValueToggle: the same over the process-wide "Toggle" group ("Off", "On").

#include <memory>
#include <string>

#include "cb/values/ValueBase.h"

namespace Cb {

class EnumGroup;

class Value1e : public ValueBase {
public:
    // No group, empty selection.
    explicit Value1e(const std::string& name);
    // Checks the selection against the group.
    Value1e(const std::string& name, EnumGroup* group, const std::string& selected);
    ~Value1e() override;

    void bind(QelContext*) override {}
    int typeCode() const override;
    std::string typeName() const override;
    bool refersTo(const std::string&) const override { return false; }
    // The selected name; in a group named "ConstructionEnum" "Live" reads "Empty".
    void evalString(std::string& out, const FrameTime& time, int component, int thread) override;
    ValueBase* clone() const override;
    int componentCount() const override { return 1; }
    std::string expression(int component) const override;
    // Component 0 only ("component c out of range", not wrapped); the text is
    // stored as the selection without a check.
    void setExpression(const std::string& text, int component) override;
    void setMin(const std::string&, int) override {}
    void setMax(const std::string&, int) override {}
    void setSoftRange(const std::string&, const std::string&, int) override {}
    bool isConstant(int) const override { return false; }
    Cbp::QelNode* node(int) const override { return nullptr; }
    // The selection's index in the group (-1 when absent or without a group).
    double evalNumber(const FrameTime& time, int component, int thread) override;
    // The group record (an empty one without a group), then the selection.
    void writePayload(ZtpOutput& out) const override;
    // The group read becomes the value's own; the selection, kept as stored,
    // must pass the group's checkName.
    void read(ZtpInput& in) override;

    EnumGroup* group() const { return group_; }
    const std::string& selected() const { return selected_; }
    // Selects a name, checked against the group when there is one.
    void select(const std::string& name);
    // Points the value at another group (not owned).
    void setGroup(EnumGroup* group) { group_ = group; }
    // Gives the value a group of its own (one read with it from a file);
    // clones share it.
    void adoptGroup(std::unique_ptr<EnumGroup> group);
    bool ownsGroup() const { return ownedGroup_ != nullptr; }

protected:
    Value1e(const Value1e& other);

private:
    EnumGroup* group_ = nullptr;
    std::string selected_;
    std::shared_ptr<EnumGroup> ownedGroup_;
};

class ValueToggle : public Value1e {
public:
    // The "Toggle" group, empty selection.
    explicit ValueToggle(const std::string& name);
    ValueToggle(const std::string& name, const std::string& selected);
    int typeCode() const override;
    std::string typeName() const override;
    ValueBase* clone() const override;

    bool on() const { return selected() == "On"; }

protected:
    ValueToggle(const ValueToggle& other) = default;
};

}  // namespace Cb
