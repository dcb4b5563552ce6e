#include "cb/sig/SigScanner.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace Cbp {

namespace {

constexpr std::array<const char*, 22> kKeywords = {
    "BodySignature", "PropSection", "EnumGroup", "Channels", "Keep",     "Transport",
    "Low",           "High",        "Float",     "Int",      "Vec2i",    "Vec3f",
    "Vec3i",         "Vec4i",       "String",    "Toggle",   "FileName", "PathName",
    "BodyName",      "BodyNameList", "READONLY", "HIDDEN"};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isIdentStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isIdentChar(char c) { return isIdentStart(c) || isDigit(c); }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool isOneOf(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

// Allowed inside "|* ... *|": printable ASCII but the bar, and blank and line ends.
bool isBlockDescriptionChar(char c) { return (c >= 0x20 && c <= 0x7e && c != '|') || isOneOf(c, "\t\n\r"); }

// A bounded view of the text that yields '\0' past the end.
struct Cursor {
    const std::string& text;
    char at(size_t i) const { return i < text.size() ? text[i] : '\0'; }
    size_t digits(size_t i) const {
        size_t start = i;
        while (isDigit(at(i))) ++i;
        return i - start;
    }
    // [eE][-+]?[0-9]+ at i, or 0.
    size_t exponent(size_t i) const {
        if (!isOneOf(at(i), "eE")) return 0;
        size_t j = i + 1;
        if (isOneOf(at(j), "+-")) ++j;
        size_t n = digits(j);
        return n == 0 ? 0 : j + n - i;
    }
    size_t decimal(size_t p) const {
        size_t i = p + (at(p) == '-' ? 1 : 0);
        size_t n = digits(i);
        if (n == 0) return 0;
        i += n;
        if (isOneOf(at(i), "uUlL")) ++i;
        return i - p;
    }
    size_t hex(size_t p) const {
        if (at(p) != '0' || !isOneOf(at(p + 1), "xX")) return 0;
        size_t i = p + 2;
        while (isHexDigit(at(i))) ++i;
        if (i == p + 2) return 0;
        if (isOneOf(at(i), "uUlL")) ++i;
        return i - p;
    }
    size_t floating(size_t p) const {
        size_t i = p + (at(p) == '-' ? 1 : 0);
        const size_t whole = digits(i);
        i += whole;
        if (at(i) == '.') {
            const size_t fraction = digits(i + 1);
            if (whole + fraction == 0) return 0;
            i += 1 + fraction;
        } else if (whole == 0 || exponent(i) == 0) {
            return 0;  // without a dot the exponent is required
        }
        i += exponent(i);
        if (isOneOf(at(i), "fFlL")) ++i;
        return i - p;
    }
};

}  // namespace

bool isSigKeyword(const std::string& word) {
    return std::any_of(kKeywords.begin(), kKeywords.end(), [&](const char* k) { return word == k; });
}

void SigScanner::skipWhitespace() {
    while (pos_ < text_.size() && isSpace(text_[pos_])) ++pos_;
}

size_t SigScanner::matchWord() const {
    const Cursor cur{text_};
    size_t i = pos_;
    if (!isIdentStart(cur.at(i))) return 0;
    for (;;) {
        while (isIdentChar(cur.at(i))) ++i;
        if (cur.at(i) == '-' && isIdentStart(cur.at(i + 1))) {
            ++i;
            continue;
        }
        return i - pos_;
    }
}

// The longest of the three number forms; on a tie the earlier form wins.
size_t SigScanner::matchNumber(SigToken& token) const {
    const Cursor cur{text_};
    size_t best = cur.decimal(pos_);
    token = SigToken::Decimal;
    if (size_t n = cur.hex(pos_); n > best) {
        best = n;
        token = SigToken::Hex;
    }
    if (size_t n = cur.floating(pos_); n > best) {
        best = n;
        token = SigToken::Float;
    }
    return best;
}

SigLexeme SigScanner::next() {
    skipWhitespace();
    SigLexeme lex;
    lex.offset = pos_;
    if (pos_ >= text_.size()) return lex;
    const Cursor cur{text_};
    const char c = text_[pos_];
    auto finish = [&](SigToken token, size_t length, std::string text) {
        lex.token = token;
        lex.text = std::move(text);
        pos_ += length;
        return lex;
    };

    if (c == '|' && cur.at(pos_ + 1) == '|') {
        size_t end = text_.find('\n', pos_);
        if (end == std::string::npos) end = text_.size();
        std::string body = text_.substr(pos_ + 2, end - pos_ - 2);
        if (!body.empty() && body.back() == '\r') body.pop_back();
        return finish(SigToken::LineDescription, end - pos_, std::move(body));
    }
    if (c == '|' && cur.at(pos_ + 1) == '*') {
        size_t i = pos_ + 2;
        for (;; ++i) {
            if (i >= text_.size()) throw SigSyntaxError(pos_);
            if (text_[i] == '|' && i > pos_ + 2 && text_[i - 1] == '*') break;
            if (!isBlockDescriptionChar(text_[i])) throw SigSyntaxError(i);
        }
        return finish(SigToken::BlockDescription, i + 1 - pos_, text_.substr(pos_ + 2, i - 1 - (pos_ + 2)));
    }
    if (c == '"' || c == '\'') {
        size_t i = pos_ + 1;
        while (i < text_.size() && text_[i] != c) i += text_[i] == '\\' ? 2 : 1;
        if (i >= text_.size()) throw SigSyntaxError(pos_);
        return finish(SigToken::String, i + 1 - pos_, text_.substr(pos_ + 1, i - pos_ - 1));
    }
    if (size_t n = matchWord()) {
        std::string word = text_.substr(pos_, n);
        if ((word == "MIN" || word == "MAX") && cur.at(pos_ + n) == '=')
            return finish(word == "MIN" ? SigToken::LimitMin : SigToken::LimitMax, n + 1, word + "=");
        const SigToken token = isSigKeyword(word) ? SigToken::Keyword : SigToken::Word;
        return finish(token, n, std::move(word));
    }
    if (isDigit(c) || c == '-' || c == '.') {
        SigToken token;
        if (size_t n = matchNumber(token)) return finish(token, n, text_.substr(pos_, n));
    }
    if (c == '=' && cur.at(pos_ + 1) == '=') return finish(SigToken::Punct, 2, "==");
    if (isOneOf(c, "{}()=*./")) return finish(SigToken::Punct, 1, std::string(1, c));
    throw SigSyntaxError(pos_);
}

}  // namespace Cbp
