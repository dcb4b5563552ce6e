#include "cb/values/ValueObject.h"

#include <limits>

#include "cb/Log.h"
#include "cb/qel/QelContext.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueBase.h"
#include "cb/values/ValueSection.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

ValueObject::ValueObject(const std::string& name) { setName(name); }

ValueObject::ValueObject(const ValueObject& other) : Object(other) {
    for (const auto& g : other.groups_) groups_.push_back(std::make_unique<EnumGroup>(*g));
    for (const auto& s : other.sections_) {
        auto section = std::make_unique<ValueSection>(s->name(), this);
        for (int i = 0; i < s->valueCount(); ++i) {
            std::unique_ptr<ValueBase> copy(s->valueAt(i)->clone());
            // An enumerated value drawing on one of the source's groups must
            // draw on this object's copy, or it would dangle with the source.
            if (auto* e = dynamic_cast<Value1e*>(copy.get())) {
                for (size_t g = 0; g < other.groups_.size(); ++g)
                    if (e->group() == other.groups_[g].get()) e->setGroup(groups_[g].get());
            }
            section->addValue(std::move(copy));
        }
        sections_.push_back(std::move(section));
    }
}

ValueObject::~ValueObject() = default;

void ValueObject::setName(const std::string& name) {
    if (name.find('.') != std::string::npos)
        throw ztx::base(zt::cat("Cannot set name '", name, "': contains illegal character '.'"));
    name_ = name;
}

ValueBase* ValueObject::findValue(const std::string& name) const {
    for (const auto& s : sections_)
        if (ValueBase* v = s->findValue(name)) return v;
    return nullptr;
}

bool ValueObject::hasValue(const std::string& name) const { return findValue(name) != nullptr; }

ValueBase* ValueObject::value(const std::string& name) {
    if (ValueBase* v = findValue(name)) return v;
    throw ztx::base(zt::cat("'", name, "' not found"));
}

const ValueBase* ValueObject::value(const std::string& name) const {
    if (const ValueBase* v = findValue(name)) return v;
    throw ztx::base(zt::cat("'", name, "' not found"));
}

ValueSection* ValueObject::addSection(std::unique_ptr<ValueSection> added) {
    if (section(added->name()))
        throw ztx::base(zt::cat("Cannot add section '", added->name(), "' to '", name(), "': section exists"));
    added->setOwner(this);
    ValueSection* raw = added.get();
    if (added->name() == "Stepping" && !sections_.empty())
        sections_.insert(sections_.begin(), std::move(added));
    else
        sections_.push_back(std::move(added));
    return raw;
}

ValueSection* ValueObject::addSection(const std::string& name) {
    return addSection(std::make_unique<ValueSection>(name, this));
}

ValueSection* ValueObject::section(const std::string& name) const {
    const std::string mapped = name == "Supersampling" ? std::string("Particle Supersampling") : name;
    for (const auto& s : sections_)
        if (s->name() == mapped) return s.get();
    return nullptr;
}

bool ValueObject::hasSection(const std::string& name) const { return section(name) != nullptr; }

EnumGroup* ValueObject::addEnumGroup(std::unique_ptr<EnumGroup> group) {
    if (hasEnumGroup(group->name()))
        throw ztx::base(
            zt::cat("Cannot add enumerated group '", group->name(), "' to '", name(), "': group exists"));
    groups_.push_back(std::move(group));
    return groups_.back().get();
}

bool ValueObject::hasEnumGroup(const std::string& name) const {
    for (const auto& g : groups_)
        if (g->name() == name) return true;
    return false;
}

EnumGroup* ValueObject::enumGroup(const std::string& name) const {
    for (const auto& g : groups_)
        if (g->name() == name) return g.get();
    throw ztx::base(zt::cat("_enumerated group '", name, "' in '", this->name(), "' does not exist"));
}

void ValueObject::bindAll(QelContext* context) {
    forEachValue([context](ValueBase* v) { v->bind(context); });
}

void ValueObject::pushContext(QelContext* context, bool push) {
    if (!push) {
        bindAll(context);
        return;
    }
    contexts_.push_back(context);
    // A context that fails to push is destroyed by its caller: no value may
    // keep it, so the stack and the values it reached go back as they were.
    int reached = 0;
    try {
        forEachValue([&](ValueBase* v) {
            ++reached;
            v->bind(context);
        });
    } catch (...) {
        contexts_.pop_back();
        rebindFirst(reached, topContext(), false);
        throw;
    }
}

void ValueObject::rebindFirst(int count, QelContext* context, bool report) noexcept {
    forEachValue([&](ValueBase* v) {
        if (count-- <= 0) return;
        try {
            v->bind(context);
            return;
        } catch (const std::exception& e) {
            if (report)
                logError(zt::cat("Cannot bind '", v->ownName(), "' to the context below: ", e.what(),
                                 "; it is left without one"));
        }
        // The global context resolves no shape or channel, so it takes
        // every value.
        try {
            v->bind(QelContext::global());
        } catch (const std::exception& e) {
            logError(zt::cat("Cannot rebind '", v->ownName(), "': ", e.what()));
        }
    });
}

void ValueObject::popContext(bool pop) {
    if (pop && !contexts_.empty()) contexts_.pop_back();
    // A context's destructor pops: a value bound to it that does not bind to
    // the one below must not end the program.
    rebindFirst(std::numeric_limits<int>::max(), topContext(), true);
}

QelContext* ValueObject::topContext() const { return contexts_.empty() ? QelContext::global() : contexts_.back(); }

QelContext* ValueObject::currentContext() const { return contexts_.empty() ? nullptr : contexts_.back(); }

}  // namespace Cb
