#pragma once
// Running the ztpinfo program as a user does, and a small strict JSON reader
// to take its --json output apart.

#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "CaptureOutput.h"
#include "LibraryTest.h"
#include "TempPath.h"
#include "cb/factory/Startup.h"

namespace infotest {

// A started library (without signatures) and a scratch folder.
using LibraryTest = testsupport::LibraryTest;

struct Run {
    int code = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a program with the arguments; `environment` goes in front of the
// command ("CORIX_PATH=... " or "env -u CORIX_PATH ").
inline Run runProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& environment = "") {
    testsupport::TempDir dir;
    std::string command = environment + shellQuoted(program);
    for (const std::string& a : args) command += " " + shellQuoted(a);
    command += " >" + shellQuoted(dir.file("out")) + " 2>" + shellQuoted(dir.file("err"));
    const int status = std::system(command.c_str());
    Run run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = testsupport::readText(dir.file("out"));
    run.err = testsupport::readText(dir.file("err"));
    return run;
}

inline Run runInfo(const std::vector<std::string>& args, const std::string& environment = "env -u CORIX_PATH ") {
    return runProgram(CB_ZTPINFO_PATH, args, environment);
}

// --- JSON ---------------------------------------------------------------

struct Json;
using JsonArray = std::vector<Json>;
using JsonObject = std::vector<std::pair<std::string, Json>>;

struct Json {
    std::variant<std::nullptr_t, bool, double, std::string, std::shared_ptr<JsonArray>, std::shared_ptr<JsonObject>>
        value;
    // The number's text as written (integers above 2^53 compare exactly).
    std::string numberText;

    bool isNull() const { return std::holds_alternative<std::nullptr_t>(value); }
    double number() const { return std::get<double>(value); }
    int64_t integer() const { return std::stoll(numberText); }
    const std::string& text() const { return std::get<std::string>(value); }
    bool flag() const { return std::get<bool>(value); }
    const JsonArray& array() const { return *std::get<std::shared_ptr<JsonArray>>(value); }
    const JsonObject& object() const { return *std::get<std::shared_ptr<JsonObject>>(value); }
    size_t size() const { return array().size(); }
    const Json& operator[](size_t i) const { return array().at(i); }
    const Json& operator[](int i) const { return array().at(size_t(i)); }
    // Member of an object; throws when missing.
    const Json& operator[](const std::string& key) const {
        for (const auto& [k, v] : object())
            if (k == key) return v;
        throw std::runtime_error("no member '" + key + "'");
    }
    const Json& operator[](const char* key) const { return (*this)[std::string(key)]; }
    std::vector<std::string> keys() const {
        std::vector<std::string> k;
        for (const auto& member : object()) k.push_back(member.first);
        return k;
    }
};

class JsonParser {
public:
    explicit JsonParser(const std::string& text) : s_(text) {}

    Json document() {
        Json v = parseValue();
        skipSpace();
        if (at_ != s_.size()) fail("text after the document");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at " + std::to_string(at_));
    }
    void skipSpace() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\t' || s_[at_] == '\r')) ++at_;
    }
    bool take(const std::string& word) {
        if (s_.compare(at_, word.size(), word) != 0) return false;
        at_ += word.size();
        return true;
    }
    void expect(char c) {
        skipSpace();
        if (at_ >= s_.size() || s_[at_] != c) fail(std::string("expected ") + c);
        ++at_;
    }
    Json parseValue() {
        skipSpace();
        if (at_ >= s_.size()) fail("end of text");
        Json v;
        const char c = s_[at_];
        if (c == '{') {
            auto object = std::make_shared<JsonObject>();
            ++at_;
            skipSpace();
            if (s_[at_] == '}') {
                ++at_;
            } else {
                do {
                    skipSpace();
                    std::string key = parseString();
                    expect(':');
                    object->emplace_back(std::move(key), parseValue());
                    skipSpace();
                } while (at_ < s_.size() && s_[at_] == ',' && ++at_);
                expect('}');
            }
            v.value = object;
        } else if (c == '[') {
            auto array = std::make_shared<JsonArray>();
            ++at_;
            skipSpace();
            if (s_[at_] == ']') {
                ++at_;
            } else {
                do {
                    array->push_back(parseValue());
                    skipSpace();
                } while (at_ < s_.size() && s_[at_] == ',' && ++at_);
                expect(']');
            }
            v.value = array;
        } else if (c == '"') {
            v.value = parseString();
        } else if (take("null")) {
            v.value = nullptr;
        } else if (take("true")) {
            v.value = true;
        } else if (take("false")) {
            v.value = false;
        } else {
            const size_t start = at_;
            if (s_[at_] == '-') ++at_;
            if (at_ >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[at_]))) fail("bad value");
            while (at_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[at_])) || s_[at_] == '.' ||
                                       s_[at_] == 'e' || s_[at_] == 'E' || s_[at_] == '+' || s_[at_] == '-'))
                ++at_;
            v.numberText = s_.substr(start, at_ - start);
            size_t used = 0;
            v.value = std::stod(v.numberText, &used);
            if (used != v.numberText.size()) fail("bad number");
        }
        return v;
    }
    std::string parseString() {
        if (at_ >= s_.size() || s_[at_] != '"') fail("expected a string");
        ++at_;
        std::string out;
        while (true) {
            if (at_ >= s_.size()) fail("unterminated string");
            const char c = s_[at_++];
            if (c == '"') break;
            if (static_cast<unsigned char>(c) < 0x20) fail("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = s_.at(at_++);
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    const unsigned code = unsigned(std::stoul(s_.substr(at_, 4), nullptr, 16));
                    at_ += 4;
                    if (code > 0x7F) fail("only ASCII escapes are expected");
                    out += char(code);
                    break;
                }
                default: fail("bad escape");
            }
        }
        return out;
    }

    const std::string& s_;
    size_t at_ = 0;
};

inline Json parseJson(const std::string& text) { return JsonParser(text).document(); }

}  // namespace infotest
