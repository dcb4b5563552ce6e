#pragma once
// The tokens of the signature language. Whitespace between tokens is skipped;
// keywords are matched case-sensitively and only as whole words; the longest
// match wins, so "MIN=" is a limit marker while "MIN" alone is a word.

#include <cstddef>
#include <exception>
#include <string>

namespace Cbp {

enum class SigToken {
    End,          // end of the text
    Keyword,      // BodySignature, PropSection, ... HIDDEN
    LimitMin,     // MIN=
    LimitMax,     // MAX=
    Punct,        // { } ( ) == = * . /
    Word,         // identifier, or identifiers joined by single hyphens
    Decimal,      // -?[0-9]+[uUlL]?
    Hex,          // 0x / 0X, hex digits, [uUlL]?
    Float,        // with a dot and/or an exponent, [fFlL]?
    String,       // text between single or double quotes, escapes kept as written
    LineDescription,   // "||" to the end of the line; text after the bars
    BlockDescription,  // "|*" ... "*|"; text between the markers
};

struct SigLexeme {
    SigToken token = SigToken::End;
    // The text as the parse tree keeps it (see SigToken).
    std::string text;
    // Byte offset of the token's first character.
    size_t offset = 0;
};

// Thrown by the scanner and the parser at the byte offset where the input
// stops making sense; the compiler turns it into the syntax-error message.
struct SigSyntaxError : std::exception {
    explicit SigSyntaxError(size_t at) : offset(at) {}
    const char* what() const noexcept override { return "signature syntax error"; }
    size_t offset;
};

class SigScanner {
public:
    // The scanner reads `text` in place: it must outlive the scanner.
    explicit SigScanner(const std::string& text) : text_(text) {}
    explicit SigScanner(std::string&&) = delete;
    // The next token; throws SigSyntaxError where no token starts.
    SigLexeme next();

private:
    void skipWhitespace();
    size_t matchNumber(SigToken& token) const;
    size_t matchWord() const;

    const std::string& text_;
    size_t pos_ = 0;
};

// True when `word` is one of the language's keywords.
bool isSigKeyword(const std::string& word);

}  // namespace Cbp
