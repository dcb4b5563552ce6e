// Tokens of the signature language, and where scanning stops.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "cb/sig/SigScanner.h"

using Cbp::SigToken;

namespace {

// The tokens as "Kind[text]" separated by blanks; a failed scan ends in "!offset".
std::string lex(const std::string& text) {
    static const char* const kinds[] = {"End", "K", "MIN", "MAX", "P", "W", "D", "H", "F", "S", "L", "B"};
    Cbp::SigScanner scanner(text);
    std::string out;
    try {
        for (Cbp::SigLexeme l = scanner.next(); l.token != SigToken::End; l = scanner.next())
            out += (out.empty() ? "" : " ") + std::string(kinds[int(l.token)]) + "[" + l.text + "]";
    } catch (const Cbp::SigSyntaxError& error) {
        out += (out.empty() ? "!" : " !") + std::to_string(error.offset);
    }
    return out;
}

}  // namespace

TEST(SigScanner, KeywordsAreCaseSensitiveWholeWords) {
    for (const char* k : {"BodySignature", "PropSection", "EnumGroup", "Channels", "Keep", "Transport", "Low",
                          "High", "Float", "Int", "Vec2i", "Vec3f", "Vec3i", "Vec4i", "String", "Toggle",
                          "FileName", "PathName", "BodyName", "BodyNameList", "READONLY", "HIDDEN"}) {
        EXPECT_EQ("K[" + std::string(k) + "]", lex(k));
        EXPECT_TRUE(Cbp::isSigKeyword(k)) << k;
    }
    EXPECT_FALSE(Cbp::isSigKeyword("X"));
}

TEST(SigScanner, EveryTokenFormAndEveryStop) {
    const std::pair<std::string, std::string> cases[] = {
        {" \t\r\n\f\vfloat Floaty Float-x readonly", "W[float] W[Floaty] W[Float-x] W[readonly]"},
        // Limit markers only in the joined form; the longest match decides the rest.
        {"MIN=0 MAX=-1.5 MIN = MAX== MIN-x=",
         "MIN[MIN=] D[0] MAX[MAX=] F[-1.5] W[MIN] P[=] MAX[MAX=] P[=] W[MIN-x] P[=]"},
        {"{}()== = * . /=== a.b/*", "P[{] P[}] P[(] P[)] P[==] P[=] P[*] P[.] P[/] P[==] P[=] W[a] P[.] W[b] P[/] P[*]"},
        // Hyphen identifiers: single hyphens between words; before a digit a number starts.
        {"Particle-Liquid _a1-b_2-c x-1 9lives-x", "W[Particle-Liquid] W[_a1-b_2-c] W[x] D[-1] D[9l] W[ives-x]"},
        {"a--b", "W[a] !1"},
        {"a-", "W[a] !1"},
        {"12 -7 12u 3L 0x1F 0Xffl 0x0U", "D[12] D[-7] D[12u] D[3L] H[0x1F] H[0Xffl] H[0x0U]"},
        {"1.5 -.5 2. 1e5 1.5e-3f -2E+4L .25F", "F[1.5] F[-.5] F[2.] F[1e5] F[1.5e-3f] F[-2E+4L] F[.25F]"},
        // Incomplete tails stay separate tokens.
        {"0x 1.5e 1f 1 2", "D[0] W[x] F[1.5] W[e] D[1] W[f] D[1] D[2]"},
        {"-", "!0"},
        {"1 -x", "D[1] !2"},
        // Strings keep their text as written, escapes included.
        {R"("Master Voxel Size" "it's" '' "a\"b" 'c\'d' )" "\"two\nlines\"",
         R"(S[Master Voxel Size] S[it's] S[] S[a\"b] S[c\'d] )" "S[two\nlines]"},
        {"x   \"open", "W[x] !4"},
        {"'escaped end\\'", "!0"},
        // Descriptions: to the line end, or between |* and *| in printable ASCII without a bar.
        {"|| the size | of it\r\nX ||", "L[ the size | of it] W[X] L[]"},
        {"|* spans\n\tlines * and stars **|Y |**|", "B[ spans\n\tlines * and stars *] W[Y] B[]"},
        {"|*|", "!2"},
        {"|* never closed", "!0"},
        {"|* a | b *|", "!5"},
        {"|* a \xc3\xa9 *|", "!5"},
        {"|x", "!0"},
        {"ab @", "W[ab] !3"},
    };
    for (const auto& [text, tokens] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(tokens, lex(text));
    }
}
