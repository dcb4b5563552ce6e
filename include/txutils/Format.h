#pragma once
// printf-style formatting into a std::string, for the fixed message formats
// of the utility library.

#include <string>

namespace TxUtils {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

}  // namespace TxUtils
