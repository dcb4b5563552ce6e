#include "cb/values/Object.h"

#include <ostream>

namespace Cb {

Object::~Object() = default;

void Object::setName(const std::string& name) { name_ = name; }

void Object::printMetadata(std::ostream& os, int format) const {
    if (format != 0 && format != 1) return;
    const std::string objectName = name();
    for (const auto& [key, value] : metadata_) {
        if (format == 0)
            os << "SetMeta \"" << objectName << "\" \"" << key << "\" \"" << value << "\"\n";
        else
            os << "PyKo.SetMeta ( \"" << objectName << "\", \"" << key << "\", \"" << value << "\" )\n";
    }
}

}  // namespace Cb
