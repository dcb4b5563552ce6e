#include "JsonWriter.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace ztpinfo {

namespace {

const char* nonFinite(double value) {
    if (std::isnan(value)) return "NaN";
    return value > 0 ? "Infinity" : "-Infinity";
}

template <class T>
std::string shortest(T value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

}  // namespace

std::string numberText(double value) {
    if (!std::isfinite(value)) return nonFinite(value);
    // Whole numbers of integer channels and counts read as integers.
    if (value == std::trunc(value) && std::fabs(value) < 9.2e18) return std::to_string(int64_t(value));
    return shortest(value);
}

std::string numberText(float value) {
    if (!std::isfinite(value)) return nonFinite(value);
    if (value == std::trunc(value) && std::fabs(value) < 9.2e18f) return std::to_string(int64_t(value));
    return shortest(value);
}

std::string jsonQuoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04X", unsigned(c));
                    out += escaped;
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
    return out;
}

void JsonWriter::newline() {
    out_ << '\n';
    for (size_t i = 0; i < open_.size(); ++i) out_ << "  ";
}

void JsonWriter::beforeValue() {
    started_ = true;
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (open_.empty()) return;
    Open& top = open_.back();
    if (top.filled) out_ << (top.oneLine ? ", " : ",");
    top.filled = true;
    if (!top.oneLine) newline();
}

JsonWriter& JsonWriter::open(char bracket, bool object, bool oneLine) {
    beforeValue();
    out_ << bracket;
    // Inside a one-line container everything stays on its line.
    open_.push_back({object, false, oneLine || (!open_.empty() && open_.back().oneLine)});
    return *this;
}

JsonWriter& JsonWriter::beginObject() { return open('{', true, false); }

JsonWriter& JsonWriter::beginArray() { return open('[', false, false); }

JsonWriter& JsonWriter::beginInlineObject() { return open('{', true, true); }

JsonWriter& JsonWriter::beginInlineArray() { return open('[', false, true); }

JsonWriter& JsonWriter::close(char bracket) {
    const Open closed = open_.back();
    open_.pop_back();
    if (closed.filled && !closed.oneLine) newline();
    out_ << bracket;
    if (open_.empty()) out_ << '\n';
    return *this;
}

JsonWriter& JsonWriter::endObject() { return close('}'); }

JsonWriter& JsonWriter::endArray() { return close(']'); }

JsonWriter& JsonWriter::key(std::string_view name) {
    beforeValue();
    out_ << jsonQuoted(name) << ": ";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
    beforeValue();
    out_ << jsonQuoted(text);
    return *this;
}

JsonWriter& JsonWriter::value(double number) {
    beforeValue();
    out_ << (std::isfinite(number) ? numberText(number) : jsonQuoted(numberText(number)));
    return *this;
}

JsonWriter& JsonWriter::value(float number) {
    beforeValue();
    out_ << (std::isfinite(number) ? numberText(number) : jsonQuoted(numberText(number)));
    return *this;
}

JsonWriter& JsonWriter::value(int64_t number) {
    beforeValue();
    out_ << number;
    return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
    beforeValue();
    out_ << (flag ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::null() {
    beforeValue();
    out_ << "null";
    return *this;
}

}  // namespace ztpinfo
