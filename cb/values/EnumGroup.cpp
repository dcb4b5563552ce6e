#include "cb/values/EnumGroup.h"

#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

EnumGroup::EnumGroup(std::string name, const std::vector<std::string>& names) : name_(std::move(name)) {
    for (const auto& n : names) addName(n);
}

void EnumGroup::addName(const std::string& name) {
    if (hasName(name))
        throw ztx::base(zt::cat("Cannot add enumerated name '", name, "' to group '", name_, "': name exists"));
    names_.push_back(name);
}

int EnumGroup::indexOf(const std::string& name) const {
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == name) return int(i);
    return -1;
}

void EnumGroup::checkName(const std::string& name) const {
    if (hasName(name)) return;
    // Files of old sessions name the empty construction state "Live".
    if (name_ == "Construction" && name == "Live" && hasName("Empty")) return;
    throw ztx::base(zt::cat("Enumerated name '", name, "' does not exist in group '", name_, "'"));
}

}  // namespace Cb
