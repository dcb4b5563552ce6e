#pragma once
// Cb::ValueBase: a typed parameter value. Each component keeps the text of a
// QEL expression and the tree parsed from it; values live in sections of a
// ValueObject, which owns them.

#include <cstdint>
#include <string>

#include "cb/qel/FrameTime.h"
#include "cb/values/Object.h"

namespace Cbp {
class QelNode;
}

namespace Cb {

class QelContext;
class ValueObject;
class ZtpInput;
class ZtpOutput;

class ValueBase : public Object {
public:
    // A value named "Particle Supersampling" is named "Interior Supersampling".
    explicit ValueBase(const std::string& name);
    ~ValueBase() override;

    // The owner's name + "." + the value's own name. Without an owner throws
    // "Attempting to construct NULL-object longname '" + own name + "'".
    std::string name() const override;
    void setName(const std::string& name) override;

    virtual void bind(QelContext* context) = 0;
    virtual int typeCode() const = 0;
    virtual std::string typeName() const = 0;
    virtual bool refersTo(const std::string& name) const = 0;
    // The component's value as text (numbers clamped to the hard limits).
    virtual void evalString(std::string& out, const FrameTime& time, int component, int thread) = 0;
    virtual ValueBase* clone() const = 0;
    virtual int componentCount() const = 0;
    virtual std::string expression(int component) const = 0;
    // Parses and stores the text of one component; see the classes for rules.
    virtual void setExpression(const std::string& text, int component) = 0;
    virtual void copyExpressions(const ValueBase& other);
    virtual void setMin(const std::string& text, int component) = 0;
    virtual void setMax(const std::string& text, int component) = 0;
    virtual void setSoftRange(const std::string& minText, const std::string& maxText, int component) = 0;
    virtual bool isConstant(int component) const = 0;
    // The component's tree; an index past the last gives the last tree.
    virtual Cbp::QelNode* node(int component) const = 0;
    // The payload of the value's ZTP record: each component's text (numbers
    // and strings), or the enumerated group record and the selection.
    virtual void writePayload(ZtpOutput& out) const = 0;
    // Reads the payload, setting each text as if typed.
    virtual void read(ZtpInput& in) = 0;
    // A number for library code: numeric values evaluate clamped to their hard
    // limits, enumerated values give the selection's index, strings their
    // text converted like atof.
    virtual double evalNumber(const FrameTime& time, int component, int thread) = 0;

    ValueObject* owner() const { return owner_; }
    void setOwner(ValueObject* owner) { owner_ = owner; }
    bool readOnly() const { return readOnly_ != 0; }
    bool hidden() const { return hidden_ != 0; }
    void setFlags(bool readOnly, bool hidden) {
        readOnly_ = readOnly ? 1 : 0;
        hidden_ = hidden ? 1 : 0;
    }

protected:
    // Clones copy the name only; owner and flags stay unset.
    ValueBase(const ValueBase& other);

    // "component " + c + " out of range" unless 0 <= c < componentCount().
    void checkComponent(int component) const;

private:
    ValueObject* owner_ = nullptr;
    std::string note_;  // a free text nothing reads
    uint8_t readOnly_ = 0;
    uint8_t hidden_ = 0;
};

}  // namespace Cb
