#pragma once
// The flag and limit groups of a value declaration.

#include "cb/sig/SigNode.h"

namespace Cbp {

// READONLY and HIDDEN markers. Children: a StringConstant "R" or "H" per
// marker, in source order; the two bytes say whether any marker of each kind
// was given.
class FlagList : public Node {
public:
    // Appends the marker for "READONLY" (readOnly true) or "HIDDEN".
    void addMarker(bool readOnly);
    uint8_t readOnly() const { return readOnly_; }
    uint8_t hidden() const { return hidden_; }
    const char* className() const override { return "FlagList"; }

private:
    uint8_t readOnly_ = 0;
    uint8_t hidden_ = 0;
};

// "MIN=" or "MAX=" with its number. Child: the number as written.
class ValueLimitHard : public Node {
public:
    explicit ValueLimitHard(bool maximum) : maximum_(maximum) {}
    bool isMaximum() const { return maximum_; }
    std::string valueText() const { return childText(0); }
    const char* className() const override { return "ValueLimitHard"; }

private:
    bool maximum_;
};

// "(" min max ")". Children: the two numbers as written.
class ValueLimitsSoftRange : public Node {
public:
    std::string minText() const { return childText(0); }
    std::string maxText() const { return childText(1); }
    const char* className() const override { return "ValueLimitsSoftRange"; }
};

// One component's limits. Three slots, each null when not given: hard
// minimum, hard maximum, soft range.
class ValueLimits : public Node {
public:
    const ValueLimitHard* hardMin() const;
    const ValueLimitHard* hardMax() const;
    const ValueLimitsSoftRange* softRange() const;
    const char* className() const override { return "ValueLimits"; }
};

}  // namespace Cbp
