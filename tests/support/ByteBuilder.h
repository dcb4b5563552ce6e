#pragma once
// Hand-made byte strings for ZTP fragments: little-endian numbers, strings,
// arrays, and hex comparison helpers. Expected bytes in tests are written out
// with this, never produced by the code under test.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

class ByteBuilder {
public:
    ByteBuilder& u8(uint8_t v) { return raw(&v, 1); }
    ByteBuilder& i32(int32_t v) { return raw(&v, 4); }
    ByteBuilder& u32(uint32_t v) { return raw(&v, 4); }
    ByteBuilder& i64(int64_t v) { return raw(&v, 8); }
    ByteBuilder& u64(uint64_t v) { return raw(&v, 8); }
    ByteBuilder& f32(float v) { return raw(&v, 4); }
    ByteBuilder& f64(double v) { return raw(&v, 8); }
    // The ZTP string: i32 length, then the characters and a zero when not empty.
    ByteBuilder& str(const std::string& s) {
        i32(int32_t(s.size()));
        return s.empty() ? *this : raw(s.c_str(), s.size() + 1);
    }
    ByteBuilder& raw(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
        return *this;
    }
    ByteBuilder& bytes(const std::vector<uint8_t>& b) { return raw(b.data(), b.size()); }
    // Hex digits, blanks ignored: "B1 AB BA AB".
    ByteBuilder& hex(std::string digits) {
        std::erase_if(digits, [](char c) { return c == ' ' || c == '\n' || c == '\t'; });
        if (digits.size() % 2) throw std::invalid_argument("odd number of hex digits");
        for (const char* p = digits.data(); p != digits.data() + digits.size(); p += 2) {
            uint8_t v = 0;
            if (std::from_chars(p, p + 2, v, 16).ptr != p + 2) throw std::invalid_argument("bad hex digit");
            u8(v);
        }
        return *this;
    }

    const std::vector<uint8_t>& data() const { return bytes_; }
    size_t size() const { return bytes_.size(); }
    std::string str() const { return std::string(bytes_.begin(), bytes_.end()); }

private:
    std::vector<uint8_t> bytes_;
};

// "0A 1B ..." for failure messages.
inline std::string toHex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char word[4];
    for (uint8_t b : bytes) s.append(word, size_t(std::snprintf(word, sizeof word, " %02X", b)));
    return s.empty() ? s : s.substr(1);
}
inline std::vector<uint8_t> fromHex(const std::string& digits) { return ByteBuilder().hex(digits).data(); }

}  // namespace testsupport
