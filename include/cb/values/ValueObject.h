#pragma once
// Cb::ValueObject: an object holding value sections, the enumerated groups its
// enumerated values draw on, and a stack of evaluation contexts.

#include <memory>
#include <string>
#include <vector>

#include "cb/values/Object.h"

namespace Cb {

class EnumGroup;
class QelContext;
class ValueBase;
class ValueSection;

class ValueObject : public Object {
public:
    // The name may not contain "." (see setName).
    explicit ValueObject(const std::string& name);
    // Copies groups and sections, cloning every value; enumerated values that
    // used one of the source's groups use the copy's group of that name.
    ValueObject(const ValueObject& other);
    ValueObject& operator=(const ValueObject&) = delete;
    ~ValueObject() override;

    std::string name() const override { return name_; }
    // Throws "Cannot set name '...': contains illegal character '.'".
    void setName(const std::string& name) override;
    virtual bool hasValue(const std::string& name) const;
    // The first section holding the (legacy-mapped) name answers; throws
    // "'" + name + "' not found".
    virtual ValueBase* value(const std::string& name);
    virtual const ValueBase* value(const std::string& name) const;

    // Refuses a second section of a name ("Cannot add section '...' to '...':
    // section exists"); "Stepping" goes first when sections exist. Takes
    // ownership.
    ValueSection* addSection(std::unique_ptr<ValueSection> section);
    // Creates and adds a section of that name.
    ValueSection* addSection(const std::string& name);
    bool hasSection(const std::string& name) const;
    // Null when absent.
    ValueSection* section(const std::string& name) const;
    int sectionCount() const { return int(sections_.size()); }
    ValueSection* sectionAt(int i) const { return sections_[size_t(i)].get(); }

    // Refuses a group whose name exists ("Cannot add enumerated group '...' to
    // '...': group exists"). Takes ownership.
    EnumGroup* addEnumGroup(std::unique_ptr<EnumGroup> group);
    // Throws "_enumerated group '...' in '...' does not exist".
    EnumGroup* enumGroup(const std::string& name) const;
    bool hasEnumGroup(const std::string& name) const;
    int enumGroupCount() const { return int(groups_.size()); }
    EnumGroup* enumGroupAt(int i) const { return groups_[size_t(i)].get(); }

    // Pushes the context (when push) and binds every value to it. When a
    // value fails to bind to a pushed context, the context is popped and the
    // values bound to it are bound again to the one below before the error
    // is rethrown: nothing keeps the failed context.
    void pushContext(QelContext* context, bool push);
    // Pops (when pop and not empty), then binds every value to the new top or
    // to the global context; never throws: a value that cannot bind to the
    // new top is bound to the global context and logged ("Cannot bind
    // '<name>' to the context below: <reason>; it is left without one").
    void popContext(bool pop);
    QelContext* currentContext() const;
    int contextDepth() const { return int(contexts_.size()); }

    // Calls f(ValueBase*) for every value, section by section.
    template <class F>
    void forEachValue(F&& f) const;

private:
    ValueSection* insertSection(std::unique_ptr<ValueSection> section);
    void bindAll(QelContext* context);
    // Binds the first count values to the context; those that fail (logged
    // with `report`) to the global context instead.
    void rebindFirst(int count, QelContext* context, bool report) noexcept;
    // The innermost context, or the global one.
    QelContext* topContext() const;
    ValueBase* findValue(const std::string& name) const;

    std::vector<std::unique_ptr<EnumGroup>> groups_;
    std::vector<std::unique_ptr<ValueSection>> sections_;
    std::vector<QelContext*> contexts_;

    friend class ValueSection;
};

}  // namespace Cb

#include "cb/values/ValueSection.h"

template <class F>
void Cb::ValueObject::forEachValue(F&& f) const {
    for (const auto& s : sections_)
        for (int i = 0; i < s->valueCount(); ++i) f(s->valueAt(i));
}
