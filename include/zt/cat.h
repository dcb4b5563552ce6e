#pragma once
// Message building: every error and log text is a concatenation of literal
// pieces with the names and numbers concerned.

#include <sstream>
#include <string>

namespace zt {

template <class... Parts>
std::string cat(const Parts&... parts) {
    std::ostringstream os;
    (os << ... << parts);
    return os.str();
}

}  // namespace zt
