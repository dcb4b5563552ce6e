// Tokens of the signature language: keywords, markers, words, numbers,
// strings, both description forms, and where scanning stops.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cb/sig/SigScanner.h"

using Cbp::SigToken;

namespace {

using Lexemes = std::vector<std::pair<SigToken, std::string>>;

Lexemes scan(const std::string& text) {
    Cbp::SigScanner scanner(text);
    Lexemes out;
    for (;;) {
        Cbp::SigLexeme lex = scanner.next();
        if (lex.token == SigToken::End) return out;
        out.emplace_back(lex.token, lex.text);
    }
}

// Offset at which scanning `text` fails, or -1 when it does not.
long failsAt(const std::string& text) {
    try {
        scan(text);
    } catch (const Cbp::SigSyntaxError& error) {
        return long(error.offset);
    }
    return -1;
}

}  // namespace

TEST(SigScanner, EveryKeywordIsCaseSensitiveAndAWholeWord) {
    const char* keywords[] = {"BodySignature", "PropSection", "EnumGroup", "Channels", "Keep",     "Transport",
                              "Low",           "High",        "Float",     "Int",      "Vec2i",    "Vec3f",
                              "Vec3i",         "Vec4i",       "String",    "Toggle",   "FileName", "PathName",
                              "BodyName",      "BodyNameList", "READONLY", "HIDDEN"};
    for (const char* k : keywords) {
        EXPECT_EQ((Lexemes{{SigToken::Keyword, k}}), scan(k)) << k;
        EXPECT_TRUE(Cbp::isSigKeyword(k));
    }
    EXPECT_EQ((Lexemes{{SigToken::Word, "float"}, {SigToken::Word, "Floaty"}, {SigToken::Word, "Float-x"},
                       {SigToken::Word, "readonly"}}),
              scan("float Floaty Float-x readonly"));
    EXPECT_FALSE(Cbp::isSigKeyword("X"));
}

TEST(SigScanner, LimitMarkersIncludeTheirEqualsSign) {
    EXPECT_EQ((Lexemes{{SigToken::LimitMin, "MIN="}, {SigToken::Decimal, "0"}, {SigToken::LimitMax, "MAX="},
                       {SigToken::Float, "-1.5"}}),
              scan("MIN=0 MAX=-1.5"));
    // Only the joined form is a marker; the longest match decides the rest.
    EXPECT_EQ((Lexemes{{SigToken::Word, "MIN"}, {SigToken::Punct, "="}}), scan("MIN ="));
    EXPECT_EQ((Lexemes{{SigToken::LimitMax, "MAX="}, {SigToken::Punct, "="}}), scan("MAX=="));
    EXPECT_EQ((Lexemes{{SigToken::Word, "MIN-x"}, {SigToken::Punct, "="}}), scan("MIN-x="));
}

TEST(SigScanner, PunctuationPrefersTheDoubleEquals) {
    EXPECT_EQ((Lexemes{{SigToken::Punct, "{"}, {SigToken::Punct, "}"}, {SigToken::Punct, "("},
                       {SigToken::Punct, ")"}, {SigToken::Punct, "=="}, {SigToken::Punct, "="},
                       {SigToken::Punct, "*"}, {SigToken::Punct, "."}, {SigToken::Punct, "/"},
                       {SigToken::Punct, "=="}, {SigToken::Punct, "="}}),
              scan("{}()== = * . /==="));
    EXPECT_EQ((Lexemes{{SigToken::Word, "Particle"}, {SigToken::Punct, "."}, {SigToken::Word, "velocity"},
                       {SigToken::Word, "Field"}, {SigToken::Punct, "/"}, {SigToken::Punct, "*"}}),
              scan("Particle.velocity Field/*"));
}

TEST(SigScanner, HyphenIdentifiersJoinWordsWithSingleHyphens) {
    EXPECT_EQ((Lexemes{{SigToken::Word, "Particle-Liquid"}, {SigToken::Word, "fluid-distance"},
                       {SigToken::Word, "_a1-b_2-c"}}),
              scan("Particle-Liquid fluid-distance _a1-b_2-c"));
    // A hyphen before a digit starts a number, not a word part.
    EXPECT_EQ((Lexemes{{SigToken::Word, "x"}, {SigToken::Decimal, "-1"}}), scan("x-1"));
    EXPECT_EQ(1, failsAt("a--b"));
    EXPECT_EQ(1, failsAt("a-"));
    EXPECT_EQ((Lexemes{{SigToken::Decimal, "9l"}, {SigToken::Word, "ives-x"}}), scan("9lives-x"));
}

TEST(SigScanner, NumbersTakeTheLongestForm) {
    EXPECT_EQ((Lexemes{{SigToken::Decimal, "12"}, {SigToken::Decimal, "-7"}, {SigToken::Decimal, "12u"},
                       {SigToken::Decimal, "3L"}}),
              scan("12 -7 12u 3L"));
    EXPECT_EQ((Lexemes{{SigToken::Hex, "0x1F"}, {SigToken::Hex, "0Xffl"}, {SigToken::Hex, "0x0U"}}),
              scan("0x1F 0Xffl 0x0U"));
    EXPECT_EQ((Lexemes{{SigToken::Float, "1.5"}, {SigToken::Float, "-.5"}, {SigToken::Float, "2."},
                       {SigToken::Float, "1e5"}, {SigToken::Float, "1.5e-3f"}, {SigToken::Float, "-2E+4L"},
                       {SigToken::Float, ".25F"}}),
              scan("1.5 -.5 2. 1e5 1.5e-3f -2E+4L .25F"));
    // Incomplete tails stay separate tokens.
    EXPECT_EQ((Lexemes{{SigToken::Decimal, "0"}, {SigToken::Word, "x"}}), scan("0x"));
    EXPECT_EQ((Lexemes{{SigToken::Float, "1.5"}, {SigToken::Word, "e"}}), scan("1.5e"));
    EXPECT_EQ((Lexemes{{SigToken::Decimal, "1"}, {SigToken::Word, "f"}}), scan("1f"));
    // The dot of a float is a literal dot: "1 2" is two integers, not one float.
    EXPECT_EQ((Lexemes{{SigToken::Decimal, "1"}, {SigToken::Decimal, "2"}}), scan("1 2"));
    EXPECT_EQ(0, failsAt("-"));
    EXPECT_EQ(2, failsAt("1 -x"));
}

TEST(SigScanner, StringsKeepTheTextBetweenTheQuotesAsWritten) {
    EXPECT_EQ((Lexemes{{SigToken::String, "Master Voxel Size"}, {SigToken::String, "it's"},
                       {SigToken::String, ""}, {SigToken::String, R"(a\"b)"}, {SigToken::String, R"(c\'d)"},
                       {SigToken::String, "two\nlines"}}),
              scan(R"("Master Voxel Size" "it's" '' "a\"b" 'c\'d' )" "\"two\nlines\""));
    EXPECT_EQ(4, failsAt("x   \"open"));
    EXPECT_EQ(0, failsAt("'escaped end\\'"));
}

TEST(SigScanner, DescriptionsInBothForms) {
    EXPECT_EQ((Lexemes{{SigToken::LineDescription, " the size | of it"}, {SigToken::Word, "X"}}),
              scan("|| the size | of it\r\nX"));
    EXPECT_EQ((Lexemes{{SigToken::LineDescription, ""}}), scan("||"));
    EXPECT_EQ((Lexemes{{SigToken::BlockDescription, " spans\n\tlines * and stars *"}, {SigToken::Word, "Y"}}),
              scan("|* spans\n\tlines * and stars **|Y"));
    EXPECT_EQ((Lexemes{{SigToken::BlockDescription, ""}}), scan("|**|"));
    EXPECT_EQ(2, failsAt("|*|"));  // the closing bar needs its own star
    EXPECT_EQ(0, failsAt("|* never closed"));
    EXPECT_EQ(5, failsAt("|* a | b *|"));        // no bar inside
    EXPECT_EQ(5, failsAt("|* a \xc3\xa9 *|"));   // printable ASCII only
    EXPECT_EQ(0, failsAt("|x"));
}

TEST(SigScanner, WhitespaceIsSkippedAndOffsetsPointAtTokens) {
    const std::string text = " \t\r\n\f\vKeep\n  {";
    Cbp::SigScanner scanner(text);
    Cbp::SigLexeme keep = scanner.next();
    EXPECT_EQ(SigToken::Keyword, keep.token);
    EXPECT_EQ(6u, keep.offset);
    EXPECT_EQ(13u, scanner.next().offset);
    Cbp::SigLexeme end = scanner.next();
    EXPECT_EQ(SigToken::End, end.token);
    EXPECT_EQ(14u, end.offset);
    EXPECT_EQ(3, failsAt("ab @"));
    EXPECT_EQ(0, failsAt("#"));
}
