#pragma once
// Cb::EnumGroup: a named list of unique names that enumerated values draw on;
// a name's index is its position.

#include <string>
#include <vector>

namespace Cb {

class EnumGroup {
public:
    explicit EnumGroup(std::string name) : name_(std::move(name)) {}
    EnumGroup(std::string name, const std::vector<std::string>& names);

    const std::string& name() const { return name_; }
    const std::vector<std::string>& names() const { return names_; }
    int count() const { return int(names_.size()); }

    // Throws "Cannot add enumerated name '...' to group '...': name exists".
    void addName(const std::string& name);
    // Passes when the name is in the group; in a group named "Construction"
    // "Live" passes when "Empty" is in it. Otherwise throws
    // "Enumerated name '...' does not exist in group '...'".
    void checkName(const std::string& name) const;
    bool hasName(const std::string& name) const { return indexOf(name) >= 0; }
    // -1 when absent.
    int indexOf(const std::string& name) const;

private:
    std::string name_;
    std::vector<std::string> names_;
};

}  // namespace Cb
