#include "ByteBuilder.h"

#include <stdexcept>

namespace testsupport {

std::vector<uint8_t> fromHex(const std::string& digits) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : digits) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c == ' ' || c == '\n' || c == '\t') continue;
        else throw std::invalid_argument("bad hex digit");
        if (high < 0) {
            high = v;
        } else {
            out.push_back(uint8_t(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd number of hex digits");
    return out;
}

ByteBuilder& ByteBuilder::hex(const std::string& digits) { return bytes(fromHex(digits)); }

std::string toHex(const std::vector<uint8_t>& bytes) {
    static const char* d = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) s += ' ';
        s += d[bytes[i] >> 4];
        s += d[bytes[i] & 15];
    }
    return s;
}

}  // namespace testsupport
