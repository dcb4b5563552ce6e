#include "txutils/Format.h"

#include <cstdarg>
#include <cstdio>

namespace TxUtils {

std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(size_t(length));
        std::vsnprintf(text.data(), size_t(length) + 1, pattern, again);
    }
    va_end(again);
    return text;
}

}  // namespace TxUtils
