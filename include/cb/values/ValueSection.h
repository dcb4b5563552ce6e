#pragma once
// Cb::ValueSection: a named, ordered list of values of a ValueObject.

#include <memory>
#include <string>
#include <vector>

namespace Cb {

class ValueBase;
class ValueObject;

class ValueSection {
public:
    // A section named "Supersampling" is named "Particle Supersampling". The
    // owner takes it with ValueObject::addSection.
    ValueSection(const std::string& name, ValueObject* owner);
    ~ValueSection();
    ValueSection(const ValueSection&) = delete;
    ValueSection& operator=(const ValueSection&) = delete;

    const std::string& name() const { return name_; }
    ValueObject* owner() const { return owner_; }
    void setOwner(ValueObject* owner);

    // Renames "Cell Scale" to "Voxel Scale" and "Fluid Density"/"Solid
    // Density" to "Density", refuses a duplicate name ("Attempting to add
    // duplicate '...' to section '...'"), sets the value's owner and appends.
    ValueBase* addValue(std::unique_ptr<ValueBase> value);
    bool hasValue(const std::string& name) const;
    // Throws "Section '...' does not have value '...'".
    ValueBase* value(const std::string& name) const;
    // Null when absent.
    ValueBase* findValue(const std::string& name) const;

    int valueCount() const { return int(values_.size()); }
    ValueBase* valueAt(int i) const { return values_[size_t(i)].get(); }

private:
    std::string name_;
    ValueObject* owner_;
    std::vector<std::unique_ptr<ValueBase>> values_;
};

// The legacy names lookups accept: "Master Cell Size" -> "Master Voxel Size",
// "Cell Scale" -> "Voxel Scale", "Particle Supersampling" -> "Interior
// Supersampling", "Fluid Density" and "Solid Density" -> "Density".
std::string mapLegacyValueName(const std::string& name);

}  // namespace Cb
