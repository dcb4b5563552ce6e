#pragma once
// A streaming JSON writer: two-space indentation, keys in the order written,
// strings escaped, numbers in their shortest exact form. JSON has no NaN or
// infinity: those are written as the strings "NaN", "Infinity" and
// "-Infinity".

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace ztpinfo {

// The text of a number as written (shortest form that reads back exactly;
// a whole double of 64-bit range as an integer). Non-finite values give NaN,
// Infinity, -Infinity.
std::string numberText(double value);
std::string numberText(float value);
// The JSON string literal of a text: quotes, backslash escapes, \u00XX for
// control characters; other bytes (UTF-8) pass unchanged.
std::string jsonQuoted(std::string_view text);

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    // Containers kept on one line ("[1, 2, 3]", {"a": 1, "b": [2]}), for
    // short lists of numbers and one-line records; what they hold stays on
    // that line too.
    JsonWriter& beginInlineArray();
    JsonWriter& beginInlineObject();
    JsonWriter& endArray();
    // The key of the next member of the open object.
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(double number);
    JsonWriter& value(float number);
    JsonWriter& value(int64_t number);
    JsonWriter& value(int number) { return value(int64_t(number)); }
    JsonWriter& value(bool flag);
    JsonWriter& null();
    // key(name).value(v) in one call.
    template <class T>
    JsonWriter& member(std::string_view name, const T& v) {
        return key(name).value(v);
    }
    // Only a complete document was written (every object and array closed).
    bool complete() const { return open_.empty() && started_; }

private:
    void beforeValue();
    void newline();
    JsonWriter& open(char bracket, bool object, bool oneLine);
    JsonWriter& close(char bracket);

    std::ostream& out_;
    struct Open {
        bool object;
        bool filled;   // holds a value already
        bool oneLine;  // an inline array
    };
    std::vector<Open> open_;
    bool afterKey_ = false;
    bool started_ = false;
};

}  // namespace ztpinfo
